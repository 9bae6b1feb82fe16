// Figures for the data export paths: DatabaseTableToTextFile on a
// 300,000-row, 5-column SQLite table against `sqlite3 -csv` on the same
// query, and the SQLite ODBC driver alone (a bare block-fetch loop over the
// same query, every cell bound, nothing converted) to tell the driver's
// share from ours; the client cursor's peak memory against the data's size,
// and TwoDArrayToTextFile of 1,000,000 cells in MB/s. Medians of runs
// interleaved so all three see the same machine load; the peak memory of
// each of the three. A plain program because one of the runs is an
// external command.
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "automation/Automation.h"
#include "automation/surfaces/Ado.h"
#include "component/frame/CreatePDF.h"
#include "servers/data/Odbc.h"

using namespace pm;
namespace fs = std::filesystem;

namespace {

constexpr int kRows = 300000;
constexpr int kRuns = 5;
const char* kQuery = "SELECT id, name, amount, created, flag FROM t ORDER BY id";

double seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU seconds of this process and of the children it has waited for: on a
// machine shared with other work the wall clock says more about the others.
double cpuSeconds(int who) {
  struct rusage ru {};
  getrusage(who, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}
double cpuOf(const std::function<void()>& f) {
  double self = cpuSeconds(RUSAGE_SELF), children = cpuSeconds(RUSAGE_CHILDREN);
  f();
  return cpuSeconds(RUSAGE_SELF) - self + cpuSeconds(RUSAGE_CHILDREN) - children;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The driver alone: the same query fetched in blocks of `block` rows into
// bound buffers (numbers as numbers, text as text), each row's bytes touched
// once so the loop is not optimised away. Returns the rows seen. The SQLite
// driver cannot complete a long value of a row inside a block (it lacks
// SQL_GD_BLOCK), so the data server fetches from it one row at a time; both
// figures are shown.
long bareFetch(const std::string& db, SQLULEN block = 256) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT st = nullptr;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string text = data::resolveConnectionText("DSN=" + db + ";");
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                      static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT))) {
    std::fprintf(stderr, "the SQLite ODBC driver could not connect\n");
    std::exit(1);
  }
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  const SQLULEN kBlock = block;
  SQLULEN fetched = 0;
  SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlock), 0);
  SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  std::string q = kQuery;
  SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(q.data()), static_cast<SQLINTEGER>(q.size()));
  std::vector<int64_t> ids(kBlock), flags(kBlock);
  std::vector<double> amounts(kBlock);
  std::vector<char> names(kBlock * 64), dates(kBlock * 64);
  std::vector<SQLLEN> ind(kBlock * 5);
  SQLBindCol(st, 1, SQL_C_SBIGINT, ids.data(), 8, &ind[0]);
  SQLBindCol(st, 2, SQL_C_CHAR, names.data(), 64, &ind[kBlock]);
  SQLBindCol(st, 3, SQL_C_DOUBLE, amounts.data(), 8, &ind[2 * kBlock]);
  SQLBindCol(st, 4, SQL_C_CHAR, dates.data(), 64, &ind[3 * kBlock]);
  SQLBindCol(st, 5, SQL_C_SBIGINT, flags.data(), 8, &ind[4 * kBlock]);
  long rows = 0, check = 0;
  while (SQL_SUCCEEDED(SQLFetch(st))) {
    rows += static_cast<long>(fetched);
    for (SQLULEN k = 0; k < fetched; ++k) check += ids[k] + names[k * 64] + dates[k * 64];
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return check == 0 ? -1 : rows;
}

double best(int runs, const std::function<void()>& f) {
  double b = 1e30;
  for (int i = 0; i < runs; ++i) b = std::min(b, seconds(f));
  return b;
}

// The shell runs the command under a time-out; system() reaps it.
void run(const std::string& command) {
  std::string full = "timeout 300 sh -c '" + command + "'";
  if (std::system(full.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return 0;
}

// Peak resident memory the body adds, measured in a child process so the
// earlier runs do not count.
long peakDeltaKb(const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    long before = statusKb("VmRSS:");
    body();
    long delta = statusKb("VmHWM:") - before;
    if (write(fds[1], &delta, sizeof delta) != sizeof delta) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  long delta = -1;
  if (read(fds[0], &delta, sizeof delta) != sizeof delta) delta = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return delta;
}

// Peak resident memory of the largest process the body starts and waits
// for (the sqlite3 command), measured from a child so earlier runs do not
// count.
long childPeakKb(const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    body();
    struct rusage ru {};
    getrusage(RUSAGE_CHILDREN, &ru);
    long peak = ru.ru_maxrss;
    if (write(fds[1], &peak, sizeof peak) != sizeof peak) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  long peak = -1;
  if (read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return peak;
}

}  // namespace

int main() {
  fs::path dir = fs::temp_directory_path() / ("pm-bench-data-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string db = (dir / "big.db").string();
  std::string csv = (dir / "sqlite.csv").string(), ours = (dir / "ours.csv").string();

  run("sqlite3 " + db +
      " \"CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, amount DOUBLE, created TEXT, flag INTEGER);"
      " WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x<" +
      std::to_string(kRows) +
      ")"
      " INSERT INTO t SELECT x, \\\"name_\\\"||x, x*1.25, \\\"2024-01-\\\"||(x%28+10), x%2 FROM c;\"");

  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  auto export_ = [&] {
    Variant r =
        call(pdf, "DatabaseTableToTextFile",
             {Variant(db), Variant(kQuery), Variant(ours), "", "", Variant(false), Variant(","), Variant(false)});
    if (r != Variant(int16_t{1})) {
      std::fprintf(stderr, "DatabaseTableToTextFile returned %d\n", CInt(r));
      std::exit(1);
    }
  };
  auto cli = [&] { run("sqlite3 -csv " + db + " \"" + kQuery + "\" > " + csv); };
  auto fetchOnly = [&] {
    ObjectRef rs = CreateObject(ado::kRecordsetProgId);
    let(rs, "CursorLocation", Variant(ado::adUseClient));
    call(rs, "Open", {Variant(kQuery), Variant("DSN=" + db + ";"), Variant(int32_t{0}), Variant(int32_t{1})});
  };

  export_();  // warm the page cache and the driver
  cli();
  std::vector<double> tCli, tOurs, tDriver, tDriverRows;
  long driverRows = 0, driverRows1 = 0;
  std::vector<double> cCli, cOurs, cDriver, cDriverRows;
  auto both = [](std::vector<double>& wall, std::vector<double>& cpu, const std::function<void()>& f) {
    double c = 0;
    wall.push_back(seconds([&] { c = cpuOf(f); }));
    cpu.push_back(c);
  };
  for (int i = 0; i < kRuns; ++i) {
    both(tCli, cCli, cli);
    both(tOurs, cOurs, export_);
    both(tDriver, cDriver, [&] { driverRows = bareFetch(db); });
    both(tDriverRows, cDriverRows, [&] { driverRows1 = bareFetch(db, 1); });
  }
  double cliS = median(tCli), oursS = median(tOurs), driverS = median(tDriver), driver1S = median(tDriverRows);
  double tFetch = best(3, fetchOnly);
  double cpuCli = median(cCli), cpuOurs = median(cOurs), cpuDriver = median(cDriver), cpuDriver1 = median(cDriverRows);
  auto csvSize = fs::file_size(csv), oursSize = fs::file_size(ours);
  std::printf("DatabaseTableToTextFile, %d rows x 5 columns (medians of %d):\n", kRows, kRuns);
  std::printf("  sqlite3 -csv            %.3f s  (%ju bytes)\n", cliS, static_cast<uintmax_t>(csvSize));
  std::printf("  DatabaseTableToTextFile %.3f s  (%ju bytes)  ratio %.2fx (target <= 1.5x)\n", oursS,
              static_cast<uintmax_t>(oursSize), oursS / cliS);
  std::printf("  the ODBC driver alone   %.3f s  (%ld rows, block fetch) = %.0f%% of ours, %.2fx sqlite3\n", driverS,
              driverRows, 100 * driverS / oursS, driverS / cliS);
  std::printf("  the driver, row by row  %.3f s  (%ld rows, one per fetch) = %.0f%% of ours, %.2fx sqlite3\n", driver1S,
              driverRows1, 100 * driver1S / oursS, driver1S / cliS);
  std::printf("  the query into the client cursor %.3f s\n", tFetch);
  std::printf(
      "CPU seconds (medians of %d): sqlite3 -csv %.3f, DatabaseTableToTextFile %.3f (%.2fx), driver alone "
      "%.3f (%.2fx, %.0f%% of ours), row by row %.3f (%.2fx, %.0f%% of ours)\n",
      kRuns, cpuCli, cpuOurs, cpuOurs / cpuCli, cpuDriver, cpuDriver / cpuCli, 100 * cpuDriver / cpuOurs, cpuDriver1,
      cpuDriver1 / cpuCli, 100 * cpuDriver1 / cpuOurs);

  long peakExport = peakDeltaKb(export_);
  long peakCursor = peakDeltaKb(fetchOnly);
  long peakDriver = peakDeltaKb([&] { bareFetch(db); });
  long peakCli = childPeakKb(cli);
  double dataMb = static_cast<double>(csvSize) / 1e6;
  std::printf("Peak memory added (data as CSV text: %.1f MB):\n", dataMb);
  std::printf("  sqlite3 -csv, whole process    %.1f MB\n", peakCli * 1024.0 / 1e6);
  std::printf("  the ODBC driver alone          %.1f MB\n", peakDriver * 1024.0 / 1e6);
  std::printf("  client cursor (Recordset.Open) %.1f MB = %.2fx the data (target <= 2x)\n", peakCursor * 1024.0 / 1e6,
              peakCursor * 1024.0 / static_cast<double>(csvSize));
  std::printf("  whole DatabaseTableToTextFile  %.1f MB = %.2fx the data\n", peakExport * 1024.0 / 1e6,
              peakExport * 1024.0 / static_cast<double>(csvSize));

  // TwoDArrayToTextFile of 1,000,000 cells: 200,000 rows x 5 columns of
  // mixed text and numbers.
  const int32_t rows = 200000, cols = 5;
  Array a = Array::matrix(rows, cols);
  for (int32_t r = 0; r < rows; ++r) {
    a.set({r, 0}, Variant(r));
    a.set({r, 1}, Variant("customer name " + std::to_string(r)));
    a.set({r, 2}, Variant(r * 0.25));
    a.set({r, 3}, Variant("Some longer description text of row " + std::to_string(r)));
    a.set({r, 4}, Variant(r % 2 == 0));
  }
  Variant arr(std::move(a));
  std::string arrFile = (dir / "array.csv").string();
  double tArr = best(3, [&] {
    Variant r = call(pdf, "TwoDArrayToTextFile", {ByRef(arr), Variant(arrFile), Variant(","), Variant(true)});
    if (r != Variant(int16_t{1})) std::exit(1);
  });
  auto arrSize = fs::file_size(arrFile);
  std::printf("TwoDArrayToTextFile, 1,000,000 cells: %.3f s, %.1f MB, %.0f MB/s (target >= 100 MB/s)\n", tArr,
              static_cast<double>(arrSize) / 1e6, static_cast<double>(arrSize) / 1e6 / tArr);

  fs::remove_all(dir);
  return 0;
}
