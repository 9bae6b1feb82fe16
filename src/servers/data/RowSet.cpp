#include "servers/data/RowSet.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "automation/Convert.h"
#include "automation/Error.h"
#include "automation/surfaces/Ado.h"

namespace pm::data {

namespace {
// Rows per block: large enough that the per-block bookkeeping is noise,
// small enough that trimming a block's spare capacity costs little.
constexpr size_t kBlockRows = 65536;

bool iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// Decimal text as a Double when a Double carries every digit of it (15
// significant digits), otherwise as the exact text, so no digit is lost.
Variant decimalValue(std::string_view text) {
  int digits = 0;
  bool leading = true;
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      if (leading && ch == '0') continue;
      leading = false;
      ++digits;
    } else if (ch != '.' && ch != '-' && ch != '+') {
      return Variant(std::string(text));
    }
  }
  if (digits <= 15) {
    std::string s(text);
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (end && *end == 0 && std::isfinite(d)) return Variant(d);
  }
  return Variant(std::string(text));
}
}  // namespace

size_t fixedWidth(Kind k) {
  switch (k) {
    case Kind::Byte:
    case Kind::Bool:
      return 1;
    case Kind::Int16:
      return 2;
    case Kind::Int32:
    case Kind::Single:
      return 4;
    case Kind::Int64:
    case Kind::Double:
    case Kind::Currency:
    case Kind::Date:
      return 8;
    default:
      return 0;
  }
}

RowSet::RowSet(std::vector<FieldInfo> fields) : fields_(std::move(fields)) {}

int RowSet::find(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (iequal(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

RowSet::Block& RowSet::current() {
  if (blocks_.empty() || blocks_.back().rows >= kBlockRows) {
    if (!blocks_.empty()) closeBlock();
    Block b;
    b.firstRow = rows_;
    b.cols.resize(fields_.size());
    blocks_.push_back(std::move(b));
  }
  return blocks_.back();
}

void RowSet::closeBlock() {
  for (Col& c : blocks_.back().cols) {
    c.fixed.shrink_to_fit();
    c.nulls.shrink_to_fit();
    c.arena.shrink_to_fit();
    c.ends.shrink_to_fit();
    c.chapters.shrink_to_fit();
  }
}

void RowSet::beginRow() {
  if (col_ != 0 && col_ != fields_.size())
    raise(basic::InternalError, "Row set: row started before the last one was complete");
  Block& b = current();
  // A column whose text would pass what a 32-bit offset can address starts
  // a new block instead.
  for (const Col& c : b.cols)
    if (c.arena.size() > (std::numeric_limits<uint32_t>::max() / 2u)) {
      closeBlock();
      Block nb;
      nb.firstRow = rows_;
      nb.cols.resize(fields_.size());
      blocks_.push_back(std::move(nb));
      break;
    }
  Block& cur = blocks_.back();
  size_t r = cur.rows;
  ++cur.rows;
  ++rows_;
  col_ = 0;
  if (r % 8 == 0)
    for (Col& c : cur.cols) c.nulls.push_back(0);
}

void RowSet::setNullBit(Col& c, size_t r, bool isNull) {
  if (isNull) c.nulls[r / 8] = static_cast<uint8_t>(c.nulls[r / 8] | (1u << (r % 8)));
}

void RowSet::push(Col& c, const void* p, size_t width) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  c.fixed.insert(c.fixed.end(), b, b + width);
}

void RowSet::addNull() {
  if (col_ >= fields_.size()) raise(basic::InternalError, "Row set: too many values in a row");
  Block& b = blocks_.back();
  Col& c = b.cols[col_];
  const FieldInfo& f = fields_[col_];
  size_t r = b.rows - 1;
  setNullBit(c, r, true);
  size_t w = fixedWidth(f.kind);
  if (w) {
    uint64_t zero = 0;
    push(c, &zero, w);
  } else if (f.kind == Kind::Chapter) {
    c.chapters.emplace_back();
  } else {
    c.ends.push_back(static_cast<uint32_t>(c.arena.size()));
  }
  ++col_;
}

void RowSet::addInt(int64_t v) {
  const FieldInfo& f = fields_.at(col_);
  Col& c = blocks_.back().cols[col_];
  switch (f.kind) {
    case Kind::Byte: {
      uint8_t x = static_cast<uint8_t>(v);
      push(c, &x, 1);
      break;
    }
    case Kind::Bool: {
      uint8_t x = v != 0;
      push(c, &x, 1);
      break;
    }
    case Kind::Int16: {
      int16_t x = static_cast<int16_t>(v);
      push(c, &x, 2);
      break;
    }
    case Kind::Int32: {
      int32_t x = static_cast<int32_t>(v);
      push(c, &x, 4);
      break;
    }
    case Kind::Int64:
    case Kind::Currency:
      push(c, &v, 8);
      break;
    case Kind::Single: {
      float x = static_cast<float>(v);
      push(c, &x, 4);
      break;
    }
    case Kind::Double:
    case Kind::Date: {
      double x = static_cast<double>(v);
      push(c, &x, 8);
      break;
    }
    default:
      addText(std::to_string(v));
      return;
  }
  ++col_;
}

void RowSet::addDouble(double v) {
  const FieldInfo& f = fields_.at(col_);
  Col& c = blocks_.back().cols[col_];
  switch (f.kind) {
    case Kind::Single: {
      float x = static_cast<float>(v);
      push(c, &x, 4);
      break;
    }
    case Kind::Double:
    case Kind::Date:
      push(c, &v, 8);
      break;
    case Kind::Currency: {
      int64_t x = std::llround(v * 10000.0);
      push(c, &x, 8);
      break;
    }
    case Kind::Text:
    case Kind::Decimal: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", v);
      addText(buf);
      return;
    }
    default:
      addInt(std::llround(v));
      return;
  }
  ++col_;
}

void RowSet::addBool(bool b) {
  addInt(b ? 1 : 0);
}
void RowSet::addDate(double serial) {
  addDouble(serial);
}

void RowSet::addCurrency(int64_t scaled) {
  if (fields_.at(col_).kind == Kind::Currency) {
    push(blocks_.back().cols[col_], &scaled, 8);
    ++col_;
  } else {
    addDouble(static_cast<double>(scaled) / 10000.0);
  }
}

void RowSet::addText(std::string_view utf8) {
  if (col_ >= fields_.size()) raise(basic::InternalError, "Row set: too many values in a row");
  Col& c = blocks_.back().cols[col_];
  c.arena.append(utf8);
  c.ends.push_back(static_cast<uint32_t>(c.arena.size()));
  ++col_;
}

void RowSet::addChapter(RowSetRef child) {
  if (col_ >= fields_.size()) raise(basic::InternalError, "Row set: too many values in a row");
  blocks_.back().cols[col_].chapters.push_back(std::move(child));
  ++col_;
}

void RowSet::finish() {
  if (!blocks_.empty()) closeBlock();
}

void RowSet::clear() {
  // A block that once held a huge value does not keep its memory for the
  // rest of the stream.
  constexpr size_t kKeep = size_t{8} << 20;
  if (blocks_.size() > 1) blocks_.resize(1);
  rows_ = 0;
  col_ = 0;
  lastBlock_ = 0;
  if (blocks_.empty()) return;
  Block& b = blocks_.front();
  b.rows = 0;
  for (Col& c : b.cols) {
    c.fixed.clear();
    c.nulls.clear();
    c.arena.clear();
    c.ends.clear();
    c.chapters.clear();
    if (c.arena.capacity() > kKeep) c.arena.shrink_to_fit();
  }
}

const RowSet::Block& RowSet::blockOf(size_t row, size_t& rowInBlock) const {
  if (row >= rows_)
    raise(ado::kErrBofEof,
          "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
          "record.",
          "ADODB.Field");
  size_t i = lastBlock_ < blocks_.size() ? lastBlock_ : 0;
  const Block* b = &blocks_[i];
  if (row < b->firstRow || row >= b->firstRow + b->rows) {
    size_t lo = 0, hi = blocks_.size();
    while (hi - lo > 1) {
      size_t mid = (lo + hi) / 2;
      if (blocks_[mid].firstRow <= row)
        lo = mid;
      else
        hi = mid;
    }
    i = lo;
    b = &blocks_[i];
    lastBlock_ = i;
  }
  rowInBlock = row - b->firstRow;
  return *b;
}

bool RowSet::isNull(size_t row, size_t col) const {
  size_t r;
  const Block& b = blockOf(row, r);
  return (b.cols.at(col).nulls[r / 8] >> (r % 8)) & 1u;
}

std::string_view RowSet::textAt(const Col& c, size_t r) const {
  size_t begin = r == 0 ? 0 : c.ends[r - 1];
  return std::string_view(c.arena).substr(begin, c.ends[r] - begin);
}

Variant RowSet::value(size_t row, size_t col) const {
  size_t r;
  const Block& b = blockOf(row, r);
  const Col& c = b.cols.at(col);
  if ((c.nulls[r / 8] >> (r % 8)) & 1u) return Variant::null();
  const FieldInfo& f = fields_[col];
  size_t w = fixedWidth(f.kind);
  const uint8_t* p = w ? c.fixed.data() + r * w : nullptr;
  switch (f.kind) {
    case Kind::Byte:
      return Variant(p[0]);
    case Kind::Bool:
      return Variant(p[0] != 0);
    case Kind::Int16: {
      int16_t x;
      std::memcpy(&x, p, 2);
      return Variant(x);
    }
    case Kind::Int32: {
      int32_t x;
      std::memcpy(&x, p, 4);
      return Variant(x);
    }
    case Kind::Int64: {
      int64_t x;
      std::memcpy(&x, p, 8);
      if (x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(x));
      if (x > -1000000000000000LL && x < 1000000000000000LL) return Variant(static_cast<double>(x));
      return Variant(std::to_string(x));
    }
    case Kind::Single: {
      float x;
      std::memcpy(&x, p, 4);
      return Variant(x);
    }
    case Kind::Double: {
      double x;
      std::memcpy(&x, p, 8);
      return Variant(x);
    }
    case Kind::Date: {
      double x;
      std::memcpy(&x, p, 8);
      return Variant(Date{x});
    }
    case Kind::Currency: {
      int64_t x;
      std::memcpy(&x, p, 8);
      return Variant(Currency{x});
    }
    case Kind::Text:
      return Variant(textAt(c, r));
    case Kind::Decimal:
      return decimalValue(textAt(c, r));
    case Kind::Bytes: {
      std::string_view t = textAt(c, r);
      Array a({Bound{0, static_cast<int32_t>(t.size())}}, VT::Byte);
      for (size_t i = 0; i < t.size(); ++i) a.data()[i] = Variant(static_cast<uint8_t>(t[i]));
      return Variant(std::move(a));
    }
    case Kind::Chapter:
      break;
  }
  raise(basic::InternalError, "Row set: a chapter is read through its recordset");
}

void RowSet::appendText(size_t row, size_t col, std::string& out) const {
  size_t r;
  const Block& b = blockOf(row, r);
  const Col& c = b.cols.at(col);
  if ((c.nulls[r / 8] >> (r % 8)) & 1u) return;
  const FieldInfo& f = fields_[col];
  size_t w = fixedWidth(f.kind);
  const uint8_t* p = w ? c.fixed.data() + r * w : nullptr;
  // Every integer kind reads as its digits (an Int64 too, whichever of
  // Long, Double or text value() makes of it).
  switch (f.kind) {
    case Kind::Text:
      out.append(textAt(c, r));
      return;
    case Kind::Byte:
      appendInteger(out, p[0]);
      return;
    case Kind::Int16: {
      int16_t x;
      std::memcpy(&x, p, 2);
      appendInteger(out, x);
      return;
    }
    case Kind::Int32: {
      int32_t x;
      std::memcpy(&x, p, 4);
      appendInteger(out, x);
      return;
    }
    case Kind::Int64: {
      int64_t x;
      std::memcpy(&x, p, 8);
      appendInteger(out, x);
      return;
    }
    case Kind::Bool:
      out.append(p[0] ? "True" : "False");
      return;
    case Kind::Double: {
      double x;
      std::memcpy(&x, p, 8);
      out.append(DoubleToText(x));
      return;
    }
    case Kind::Chapter:
      raise(basic::TypeMismatch);
    default:
      appendValueText(out, value(row, col));
  }
}

void appendValueText(std::string& out, const Variant& v) {
  if (v.isNull()) return;
  if (v.isArray() || v.isObject()) raise(basic::TypeMismatch);
  if (v.isString())
    out.append(v.asString());
  else
    out.append(CStr(v));
}

void appendInteger(std::string& out, int64_t v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

RowSetRef RowSet::chapter(size_t row, size_t col) const {
  size_t r;
  const Block& b = blockOf(row, r);
  const Col& c = b.cols.at(col);
  if (fields_[col].kind != Kind::Chapter) return nullptr;
  return c.chapters.at(r);
}

size_t RowSet::storedBytes() const {
  size_t n = 0;
  for (const Block& b : blocks_)
    for (const Col& c : b.cols)
      n += c.fixed.capacity() + c.nulls.capacity() + c.arena.capacity() + c.ends.capacity() * sizeof(uint32_t) +
           c.chapters.capacity() * sizeof(RowSetRef);
  return n;
}

}  // namespace pm::data
