// ADODB.Connection and ADODB.Recordset as automation objects, with the
// Fields collection and Field objects a recordset hands out. A recordset
// keeps every row in memory (a client-side cursor), so RecordCount is always
// known and MoveFirst works on any source; one opened on the server side
// with a forward-only cursor type instead holds only the block of rows it is
// on, fetching the next as it moves, so a result of any length costs one
// block of memory (RecordCount is -1 and it cannot move back).
#pragma once

#include <memory>
#include <string>

#include "automation/Automation.h"
#include "servers/data/Odbc.h"
#include "servers/data/RowSet.h"

namespace pm::data {

class Connection : public Dispatch {
 public:
  const MemberTable* memberTable() const override;
  OdbcConnection& odbc() { return odbc_; }

  Variant Open(Frame& f);
  Variant Close(Frame& f);
  Variant Execute(Frame& f);
  Variant getState(Frame& f);
  Variant getConnectionString(Frame& f);
  Variant letConnectionString(Frame& f);
  Variant getConnectionTimeout(Frame& f);
  Variant letConnectionTimeout(Frame& f);

 private:
  OdbcConnection odbc_;
  std::string connectionString_;
  int32_t timeout_ = 15;
};

// The rows and the position shared by a recordset and its Field objects.
// A forward-only cursor's `rows` is the block it is on, whose first row is
// row `base` of the result; a client-side cursor's is every row (base 0).
struct Cursor {
  RowSetRef rows;
  long pos = 0;  // -1 before the first row, end() after the last
  bool open = false;
  long base = 0;
  // Declared before the stream so that the statement is freed before the
  // connection it runs on.
  ObjectRef connection;
  std::shared_ptr<OdbcConnection> ownConnection;
  std::shared_ptr<RowSet> block;
  std::shared_ptr<OdbcStream> stream;

  ~Cursor() { release(); }
  bool forwardOnly() const { return stream != nullptr; }
  // One past the last row held.
  long end() const { return base + static_cast<long>(rows->rowCount()); }
  // Moves to the next row, fetching the next block when the current one is
  // used up; at the end the position is end() and EOF holds.
  void advance();
  void release() noexcept;
};

class Recordset : public Dispatch, public ado::RecordLines {
 public:
  Recordset();
  const MemberTable* memberTable() const override;
  void writeLines(ado::TextSink& sink, const ado::LineFormat& format) override;
  // EOF and MoveNext run once per record of a walk; they skip the table.
  Variant invoke(std::string_view name, Invoke kind, std::span<const Arg> args) override;
  // A recordset already open on a row set (a chapter's child rows).
  static ObjectRef openOn(RowSetRef rows);

  Variant getCursorLocation(Frame& f);
  Variant letCursorLocation(Frame& f);
  Variant getCacheSize(Frame& f);
  Variant letCacheSize(Frame& f);
  Variant getActiveConnection(Frame& f);
  Variant letActiveConnection(Frame& f);
  Variant getSource(Frame& f);
  Variant letSource(Frame& f);
  Variant getState(Frame& f);
  Variant Open(Frame& f);
  Variant Close(Frame& f);
  Variant MoveFirst(Frame& f);
  Variant MoveNext(Frame& f);
  Variant MovePrevious(Frame& f);
  Variant MoveLast(Frame& f);
  Variant getEOF(Frame& f);
  Variant getBOF(Frame& f);
  Variant getRecordCount(Frame& f);
  Variant getFields(Frame& f);

 private:
  const Cursor& openCursor() const;
  Variant openForwardOnly();
  void setConnection(const Variant& v);

  std::shared_ptr<Cursor> cursor_;
  int32_t cursorLocation_ = 2;
  int32_t cacheSize_ = 1;
  bool xml_ = false;
  std::string connectionText_;
  ObjectRef connection_;
  std::string source_;
};

}  // namespace pm::data
