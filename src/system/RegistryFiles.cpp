// The hive files: where each root is kept, the cache of parsed files, and
// writing one under its lock.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "system/AtomicFile.h"

#include "system/RegistryInternal.h"

namespace pm::registry::detail {

std::mutex gMutex;  // guards everything below

namespace {

std::string gSystemHiveOverride;
std::map<std::string, Deny> gDenied;

struct CachedHive {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  std::shared_ptr<const Hive> hive;
};
std::map<std::string, CachedHive> gCache;
Deny deniedLocked(const std::string& path) {
  auto it = gDenied.find(path);
  return it == gDenied.end() ? Deny::None : it->second;
}

std::string configDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config";
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && pw.pw_dir && pw.pw_dir[0] == '/')
    return std::string(pw.pw_dir) + "/.config";
  return "";
}

std::string registryDirFromEnv() {
  const char* dir = std::getenv("PRESSMARK_REGISTRY");
  return dir && *dir ? std::string(dir) : std::string();
}

std::string systemHiveLocked() {
  return gSystemHiveOverride.empty() ? kDefaultSystemHive : gSystemHiveOverride;
}

std::string dirOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Whether a hive file could be replaced (or created) by this process.
bool canWriteLocked(const std::string& path) {
  if (path.empty()) return false;
  if (static_cast<int>(deniedLocked(path)) & static_cast<int>(Deny::Write)) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
    return ::faccessat(AT_FDCWD, dirOf(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  }
  std::string dir = dirOf(path);
  for (;;) {
    if (::stat(dir.c_str(), &st) == 0)
      return S_ISDIR(st.st_mode) && ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    if (errno != ENOENT || dir == "/" || dir == ".") return false;
    dir = dirOf(dir);
  }
}

struct Files {
  std::string primary, overlay;
  const char* rootName = kLocalMachine;
};

bool filesForHiveLocked(int hive, Files& f) {
  std::string envDir = registryDirFromEnv();
  f.rootName = hive == 0 ? kLocalMachine : kCurrentUser;
  std::string fileName = std::string(f.rootName) + ".reg";
  if (!envDir.empty()) {
    f.primary = envDir + "/" + fileName;
    f.overlay.clear();
    return true;
  }
  std::string config = configDir();
  if (hive == 0) {
    f.primary = systemHiveLocked();
    f.overlay = config.empty() ? std::string() : config + "/pressmark/" + fileName;
    return true;
  }
  if (config.empty()) return false;
  f.primary = config + "/pressmark/" + fileName;
  f.overlay.clear();
  return true;
}

// Reads one hive file (an absent file is an empty hive), through the cache.
int32_t loadFileLocked(const std::string& path, const char* rootName, std::shared_ptr<const Hive>& out,
                       bool useCache = true) {
  if (static_cast<int>(deniedLocked(path)) & static_cast<int>(Deny::Read))
    return fail(kAccessDenied, "cannot read " + path + ": " + std::strerror(EACCES));
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      auto empty = std::make_shared<Hive>();
      empty->rootName = rootName;
      out = empty;
      return kSuccess;
    }
    int32_t code = (err == EACCES || err == EPERM) ? kAccessDenied : kIoFailed;
    return fail(code, "cannot read " + path + ": " + std::strerror(err));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(kIoFailed, "cannot read " + path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail(kIoFailed, "cannot read " + path + ": not a regular file");
  if (useCache) {
    auto it = gCache.find(path);
    if (it != gCache.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
        it->second.size == st.st_size && it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
        it->second.mtime.tv_nsec == st.st_mtim.tv_nsec) {
      out = it->second.hive;
      return kSuccess;
    }
  }
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(kIoFailed, "cannot read " + path + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  try {
    auto hive = std::make_shared<const Hive>(parseHive(text, rootName, path));
    gCache[path] = CachedHive{st.st_dev, st.st_ino, st.st_size, st.st_mtim, hive};
    out = std::move(hive);
  } catch (const FormatError& e) {
    return fail(kBadDatabase, e.what());
  } catch (const std::bad_alloc&) {
    return fail(kIoFailed, "cannot read " + path + ": out of memory");
  }
  return kSuccess;
}

int mkdirs(const std::string& dir, mode_t mode) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  std::string parent = dirOf(dir);
  if (parent != dir) {
    int err = mkdirs(parent, mode);
    if (err) return err;
  }
  if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return errno;
  return 0;
}

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

int32_t ioFailure(const std::string& path, int err) {
  int32_t code = (err == EACCES || err == EPERM || err == EROFS) ? kAccessDenied : kIoFailed;
  return fail(code, "cannot write " + path + ": " + std::strerror(err));
}

// Read-modify-write of one hive file under its lock. The mutation may
// refuse by returning a code other than kSuccess; nothing is written then.
int32_t transactLocked(const std::string& hivePath, const char* rootName, bool systemFile,
                       const std::function<int32_t(Hive&)>& mutate) {
  // A hive that is a symbolic link is written where the link points, so
  // the rename does not replace the link with a file of its own.
  std::string path = hivePath;
  struct stat lst {};
  if (::lstat(hivePath.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(hivePath.c_str(), nullptr)) {
      path = real;
      std::free(real);
    }
  }
  std::string dir = dirOf(path);
  if (int err = mkdirs(dir, systemFile ? 0755 : 0700)) return ioFailure(dir, err);
  mode_t newMode = systemFile ? 0644 : 0600;
  FdGuard lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, newMode));
  if (lock.get() < 0) return ioFailure(path + ".lock", errno);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ioFailure(path + ".lock", errno);
  }
  // Under the lock the file on disk is the truth; a malformed file is
  // refused rather than overwritten, so nothing a person wrote is lost.
  std::shared_ptr<const Hive> current;
  int32_t rc = loadFileLocked(path, rootName, current, false);
  if (rc != kSuccess) return rc;
  Hive hive = *current;
  rc = mutate(hive);
  if (rc != kSuccess) return rc;
  std::string text = formatHive(hive);

  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) newMode = st.st_mode & 07777;
  try {
    AtomicFile out(path, newMode);
    out.write(text);
    out.commit();
  } catch (const AtomicFileError& e) {
    return ioFailure(path, e.error());
  }
  FdGuard dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  gCache.erase(path);
  gCache.erase(hivePath);
  return kSuccess;
}

}  // namespace

// The file writes go to; "" when there is none that can be written.
std::string writeTargetLocked(int hive) {
  Files f;
  if (!filesForHiveLocked(hive, f)) return "";
  if (f.overlay.empty()) return canWriteLocked(f.primary) ? f.primary : "";
  if (canWriteLocked(f.primary)) return f.primary;
  return canWriteLocked(f.overlay) ? f.overlay : "";
}

bool resolveRoot(int32_t root, int& hive, std::string& prefix) {
  switch (root) {
    case kHKLM:
      hive = 0;
      prefix.clear();
      return true;
    case kHKCU:
      hive = 1;
      prefix.clear();
      return true;
    case kHKCR:
      hive = 0;
      prefix = kClassesPrefix;
      return true;
    default:
      return false;
  }
}

int32_t loadViewLocked(int hive, View& view) {
  Files f;
  if (!filesForHiveLocked(hive, f))
    return fail(kIoFailed, "no configuration folder for " + std::string(kCurrentUser) + " (HOME is not set)");
  int32_t rc = loadFileLocked(f.primary, f.rootName, view.primary);
  if (rc != kSuccess) return rc;
  view.overlay.reset();
  if (!f.overlay.empty()) {
    rc = loadFileLocked(f.overlay, f.rootName, view.overlay);
    if (rc != kSuccess) return rc;
  }
  return kSuccess;
}

int32_t writeLocked(int hive, const std::function<int32_t(Hive&)>& mutate) {
  Files f;
  if (!filesForHiveLocked(hive, f))
    return fail(kIoFailed, "no configuration folder for " + std::string(kCurrentUser) + " (HOME is not set)");
  std::string target = writeTargetLocked(hive);
  if (target.empty())
    return fail(kAccessDenied, "no writable file for " + std::string(f.rootName) + " (" + f.primary + ")");
  return transactLocked(target, f.rootName, hive == 0 && target == f.primary && f.overlay.size() > 0, mutate);
}

}  // namespace pm::registry::detail

namespace pm::registry {

using namespace detail;

bool hiveFilesForRoot(int32_t root, HiveFiles& out) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string prefix;
  if (!resolveRoot(root, hive, prefix)) return false;
  Files f;
  if (!filesForHiveLocked(hive, f)) return false;
  out.primary = f.primary;
  out.overlay = f.overlay;
  return true;
}

std::string hiveFileForRoot(int32_t root) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string prefix;
  if (!resolveRoot(root, hive, prefix)) return "";
  std::string target = writeTargetLocked(hive);
  if (!target.empty()) return target;
  Files f;
  return filesForHiveLocked(hive, f) ? f.primary : "";
}

void setSystemHivePathForTesting(const std::string& path) {
  std::lock_guard<std::mutex> g(gMutex);
  gSystemHiveOverride = path;
}

void denyFileForTesting(const std::string& path, Deny deny) {
  std::lock_guard<std::mutex> g(gMutex);
  if (deny == Deny::None)
    gDenied.erase(path);
  else
    gDenied[path] = deny;
}

void clearDeniedForTesting() {
  std::lock_guard<std::mutex> g(gMutex);
  gDenied.clear();
}

}  // namespace pm::registry
