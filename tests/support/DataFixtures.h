// Shared by the data server's and the data methods' tests: databases and
// XML files the tests make themselves, and the PostgreSQL service's
// environment.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "automation/Automation.h"
#include "automation/surfaces/Ado.h"

namespace pm::test {

// Runs statements on a connection text through the data server.
inline void sqlExec(const std::string& connection, const std::vector<std::string>& statements) {
  ObjectRef c = CreateObject(ado::kConnectionProgId);
  call(c, "Open", {Variant(connection)});
  for (const std::string& s : statements) call(c, "Execute", {Variant(s)});
  call(c, "Close");
}

// A new SQLite database file; "DSN=" & path reaches it with no ODBC set-up.
inline std::string makeSqlite(const std::string& path, const std::vector<std::string>& statements) {
  sqlExec("DRIVER={SQLite3};Database=" + path + ";", statements);
  return path;
}

// A field of a recordset's current record, found by name or number.
inline Variant fieldValue(const ObjectRef& rs, const Variant& index) {
  return get(objectOf(get(rs, "Fields", {index})), "Value");
}
inline int32_t fieldType(const ObjectRef& rs, const Variant& index) {
  return CLng(get(objectOf(get(rs, "Fields", {index})), "Type"));
}

// The PostgreSQL test service: the DSN, user and password it created, or
// empty when the service is not running.
struct PgService {
  std::string dsn, user, password;
  bool available() const { return !dsn.empty(); }
  std::string connection() const { return "DSN=" + dsn + ";UID=" + user + ";PWD=" + password + ";"; }
};
inline PgService pgService() {
  PgService s;
  if (const char* d = std::getenv("PRESSMARK_TEST_PG_DSN")) s.dsn = d;
  if (const char* u = std::getenv("PRESSMARK_TEST_PG_USER")) s.user = u;
  if (const char* p = std::getenv("PRESSMARK_TEST_PG_PASSWORD")) s.password = p;
  return s;
}

}  // namespace pm::test
