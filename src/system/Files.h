// File and folder services with the Basic run-time errors of the statements
// they stand for (MkDir, FileCopy, Kill, FileLen).
#pragma once

#include <cstdint>
#include <string>

#include "automation/Internal.h"

namespace pm {

// MkDir: error 75 when the name exists, 76 when the parent is missing,
// 70 when access is denied.
void MkDir(const std::string& path);
// FileCopy: replaces an existing target; error 53 for a missing source.
// The copy goes to a temporary name beside the target first, so a failed
// copy never leaves half a file under the target's name.
void FileCopy(const std::string& source, const std::string& target);
// Kill: error 53 when the file does not exist.
void Kill(const std::string& path);
// FileLen: error 53 when the path does not name a readable file.
int64_t FileLen(const std::string& path);

// The Basic error number for an errno value of a file operation.
int32_t basicErrorForErrno(int err, int32_t fallback = 75);
[[noreturn]] PM_INTERNAL void raiseFileError(int err, const std::string& path, int32_t fallback = 75);

// The default temporary folder: a private folder of the user under the
// system temporary folder ($TMPDIR or /tmp), "pressmark-<uid>", mode 0700,
// owned by the user and not a symbolic link; ends with "/". When that name
// is taken by something unsafe, a fresh private folder beside it is used.
PM_INTERNAL std::string privateTempDir();

// Ensures path ends with "/".
PM_INTERNAL std::string withTrailingSlash(std::string path);

}  // namespace pm
