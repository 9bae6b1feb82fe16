#include "system/AtomicFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace pm {

namespace {

[[noreturn]] void fail(int err, const std::string& what) {
  throw AtomicFileError(err, what + ": " + std::strerror(err));
}

// Sixteen characters from the system's entropy source: unpredictable, so
// nobody can plant anything at the name beforehand.
std::string randomPart() {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno, "Cannot draw a random file name");
    got += static_cast<size_t>(n);
  }
  std::string s;
  for (unsigned char b : bytes) s += alphabet[b % (sizeof alphabet - 1)];
  return s;
}

mode_t currentUmask() {
  // Read without changing it: umask() itself would race other threads.
  std::ifstream st("/proc/self/status");
  std::string line;
  while (std::getline(st, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  return 022;
}

}  // namespace

mode_t AtomicFile::modeFor(const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  return 0666 & ~currentUmask();
}

AtomicFile::AtomicFile(const std::string& target, std::optional<mode_t> mode) : target_(target) {
  if (target.empty()) fail(ENOENT, "Cannot write a file without a name");
  mode_ = mode ? *mode : modeFor(target);
  std::string dir, base = target;
  size_t slash = target.rfind('/');
  if (slash != std::string::npos) {
    dir = target.substr(0, slash + 1);
    base = target.substr(slash + 1);
  }
  // A hidden name, short enough for any file system that took the target.
  if (base.size() > 200) base.resize(200);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string candidate = dir + "." + base + "." + randomPart() + ".tmp";
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      fail(errno, "Cannot create a file beside " + target);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      int err = errno;
      ::close(fd);
      ::unlink(candidate.c_str());
      fail(err, "Cannot create a file beside " + target);
    }
    fd_ = fd;
    path_ = std::move(candidate);
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return;
  }
  fail(EEXIST, "Cannot create a file beside " + target);
}

AtomicFile::~AtomicFile() {
  if (!done_) discard();
}

void AtomicFile::write(std::string_view data) {
  if (fd_ < 0) fail(EBADF, "Cannot write " + target_);
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno, "Cannot write " + target_);
    done += static_cast<size_t>(n);
  }
}

void AtomicFile::close() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) fail(errno, "Cannot write " + target_);
}

void AtomicFile::commit() {
  if (done_) fail(EINVAL, "Cannot write " + target_ + " twice");
  try {
    struct stat now {};
    if (fd_ >= 0 && (::lstat(path_.c_str(), &now) != 0 || now.st_dev != dev_ || now.st_ino != ino_)) {
      // A writer that worked by name put a new file in place of ours.
      ::close(fd_);
      fd_ = -1;
    }
    int fd = fd_;
    if (fd < 0) {
      // Written by name: a writer may have replaced the file (MuPDF removes
      // and recreates it), so open what is there, never through a link.
      fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) fail(errno, "Cannot write " + target_);
      fd_ = fd;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail(errno, "Cannot write " + target_);
    if (!S_ISREG(st.st_mode)) fail(EINVAL, "Cannot write " + target_);
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    if (::fchmod(fd, mode_) != 0) fail(errno, "Cannot write " + target_);
    // Some special file systems cannot sync (EINVAL): nothing is lost there.
    if (::fsync(fd) != 0 && errno != EINVAL) fail(errno, "Cannot write " + target_);
    close();
    if (::rename(path_.c_str(), target_.c_str()) != 0) fail(errno, "Cannot write " + target_);
    done_ = true;
  } catch (...) {
    discard();
    throw;
  }
}

void AtomicFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!done_ && !path_.empty()) {
    // Only the file this object made (or the one its writer put in its
    // place under the same random name).
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path_.c_str());
  }
  done_ = true;
}

SetAside::SetAside(const std::string& target) : target_(target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return;
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.size() > 200) base.resize(200);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string candidate = dir + "." + base + "." + randomPart() + ".old";
    if (::renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
      aside_ = std::move(candidate);
      return;
    }
    if (errno != EEXIST) fail(errno, "Cannot replace " + target);
  }
  fail(EEXIST, "Cannot replace " + target);
}

SetAside::~SetAside() {
  if (aside_.empty()) return;
  // Whatever half-made file stands under the name now gives way to the old.
  ::rename(aside_.c_str(), target_.c_str());
}

void SetAside::keepNew() {
  if (aside_.empty()) return;
  ::unlink(aside_.c_str());
  aside_.clear();
}

}  // namespace pm
