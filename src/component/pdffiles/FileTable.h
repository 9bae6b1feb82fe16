// The file table: a directory listing as a table of name, length and
// modification time, and SortArray, which sorts such a table by a list of
// (column, order) keys. The directory assembly and the directory printing
// list their files through it alike.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>

#include "automation/Automation.h"

namespace pm {

// SortType and SortOrderType.
inline constexpr int16_t pdoSortNone = 0;
inline constexpr int16_t pdoSortByName = 1;
inline constexpr int16_t pdoSortBySize = 2;
inline constexpr int16_t pdoSortByDate = 3;
inline constexpr int16_t pdoSortOrderAscending = 0;
inline constexpr int16_t pdoSortOrderDescending = 1;

// Columns of the table.
inline constexpr int32_t kColumnName = 0;
inline constexpr int32_t kColumnLength = 1;
inline constexpr int32_t kColumnModified = 2;

struct DirectoryListing {
  std::string directory;  // ends with "/"
  Variant table;          // rows 0..count-1, columns 0..2; Empty when count is 0
  int16_t count = 0;
  std::string path(int16_t row) const;
};

// Lists the regular, visible files of strDirectory whose names match the
// pattern strFiles ("*" and "?" as wildcards, letters in either case, as the
// pattern of a directory enumeration matches them; "*.*" is every file).
// When nothing matches, returns false at once: beforeTable does not run and
// the listing stays empty. Otherwise beforeTable (when given) runs, the
// table is filled and, when lngSortType is 1 to 3, sorted by that column
// (lngSortOrder 0 ascending, any other value descending). A directory that
// cannot be read raises error 76; more than 32767 files raise overflow.
// Files for which exclude answers true are left out of both looks, as if
// they did not match.
bool ListDirectory(const Variant& strDirectory, const Variant& strFiles, const Variant& lngSortType,
                   const Variant& lngSortOrder, DirectoryListing& out, const std::function<void()>& beforeTable = {},
                   const std::function<bool(const struct stat&)>& exclude = {});

// The private procedures of the sort, exposed for their tests.
// 1 sorted; -1 the table is not an array; -2 a key pair is unreadable; -3 a
// key column lies outside the table's columns; -4 an order is neither "asc"
// nor "dec". A run-time error inside is raised again (number and
// description kept, the component as source).
int16_t SortArray(Variant& table, const Variant& keys);
// 0 valid, 1 unreadable pair, 2 column out of bounds, 3 bad order.
int16_t CheckSortKeys(int32_t lower, int32_t upper, const Variant& keys);
// -1, 0 or 1, negated when the deciding key's order is "dec".
int16_t CompareRows(int32_t rowA, const Array& a, int32_t rowB, const Array& b, const Array& keys);
void CopyRow(int32_t destRow, Array& dest, int32_t srcRow, const Array& src);
void QuickSortRows(int32_t lo, int32_t hi, Array& table, const Array& keys);

}  // namespace pm
