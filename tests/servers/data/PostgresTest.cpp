// The data server against the PostgreSQL test service: server types, Null,
// non-ASCII text, and the failures of a real server.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "support/DataFixtures.h"
#include "support/Expect.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

#define REQUIRE_PG(pg)        \
  PgService pg = pgService(); \
  PM_REQUIRE_OR_SKIP(pg.available(), "PRESSMARK_TEST_PG_DSN is not set (PostgreSQL service not started)")

TEST(PostgresServer, TypesNullsAndText) {
  REQUIRE_PG(pg);
  sqlExec(
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
  const std::pair<const char*, int32_t> types[] = {
      {"id", ado::adInteger}, {"si", ado::adSmallInt},    {"big", ado::adBigInt},       {"r", ado::adSingle},
      {"d", ado::adDouble},   {"n", ado::adNumeric},      {"m", ado::adCurrency},       {"b", ado::adBoolean},
      {"dt", ado::adDate},    {"ts", ado::adDBTimeStamp}, {"bin", ado::adLongVarBinary}};
  for (const auto& [name, t] : types) EXPECT_EQ(fieldType(rs, name), t) << name;
  const std::vector<std::pair<const char*, Variant>> values({{"si", int16_t{2}},
                                                             {"big", "9007199254740993"},
                                                             {"r", 2.25f},
                                                             {"n", 12.34},
                                                             {"wide", "12345678901234567890.0123456789"},
                                                             {"m", Currency{125000}},
                                                             {"t", "Zoë – ☃ 日本 😀"},
                                                             {"c", "xy "},
                                                             {"b", true},
                                                             {"dt", MakeDate(2024, 2, 29)},
                                                             {"tm", MakeDate(1899, 12, 30, 13, 14, 15)},
                                                             {"ts", MakeDate(2024, 2, 29, 12, 34, 56)}});
  for (const auto& [name, v] : values) EXPECT_EQ(fieldValue(rs, name), v) << name;
  EXPECT_EQ(fieldValue(rs, "bin").array().data(), (std::vector<Variant>{Variant(uint8_t{0}), Variant(uint8_t{255})}));
  call(rs, "MoveNext");
  for (const char* name : {"si", "big", "r", "n", "m", "t", "b", "dt", "ts", "bin", "u"})
    EXPECT_TRUE(fieldValue(rs, name).isNull()) << name;
}

TEST(PostgresServer, LongTextIsReadWhole) {
  REQUIRE_PG(pg);
  ObjectRef c = CreateObject(ado::kConnectionProgId);
  call(c, "Open", {Variant(pg.connection())});
  ObjectRef rs = objectOf(call(c, "Execute", {"SELECT repeat('é', 20000) AS t, generate_series(1, 300) AS n"}));
  EXPECT_EQ(get(rs, "RecordCount"), Variant(int32_t{300}));
  call(rs, "MoveLast");
  std::string t = CStr(fieldValue(rs, "t"));
  EXPECT_EQ(t.size(), 40000u);
  EXPECT_EQ(t.substr(0, 2), "é");
  EXPECT_EQ(fieldValue(rs, "n"), Variant(int32_t{300}));
}

TEST(PostgresServer, FailuresOfARealServer) {
  REQUIRE_PG(pg);
  ObjectRef c = CreateObject(ado::kConnectionProgId);
  // A wrong password, a missing table, and the server ending this session
  // while the statement runs.
  const std::pair<std::string, const char*> rows[] = {
      {"DSN=" + pg.dsn + ";UID=" + pg.user + ";PWD=wrong-password;", "password"},
      {"SELECT * FROM pm_no_such_table", "pm_no_such_table"},
      {"SELECT pg_terminate_backend(pg_backend_pid()), generate_series(1, 10)", ""}};
  for (const auto& [text, says] : rows) {
    bool open = text.rfind("DSN=", 0) == 0;
    Raised r = raised([&] { call(c, open ? "Open" : "Execute", {Variant(text)}); });
    EXPECT_NE(r.number, 0) << text;
    EXPECT_THAT(r.description, ::testing::AllOf(HasSubstr(says), Not(::testing::IsEmpty())));
    if (open) call(c, "Open", {Variant(pg.connection())});
  }
}

}  // namespace

}  // namespace pm::test
