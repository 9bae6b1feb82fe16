// Small operating-system services the methods of CreatePDF share: the input
// file test, random names for temporary files, special folders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "automation/Variant.h"
#include "automation/Internal.h"

namespace pm {

// True when the path (converted to text) names a file whose length can be
// read; every error is False. An empty file exists; a folder does not.
bool FileExists(const Variant& path);

// A decimal number from 1 to 99,999,999 with no leading zeros. The random
// source is seeded once per thread from the system's entropy source.
PM_INTERNAL std::string GetRandomFileName();

// A temporary file created exclusively (O_CREAT|O_EXCL, mode 0600) as
// dir & GetRandomFileName() & extension, drawing again on a clash. The file
// is removed when the object is destroyed unless keep() was called, and
// only ever the file this object created.
class ExclusiveTempFile {
 public:
  PM_INTERNAL ExclusiveTempFile(const std::string& dir, const std::string& extension);
  // The same with the names drawn from another source (tests use it to
  // force clashes). Raises the file error of a failed create, and error 58
  // when every one of many draws names a file that already exists.
  using NameSource = std::function<std::string()>;
  ExclusiveTempFile(const std::string& dir, const std::string& extension, const NameSource& draw);
  PM_INTERNAL ~ExclusiveTempFile();
  ExclusiveTempFile(const ExclusiveTempFile&) = delete;
  ExclusiveTempFile& operator=(const ExclusiveTempFile&) = delete;
  const std::string& path() const { return path_; }
  void keep() { keep_ = true; }
  // Removes the file now if it is still the one this object created.
  void remove();
  // A program this process asked to write the file (a printer, an office
  // that writes beside it and renames) has put its own file in its place:
  // that file, a regular file of this user, is the one to remove from now on.
  void adopt();

 private:
  std::string path_;
  uint64_t dev_ = 0, ino_ = 0;
  bool keep_ = false;
};

// The path of a special folder by its shell identifier (37 is the system
// folder), "" for an identifier that has no counterpart here.
std::string GetSpecialFolderPath(int32_t folder);

}  // namespace pm
