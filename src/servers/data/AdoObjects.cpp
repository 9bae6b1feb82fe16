#include "servers/data/AdoObjects.h"

#include <algorithm>

#include "automation/surfaces/Ado.h"
#include "servers/data/XmlSource.h"

namespace pm::data {

namespace {

const char* kConn = ado::kConnectionProgId;
const char* kRs = ado::kRecordsetProgId;

[[noreturn]] void closedError(const char* source) {
  raise(ado::kErrObjectClosed, "Operation is not allowed when the object is closed.", source);
}
[[noreturn]] void openError(const char* source) {
  raise(ado::kErrObjectOpen, "Operation is not allowed when the object is open.", source);
}
[[noreturn]] void argumentError(const char* source) {
  raise(ado::kErrArguments,
        "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.", source);
}
[[noreturn]] void backwardError() {
  raise(ado::kErrFetchBackward, "Rowset does not support fetching backward.", kRs);
}
// Rows a forward-only cursor fetches at a time: enough that the driver's
// per-fetch work is noise, few enough that a block of wide rows stays small.
constexpr size_t kForwardBlockRows = 256;

[[noreturn]] void noCurrentRecord(const char* source) {
  raise(ado::kErrBofEof,
        "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
        "record.",
        source);
}

std::string text(const Variant& v, const char* source) {
  if (v.isNull() || v.isArray() || v.isObject()) argumentError(source);
  return CStr(v);
}

std::string compact(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ' && c != '\t') out += c;
  return UCase(out);
}

// "Provider=..." part of a connection text, upper-cased, "" when absent.
std::string providerOf(const std::string& text) {
  std::string c = compact(text);
  size_t p = c.find("PROVIDER=");
  if (p == std::string::npos) return {};
  size_t e = c.find(';', p);
  return c.substr(p + 9, e == std::string::npos ? std::string::npos : e - p - 9);
}

bool isXmlProviderText(const std::string& text) {
  if (providerOf(text) != "MSDAOSP") return false;
  std::string c = compact(text);
  for (const char* known : ado::kXmlProviders)
    if (c == compact(known)) return true;
  return false;
}

// ASCII case-insensitive equality with a lower-case literal.
bool isName(std::string_view name, std::string_view lower) {
  if (name.size() != lower.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != lower[i]) return false;
  }
  return true;
}

bool plainGet(Invoke kind, std::span<const Arg> args) {
  return args.empty() && (kind == Invoke::Get || kind == Invoke::Method);
}

// ---- Fields and Field ----

class Field : public Dispatch {
 public:
  Field(std::shared_ptr<Cursor> c, size_t index) : cursor_(std::move(c)), index_(index) {}
  const MemberTable* memberTable() const override;
  // Value is read once per field and record of an export: it skips the
  // table lookup and argument binding, which have nothing to do for it.
  Variant invoke(std::string_view name, Invoke kind, std::span<const Arg> args) override {
    if (plainGet(kind, args) && isName(name, "value")) {
      return value();
    }
    return Dispatch::invoke(name, kind, args);
  }
  const FieldInfo& info() const {
    if (!cursor_->open) closedError("ADODB.Field");
    return cursor_->rows->fields()[index_];
  }
  Variant getName(Frame&) { return Variant(info().name); }
  Variant getType(Frame&) { return Variant(info().type); }
  Variant getDefinedSize(Frame&) { return Variant(info().definedSize); }
  Variant getValue(Frame&) { return value(); }
  Variant value() {
    const FieldInfo& fi = info();
    const Cursor& c = *cursor_;
    if (c.pos < c.base || c.pos >= c.end()) noCurrentRecord("ADODB.Field");
    size_t row = static_cast<size_t>(c.pos - c.base);
    if (fi.kind == Kind::Chapter) {
      RowSetRef child = c.rows->chapter(row, index_);
      return child ? Variant(Recordset::openOn(child)) : Variant::null();
    }
    return c.rows->value(row, index_);
  }

 private:
  std::shared_ptr<Cursor> cursor_;
  size_t index_;
};

const MemberTable* Field::memberTable() const {
  static const MemberTable t = [] {
    MemberTable t("Field");
    Members<Field> m(t);
    m.get("Name", {}, &Field::getName)
        .get("Type", {}, &Field::getType)
        .get("DefinedSize", {}, &Field::getDefinedSize)
        .get("Value", {}, &Field::getValue);
    return t;
  }();
  return &t;
}

class Fields : public Dispatch {
 public:
  explicit Fields(std::shared_ptr<Cursor> c) : cursor_(std::move(c)) {}
  const MemberTable* memberTable() const override;
  Variant getCount(Frame&) {
    if (!cursor_->open) closedError("ADODB.Fields");
    return Variant(static_cast<int32_t>(cursor_->rows->fields().size()));
  }
  Variant getItem(Frame& f) { return item(f["Index"]); }
  Variant item(const Variant& index) {
    if (!cursor_->open) closedError("ADODB.Fields");
    const RowSet& rs = *cursor_->rows;
    long i = -1;
    if (index.isString()) {
      i = rs.find(index.asString());
    } else if (index.isNumeric()) {
      i = CLng(index);
    } else {
      argumentError("ADODB.Fields");
    }
    if (i < 0 || static_cast<size_t>(i) >= rs.fields().size())
      raise(ado::kErrItemNotFound,
            "Item cannot be found in the collection corresponding to the requested name or ordinal.", "ADODB.Fields");
    return Variant(ObjectRef(std::make_shared<Field>(cursor_, static_cast<size_t>(i))));
  }

 private:
  std::shared_ptr<Cursor> cursor_;
};

const MemberTable* Fields::memberTable() const {
  static const MemberTable t = [] {
    MemberTable t("Fields");
    Members<Fields> m(t);
    m.get("Count", {}, &Fields::getCount).get("Item", {P("Index")}, &Fields::getItem);
    return t;
  }();
  return &t;
}

}  // namespace

// ---- Connection ----

const MemberTable* Connection::memberTable() const {
  static const MemberTable t = [] {
    MemberTable t("Connection");
    Members<Connection> m(t);
    m.method("Open", {P("ConnectionString").path().opt(), P("UserID").opt(), P("Password").opt(), P("Options").opt()},
             &Connection::Open)
        .method("Close", {}, &Connection::Close)
        .method("Execute", {P("CommandText")}, &Connection::Execute)
        .get("State", {}, &Connection::getState)
        .get("ConnectionString", {}, &Connection::getConnectionString)
        .let("ConnectionString", {P("value")}, &Connection::letConnectionString)
        .get("ConnectionTimeout", {}, &Connection::getConnectionTimeout)
        .let("ConnectionTimeout", {P("value")}, &Connection::letConnectionTimeout);
    return t;
  }();
  return &t;
}

Variant Connection::Open(Frame& f) {
  if (odbc_.isOpen()) openError(kConn);
  if (!f.missing("ConnectionString")) connectionString_ = text(f["ConnectionString"], kConn);
  std::string user = f.missing("UserID") ? std::string() : text(f["UserID"], kConn);
  std::string password = f.missing("Password") ? std::string() : text(f["Password"], kConn);
  std::string conn = withCredentials(connectionString_, f.missing("UserID") ? nullptr : &user,
                                     f.missing("Password") ? nullptr : &password);
  if (Trim(conn).empty()) argumentError(kConn);
  std::string p = providerOf(conn);
  if (!p.empty() && p != "MSDASQL")
    raise(ado::kErrProviderNotFound, "Provider cannot be found. It may not be properly installed.", kConn);
  odbc_.open(conn, kConn);
  return {};
}

Variant Connection::Close(Frame&) {
  if (!odbc_.isOpen()) closedError(kConn);
  odbc_.close();
  return {};
}

Variant Connection::Execute(Frame& f) {
  if (!odbc_.isOpen()) closedError(kConn);
  RowSetRef rows = odbc_.execute(text(f["CommandText"], kConn), kConn);
  if (!rows) return Variant::nothing();
  return Variant(Recordset::openOn(rows));
}

Variant Connection::getState(Frame&) {
  return Variant(odbc_.isOpen() ? ado::adStateOpen : ado::adStateClosed);
}
Variant Connection::getConnectionString(Frame&) {
  return Variant(connectionString_);
}
Variant Connection::letConnectionString(Frame& f) {
  if (odbc_.isOpen()) openError(kConn);
  connectionString_ = text(f["value"], kConn);
  return {};
}
Variant Connection::getConnectionTimeout(Frame&) {
  return Variant(timeout_);
}
Variant Connection::letConnectionTimeout(Frame& f) {
  timeout_ = CLng(f["value"]);
  return {};
}

// ---- Recordset ----

Recordset::Recordset() : cursor_(std::make_shared<Cursor>()) {}

ObjectRef Recordset::openOn(RowSetRef rows) {
  auto rs = std::make_shared<Recordset>();
  rs->cursorLocation_ = ado::adUseClient;
  rs->cursor_->rows = std::move(rows);
  rs->cursor_->open = true;
  rs->cursor_->pos = 0;
  return rs;
}

const MemberTable* Recordset::memberTable() const {
  static const MemberTable t = [] {
    MemberTable t("Recordset");
    Members<Recordset> m(t);
    m.get("CursorLocation", {}, &Recordset::getCursorLocation)
        .let("CursorLocation", {P("value")}, &Recordset::letCursorLocation)
        .get("CacheSize", {}, &Recordset::getCacheSize)
        .let("CacheSize", {P("value")}, &Recordset::letCacheSize)
        .get("ActiveConnection", {}, &Recordset::getActiveConnection)
        .let("ActiveConnection", {P("value")}, &Recordset::letActiveConnection)
        .get("Source", {}, &Recordset::getSource)
        .let("Source", {P("value")}, &Recordset::letSource)
        .get("State", {}, &Recordset::getState)
        .method("Open",
                {P("Source").path().opt(), P("ActiveConnection").path().opt(), P("CursorType").opt(),
                 P("LockType").opt(), P("Options").opt()},
                &Recordset::Open)
        .method("Close", {}, &Recordset::Close)
        .method("MoveFirst", {}, &Recordset::MoveFirst)
        .method("MoveNext", {}, &Recordset::MoveNext)
        .method("MovePrevious", {}, &Recordset::MovePrevious)
        .method("MoveLast", {}, &Recordset::MoveLast)
        .get("EOF", {}, &Recordset::getEOF)
        .get("BOF", {}, &Recordset::getBOF)
        .get("RecordCount", {}, &Recordset::getRecordCount)
        .get("Fields", {P("Index").opt()}, &Recordset::getFields);
    return t;
  }();
  return &t;
}

Variant Recordset::invoke(std::string_view name, Invoke kind, std::span<const Arg> args) {
  if (plainGet(kind, args) && cursor_->open) {
    Cursor& c = *cursor_;
    long n = c.end();
    if (isName(name, "eof")) return Variant(c.pos >= n);
    if (kind == Invoke::Method && isName(name, "movenext") && c.pos < n) {
      c.advance();
      return {};
    }
  }
  return Dispatch::invoke(name, kind, args);
}

const Cursor& Recordset::openCursor() const {
  if (!cursor_->open) closedError(kRs);
  return *cursor_;
}

Variant Recordset::getCursorLocation(Frame&) {
  return Variant(cursorLocation_);
}
Variant Recordset::letCursorLocation(Frame& f) {
  if (cursor_->open) openError(kRs);
  int32_t v = CLng(f["value"]);
  if (v != ado::adUseServer && v != ado::adUseClient) argumentError(kRs);
  cursorLocation_ = v;
  return {};
}
Variant Recordset::getCacheSize(Frame&) {
  return Variant(cacheSize_);
}
Variant Recordset::letCacheSize(Frame& f) {
  int32_t v = CLng(f["value"]);
  if (v < 1) argumentError(kRs);
  cacheSize_ = v;
  return {};
}

void Recordset::setConnection(const Variant& v) {
  if (v.isObject()) {
    if (!v.asObject()) {
      connection_.reset();
      connectionText_.clear();
      xml_ = false;
      return;
    }
    if (!std::dynamic_pointer_cast<Connection>(v.asObject())) argumentError(kRs);
    connection_ = v.asObject();
    connectionText_.clear();
    xml_ = false;
    return;
  }
  std::string t = text(v, kRs);
  std::string p = providerOf(t);
  if (p == "MSDAOSP") {
    if (!isXmlProviderText(t))
      raise(ado::kErrProviderNotFound, "Provider cannot be found. It may not be properly installed.", kRs);
    xml_ = true;
  } else if (!p.empty() && p != "MSDASQL") {
    raise(ado::kErrProviderNotFound, "Provider cannot be found. It may not be properly installed.", kRs);
  } else {
    xml_ = false;
  }
  connection_.reset();
  connectionText_ = t;
}

Variant Recordset::getActiveConnection(Frame&) {
  if (connection_) return Variant(connection_);
  return Variant(connectionText_);
}
Variant Recordset::letActiveConnection(Frame& f) {
  if (cursor_->open) openError(kRs);
  setConnection(f["value"]);
  return {};
}
Variant Recordset::getSource(Frame&) {
  return Variant(source_);
}
Variant Recordset::letSource(Frame& f) {
  if (cursor_->open) openError(kRs);
  source_ = text(f["value"], kRs);
  return {};
}
Variant Recordset::getState(Frame&) {
  return Variant(cursor_->open ? ado::adStateOpen : ado::adStateClosed);
}

Variant Recordset::Open(Frame& f) {
  if (cursor_->open) openError(kRs);
  if (!f.missing("Source")) source_ = text(f["Source"], kRs);
  if (!f.missing("ActiveConnection")) setConnection(f["ActiveConnection"]);
  if (!f.missing("CursorType")) {
    int32_t ct = CLng(f["CursorType"]);
    if (ct < -1 || ct > 3) argumentError(kRs);
  }
  if (!f.missing("LockType")) {
    int32_t lt = CLng(f["LockType"]);
    if (lt < -1 || lt > 4) argumentError(kRs);
  }
  if (source_.empty()) argumentError(kRs);

  // A forward-only cursor on the server side streams the result; asked for
  // by name only, so a recordset opened with the defaults keeps every row.
  bool forwardOnly = !xml_ && cursorLocation_ == ado::adUseServer && !f.missing("CursorType") &&
                     CLng(f["CursorType"]) == ado::adOpenForwardOnly;
  if (forwardOnly) return openForwardOnly();

  RowSetRef rows;
  if (xml_) {
    rows = readXmlFile(source_, kRs);
  } else if (connection_) {
    auto* c = dynamic_cast<Connection*>(connection_.get());
    if (!c || !c->odbc().isOpen()) closedError(kRs);
    rows = c->odbc().execute(source_, kRs);
  } else if (!connectionText_.empty()) {
    // The whole result is fetched at once, so a connection of our own is
    // needed only for the length of this call.
    OdbcConnection own;
    own.open(connectionText_, kRs);
    rows = own.execute(source_, kRs);
  } else {
    raise(ado::kErrGeneric,
          "The connection cannot be used to perform this operation. It is either closed or invalid in this context.",
          kRs);
  }
  if (!rows) return {};  // a statement without a result leaves the recordset closed
  auto c = std::make_shared<Cursor>();
  c->rows = std::move(rows);
  c->open = true;
  c->pos = 0;
  cursor_ = std::move(c);
  return {};
}

Variant Recordset::openForwardOnly() {
  auto c = std::make_shared<Cursor>();
  OdbcConnection* odbc = nullptr;
  if (connection_) {
    auto* conn = dynamic_cast<Connection*>(connection_.get());
    if (!conn || !conn->odbc().isOpen()) closedError(kRs);
    c->connection = connection_;
    odbc = &conn->odbc();
  } else if (!connectionText_.empty()) {
    // The statement reads as the cursor moves, so a connection of our own
    // lives as long as the cursor.
    c->ownConnection = std::make_shared<OdbcConnection>();
    c->ownConnection->open(connectionText_, kRs);
    odbc = c->ownConnection.get();
  } else {
    raise(ado::kErrGeneric,
          "The connection cannot be used to perform this operation. It is either closed or invalid in this context.",
          kRs);
  }
  c->stream = odbc->stream(source_, kRs, std::max<size_t>(kForwardBlockRows, static_cast<size_t>(cacheSize_)));
  if (!c->stream) return {};  // a statement without a result leaves the recordset closed
  c->block = std::make_shared<RowSet>(c->stream->fields());
  c->rows = c->block;
  // The first block is read now, so a query that fails on its first rows
  // fails here, as it does for a client-side cursor.
  c->stream->fetch(*c->block);
  c->open = true;
  c->pos = 0;
  cursor_ = std::move(c);
  return {};
}

void Cursor::advance() {
  ++pos;
  if (!stream || pos != end()) return;
  block->clear();
  base = pos;
  stream->fetch(*block);
}

void Cursor::release() noexcept {
  stream.reset();
  block.reset();
  ownConnection.reset();
  connection.reset();
}

void Recordset::writeLines(ado::TextSink& sink, const ado::LineFormat& format) {
  Cursor& c = *cursor_;
  if (!c.open) closedError(kRs);
  if (c.pos >= c.end()) return;
  if (c.pos < c.base) noCurrentRecord("ADODB.Field");
  const RowSet& rows = *c.rows;
  size_t cols = rows.fields().size();
  // A record without fields has no last field to write.
  if (cols == 0) raise(basic::SubscriptOutOfRange);
  LinesOut out(sink, format);
  std::string text;
  for (; c.pos < c.end(); ++c.pos) {
    size_t row = static_cast<size_t>(c.pos - c.base);
    for (size_t i = 0; i < cols; ++i) {
      out.beginField(i);
      text.clear();
      rows.appendText(row, i, text);
      out.put(text);
      out.endField();
    }
    out.endLine();
  }
  if (c.stream) {
    // The rest of a forward-only cursor's rows go out as they are fetched,
    // none of them kept: the cursor ends on EOF past the last.
    c.block->clear();
    c.pos += static_cast<long>(c.stream->writeLines(out));
    c.base = c.pos;
  }
  out.flush();
}

Variant Recordset::Close(Frame&) {
  if (!cursor_->open) closedError(kRs);
  cursor_->open = false;
  cursor_->rows.reset();
  // Field objects a caller still holds share the cursor: the statement and
  // the connection go now, not with the last of them.
  cursor_->release();
  cursor_ = std::make_shared<Cursor>();
  return {};
}

Variant Recordset::MoveFirst(Frame&) {
  Cursor& c = const_cast<Cursor&>(openCursor());
  if (c.forwardOnly() && c.pos > 0) backwardError();
  c.pos = 0;
  return {};
}
Variant Recordset::MoveNext(Frame&) {
  Cursor& c = const_cast<Cursor&>(openCursor());
  if (c.pos >= c.end()) noCurrentRecord(kRs);
  c.advance();
  return {};
}
Variant Recordset::MovePrevious(Frame&) {
  Cursor& c = const_cast<Cursor&>(openCursor());
  if (c.forwardOnly()) backwardError();
  if (c.pos < 0) noCurrentRecord(kRs);
  --c.pos;
  return {};
}
Variant Recordset::MoveLast(Frame&) {
  Cursor& c = const_cast<Cursor&>(openCursor());
  if (c.forwardOnly()) backwardError();
  long n = c.end();
  c.pos = n == 0 ? 0 : n - 1;
  return {};
}
Variant Recordset::getEOF(Frame&) {
  const Cursor& c = openCursor();
  return Variant(c.pos >= c.end());
}
Variant Recordset::getBOF(Frame&) {
  const Cursor& c = openCursor();
  return Variant(c.pos < 0 || c.end() == 0);
}
Variant Recordset::getRecordCount(Frame&) {
  const Cursor& c = openCursor();
  // A forward-only cursor does not know how many rows are still to come.
  if (c.forwardOnly()) return Variant(int32_t{-1});
  size_t n = c.rows->rowCount();
  return Variant(static_cast<int32_t>(n > 0x7FFFFFFF ? 0x7FFFFFFF : n));
}
Variant Recordset::getFields(Frame& f) {
  openCursor();
  auto fields = std::make_shared<Fields>(cursor_);
  if (f.missing("Index")) return Variant(ObjectRef(fields));
  return fields->item(f["Index"]);
}

namespace {
const RegisterClass regConnection(
    ado::kConnectionProgId, "{00000514-0000-0010-8000-00AA006D2EA4}", [] { return std::make_shared<Connection>(); },
    "ADO connection over unixODBC");
const RegisterClass regRecordset(
    ado::kRecordsetProgId, "{00000535-0000-0010-8000-00AA006D2EA4}", [] { return std::make_shared<Recordset>(); },
    "ADO recordset with a client-side cursor");
}  // namespace

}  // namespace pm::data
