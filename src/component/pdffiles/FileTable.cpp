#include "component/pdffiles/FileTable.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <vector>

#include "system/Files.h"

namespace pm {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

DirPtr openDirectory(const std::string& dir) {
  DirPtr d(::opendir(dir.c_str()));
  if (!d) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR)
      raise(basic::PathNotFound, std::string(basicDescription(basic::PathNotFound)) + ": " + dir);
    raiseFileError(e, dir);
  }
  return d;
}

struct Entry {
  std::string name;
  struct stat st {};
};

// Normal files only: no folders, nothing hidden; a link counts as the file
// it leads to.
bool matches(const std::string& dir, const char* name, const std::string& pattern,
             const std::function<bool(const struct stat&)>& exclude, Entry& out) {
  if (name[0] == '.') return false;
  if (::fnmatch(pattern.c_str(), name, FNM_CASEFOLD | FNM_NOESCAPE) != 0) return false;
  std::string full = dir + name;
  struct stat st {};
  if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (exclude && exclude(st)) return false;
  out.name = name;
  out.st = st;
  return true;
}

Variant modified(const struct stat& st) {
  std::tm t{};
  time_t secs = st.st_mtim.tv_sec;
  ::localtime_r(&secs, &t);
  return Variant(MakeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec));
}

Variant length(const struct stat& st) {
  // A length beyond the 32-bit column keeps its true value, as a Double,
  // so sizes still sort by size.
  if (st.st_size <= INT32_MAX) return Variant(static_cast<int32_t>(st.st_size));
  return Variant(static_cast<double>(st.st_size));
}

}  // namespace

std::string DirectoryListing::path(int16_t row) const {
  return directory + CStr(table.array().at({row, kColumnName}));
}

bool ListDirectory(const Variant& strDirectory, const Variant& strFiles, const Variant& lngSortType,
                   const Variant& lngSortOrder, DirectoryListing& out, const std::function<void()>& beforeTable,
                   const std::function<bool(const struct stat&)>& exclude) {
  out = DirectoryListing{};
  std::string dir = CStr(strDirectory);
  if (dir.empty() || dir.back() != '/') dir += '/';
  std::string pattern = CStr(strFiles);
  if (pattern == "*.*") pattern = "*";
  // The first enumeration only asks whether anything matches.
  {
    DirPtr d = openDirectory(dir);
    bool any = false;
    Entry e;
    while (dirent* ent = ::readdir(d.get()))
      if (matches(dir, ent->d_name, pattern, exclude, e)) {
        any = true;
        break;
      }
    if (!any) return false;
  }
  if (beforeTable) beforeTable();
  // One more pass reads the names with their lengths and times, so the
  // table has exactly as many rows as it holds names, whatever changed in
  // the folder since the first look.
  std::vector<Entry> entries;
  {
    DirPtr d = openDirectory(dir);
    Entry e;
    while (dirent* ent = ::readdir(d.get())) {
      if (!matches(dir, ent->d_name, pattern, exclude, e)) continue;
      if (entries.size() >= static_cast<size_t>(INT16_MAX)) raise(basic::Overflow);
      entries.push_back(e);
    }
  }
  out.directory = dir;
  out.count = static_cast<int16_t>(entries.size());
  if (entries.empty()) return true;
  Array table = Array::matrix(static_cast<int32_t>(entries.size()), 3);
  for (size_t r = 0; r < entries.size(); ++r) {
    int32_t row = static_cast<int32_t>(r);
    table.set({row, kColumnName}, Variant(entries[r].name));
    table.set({row, kColumnLength}, length(entries[r].st));
    table.set({row, kColumnModified}, modified(entries[r].st));
  }
  out.table = Variant(std::move(table));
  int16_t sortType = CInt(lngSortType);
  if (sortType < pdoSortNone || sortType > pdoSortByDate) sortType = pdoSortNone;
  if (sortType != pdoSortNone) {
    Variant keys(
        Array::vector({Variant(static_cast<int16_t>(sortType - 1)), Variant(CLng(lngSortOrder) == 0 ? "asc" : "dec")}));
    SortArray(out.table, keys);
  }
  return true;
}

int16_t CheckSortKeys(int32_t lower, int32_t upper, const Variant& keys) {
  int32_t lb = 0, ub = -1;
  if (!ignoreErrors([&] {
        lb = keys.array().lbound(1);
        ub = keys.array().ubound(1);
      }))
    return 1;
  for (int32_t i = lb; i <= ub; i += 2) {
    int16_t column = 0;
    if (!ignoreErrors([&] { column = CInt(keys.array().at({i})); })) return 1;
    if (column < lower || column > upper) return 2;
    std::string order;
    if (!ignoreErrors([&] { order = CStr(keys.array().at({i + 1})); })) return 3;
    if (order != "asc" && order != "dec") return 3;
  }
  return 0;
}

int16_t CompareRows(int32_t rowA, const Array& a, int32_t rowB, const Array& b, const Array& keys) {
  for (int32_t i = keys.lbound(1); i <= keys.ubound(1); i += 2) {
    int32_t column = CInt(keys.at({i}));
    int c = Compare(a.at({rowA, column}), b.at({rowB, column}));
    if (c != 0) return static_cast<int16_t>(CStr(keys.at({i + 1})) == "dec" ? -c : c);
  }
  return 0;
}

void CopyRow(int32_t destRow, Array& dest, int32_t srcRow, const Array& src) {
  for (int32_t c = dest.lbound(2); c <= dest.ubound(2); ++c) dest.set({destRow, c}, src.at({srcRow, c}));
}

void QuickSortRows(int32_t lo, int32_t hi, Array& table, const Array& keys) {
  // The smaller part is sorted by recursion and the larger one by the loop,
  // so an already sorted listing cannot exhaust the stack; the parts are
  // disjoint, so the rows come out as the recursive form puts them.
  while (lo < hi) {
    // Row 1 of the scratch table holds the pivot.
    Array scratch({Bound{0, 2}, table.bounds()[1]});
    CopyRow(1, scratch, lo, table);
    int32_t i = lo, j = hi;
    for (;;) {
      int16_t r = CompareRows(j, table, 1, scratch, keys);
      while (r == 0 || r == 1) {
        --j;
        if (j <= i) break;
        r = CompareRows(j, table, 1, scratch, keys);
      }
      if (j <= i) {
        CopyRow(i, table, 1, scratch);
        break;
      }
      CopyRow(i, table, j, table);
      ++i;
      r = CompareRows(i, table, 1, scratch, keys);
      while (r == -1) {
        ++i;
        if (i >= j) break;
        r = CompareRows(i, table, 1, scratch, keys);
      }
      if (i >= j) {
        i = j;
        CopyRow(j, table, 1, scratch);
        break;
      }
      CopyRow(j, table, i, table);
    }
    if (i - lo < hi - i) {
      QuickSortRows(lo, i - 1, table, keys);
      lo = i + 1;
    } else {
      QuickSortRows(i + 1, hi, table, keys);
      hi = i - 1;
    }
  }
}

int16_t SortArray(Variant& table, const Variant& keys) {
  if (!table.isArray()) return -1;
  try {
    Array& t = table.arrayMut();
    int16_t check = CheckSortKeys(t.lbound(2), t.ubound(2), keys);
    if (check != 0) return static_cast<int16_t>(-1 - check);
    QuickSortRows(t.lbound(1), t.ubound(1), t, keys.array());
    return 1;
  } catch (...) {
    AutomationError e = currentAsAutomationError();
    throw AutomationError(e.number(), kComponentTitle, e.description());
  }
}

}  // namespace pm
