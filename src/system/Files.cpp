#include "system/Files.h"

#include "system/AtomicFile.h"
#include "system/WriteTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "automation/Error.h"

namespace pm {

namespace {

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// A name with a NUL in it would silently mean a shorter name to the system.
void checkName(const std::string& path) {
  if (path.find('\0') != std::string::npos) raise(basic::BadFileNameOrNumber);
}

}  // namespace

int32_t basicErrorForErrno(int err, int32_t fallback) {
  switch (err) {
    case ENOENT:
      return basic::FileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return basic::PermissionDenied;
    case EEXIST:
      return basic::PathFileAccess;
    case ENOTDIR:
      return basic::PathNotFound;
    case ENOSPC:
    case EDQUOT:
      return basic::DiskFull;
    case ENAMETOOLONG:
      return basic::BadFileNameOrNumber;
    default:
      return fallback;
  }
}

void raiseFileError(int err, const std::string& path, int32_t fallback) {
  // The standard Basic texts, as a caller trapping them expects; the path
  // is not part of them.
  (void)path;
  raise(basicErrorForErrno(err, fallback));
}

void MkDir(const std::string& path) {
  checkName(path);
  if (path.empty()) raise(basic::PathNotFound);
  if (::mkdir(path.c_str(), 0777) == 0) return;
  int err = errno;
  if (err == ENOENT || err == ENOTDIR) {
    raise(basic::PathNotFound);
  }
  raiseFileError(err, path);
}

std::string WriteTarget(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::string to(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = ::readlink(at.c_str(), to.data(), to.size());
    if (n <= 0 || static_cast<size_t>(n) >= to.size()) return at;
    to.resize(static_cast<size_t>(n));
    if (to[0] != '/') {
      size_t slash = at.rfind('/');
      if (slash != std::string::npos) to = at.substr(0, slash + 1) + to;
    }
    at = std::move(to);
  }
  return at;
}

void FileCopy(const std::string& source, const std::string& targetName) {
  checkName(source);
  checkName(targetName);
  const std::string target = WriteTarget(targetName);
  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) raiseFileError(errno, source, basic::FileNotFound);
  struct stat st {};
  if (::fstat(in.fd, &st) != 0) raiseFileError(errno, source);
  if (S_ISDIR(st.st_mode)) raise(basic::FileNotFound);

  // An existing target keeps its own mode; a new one gets the source's.
  struct stat old {};
  mode_t mode = (::stat(target.c_str(), &old) == 0 ? old.st_mode : st.st_mode) & 07777;
  try {
    AtomicFile out(target, mode);
    char buf[1 << 16];
    for (;;) {
      ssize_t n = ::read(in.fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        raiseFileError(errno, source);
      }
      if (n == 0) break;
      out.write(std::string_view(buf, static_cast<size_t>(n)));
    }
    out.commit();
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), target);
  }
}

void Kill(const std::string& path) {
  checkName(path);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) raise(basic::FileNotFound);
  if (::unlink(path.c_str()) != 0) raiseFileError(errno, path, basic::FileNotFound);
}

int64_t FileLen(const std::string& path) {
  checkName(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) raiseFileError(errno, path, basic::FileNotFound);
  if (S_ISDIR(st.st_mode)) raise(basic::FileNotFound);
  return static_cast<int64_t>(st.st_size);
}

std::string withTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string privateTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string root = (base && *base) ? base : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string dir = root + "/pressmark-" + std::to_string(::getuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) raiseFileError(errno, dir);
  struct stat st {};
  // Another user could have made the folder first in a shared /tmp, or put
  // a link there: then use a fresh private folder beside it instead, never
  // the one we cannot trust.
  bool safe = ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
  if (safe && (st.st_mode & 077) != 0) safe = ::chmod(dir.c_str(), 0700) == 0;
  if (safe) return dir + "/";
  std::string tmpl = dir + "-XXXXXX";
  if (!::mkdtemp(tmpl.data())) raiseFileError(errno, dir);
  return tmpl + "/";
}

}  // namespace pm
