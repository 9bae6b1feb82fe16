// The data server against the PostgreSQL test service: server types, Null,
// non-ASCII text, and the failures of a real server.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "dataserver/DataFixtures.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

#define REQUIRE_PG(pg)                    \
  test::PgService pg = test::pgService(); \
  PM_REQUIRE_OR_SKIP(pg.available(), "PRESSMARK_TEST_PG_DSN is not set (PostgreSQL service not started)")

Variant value(const ObjectRef& rs, const char* name) {
  return get(objectOf(get(rs, "Fields", {Variant(name)})), "Value");
}
int32_t type(const ObjectRef& rs, const char* name) {
  return CLng(get(objectOf(get(rs, "Fields", {Variant(name)})), "Type"));
}

TEST(PostgresServer, TypesNullsAndText) {
  REQUIRE_PG(pg);
  test::sqlExec(
      pg.connection(),
      {"DROP TABLE IF EXISTS pm_types",
       "CREATE TABLE pm_types(id integer, si smallint, big bigint, r real, d double precision, n numeric(10,2), "
       "wide numeric(30,10), m money, t text, v varchar(20), c char(3), b boolean, dt date, tm time, ts timestamp, "
       "bin bytea, u uuid)",
       "INSERT INTO pm_types VALUES(1, 2, 9007199254740993, 2.25, 1.5, 12.34, 12345678901234567890.0123456789, 12.5, "
       "'Zoë – ☃ 日本 😀', 'abc', 'xy', true, '2024-02-29', '13:14:15', '2024-02-29 12:34:56', '\\x00ff', "
       "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11')",
       "INSERT INTO pm_types(id) VALUES(2)"});
  ObjectRef rs = CreateObject(ado::kRecordsetProgId);
  let(rs, "CursorLocation", Variant(ado::adUseClient));
  call(rs, "Open",
       {"SELECT * FROM pm_types ORDER BY id", Variant(pg.connection()), Variant(int32_t{0}), Variant(int32_t{1})});
  EXPECT_EQ(get(rs, "RecordCount"), Variant(int32_t{2}));
  EXPECT_EQ(type(rs, "id"), ado::adInteger);
  EXPECT_EQ(type(rs, "si"), ado::adSmallInt);
  EXPECT_EQ(type(rs, "big"), ado::adBigInt);
  EXPECT_EQ(type(rs, "r"), ado::adSingle);
  EXPECT_EQ(type(rs, "d"), ado::adDouble);
  EXPECT_EQ(type(rs, "n"), ado::adNumeric);
  EXPECT_EQ(type(rs, "m"), ado::adCurrency);
  EXPECT_EQ(type(rs, "b"), ado::adBoolean);
  EXPECT_EQ(type(rs, "dt"), ado::adDate);
  EXPECT_EQ(type(rs, "ts"), ado::adDBTimeStamp);
  EXPECT_EQ(type(rs, "bin"), ado::adLongVarBinary);

  EXPECT_EQ(value(rs, "si"), Variant(int16_t{2}));
  EXPECT_EQ(value(rs, "big"), Variant("9007199254740993"));
  EXPECT_EQ(value(rs, "r"), Variant(2.25f));
  EXPECT_EQ(value(rs, "n"), Variant(12.34));
  EXPECT_EQ(value(rs, "wide"), Variant("12345678901234567890.0123456789"));
  EXPECT_EQ(value(rs, "m"), Variant(Currency{125000}));
  EXPECT_EQ(value(rs, "t"), Variant("Zoë – ☃ 日本 😀"));
  EXPECT_EQ(value(rs, "c"), Variant("xy "));
  EXPECT_EQ(value(rs, "b"), Variant(true));
  EXPECT_EQ(value(rs, "dt"), Variant(MakeDate(2024, 2, 29)));
  EXPECT_EQ(value(rs, "tm"), Variant(MakeDate(1899, 12, 30, 13, 14, 15)));
  EXPECT_EQ(value(rs, "ts"), Variant(MakeDate(2024, 2, 29, 12, 34, 56)));
  EXPECT_EQ(value(rs, "bin").array().data(), (std::vector<Variant>{Variant(uint8_t{0}), Variant(uint8_t{255})}));
  call(rs, "MoveNext");
  for (const char* name : {"si", "big", "r", "n", "m", "t", "b", "dt", "ts", "bin", "u"})
    EXPECT_TRUE(value(rs, name).isNull()) << name;
}

TEST(PostgresServer, LongTextIsReadWhole) {
  REQUIRE_PG(pg);
  ObjectRef c = CreateObject(ado::kConnectionProgId);
  call(c, "Open", {Variant(pg.connection())});
  ObjectRef rs = objectOf(call(c, "Execute", {"SELECT repeat('é', 20000) AS t, generate_series(1, 300) AS n"}));
  EXPECT_EQ(get(rs, "RecordCount"), Variant(int32_t{300}));
  call(rs, "MoveLast");
  std::string t = CStr(value(rs, "t"));
  EXPECT_EQ(t.size(), 40000u);
  EXPECT_EQ(t.substr(0, 2), "é");
  EXPECT_EQ(value(rs, "n"), Variant(int32_t{300}));
}

TEST(PostgresServer, FailuresOfARealServer) {
  REQUIRE_PG(pg);
  ObjectRef c = CreateObject(ado::kConnectionProgId);
  std::string why;
  EXPECT_NE(
      test::errorOf([&] { call(c, "Open", {Variant("DSN=" + pg.dsn + ";UID=" + pg.user + ";PWD=wrong-password;")}); },
                    &why),
      0);
  EXPECT_NE(why.find("password"), std::string::npos) << why;
  call(c, "Open", {Variant(pg.connection())});
  EXPECT_NE(test::errorOf([&] { call(c, "Execute", {"SELECT * FROM pm_no_such_table"}); }, &why), 0);
  EXPECT_NE(why.find("pm_no_such_table"), std::string::npos) << why;
  // The server ends this session while the statement runs.
  EXPECT_NE(
      test::errorOf(
          [&] { call(c, "Execute", {"SELECT pg_terminate_backend(pg_backend_pid()), generate_series(1, 10)"}); }, &why),
      0);
  EXPECT_FALSE(why.empty());
}

}  // namespace

}  // namespace pm::test
