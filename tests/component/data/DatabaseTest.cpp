// The data-source methods end to end: the data server on SQLite (always)
// and on the PostgreSQL test service (when it runs), text files, arrays and
// XML files made by the tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "support/DataFixtures.h"
#include "support/TestSupport.h"
#include "system/CodePage.h"

namespace pm::test {

namespace {

using Names = std::vector<std::string>;
const Variant k1(int16_t{1}), kM1(int16_t{-1}), kM2(int16_t{-2}), kM3(int16_t{-3});

// The parameter: PostgreSQL (true) or SQLite; the test names say which.
class Database : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    table = std::string("pm_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : table)
      if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    if (GetParam()) {
      pg = pgService();
      PM_REQUIRE_OR_SKIP(pg.available(), "PRESSMARK_TEST_PG_DSN is not set (PostgreSQL service not started)");
      std::tie(dsn, user, password, connection) = std::tuple(pg.dsn, pg.user, pg.password, pg.connection());
    } else {
      dsn = makeSqlite(dir.file("t.db"), {"SELECT 1"});
      connection = "DSN=" + dsn + ";";
    }
    sqlExec(connection,
            {"DROP TABLE IF EXISTS " + table,
             "CREATE TABLE " + table +
                 "(id INTEGER, name VARCHAR(40), amount DOUBLE PRECISION, day DATE, flag BOOLEAN, note TEXT)",
             "INSERT INTO " + table + " VALUES(1, 'Zoë', 2.5, '2024-02-29', TRUE, 'a')",
             "INSERT INTO " + table + " VALUES(2, 'Bob', -1, '1999-12-31', FALSE, 'b')",
             "INSERT INTO " + table + " VALUES(3, 'Ann', 0.125, '2000-01-01', TRUE, NULL)"});
  }
  void TearDown() override {
    if (!connection.empty()) ignoreErrors([&] { sqlExec(connection, {"DROP TABLE IF EXISTS " + table}); });
  }
  Variant toTextFile(const std::string& sql, const std::string& path, bool headings, const std::string& delimiter,
                     bool quotes) {
    return call(pdf, "DatabaseTableToTextFile",
                {Variant(dsn), Variant(sql), Variant(path), Variant(user), Variant(password), Variant(headings),
                 Variant(delimiter), Variant(quotes)});
  }
  Variant toArray(const std::string& sql, Variant& arr, bool headings = false) {
    return call(pdf, "DatabaseTableToArray",
                {Variant(dsn), Variant(sql), ByRef(arr), Variant(user), Variant(password), Variant(headings)});
  }
  ObjectRef openRecordset(const std::string& sql) {
    ObjectRef rs = CreateObject(ado::kRecordsetProgId);
    let(rs, "CursorLocation", Variant(ado::adUseClient));
    call(rs, "Open", {Variant(sql), Variant(connection), Variant(int32_t{0}), Variant(int32_t{1})});
    return rs;
  }
  std::string select(const std::string& cols, const std::string& where = "") {
    return "SELECT " + cols + " FROM " + table + (where.empty() ? "" : " WHERE " + where) + " ORDER BY id";
  }

  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  TempDir dir;
  PgService pg;
  std::string table, dsn, user, password, connection;
};

TEST_P(Database, TextFileHeadingsQuotesAndDelimiters) {
  std::string path = dir.file("out.txt");
  ASSERT_EQ(toTextFile(select("id, name, amount, day, flag", "id < 3"), path, true, ",", true), k1);
  EXPECT_EQ(readFile(path),
            "\"id\",\"name\",\"amount\",\"day\",\"flag\"\r\n"
            "\"1\",\"Zoë\",\"2.5\",\"2/29/2024\",\"True\"\r\n"
            "\"2\",\"Bob\",\"-1\",\"12/31/1999\",\"False\"\r\n");
  ASSERT_EQ(toTextFile(select("id, name"), path, false, "", false), k1);
  EXPECT_EQ(readFile(path), "1Zoë\r\n2Bob\r\n3Ann\r\n");
  // No rows: the heading line only, or an empty file.
  ASSERT_EQ(toTextFile(select("id, name", "id > 99"), path, true, ";", false), k1);
  EXPECT_EQ(readFile(path), "id;name\r\n");
  ASSERT_EQ(toTextFile(select("id, name", "id > 99"), path, false, ";", false), k1);
  EXPECT_EQ(readFile(path), "");
}

TEST_P(Database, TextFileCodes) {
  std::string path = dir.file("out.txt");
  writeFile(path, "previous");
  EXPECT_EQ(toTextFile(select("no_such_column"), path, false, ",", false), kM2);
  EXPECT_EQ(call(pdf, "DatabaseTableToTextFile", {"pm_no_such_dsn", Variant(select("id")), Variant(path)}), kM1);
  EXPECT_EQ(toTextFile(select("id"), dir.file("missing/dir/out.txt"), false, ",", false), kM3);
  if (GetParam()) {
    // The server ends the session in the middle of the query.
    EXPECT_EQ(
        toTextFile("SELECT pg_terminate_backend(pg_backend_pid()), generate_series(1, 5)", path, false, ",", false),
        kM2);
  }
  EXPECT_EQ(readFile(path), "previous");
  // No temporary file is left beside the target either.
  EXPECT_EQ(dir.names(), (GetParam() ? Names{"out.txt"} : Names{"out.txt", "t.db"}));
}

TEST_P(Database, ArraysKeepValuesAndNulls) {
  Variant arr(Array({Bound{0, 1}}));
  ASSERT_EQ(toArray(select("id, name, note"), arr, true), k1);
  const Array& a = arr.array();
  ASSERT_EQ(a.bounds(), (std::vector<Bound>{{0, 4}, {0, 3}}));
  EXPECT_EQ(a.at({0, 0}), Variant("id"));
  EXPECT_EQ(a.at({0, 2}), Variant("note"));
  EXPECT_EQ(a.at({1, 0}), Variant(int32_t{1}));
  EXPECT_EQ(a.at({1, 1}), Variant("Zoë"));
  EXPECT_TRUE(a.at({3, 2}).isNull());  // Null stays Null in arrays

  // No rows and no headings: an empty result, not a failure.
  ASSERT_EQ(toArray(select("id, name", "id > 99"), arr), k1);
  EXPECT_EQ(arr.array().bounds(), (std::vector<Bound>{{0, 0}, {0, 2}}));

  Variant empty;
  EXPECT_EQ(call(pdf, "DatabaseTableToArray", {Variant(dsn), Variant(select("id")), ByRef(empty)}), kM1);
  EXPECT_EQ(call(pdf, "DatabaseTableToArray", {"pm_no_such_dsn", Variant(select("id")), ByRef(arr)}), kM2);
  EXPECT_EQ(call(pdf, "DatabaseTableToArray",
                 {Variant(dsn), "SELECT nothing FROM nowhere", ByRef(arr), Variant(user), Variant(password)}),
            kM3);
}

TEST_P(Database, RecordsetMethodsLeaveTheRecordsetAtItsFirstRecord) {
  ObjectRef rs = openRecordset(select("name"));
  call(rs, "MoveNext");
  call(rs, "MoveNext");
  Variant arr;
  ASSERT_EQ(call(pdf, "RecordsetToArray", {Variant(rs), ByRef(arr), Variant(true)}), k1);
  EXPECT_EQ(arr, V({"name", "Zoë", "Bob", "Ann"}));  // one field: one dimension
  EXPECT_EQ(get(objectOf(get(rs, "Fields", {Variant(int32_t{0})})), "Value"), Variant("Zoë"));

  ObjectRef rs2 = openRecordset(select("id, name"));
  call(rs2, "MoveNext");
  call(rs2, "MoveNext");
  std::string path = dir.file("rs.txt");
  ASSERT_EQ(call(pdf, "RecordsetToTextFile", {Variant(rs2), Variant(path), Variant(true), Variant(","), Variant(true)}),
            k1);
  EXPECT_EQ(readFile(path), "\"id\",\"name\"\r\n\"1\",\"Zoë\"\r\n\"2\",\"Bob\"\r\n\"3\",\"Ann\"\r\n");
  EXPECT_EQ(get(rs2, "EOF"), Variant(false));
  EXPECT_EQ(get(objectOf(get(rs2, "Fields", {Variant(int32_t{0})})), "Value"), Variant(int32_t{1}));
  ASSERT_EQ(call(pdf, "RecordsetToArray", {Variant(rs2), ByRef(arr)}), k1);
  EXPECT_EQ(arr.array().bounds(), (std::vector<Bound>{{0, 3}, {0, 2}}));

  // A closed recordset, or a source that is no recordset, fails; a target
  // that is no array is left alone.
  ObjectRef withNull = openRecordset(select("note"));
  Variant str("s");
  EXPECT_EQ(call(pdf, "RecordsetToArray", {Variant(withNull), ByRef(str)}), kM1);
  EXPECT_EQ(str, Variant("s"));
  call(withNull, "Close");
  EXPECT_EQ(call(pdf, "RecordsetToArray", {Variant(withNull), ByRef(arr)}), kM2);
  EXPECT_EQ(call(pdf, "RecordsetToArray", {Variant("not a recordset"), ByRef(arr)}), kM2);
}

TEST_P(Database, TextFileOfManyBlocksIsWrittenExactly) {
  // Rows past a forward cursor's block of 256, with long values on both sides
  // of the first boundary, Nulls and numbers.
  std::string longText = std::string(5000, 'x') + "é";
  sqlExec(connection, {"INSERT INTO " + table +
                           "(id, name, amount, flag, note) WITH RECURSIVE c(x) AS (SELECT 4 UNION ALL SELECT "
                           "x + 1 FROM c WHERE x < 700) SELECT x, 'n' || x, x * 0.25, x % 2 = 0, CASE WHEN x % "
                           "7 = 0 THEN NULL ELSE 'v' || x END FROM c",
                       "UPDATE " + table + " SET note = '" + longText + "' WHERE id IN (256, 257, 700)"});
  std::string expected = "\"id\",\"name\",\"amount\",\"note\"\r\n";
  const char* names[3] = {"Zoë", "Bob", "Ann"};
  const char* notes[3] = {"a", "b", ""};
  const char* amounts[3] = {"2.5", "-1", "0.125"};
  for (int i = 1; i <= 700; ++i) {
    std::string name = i <= 3 ? names[i - 1] : "n" + std::to_string(i);
    std::string amount = i <= 3 ? amounts[i - 1] : CStr(Variant(i * 0.25));
    std::string note = i == 256 || i == 257 || i == 700 ? longText
                       : i <= 3                         ? notes[i - 1]
                       : i % 7 == 0                     ? ""
                                                        : "v" + std::to_string(i);
    expected += "\"" + std::to_string(i) + "\",\"" + name + "\",\"" + amount + "\",\"" + note + "\"\r\n";
  }
  std::string path = dir.file("many.csv");
  ASSERT_EQ(toTextFile(select("id, name, amount, note"), path, true, ",", true), k1);
  EXPECT_EQ(readFile(path), expected);
}

INSTANTIATE_TEST_SUITE_P(Backends, Database, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "PostgreSQL" : "SQLite"); });

// ---- XML files ----

const char* kXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<people>
  <person id="1"><name>Zoë</name><city>Köln</city><pet><kind>cat</kind></pet><pet><kind>dog</kind></pet>note one</person>
  <person id="2"><name>Bob</name><city>Oslo</city></person>
</people>
)";

class XmlMethods : public ::testing::Test {
 protected:
  void SetUp() override { writeFile(dir.file("p.xml"), kXml); }
  TempDir dir;
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
};

TEST_F(XmlMethods, XMLFileToArrayWithHeadings) {
  Variant arr(Array({Bound{0, 1}}));
  ASSERT_EQ(call(pdf, "XMLFileToArray", {Variant(dir.file("p.xml")), ByRef(arr), Variant(true)}), k1);
  Array expected = Array::matrix(3, 4);
  const char* rows[3][4] = {
      {"id", "name", "city", "pet"}, {"1", "Zoë", "Köln", nullptr}, {"2", "Bob", "Oslo", nullptr}};
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 4; ++c)
      if (rows[r][c]) expected.set({r, c}, Variant(rows[r][c]));
  EXPECT_EQ(arr, Variant(expected));

  ASSERT_EQ(call(pdf, "XMLFileToArray", {Variant(dir.file("p.xml")), ByRef(arr)}), k1);
  EXPECT_EQ(arr.array().bounds(), (std::vector<Bound>{{0, 2}, {0, 4}}));

  EXPECT_EQ(call(pdf, "XMLFileToArray", {Variant(dir.file("none.xml")), ByRef(arr)}), kM3);
  Variant empty;
  EXPECT_EQ(call(pdf, "XMLFileToArray", {Variant(dir.file("p.xml")), ByRef(empty)}), kM1);
}

TEST_F(XmlMethods, XMLFileToRecordsetOpensTheCallersRecordset) {
  ObjectRef rs = CreateObject(ado::kRecordsetProgId);
  ASSERT_EQ(call(pdf, "XMLFileToRecordset", {Variant(dir.file("p.xml")), Variant(rs)}), k1);
  // The XML recordset feeds the other recordset methods.
  Variant arr;
  ASSERT_EQ(call(pdf, "RecordsetToArray", {Variant(rs), ByRef(arr), Variant(true)}), k1);
  EXPECT_EQ(arr.array().at({0, 4}), Variant("$Text"));
  EXPECT_EQ(arr.array().at({1, 4}), Variant("note one"));
}

}  // namespace

}  // namespace pm::test
