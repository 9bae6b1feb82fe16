// The registry stand-in: hives kept in text files in the Windows registry
// export format, reached through a small table of open keys whose calls and
// result codes follow the Windows registry functions clsRegistry was written
// against (RegOpenKeyEx, RegQueryValueEx, RegSetValueEx, RegCreateKeyEx,
// RegCloseKey).
//
// Where the hives live:
//   HKEY_LOCAL_MACHINE  /etc/pressmark/HKEY_LOCAL_MACHINE.reg (the system
//                       file), read under a per-user overlay
//                       <config>/pressmark/HKEY_LOCAL_MACHINE.reg whose
//                       values win. Writes go to the system file when it
//                       can be written (root), else to the overlay.
//   HKEY_CURRENT_USER   <config>/pressmark/HKEY_CURRENT_USER.reg
//   HKEY_CLASSES_ROOT   the key SOFTWARE\Classes of HKEY_LOCAL_MACHINE
// <config> is $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
// When PRESSMARK_REGISTRY names a folder, that folder's
// HKEY_LOCAL_MACHINE.reg and HKEY_CURRENT_USER.reg are the only files used
// (no overlay). A missing file is an empty hive.
//
// File format: "REGEDIT4" or "Windows Registry Editor Version 5.00" headers
// are read; REGEDIT4 is written. Text in the files is UTF-8 (a UTF-16LE file
// with a byte-order mark, as regedit exports it, is read too). In files with
// the 5.00 header the data of hex(1), hex(2) and hex(7) is UTF-16LE, as
// regedit writes it, and is turned into UTF-8; in REGEDIT4 files it is taken
// byte for byte. Key paths use "\" and compare case-insensitively (ASCII
// letters); value names likewise.
//
// Writes are read-modify-write under an exclusive flock on "<file>.lock"
// beside the hive, through "<file>.tmp" that is fsynced and renamed over
// the hive, so concurrent writers lose nothing and a crash leaves either the
// old or the new file.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Internal.h"

namespace pm::registry {

// Result codes, as the Windows functions return them.
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kFileNotFound = 2;       // key or value missing
inline constexpr int32_t kAccessDenied = 5;       // hive file not readable/writable
inline constexpr int32_t kInvalidHandle = 6;      // unknown handle or root
inline constexpr int32_t kInvalidParameter = 87;  // a name the file format cannot hold
inline constexpr int32_t kMoreData = 234;         // caller's buffer too small
inline constexpr int32_t kBadDatabase = 1009;     // malformed hive file
inline constexpr int32_t kKeyDeleted = 1018;      // open key no longer in its hive
inline constexpr int32_t kIoFailed = 1016;        // any other file failure

// Access rights (only the write rights are checked; reading always needs a
// readable hive file).
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;

// One value: its name as written, its type number and its raw data (strings
// carry their terminating NUL, as the Windows "A" functions store them).
struct Value {
  std::string name;
  uint32_t type = 0;
  std::string data;
  friend bool operator==(const Value&, const Value&) = default;
};

struct Key {
  std::string path;  // below the root, "\"-separated, as first written; "" is the root
  std::vector<Value> values;
  const Value* find(std::string_view name) const;
  Value* find(std::string_view name);
};

// One hive: its keys by folded (lower-case) path.
struct Hive {
  std::string rootName;  // "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER"
  std::map<std::string, Key> keys;

  const Key* findKey(std::string_view path) const;
  // Creates the key and its missing ancestors, keeping the spelling of
  // parts that already exist.
  Key& createKey(std::string_view path);
  void deleteKey(std::string_view path);  // with its subkeys
};

// A hive file that does not follow the format. what() reads
// "<file>:<line>: <reason>".
class FormatError : public std::runtime_error {
 public:
  FormatError(std::string file, int line, const std::string& reason);
  const std::string& file() const { return file_; }
  int line() const { return line_; }

 private:
  std::string file_;
  int line_;
};

// Parses the contents of a hive file for the given root ("HKEY_LOCAL_MACHINE"
// files may also hold HKEY_CLASSES_ROOT keys, stored under SOFTWARE\Classes).
// Throws FormatError.
Hive parseHive(std::string_view contents, const std::string& rootName, const std::string& fileName);
// The REGEDIT4 text of a hive.
std::string formatHive(const Hive& hive);

// Lower-case (ASCII) form of a path or name, used for comparisons;
// separators normalised ("a\\b\" and "A\B" are the same key).
std::string foldPath(std::string_view path);

// ---- Where a root is kept -------------------------------------------------

struct HiveFiles {
  std::string primary;  // the file written when possible (and read)
  std::string overlay;  // per-user file read over primary; "" when none
};

// The files of a predefined root (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER;
// HKEY_CLASSES_ROOT reports the files of HKEY_LOCAL_MACHINE). Returns false
// for a root that has no file here.
bool hiveFilesForRoot(int32_t root, HiveFiles& out);
// The one file that writes to the root go to now (the system file when it
// can be written, else the per-user overlay); "" for a root with no file.
std::string hiveFileForRoot(int32_t root);

// The last failure of a registry call on this thread, in words (file, line,
// reason for a malformed file); "" after a call that succeeded.
const std::string& lastErrorText();

// ---- Open keys (a process-wide table of int32 handles) ---------------------

PM_INTERNAL int32_t regOpenKeyEx(int32_t key, std::string_view subKey, uint32_t options, uint32_t desired,
                                 int32_t& result);
// Creates the key (and missing ancestors) when it does not exist.
// disposition, when given, receives 1 (created) or 2 (opened existing).
int32_t regCreateKeyEx(int32_t key, std::string_view subKey, uint32_t options, uint32_t desired, int32_t& result,
                       uint32_t* disposition = nullptr);
// Type and data of a value. With data null only type and size are
// returned; a buffer smaller than the data gives kMoreData and the size
// needed. name "" is the key's default value.
PM_INTERNAL int32_t regQueryValueEx(int32_t key, std::string_view name, uint32_t* type, uint8_t* data, uint32_t* size);
int32_t regSetValueEx(int32_t key, std::string_view name, uint32_t type, const uint8_t* data, uint32_t size);
PM_INTERNAL int32_t regCloseKey(int32_t key);

// Number of handles open in the table (for tests of handle hygiene).
size_t openHandleCount();

// ---- For tests -----------------------------------------------------------

// Replaces the system HKEY_LOCAL_MACHINE file's path; "" restores the
// default. Not an environment variable, so users cannot redirect it.
void setSystemHivePathForTesting(const std::string& path);
// Makes the file at path count as unreadable and/or unwritable whatever
// its modes say (the tests also run as root, who may read and write
// anything). Deny::None lifts it; clearDeniedForTesting() lifts all.
enum class Deny { None = 0, Read = 1, Write = 2, ReadWrite = 3 };
void denyFileForTesting(const std::string& path, Deny deny);
void clearDeniedForTesting();

}  // namespace pm::registry
