#include "servers/data/Odbc.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <sys/stat.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <mutex>
#include <utility>
#include <vector>

#include "automation/Convert.h"
#include "automation/Error.h"

namespace pm::data {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters are UTF-16");

namespace {

SQLWCHAR* W(std::u16string& s) {
  return reinterpret_cast<SQLWCHAR*>(s.data());
}

// ---- diagnostics ----

std::string diagnostics(SQLSMALLINT type, SQLHANDLE h) {
  std::string text;
  for (SQLSMALLINT i = 1; i <= 10; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR msg[1024];
    SQLSMALLINT len = 0;
    SQLRETURN r = SQLGetDiagRec(type, h, i, state, &native, msg, static_cast<SQLSMALLINT>(sizeof msg), &len);
    if (!SQL_SUCCEEDED(r)) break;
    size_t n = std::min<size_t>(static_cast<size_t>(len), sizeof msg - 1);
    std::string m(reinterpret_cast<const char*>(msg), n);
    while (!m.empty() && (m.back() == '\n' || m.back() == '\r' || m.back() == ' ')) m.pop_back();
    if (!text.empty()) text += "; ";
    text += m + " (SQLSTATE " + std::string(reinterpret_cast<const char*>(state)) + ")";
  }
  return text;
}

[[noreturn]] void fail(SQLSMALLINT type, SQLHANDLE h, const std::string& what, const std::string& source) {
  std::string d = h ? diagnostics(type, h) : std::string();
  raise(ado::kErrGeneric, d.empty() ? what : what + ": " + d, source);
}

void check(SQLRETURN r, SQLSMALLINT type, SQLHANDLE h, const char* what, const std::string& source) {
  if (!SQL_SUCCEEDED(r)) fail(type, h, what, source);
}

// ---- environment ----

SQLHENV environment() {
  static SQLHENV env = [] {
    SQLHENV e = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e)))
      raise(ado::kErrGeneric, "The ODBC driver manager could not be initialised", ado::kConnectionProgId);
    SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return e;
  }();
  return env;
}

struct Stmt {
  SQLHSTMT h = nullptr;
  Stmt() = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(Stmt&& o) noexcept {
    if (this != &o) {
      free();
      h = std::exchange(o.h, nullptr);
    }
    return *this;
  }
  ~Stmt() { free(); }
  void free() noexcept {
    if (h) {
      SQLFreeStmt(h, SQL_CLOSE);
      SQLFreeHandle(SQL_HANDLE_STMT, h);
      h = nullptr;
    }
  }
};

// ---- connection texts ----

struct Pair {
  std::string key, value;
};

std::vector<Pair> parsePairs(const std::string& text) {
  std::vector<Pair> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    if (eq == std::string::npos) break;
    Pair p{Trim(text.substr(i, eq - i)), {}};
    size_t j = eq + 1;
    if (j < text.size() && text[j] == '{') {
      // A braced value ends at a single "}"; "}}" is a brace of the value.
      size_t close = j + 1;
      for (; close < text.size(); ++close) {
        if (text[close] != '}') {
          p.value += text[close];
        } else if (close + 1 < text.size() && text[close + 1] == '}') {
          p.value += '}';
          ++close;
        } else {
          break;
        }
      }
      j = text.find(';', close);
      if (j == std::string::npos) j = text.size();
    } else {
      size_t semi = text.find(';', j);
      if (semi == std::string::npos) semi = text.size();
      p.value = text.substr(j, semi - j);
      j = semi;
    }
    out.push_back(std::move(p));
    i = j + 1;
  }
  return out;
}

bool dsnConfigured(const std::string& dsn) {
  SQLHENV env = environment();
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  for (;;) {
    SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
    SQLCHAR desc[256];
    SQLSMALLINT nl = 0, dl = 0;
    SQLRETURN r = SQLDataSources(env, dir, name, sizeof name, &nl, desc, sizeof desc, &dl);
    if (!SQL_SUCCEEDED(r)) return false;
    dir = SQL_FETCH_NEXT;
    if (UCase(reinterpret_cast<char*>(name)) == UCase(dsn)) return true;
  }
}

// A SQLite database: its header, or an empty file (a new database that
// SQLite has not written yet).
bool isSqliteFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_size == 0) return true;
  std::ifstream in(path, std::ios::binary);
  char head[16] = {};
  if (!in.read(head, 16)) return false;
  return std::memcmp(head, "SQLite format 3", 16) == 0;
}

std::string sqliteDriver() {
  SQLHENV env = environment();
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  for (;;) {
    SQLCHAR name[256], attrs[1024];
    SQLSMALLINT nl = 0, al = 0;
    SQLRETURN r = SQLDrivers(env, dir, name, sizeof name, &nl, attrs, sizeof attrs, &al);
    if (!SQL_SUCCEEDED(r)) break;
    dir = SQL_FETCH_NEXT;
    if (UCase(reinterpret_cast<char*>(name)) == "SQLITE3") return "{SQLite3}";
  }
  for (const char* p :
       {"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so",
        "/usr/lib/odbc/libsqlite3odbc.so", "/usr/local/lib/libsqlite3odbc.so"}) {
    struct stat st {};
    if (::stat(p, &st) == 0) return p;
  }
  return {};
}

}  // namespace

std::string resolveConnectionText(const std::string& text) {
  std::vector<Pair> pairs = parsePairs(text);
  std::string dsn;
  for (const Pair& p : pairs) {
    std::string k = UCase(p.key);
    if (k == "DRIVER" || k == "FILEDSN") return text;
    if (k == "DSN") dsn = p.value;
  }
  if (dsn.empty() || dsn.find(';') != std::string::npos || dsnConfigured(dsn) || !isSqliteFile(dsn)) return text;
  std::string driver = sqliteDriver();
  if (driver.empty()) return text;
  // The step interface streams rows instead of materialising the whole
  // result inside the driver; NoCreat keeps a mistyped name from creating
  // an empty database.
  return "DRIVER=" + driver + ";Database=" + dsn + ";StepAPI=1;NoCreat=1;";
}

std::string withCredentials(std::string text, const std::string* userId, const std::string* password) {
  auto quoted = [](const std::string& v) {
    std::string o = "{";
    for (char c : v) {
      if (c == '}') o += '}';
      o += c;
    }
    return o + "}";
  };
  if (!text.empty() && text.back() != ';') text += ';';
  if (userId) text += "UID=" + quoted(*userId) + ";";
  if (password) text += "PWD=" + quoted(*password) + ";";
  return text;
}

// ---- connection ----

OdbcConnection::OdbcConnection() = default;
OdbcConnection::~OdbcConnection() {
  close();
}

void OdbcConnection::open(const std::string& connectionText, const std::string& source) {
  close();
  SQLHDBC dbc = nullptr;
  check(SQLAllocHandle(SQL_HANDLE_DBC, environment(), &dbc), SQL_HANDLE_ENV, environment(),
        "The connection could not be allocated", source);
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(20), 0);
  std::string text = resolveConnectionText(connectionText);
  SQLCHAR out[1024];
  SQLSMALLINT outLen = 0;
  SQLRETURN r =
      SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLSMALLINT>(text.size()),
                       out, static_cast<SQLSMALLINT>(sizeof out), &outLen, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(r)) {
    std::string d = diagnostics(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    raise(ado::kErrGeneric, d.empty() ? "The connection could not be opened" : d, source);
  }
  dbc_ = dbc;
  SQLCHAR driver[256] = {};
  SQLSMALLINT dl = 0;
  SQLGetInfo(dbc, SQL_DRIVER_NAME, driver, sizeof driver, &dl);
  std::string d = LCase(reinterpret_cast<char*>(driver));
  size_t dot = d.find(".so");
  std::string stem = d.substr(0, dot);
  wide_ = !stem.empty() && stem.back() == 'w';
}

void OdbcConnection::close() noexcept {
  if (!dbc_) return;
  for (const std::weak_ptr<OdbcStream>& w : streams_)
    if (std::shared_ptr<OdbcStream> s = w.lock()) s->close();
  streams_.clear();
  SQLDisconnect(static_cast<SQLHDBC>(dbc_));
  SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHDBC>(dbc_));
  dbc_ = nullptr;
}

// ---- fetching ----

namespace {

struct Column {
  FieldInfo info;
  SQLSMALLINT ctype = SQL_C_WCHAR;
  SQLLEN width = 0;  // bytes per row in the bound buffer
  std::vector<char> buf;
  std::vector<SQLLEN> ind;
};

// How a column of each SQL type is read: its data-access type, the kind of
// value the rows hold, the C type it is bound as and the width of its buffer.
// A type's rows for unsigned or money columns come before its plain row;
// types not listed read as text.
enum class When : uint8_t { Always, Unsigned, Money };
enum class Width : uint8_t {
  Fixed,    // bytes
  Text,     // text of the declared size, at least bytes characters
  Decimal,  // decimal text of the declared precision, at least 38 digits
  Binary,   // the declared size when modest, else a fixed buffer read on with SQLGetData
};
constexpr SQLSMALLINT kTextC = 0;  // the connection's text type (wide or narrow)

struct ColumnType {
  SQLSMALLINT sql;
  When when;
  int32_t ado;
  Kind kind;
  SQLSMALLINT ctype;
  Width width;
  SQLLEN bytes;
};

constexpr ColumnType kColumnTypes[] = {
    {SQL_BIT, When::Always, ado::adBoolean, Kind::Bool, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_TINYINT, When::Unsigned, ado::adUnsignedTinyInt, Kind::Byte, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_TINYINT, When::Always, ado::adTinyInt, Kind::Int16, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_SMALLINT, When::Unsigned, ado::adSmallInt, Kind::Int32, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_SMALLINT, When::Always, ado::adSmallInt, Kind::Int16, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_INTEGER, When::Unsigned, ado::adBigInt, Kind::Int64, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_INTEGER, When::Always, ado::adInteger, Kind::Int32, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_BIGINT, When::Unsigned, ado::adBigInt, Kind::Decimal, kTextC, Width::Text, 24},
    {SQL_BIGINT, When::Always, ado::adBigInt, Kind::Int64, SQL_C_SBIGINT, Width::Fixed, 8},
    {SQL_REAL, When::Always, ado::adSingle, Kind::Single, SQL_C_DOUBLE, Width::Fixed, 8},
    {SQL_FLOAT, When::Money, ado::adCurrency, Kind::Currency, SQL_C_DOUBLE, Width::Fixed, 8},
    {SQL_FLOAT, When::Always, ado::adDouble, Kind::Double, SQL_C_DOUBLE, Width::Fixed, 8},
    {SQL_DOUBLE, When::Money, ado::adCurrency, Kind::Currency, SQL_C_DOUBLE, Width::Fixed, 8},
    {SQL_DOUBLE, When::Always, ado::adDouble, Kind::Double, SQL_C_DOUBLE, Width::Fixed, 8},
    {SQL_DECIMAL, When::Money, ado::adCurrency, Kind::Currency, SQL_C_DOUBLE, Width::Fixed, 8},
    {SQL_DECIMAL, When::Always, ado::adDecimal, Kind::Decimal, kTextC, Width::Decimal, 0},
    {SQL_NUMERIC, When::Money, ado::adCurrency, Kind::Currency, SQL_C_DOUBLE, Width::Fixed, 8},
    {SQL_NUMERIC, When::Always, ado::adNumeric, Kind::Decimal, kTextC, Width::Decimal, 0},
    {SQL_TYPE_DATE, When::Always, ado::adDate, Kind::Date, SQL_C_TYPE_DATE, Width::Fixed, sizeof(SQL_DATE_STRUCT)},
    {SQL_DATE, When::Always, ado::adDate, Kind::Date, SQL_C_TYPE_DATE, Width::Fixed, sizeof(SQL_DATE_STRUCT)},
    {SQL_TYPE_TIME, When::Always, ado::adDBTime, Kind::Date, SQL_C_TYPE_TIME, Width::Fixed, sizeof(SQL_TIME_STRUCT)},
    {SQL_TIME, When::Always, ado::adDBTime, Kind::Date, SQL_C_TYPE_TIME, Width::Fixed, sizeof(SQL_TIME_STRUCT)},
    {SQL_TYPE_TIMESTAMP, When::Always, ado::adDBTimeStamp, Kind::Date, SQL_C_TYPE_TIMESTAMP, Width::Fixed,
     sizeof(SQL_TIMESTAMP_STRUCT)},
    {SQL_TIMESTAMP, When::Always, ado::adDBTimeStamp, Kind::Date, SQL_C_TYPE_TIMESTAMP, Width::Fixed,
     sizeof(SQL_TIMESTAMP_STRUCT)},
    {SQL_BINARY, When::Always, ado::adBinary, Kind::Bytes, SQL_C_BINARY, Width::Binary, 0},
    {SQL_VARBINARY, When::Always, ado::adBinary, Kind::Bytes, SQL_C_BINARY, Width::Binary, 0},
    {SQL_LONGVARBINARY, When::Always, ado::adLongVarBinary, Kind::Bytes, SQL_C_BINARY, Width::Binary, 0},
    {SQL_GUID, When::Always, ado::adGUID, Kind::Text, kTextC, Width::Text, 40},
    {SQL_CHAR, When::Always, ado::adVarChar, Kind::Text, kTextC, Width::Text, 64},
    {SQL_VARCHAR, When::Always, ado::adVarChar, Kind::Text, kTextC, Width::Text, 64},
    {SQL_LONGVARCHAR, When::Always, ado::adLongVarChar, Kind::Text, kTextC, Width::Text, 64},
    {SQL_WCHAR, When::Always, ado::adVarWChar, Kind::Text, kTextC, Width::Text, 64},
    {SQL_WVARCHAR, When::Always, ado::adVarWChar, Kind::Text, kTextC, Width::Text, 64},
    {SQL_WLONGVARCHAR, When::Always, ado::adLongVarWChar, Kind::Text, kTextC, Width::Text, 64},
};
constexpr ColumnType kOtherColumnType{0, When::Always, ado::adVarChar, Kind::Text, kTextC, Width::Text, 64};

const ColumnType& columnType(SQLSMALLINT sql, bool isUnsigned, bool money) {
  for (const ColumnType& t : kColumnTypes) {
    if (t.sql != sql) continue;
    if (t.when == When::Always || (t.when == When::Unsigned && isUnsigned) || (t.when == When::Money && money))
      return t;
  }
  return kOtherColumnType;
}

void describe(SQLHSTMT st, SQLUSMALLINT i, Column& c, bool wide, size_t longChars, const std::string& source) {
  SQLSMALLINT nameLen = 0, type = 0;
  [[maybe_unused]] SQLSMALLINT digits = 0, nullable = 0;
  SQLULEN size = 0;
  if (wide) {
    SQLWCHAR name[512];
    check(SQLDescribeColW(st, i, name, static_cast<SQLSMALLINT>(std::size(name)), &nameLen, &type, &size, &digits,
                          &nullable),
          SQL_HANDLE_STMT, st, "The result columns could not be described", source);
    c.info.name = toUtf8(reinterpret_cast<const char16_t*>(name),
                         std::min<size_t>(static_cast<size_t>(nameLen), std::size(name) - 1));
  } else {
    SQLCHAR name[1024];
    check(
        SQLDescribeCol(st, i, name, static_cast<SQLSMALLINT>(sizeof name), &nameLen, &type, &size, &digits, &nullable),
        SQL_HANDLE_STMT, st, "The result columns could not be described", source);
    c.info.name.assign(reinterpret_cast<const char*>(name),
                       std::min<size_t>(static_cast<size_t>(nameLen), sizeof name - 1));
  }
  const SQLSMALLINT textC = wide ? SQL_C_WCHAR : SQL_C_CHAR;
  SQLCHAR typeName[128] = {};
  SQLSMALLINT tl = 0;
  SQLColAttribute(st, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &tl, nullptr);
  SQLLEN isUnsigned = SQL_FALSE;
  SQLColAttribute(st, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
  std::string tn = LCase(reinterpret_cast<char*>(typeName));
  c.info.definedSize = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(size);
  bool money = tn.find("money") != std::string::npos || tn.find("currency") != std::string::npos;
  // Text buffers: room for the declared size when it is modest; long or
  // unsized columns get a buffer of longChars characters and longer values
  // are read whole with SQLGetData. Some drivers pad every cell's buffer to
  // its full width (strncpy), so a wide buffer costs on every row, not only
  // on long ones.
  auto textWidth = [&](size_t chars) {
    size_t n = (size == 0 || size > longChars) ? longChars : std::max<size_t>(size, 1);
    n = std::max(n, chars);
    return wide ? static_cast<SQLLEN>((n * 2 + 1) * sizeof(SQLWCHAR)) : static_cast<SQLLEN>(n * 4 + 1);
  };
  const ColumnType& t = columnType(type, isUnsigned == SQL_TRUE, money);
  FieldInfo& f = c.info;
  f.type = t.ado;
  f.kind = t.kind;
  c.ctype = t.ctype == kTextC ? textC : t.ctype;
  switch (t.width) {
    case Width::Fixed:
      c.width = t.bytes;
      break;
    case Width::Text:
      c.width = textWidth(static_cast<size_t>(t.bytes));
      break;
    case Width::Decimal:
      c.width = static_cast<SQLLEN>((std::max<size_t>(size, 38) + 4) * sizeof(SQLWCHAR));
      break;
    case Width::Binary:
      c.width = static_cast<SQLLEN>((size == 0 || size > 8000) ? 1024 : std::max<size_t>(size, 16));
      break;
  }
  // Some drivers report Booleans as one-character text ("1"/"0").
  if ((tn == "bool" || tn == "boolean") && f.kind == Kind::Text) {
    f.type = ado::adBoolean;
    f.kind = Kind::Bool;
  }
}

bool truncated(const Column& c, SQLLEN ind) {
  if (ind == SQL_NO_TOTAL) return true;
  if (ind < 0) return false;
  if (c.ctype == SQL_C_WCHAR) return ind + static_cast<SQLLEN>(sizeof(SQLWCHAR)) > c.width;
  if (c.ctype == SQL_C_CHAR) return ind + 1 > c.width;
  if (c.ctype == SQL_C_BINARY) return ind > c.width;
  return false;
}

// The whole value of one cell by SQLGetData, in pieces.
std::string getWhole(SQLHSTMT st, SQLUSMALLINT col, const Column& c, bool& isNull, const std::string& source,
                     std::vector<char>& piece) {
  std::string out;
  piece.resize(65536);
  std::u16string wide;
  isNull = false;
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN r = SQLGetData(st, col, c.ctype, piece.data(), static_cast<SQLLEN>(piece.size()), &ind);
    if (r == SQL_NO_DATA) break;
    check(r, SQL_HANDLE_STMT, st, ("The value of column " + c.info.name + " could not be read").c_str(), source);
    if (ind == SQL_NULL_DATA) {
      isNull = true;
      return {};
    }
    size_t got;
    if (ind == SQL_NO_TOTAL || ind > static_cast<SQLLEN>(piece.size()))
      got = piece.size();
    else
      got = static_cast<size_t>(ind);
    if (c.ctype == SQL_C_CHAR) {
      if (got + 1 > piece.size()) got = piece.size() - 1;  // the terminator
      out.append(piece.data(), got);
    } else if (c.ctype == SQL_C_WCHAR) {
      if (got + sizeof(SQLWCHAR) > piece.size()) got = piece.size() - sizeof(SQLWCHAR);  // the terminator
      got -= got % sizeof(SQLWCHAR);
      wide.append(reinterpret_cast<const char16_t*>(piece.data()), got / sizeof(SQLWCHAR));
    } else {
      out.append(piece.data(), got);
    }
    if (r == SQL_SUCCESS) break;
  }
  if (c.ctype == SQL_C_WCHAR) appendUtf8(out, wide.data(), wide.size());
  return out;
}

void store(RowSet& rs, const Column& c, const char* p, SQLLEN ind, std::string& scratch) {
  if (ind == SQL_NULL_DATA) {
    rs.addNull();
    return;
  }
  if (c.info.kind == Kind::Bool && (c.ctype == SQL_C_CHAR || c.ctype == SQL_C_WCHAR)) {
    char first = c.ctype == SQL_C_CHAR ? p[0] : static_cast<char>(reinterpret_cast<const char16_t*>(p)[0]);
    rs.addBool(first == '1' || first == 't' || first == 'T' || first == 'y' || first == 'Y');
    return;
  }
  switch (c.ctype) {
    case SQL_C_SBIGINT: {
      int64_t v;
      std::memcpy(&v, p, 8);
      rs.addInt(v);
      return;
    }
    case SQL_C_DOUBLE: {
      double v;
      std::memcpy(&v, p, 8);
      rs.addDouble(v);
      return;
    }
    case SQL_C_TYPE_DATE: {
      SQL_DATE_STRUCT d;
      std::memcpy(&d, p, sizeof d);
      rs.addDate(MakeDate(d.year, d.month, d.day).serial);
      return;
    }
    case SQL_C_TYPE_TIME: {
      SQL_TIME_STRUCT t;
      std::memcpy(&t, p, sizeof t);
      rs.addDate(MakeDate(1899, 12, 30, t.hour, t.minute, t.second).serial);
      return;
    }
    case SQL_C_TYPE_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT t;
      std::memcpy(&t, p, sizeof t);
      rs.addDate(MakeDate(t.year, t.month, t.day, t.hour, t.minute, t.second + t.fraction / 1e9).serial);
      return;
    }
    case SQL_C_WCHAR: {
      scratch.clear();
      appendUtf8(scratch, reinterpret_cast<const char16_t*>(p), static_cast<size_t>(ind) / sizeof(SQLWCHAR));
      rs.addText(scratch);
      return;
    }
    case SQL_C_CHAR:
    case SQL_C_BINARY:
      rs.addText(std::string_view(p, static_cast<size_t>(ind)));
      return;
    default:
      rs.addNull();
      return;
  }
}

}  // namespace

struct OdbcStream::State {
  Stmt st;
  std::vector<Column> cols;
  std::vector<FieldInfo> fields;
  SQLULEN arraySize = 1;
  SQLULEN fetched = 0;  // the driver writes here on every fetch
  bool done = false;    // every row has been read
  bool closed = false;  // freed before its end by the recordset or the connection
  std::string source;
  std::string scratch;
  std::vector<char> piece;  // SQLGetData's buffer for long values, kept between them
  // For writing lines: per column a one-row set that makes the few kinds
  // formatted through a Variant exactly as a recordset's Field would.
  std::vector<RowSet> single;

  // Fetches the next block into the bound buffers; its row count, 0 once
  // every row has been read.
  SQLULEN next();
  // The whole of a value too long for its bound buffer.
  std::string whole(SQLULEN row, size_t col, bool& positioned, bool& isNull);
  void writeCell(SQLULEN row, size_t col, bool& positioned, LinesOut& out);
};

SQLULEN OdbcStream::State::next() {
  if (closed) raise(ado::kErrObjectClosed, "Operation is not allowed when the object is closed.", source);
  if (done) return 0;
  SQLHSTMT h = st.h;
  fetched = 0;
  SQLRETURN r = SQLFetch(h);
  if (r == SQL_NO_DATA) {
    // Every row is in: the statement is freed now rather than with the
    // recordset, so the connection has no statement left open.
    done = true;
    st = Stmt{};
    return 0;
  }
  check(r, SQL_HANDLE_STMT, h, "Fetching the result failed", source);
  return arraySize == 1 ? 1 : fetched;
}

std::string OdbcStream::State::whole(SQLULEN row, size_t col, bool& positioned, bool& isNull) {
  SQLHSTMT h = st.h;
  if (arraySize > 1 && !positioned) {
    check(SQLSetPos(h, static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_HANDLE_STMT, h,
          "A long value could not be read", source);
    positioned = true;
  }
  return getWhole(h, static_cast<SQLUSMALLINT>(col + 1), cols[col], isNull, source, piece);
}

// The text kinds and numbers of most tables are formatted from the bound
// buffer as RowSet::appendText formats what store() keeps of them; the rest
// go through a one-row set and its Variant.
void OdbcStream::State::writeCell(SQLULEN row, size_t col, bool& positioned, LinesOut& out) {
  const Column& c = cols[col];
  SQLLEN ind = c.ind[row];
  if (ind == SQL_NULL_DATA) return;
  RowSet& one = single[col];
  if (truncated(c, ind)) {
    bool isNull = false;
    std::string text = whole(row, col, positioned, isNull);
    if (isNull) return;
    if (c.info.kind == Kind::Text) return out.put(text);
    one.clear();
    one.beginRow();
    one.addText(text);
  } else {
    const char* p = c.buf.data() + static_cast<size_t>(c.width) * row;
    Kind kind = c.info.kind;
    int64_t i;
    double d;
    switch (c.ctype) {
      case SQL_C_SBIGINT:
        std::memcpy(&i, p, 8);
        if (kind == Kind::Int32) i = static_cast<int32_t>(i);
        if (kind == Kind::Int16) i = static_cast<int16_t>(i);
        if (kind == Kind::Int64 || kind == Kind::Int32 || kind == Kind::Int16) {
          char* w = out.room(24);
          return out.commit(static_cast<size_t>(std::to_chars(w, w + 24, i).ptr - w));
        }
        if (kind == Kind::Bool) return out.put(i != 0 ? "True" : "False");
        break;
      case SQL_C_DOUBLE:
        std::memcpy(&d, p, 8);
        if (kind == Kind::Double) {
          char buf[40];
          return out.put(std::string_view(buf, static_cast<size_t>(DoubleToChars(d, buf) - buf)));
        }
        break;
      case SQL_C_CHAR:
        if (kind == Kind::Text) return out.put(std::string_view(p, static_cast<size_t>(ind)));
        break;
      case SQL_C_WCHAR:
        if (kind == Kind::Text) {
          scratch.clear();
          appendUtf8(scratch, reinterpret_cast<const char16_t*>(p), static_cast<size_t>(ind) / sizeof(SQLWCHAR));
          return out.put(scratch);
        }
        break;
      default:
        break;
    }
    one.clear();
    one.beginRow();
    store(one, c, p, ind, scratch);
  }
  scratch.clear();
  appendValueText(scratch, one.value(0, 0));
  out.put(scratch);
}

OdbcStream::OdbcStream(std::unique_ptr<State> state) : s_(std::move(state)) {}
OdbcStream::~OdbcStream() = default;

const std::vector<FieldInfo>& OdbcStream::fields() const {
  return s_->fields;
}

void OdbcStream::close() noexcept {
  s_->st = Stmt{};
  s_->closed = true;
}

bool OdbcStream::fetch(RowSet& rs) {
  State& s = *s_;
  SQLULEN n = s.next();
  for (SQLULEN k = 0; k < n; ++k) {
    rs.beginRow();
    bool positioned = false;
    for (size_t i = 0; i < s.cols.size(); ++i) {
      const Column& c = s.cols[i];
      SQLLEN ind = c.ind[k];
      if (truncated(c, ind)) {
        bool isNull = false;
        std::string text = s.whole(k, i, positioned, isNull);
        if (isNull)
          rs.addNull();
        else
          rs.addText(text);
      } else {
        store(rs, c, c.buf.data() + static_cast<size_t>(c.width) * k, ind, s.scratch);
      }
    }
  }
  return n > 0;
}

size_t OdbcStream::writeLines(LinesOut& out) {
  State& s = *s_;
  if (s.single.empty())
    for (const FieldInfo& f : s.fields) s.single.emplace_back(std::vector<FieldInfo>{f});
  size_t rows = 0;
  while (SQLULEN n = s.next()) {
    for (SQLULEN k = 0; k < n; ++k) {
      bool positioned = false;
      for (size_t i = 0; i < s.cols.size(); ++i) {
        out.beginField(i);
        s.writeCell(k, i, positioned, out);
        out.endField();
      }
      out.endLine();
    }
    rows += n;
  }
  return rows;
}

std::shared_ptr<OdbcStream> OdbcConnection::stream(const std::string& sql, const std::string& source,
                                                   size_t blockRows) {
  if (!dbc_) raise(ado::kErrObjectClosed, "Operation is not allowed when the object is closed.", source);
  SQLHDBC dbc = static_cast<SQLHDBC>(dbc_);
  auto s = std::make_unique<OdbcStream::State>();
  s->source = source;
  SQLHSTMT h = nullptr;
  check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h), SQL_HANDLE_DBC, dbc, "The statement could not be allocated", source);
  s->st.h = h;

  // Row arrays need a driver that can still read a long value of any row of
  // the block (SQL_GD_BLOCK); others fetch one row at a time, which is the
  // only way their long values can be completed with SQLGetData. There a
  // long value costs one more call, so long columns are bound narrower.
  SQLUINTEGER gd = 0;
  SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &gd, sizeof gd, nullptr);
  SQLULEN arraySize = (gd & SQL_GD_BLOCK) ? std::max<SQLULEN>(blockRows, 1) : 1;
  if (arraySize > 1 &&
      !SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(arraySize), 0)))
    arraySize = 1;
  s->arraySize = arraySize;
  SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &s->fetched, 0);

  SQLRETURN r;
  if (wide_) {
    std::u16string text = toUtf16(sql);
    r = SQLExecDirectW(h, W(text), static_cast<SQLINTEGER>(text.size()));
  } else {
    std::string text = sql;
    r = SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
  }
  if (r == SQL_NO_DATA) return nullptr;
  check(r, SQL_HANDLE_STMT, h, "The statement failed", source);

  SQLSMALLINT ncols = 0;
  check(SQLNumResultCols(h, &ncols), SQL_HANDLE_STMT, h, "The result could not be described", source);
  if (ncols <= 0) return nullptr;

  s->cols.resize(static_cast<size_t>(ncols));
  for (SQLUSMALLINT i = 0; i < s->cols.size(); ++i) {
    describe(h, static_cast<SQLUSMALLINT>(i + 1), s->cols[i], wide_, arraySize > 1 ? 255 : 64, source);
    s->fields.push_back(s->cols[i].info);
  }
  for (SQLUSMALLINT i = 0; i < s->cols.size(); ++i) {
    Column& c = s->cols[i];
    c.buf.assign(static_cast<size_t>(c.width) * arraySize, 0);
    c.ind.assign(arraySize, 0);
    check(SQLBindCol(h, static_cast<SQLUSMALLINT>(i + 1), c.ctype, c.buf.data(), c.width, c.ind.data()),
          SQL_HANDLE_STMT, h, "The result columns could not be bound", source);
  }
  if (arraySize > 1) SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN, 0);

  auto out = std::make_shared<OdbcStream>(std::move(s));
  std::erase_if(streams_, [](const std::weak_ptr<OdbcStream>& w) { return w.expired(); });
  streams_.push_back(out);
  return out;
}

RowSetRef OdbcConnection::execute(const std::string& sql, const std::string& source) {
  std::shared_ptr<OdbcStream> s = stream(sql, source, 256);
  if (!s) return nullptr;
  auto rs = std::make_shared<RowSet>(s->fields());
  while (s->fetch(*rs)) {
  }
  rs->finish();
  return rs;
}

}  // namespace pm::data
