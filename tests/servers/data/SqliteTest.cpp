// The data server on SQLite through its ODBC driver: types, Null, non-ASCII
// text, long values, the client-side cursor and the errors of bad input.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "support/DataFixtures.h"
#include "servers/data/Odbc.h"
#include "support/Expect.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

ObjectRef openRecordset(const std::string& connection, const std::string& sql) {
  ObjectRef rs = CreateObject(ado::kRecordsetProgId);
  let(rs, "CursorLocation", Variant(ado::adUseClient));
  let(rs, "CacheSize", Variant(int16_t{20}));
  call(rs, "Open", {Variant(sql), Variant(connection), Variant(ado::adOpenForwardOnly), Variant(ado::adLockReadOnly)});
  return rs;
}

ObjectRef field(const ObjectRef& rs, const Variant& index) {
  return objectOf(get(objectOf(get(rs, "Fields")), "Item", {index}));
}

class SqliteServer : public ::testing::Test {
 protected:
  void SetUp() override {
    db = makeSqlite(
        dir.file("t.db"),
        {"CREATE TABLE t(id INTEGER, name TEXT, code VARCHAR(5), amount DOUBLE, day DATE, stamp TIMESTAMP, "
         "flag BOOLEAN, big BIGINT, data BLOB)",
         "INSERT INTO t VALUES(1, 'Zoë Ångström – ☃', 'longer than five', 2.5, '2024-02-29', '2024-02-29 13:45:30', 1, "
         "9007199254740993, x'00FF10')",
         "INSERT INTO t VALUES(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
         "INSERT INTO t VALUES(3, '" + std::string(70000, 'x') +
             "', 'abc', -1e300, '1899-12-30', '1900-01-01 00:00:01', 0, "
             "-5, x'')"});
    conn = "DSN=" + db + ";UID=;PWD=;";
  }
  TempDir dir;
  std::string db, conn;
};

// The client cursor knows its count and walks every row; the forward-only
// one reads every value as the client cursor does.
TEST_F(SqliteServer, ForwardOnlyCursorReadsEveryValueAsTheClientCursorDoes) {
  test::sqlExec(conn, {"INSERT INTO t(id, name, amount, flag) WITH RECURSIVE c(x) AS (SELECT 4 UNION ALL SELECT x + 1 "
                       "FROM c WHERE x < 600) SELECT x, CASE WHEN x % 5 = 0 THEN NULL ELSE 'n' || x END, x * 0.5, "
                       "x % 2 FROM c",
                       "UPDATE t SET name = '" + std::string(9000, 'y') + "' WHERE id IN (256, 257, 513)"});
  ObjectRef client = openRecordset(conn, "SELECT * FROM t ORDER BY id");
  EXPECT_EQ(get(client, "RecordCount"), Variant(int32_t{600}));
  EXPECT_EQ(get(client, "CursorLocation"), Variant(ado::adUseClient));
  EXPECT_EQ(get(client, "CacheSize"), Variant(int32_t{20}));
  ObjectRef c = CreateObject(ado::kConnectionProgId);
  call(c, "Open", {Variant(conn)});
  ObjectRef rs = CreateObject(ado::kRecordsetProgId);
  let(rs, "CursorLocation", Variant(ado::adUseServer));
  call(rs, "Open", {"SELECT * FROM t ORDER BY id", Variant(c), Variant(ado::adOpenForwardOnly)});
  EXPECT_EQ(get(rs, "RecordCount"), Variant(int32_t{-1}));
  call(rs, "MoveFirst");  // still on the first row: nothing to fetch back
  int rows = 0;
  for (; !CBool(get(rs, "EOF")); ++rows) {
    ASSERT_FALSE(CBool(get(client, "EOF")));
    for (int32_t i = 0; i < 9; ++i)
      ASSERT_EQ(fieldValue(rs, Variant(i)), fieldValue(client, Variant(i))) << "row " << rows << " column " << i;
    call(rs, "MoveNext");
    call(client, "MoveNext");
  }
  EXPECT_EQ(rows, 600);
  EXPECT_TRUE(CBool(get(client, "EOF")));
  EXPECT_THROW(call(client, "MoveNext"), AutomationError);
  call(client, "MoveFirst");
  EXPECT_EQ(fieldValue(client, Variant("ID")), Variant(int32_t{1}));  // names are found case-insensitively
  call(client, "Close");
  EXPECT_EQ(get(client, "State"), Variant(ado::adStateClosed));
  EXPECT_EQ(errorOf([&] { get(client, "EOF"); }), ado::kErrObjectClosed);
  EXPECT_EQ(test::errorOf([&] { call(rs, "MoveFirst"); }), ado::kErrFetchBackward);
  EXPECT_EQ(test::errorOf([&] { call(rs, "MoveNext"); }), ado::kErrBofEof);
  call(rs, "Close");

  // Closing the connection under an open stream ends the stream cleanly.
  call(rs, "Open", {"SELECT id FROM t ORDER BY id", Variant(c), Variant(ado::adOpenForwardOnly)});
  call(c, "Close");
  int32_t error = 0;
  for (int i = 0; i < 300 && error == 0; ++i) error = test::errorOf([&] { call(rs, "MoveNext"); });
  EXPECT_EQ(error, ado::kErrObjectClosed);
  EXPECT_EQ(test::errorOf([&] { call(rs, "MovePrevious"); }), ado::kErrFetchBackward);
}

TEST_F(SqliteServer, TypesAndValuesOfEveryColumnKind) {
  ObjectRef rs = openRecordset(conn, "SELECT * FROM t ORDER BY id");
  ObjectRef fields = objectOf(get(rs, "Fields"));
  ASSERT_EQ(get(fields, "Count"), Variant(int32_t{9}));
  EXPECT_EQ(CStr(get(field(rs, Variant(int32_t{1})), "Name")), "name");
  const std::pair<const char*, int32_t> types[] = {
      {"id", ado::adInteger},    {"name", ado::adLongVarChar}, {"code", ado::adVarChar},
      {"amount", ado::adDouble}, {"day", ado::adDate},         {"stamp", ado::adDBTimeStamp},
      {"flag", ado::adBoolean},  {"big", ado::adBigInt},       {"data", ado::adBinary}};
  for (const auto& [name, t] : types) EXPECT_EQ(fieldType(rs, Variant(name)), t) << name;

  EXPECT_EQ(fieldValue(rs, Variant("name")), Variant("Zoë Ångström – ☃"));
  // SQLite does not hold a column to its declared size; nothing is cut.
  EXPECT_EQ(fieldValue(rs, Variant("code")), Variant("longer than five"));
  EXPECT_EQ(fieldValue(rs, Variant("amount")), Variant(2.5));
  EXPECT_EQ(fieldValue(rs, Variant("day")), Variant(MakeDate(2024, 2, 29)));
  EXPECT_EQ(fieldValue(rs, Variant("stamp")), Variant(MakeDate(2024, 2, 29, 13, 45, 30)));
  EXPECT_EQ(fieldValue(rs, Variant("flag")), Variant(true));
  // Beyond what a Double carries exactly, a big integer keeps its digits.
  EXPECT_EQ(fieldValue(rs, Variant("big")), Variant("9007199254740993"));
  Variant data = fieldValue(rs, Variant("data"));
  ASSERT_TRUE(data.isArray());
  EXPECT_EQ(data.array().elementType(), VT::Byte);
  EXPECT_EQ(data.array().data(),
            (std::vector<Variant>{Variant(uint8_t{0}), Variant(uint8_t{255}), Variant(uint8_t{16})}));

  call(rs, "MoveNext");
  for (int32_t i = 1; i < 9; ++i) EXPECT_TRUE(fieldValue(rs, Variant(i)).isNull()) << "column " << i;

  call(rs, "MoveNext");
  EXPECT_EQ(fieldValue(rs, Variant("name")), Variant(std::string(70000, 'x')));
  EXPECT_EQ(fieldValue(rs, Variant("amount")), Variant(-1e300));
  EXPECT_EQ(fieldValue(rs, Variant("day")), Variant(Date{0}));
  EXPECT_EQ(fieldValue(rs, Variant("flag")), Variant(false));
  EXPECT_EQ(fieldValue(rs, Variant("big")), Variant(int32_t{-5}));
}

TEST_F(SqliteServer, EmptyResultStatementsWithoutRowsAndBadInputGivingClearErrors) {
  ObjectRef rs = openRecordset(conn, "SELECT id, name FROM t WHERE id > 100");
  EXPECT_EQ(get(rs, "RecordCount"), Variant(int32_t{0}));
  EXPECT_EQ(get(rs, "EOF"), Variant(true));
  EXPECT_EQ(get(objectOf(get(rs, "Fields")), "Count"), Variant(int32_t{2}));
  EXPECT_EQ(errorOf([&] { get(field(rs, Variant(int32_t{0})), "Value"); }), ado::kErrBofEof);
  EXPECT_EQ(errorOf([&] { field(rs, Variant("nope")); }), ado::kErrItemNotFound);

  ObjectRef c = CreateObject(ado::kConnectionProgId);
  call(c, "Open", {Variant(conn)});
  EXPECT_TRUE(call(c, "Execute", {"UPDATE t SET id = id WHERE id = 1"}).isObject());
  ObjectRef r2 = CreateObject(ado::kRecordsetProgId);
  call(r2, "Open", {"DELETE FROM t WHERE id = 100", Variant(c)});
  EXPECT_EQ(get(r2, "State"), Variant(ado::adStateClosed));
  call(c, "Close");
  // Bad input becomes clear errors.
  EXPECT_RAISES("IM002", call(c, "Open", {"DSN=no_such_source_pm;UID=;PWD=;"}));
  EXPECT_RAISES("no_such_table", openRecordset(conn, "SELECT * FROM no_such_table"));
  EXPECT_RAISES("syntax", openRecordset(conn, "SELEKT"));
  rs = CreateObject(ado::kRecordsetProgId);
  EXPECT_RAISES("Provider cannot be found", let(rs, "ActiveConnection", Variant("Provider=SQLOLEDB;Data Source=x;")));
  EXPECT_RAISES("Arguments", let(rs, "CursorLocation", Variant(int32_t{7})));
  EXPECT_RAISES("connection", call(rs, "Open", {"SELECT 1"}));
  // A name that is neither a data source nor a SQLite file is not created.
  EXPECT_RAISES("IM002", call(c, "Open", {Variant("DSN=" + dir.file("missing.db") + ";")}));
  EXPECT_FALSE(readFile(db).empty());
}

TEST_F(SqliteServer, ConnectionObjectAndNamedDataSource) {
  TempDir ini;
  writeFile(ini.file("odbc.ini"), "[pm_sqlite]\nDriver = SQLite3\nDatabase = " + db + "\n");
  ScopedEnv env("ODBCINI", ini.file("odbc.ini"));
  ObjectRef c = CreateObject(ado::kConnectionProgId);
  call(c, "Open", {"DSN=pm_sqlite;UID=;PWD=;"});
  EXPECT_EQ(get(c, "State"), Variant(ado::adStateOpen));
  ObjectRef rs = CreateObject(ado::kRecordsetProgId);
  set(rs, "ActiveConnection", c);
  call(rs, "Open", {"SELECT COUNT(*) AS n FROM t"});
  EXPECT_EQ(CLng(fieldValue(rs, Variant("n"))), 3);
  EXPECT_THROW(call(c, "Open", {"DSN=pm_sqlite;"}), AutomationError);  // already open
  call(c, "Close");
  EXPECT_THROW(call(c, "Close"), AutomationError);
  // A user ID or password cannot add attributes of its own to the connection.
  call(c, "Open", {"DSN=pm_sqlite", "alice;DSN=no_such_source_pm", "p}w;DSN=no_such_source_pm"});
  EXPECT_EQ(get(c, "State"), Variant(ado::adStateOpen));
  std::string user = "alice;Port=2;Server=127.0.0.2", password = "p}w{";
  EXPECT_EQ(pm::data::withCredentials("DSN=x", &user, &password),
            "DSN=x;UID={alice;Port=2;Server=127.0.0.2};PWD={p}}w{};");
  EXPECT_EQ(pm::data::withCredentials("DSN=x;", nullptr, &password), "DSN=x;PWD={p}}w{};");
}

}  // namespace

}  // namespace pm::test
