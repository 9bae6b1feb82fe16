#include "servers/office/OfficeLaunch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <rtl/digest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace pm::office {

std::string asciiFileUrl(const std::string& path) {
  // Everything outside the unreserved set and "/" percent-encoded, so any
  // byte of a name survives, and the URL is plain ASCII.
  static const char* hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

std::vector<std::string> officeCommand(const std::string& profile, const std::string& pipeName) {
  std::string profileUrl = asciiFileUrl(profile);
  return {PM_LIBREOFFICE_PROGRAM "/soffice",
          "--headless",
          "--invisible",
          "--norestore",
          "--nologo",
          "--nodefault",
          "--nolockcheck",
          "--nofirststartwizard",
          "-env:UserInstallation=" + profileUrl,
          "--accept=pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext"};
}

Confinement officeConfinement(const std::string& ownFolder) {
  Confinement c;
  if (const char* v = std::getenv("PRESSMARK_OFFICE_CONFINE"); v && std::string(v) == "0") return c;
  c.readOnly = {"/usr",
                "/etc",
                "/lib",
                "/lib32",
                "/lib64",
                "/libx32",
                "/bin",
                "/sbin",
                "/opt",
                "/proc",
                "/sys",
                "/var/cache/fontconfig",
                std::filesystem::path(PM_LIBREOFFICE_PROGRAM).parent_path().string()};
  // The user's own fonts and font settings.
  if (const char* home = std::getenv("HOME"); home && *home == '/')
    for (const char* sub : {"/.fonts", "/.local/share/fonts", "/.config/fontconfig", "/.cache/fontconfig"})
      c.readOnly.push_back(std::string(home) + sub);
  // The office's machine-wide caches of its extensions, made on first use.
  c.readWrite = {ownFolder, "/dev", "/var/lib/libreoffice", "/var/spool/libreoffice"};
  c.socketDirs = {"/tmp", "/var/tmp"};
  c.noTcp = true;
  return c;
}

std::vector<std::string> officeEnvironment(const std::string& tempDir) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "URE_BOOTSTRAP=", 14) == 0 || std::strncmp(*e, "TMPDIR=", 7) == 0 ||
        std::strncmp(*e, "SAL_ENABLE_FILE_LOCKING=", 24) == 0)
      continue;
    env.emplace_back(*e);
  }
  env.push_back("TMPDIR=" + tempDir);
  env.push_back("SAL_ENABLE_FILE_LOCKING=0");
  return env;
}

namespace {

std::string pipeFolder() {
  return ::access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp";
}

std::string pipePrefix() {
  return "OSL_PIPE_" + std::to_string(::geteuid()) + "_";
}

// A socket of this user, writable by nobody else.
bool ownSocket(const std::string& path, std::string* why) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (why) *why = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    if (why)
      *why = path + " is " + (S_ISSOCK(st.st_mode) ? "a socket" : "not a socket") + " of user " +
             std::to_string(st.st_uid) + " with mode " + std::to_string(st.st_mode & 07777);
    return false;
  }
  return true;
}

}  // namespace

std::string newPipeName(const std::string& kind) {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::abort();  // no randomness: no name that is safe to use
    got += static_cast<size_t>(n);
  }
  static const char* hex = "0123456789abcdef";
  std::string name = "pressmark_" + kind + "_" + std::to_string(::getpid()) + "_";
  for (unsigned char b : bytes) {
    name += hex[b >> 4];
    name += hex[b & 15];
  }
  return name;
}

std::string officePipePath(const std::string& pipe) {
  return pipeFolder() + "/" + pipePrefix() + pipe;
}

int connectOfficePipe(const std::string& pipe, std::string& why) {
  std::string path = officePipePath(pipe);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return -1;  // not made yet
  if (!ownSocket(path, &why)) return -2;
  sockaddr_un a{};
  if (path.size() >= sizeof(a.sun_path)) {
    why = path + " is too long for a socket address";
    return -2;
  }
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  // Not blocking: a listener that does not take connections (its backlog
  // full) must not hold the caller past its time.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    ::close(fd);
    return -1;
  }
  // The socket was ours when looked at; the process behind it must be too.
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) {
    ::close(fd);
    why = path + " is served by a process of user " + std::to_string(cred.uid);
    return -2;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void removeOfficePipe(const std::string& pipe) {
  for (const char* dir : {"/tmp/", "/var/tmp/"}) {
    std::string path = dir + pipePrefix() + pipe;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid()) ::unlink(path.c_str());
  }
}

std::string singleInstancePipe(const std::string& profile) {
  // The office names it "SingleOfficeIPC_" and the MD5 of its profile URL's
  // UTF-16 code units, each byte in hex without leading zeros.
  std::string url = asciiFileUrl(profile);
  std::string units;
  for (char c : url) {
    units += c;
    units += '\0';
  }
  sal_uInt8 md5[RTL_DIGEST_LENGTH_MD5];
  if (rtl_digest_MD5(units.data(), static_cast<sal_uInt32>(units.size()), md5, sizeof md5) != rtl_Digest_E_None)
    return {};
  std::string name = "SingleOfficeIPC_";
  char hex[4];
  for (sal_uInt8 b : md5) {
    std::snprintf(hex, sizeof hex, "%x", b);
    name += hex;
  }
  return name;
}

void removeSingleInstancePipe(const std::string& profile) {
  std::string pipe = singleInstancePipe(profile);
  if (!pipe.empty()) removeOfficePipe(pipe);
}

bool processGone(pid_t pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  // A zombie nobody reaped (an init that does not) has ended too.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[512];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  const char* close = std::strrchr(buf, ')');
  return close && close[1] == ' ' && close[2] == 'Z';
}

long groupMemoryKb(pid_t group) {
  long total = 0;
  const long pageKb = ::sysconf(_SC_PAGESIZE) / 1024;
  DIR* d = ::opendir("/proc");
  if (!d) return 0;
  while (dirent* e = ::readdir(d)) {
    if (!std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
    std::string path = std::string("/proc/") + e->d_name + "/stat";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buf[1024];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) continue;
    buf[n] = '\0';
    // After the name: state, ppid, pgrp, ..., rss is the 22nd field.
    const char* p = std::strrchr(buf, ')');
    if (!p) continue;
    ++p;
    long fields[22] = {};
    int k = 0;
    while (k < 22 && *p) {
      while (*p == ' ') ++p;
      if (k == 0) {
        while (*p && *p != ' ') ++p;  // the state letter
      } else {
        fields[k] = std::strtol(p, const_cast<char**>(&p), 10);
      }
      ++k;
    }
    if (k == 22 && fields[2] == group) total += fields[21] * pageKb;
  }
  ::closedir(d);
  return total;
}

long officeMemoryLimitKb() {
  const char* v = std::getenv("PRESSMARK_OFFICE_MEMORY_LIMIT");
  double mb = 1024;
  if (v && *v) {
    char* end = nullptr;
    double d = std::strtod(v, &end);
    if (end != v && d > 0) mb = d;
  }
  return static_cast<long>(mb * 1024);
}

void removeStalePipes(const std::string& kind) {
  std::string prefix = pipePrefix() + "pressmark_" + kind + "_";
  for (const char* dir : {"/tmp", "/var/tmp"}) {
    DIR* d = ::opendir(dir);
    if (!d) continue;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      char* end = nullptr;
      long owner = std::strtol(name.c_str() + prefix.size(), &end, 10);
      if (owner <= 0 || !end || *end != '_' || !processGone(static_cast<pid_t>(owner))) continue;
      stale.push_back(name.substr(pipePrefix().size()));
    }
    ::closedir(d);
    for (const std::string& pipe : stale) removeOfficePipe(pipe);
  }
}

}  // namespace pm::office
