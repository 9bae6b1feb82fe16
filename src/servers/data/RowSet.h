// The client-side cursor's storage: every row of a result held in memory,
// column by column in blocks of rows, so a million-row result costs about
// what its values weigh (no per-cell Variant, no reallocation of one huge
// buffer while it grows). Values become Variants only when a Field is read.
// A forward-only cursor reuses one RowSet for the block of rows it is on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Variant.h"

namespace pm::data {

// How a column's values are kept and which Variant type they read as.
enum class Kind : uint8_t {
  Byte,      // Byte
  Int16,     // Integer
  Int32,     // Long
  Int64,     // Long when it fits, else Double when exact, else decimal text
  Single,    // Single
  Double,    // Double
  Currency,  // Currency (scaled by 10000)
  Bool,      // Boolean
  Date,      // Date (serial)
  Text,      // String (UTF-8)
  Decimal,   // Double when its digits fit, else the exact decimal text
  Bytes,     // array of Byte
  Chapter,   // a child row set, read as a Recordset object
};

struct FieldInfo {
  std::string name;
  int32_t type = 0;  // the data-access type code
  Kind kind = Kind::Text;
  int32_t definedSize = 0;  // the declared size, 0 when unknown
};

class RowSet;
using RowSetRef = std::shared_ptr<const RowSet>;

class RowSet {
 public:
  explicit RowSet(std::vector<FieldInfo> fields);

  const std::vector<FieldInfo>& fields() const { return fields_; }
  size_t rowCount() const { return rows_; }
  // The index of the field with this name (case-insensitive), or -1.
  int find(std::string_view name) const;

  // Appending: begin a row, add one value per field in field order.
  void beginRow();
  void addNull();
  void addInt(int64_t v);
  void addDouble(double v);
  void addBool(bool b);
  void addDate(double serial);
  void addCurrency(int64_t scaled);
  void addText(std::string_view utf8);  // Text, Decimal and Bytes columns
  void addChapter(RowSetRef child);
  // Trims spare capacity of the last block once every row is in.
  void finish();
  // Drops every row but keeps the first block's buffers, so a row set that
  // holds one block of a stream at a time allocates only while it grows.
  void clear();

  bool isNull(size_t row, size_t col) const;
  Variant value(size_t row, size_t col) const;
  // Appends the text CStr gives value(row, col), a Null as nothing; the
  // common kinds are formatted from their stored form without a Variant.
  void appendText(size_t row, size_t col, std::string& out) const;
  // A chapter's row set (nullptr for Null).
  RowSetRef chapter(size_t row, size_t col) const;
  // Bytes held by the stored values (for the memory figures).
  size_t storedBytes() const;

 private:
  struct Col {
    std::vector<uint8_t> fixed;  // fixed-width values, width by kind
    std::vector<uint8_t> nulls;  // one bit per row
    std::string arena;           // variable-width values, back to back
    std::vector<uint32_t> ends;  // end offset in arena per row
    std::vector<RowSetRef> chapters;
  };
  struct Block {
    size_t firstRow = 0;
    size_t rows = 0;
    std::vector<Col> cols;
  };
  Block& current();
  void closeBlock();
  void push(Col& c, const void* p, size_t width);
  void setNullBit(Col& c, size_t rowInBlock, bool isNull);
  const Block& blockOf(size_t row, size_t& rowInBlock) const;
  std::string_view textAt(const Col& c, size_t r) const;

  std::vector<FieldInfo> fields_;
  std::vector<Block> blocks_;
  size_t rows_ = 0;
  size_t col_ = 0;  // next column of the row being appended
  mutable size_t lastBlock_ = 0;
};

// The fixed width a kind is stored with (0 for variable-width kinds).
size_t fixedWidth(Kind k);

// Appends the text of a value as the text export writes it: CStr's, a Null
// as nothing; arrays and objects (a chapter, bytes) raise a type mismatch.
void appendValueText(std::string& out, const Variant& v);
// Appends the decimal digits of an integer.
void appendInteger(std::string& out, int64_t v);

}  // namespace pm::data
