#include "system/SystemServices.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>

#include "automation/Convert.h"
#include "automation/Error.h"
#include "system/Files.h"

namespace pm {

bool FileExists(const Variant& path) {
  try {
    std::string p = CStr(path);
    // A NUL would end the name early and test some other file.
    if (p.find('\0') != std::string::npos) return false;
    FileLen(p);
    return true;
  } catch (...) {
    return false;
  }
}

namespace {

// One generator per thread, seeded once from the kernel's entropy source.
// Seeding from a clock at every call gave two calls within one tick the
// same name; seeding per thread keeps threads off each other's sequences.
std::mt19937& threadGenerator() {
  thread_local std::mt19937 gen = [] {
    std::array<uint32_t, 8> seed{};
    size_t got = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(seed.data());
    while (got < sizeof seed) {
      ssize_t n = ::getrandom(bytes + got, sizeof seed - got, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      got += static_cast<size_t>(n);
    }
    if (got < sizeof seed) {
      std::random_device rd;
      for (uint32_t& w : seed) w = rd();
    }
    std::seed_seq seq(seed.begin(), seed.end());
    return std::mt19937(seq);
  }();
  return gen;
}

constexpr int kMaxDraws = 100;

}  // namespace

std::string GetRandomFileName() {
  std::uniform_int_distribution<uint32_t> dist(1, 99999999);
  return std::to_string(dist(threadGenerator()));
}

ExclusiveTempFile::ExclusiveTempFile(const std::string& dir, const std::string& extension)
    : ExclusiveTempFile(dir, extension, &GetRandomFileName) {}

ExclusiveTempFile::ExclusiveTempFile(const std::string& dir, const std::string& extension, const NameSource& draw) {
  for (int attempt = 0; attempt < kMaxDraws; ++attempt) {
    std::string candidate = dir + draw() + extension;
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      int err = errno;
      if (err == EEXIST) continue;  // someone else's file: leave it, draw again
      if (err == ENOENT || err == ENOTDIR)
        raise(basic::PathNotFound, std::string(basicDescription(basic::PathNotFound)) + ": " + dir);
      raiseFileError(err, candidate);
    }
    struct stat st {};
    int statErr = ::fstat(fd, &st) == 0 ? 0 : errno;
    ::close(fd);
    if (statErr != 0) {
      // We made it, so removing it by name is still ours to do.
      ::unlink(candidate.c_str());
      raiseFileError(statErr, candidate);
    }
    path_ = std::move(candidate);
    dev_ = static_cast<uint64_t>(st.st_dev);
    ino_ = static_cast<uint64_t>(st.st_ino);
    return;
  }
  raise(basic::FileAlreadyExists,
        std::string(basicDescription(basic::FileAlreadyExists)) + ": no free temporary name in " + dir);
}

ExclusiveTempFile::~ExclusiveTempFile() {
  if (!keep_) remove();
}

void ExclusiveTempFile::adopt() {
  struct stat st {};
  if (path_.empty() || ::lstat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return;
  dev_ = static_cast<uint64_t>(st.st_dev);
  ino_ = static_cast<uint64_t>(st.st_ino);
}

void ExclusiveTempFile::remove() {
  if (ino_ == 0 || path_.empty()) return;
  struct stat st {};
  // Only the file this object created: if the name now stands for another
  // file (replaced, or moved away and reused), it is not ours to delete.
  if (::lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_dev) == dev_ &&
      static_cast<uint64_t>(st.st_ino) == ino_)
    ::unlink(path_.c_str());
  dev_ = ino_ = 0;
}

// ---- Special folders ----
//
// Shell folder identifiers and what they mean here:
//
//   id  shell name              here
//    0  DESKTOP                 XDG_DESKTOP_DIR    (default ~/Desktop)
//    5  PERSONAL (documents)    XDG_DOCUMENTS_DIR  (default ~)
//   13  MYMUSIC                 XDG_MUSIC_DIR      (default ~)
//   14  MYVIDEO                 XDG_VIDEOS_DIR     (default ~)
//   16  DESKTOPDIRECTORY        XDG_DESKTOP_DIR    (default ~/Desktop)
//   21  TEMPLATES               XDG_TEMPLATES_DIR  (default ~)
//   26  APPDATA                 $XDG_CONFIG_HOME   (default ~/.config)
//   28  LOCAL_APPDATA           $XDG_DATA_HOME     (default ~/.local/share)
//   32  INTERNET_CACHE          $XDG_CACHE_HOME    (default ~/.cache)
//   37  SYSTEM                  /usr/bin
//   39  MYPICTURES              XDG_PICTURES_DIR   (default ~)
//   40  PROFILE                 the home folder ($HOME, else the password entry)
//   41  SYSTEMX86               /usr/bin
//
// The system folder is where the system's own programs live; on this
// platform that is /usr/bin. The XDG_*_DIR folders are read from
// user-dirs.dirs in the configuration home, as xdg-user-dirs writes it;
// folders it does not name fall back to the home folder (the desktop to
// ~/Desktop), as xdg-user-dir does. Any other identifier gives "".
// Results carry no trailing "/" and are not required to exist.

namespace {

std::string stripSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string homeFolder() {
  const char* h = std::getenv("HOME");
  if (h && *h == '/') return stripSlash(h);
  struct passwd pw {};
  struct passwd* res = nullptr;
  std::array<char, 4096> buf{};
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_dir && *res->pw_dir == '/')
    return stripSlash(res->pw_dir);
  return {};
}

// An XDG base folder: the variable when it holds an absolute path (relative
// values are to be ignored), else the fallback under home.
std::string baseFolder(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  if (v && *v == '/') return stripSlash(v);
  std::string home = homeFolder();
  return home.empty() ? std::string() : home + "/" + fallback;
}

// XDG_<NAME>_DIR from user-dirs.dirs; "" when the file does not name it.
std::string userDirFromFile(const std::string& key) {
  std::string config = baseFolder("XDG_CONFIG_HOME", ".config");
  if (config.empty()) return {};
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line, found;
  while (std::getline(in, line)) {
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] == '#') continue;
    if (line.compare(i, key.size(), key) != 0 || line.compare(i + key.size(), 1, "=") != 0) continue;
    std::string value = line.substr(i + key.size() + 1);
    // Values are "$HOME/relative" or "/absolute", in double quotes.
    if (value.size() < 2 || value.front() != '"') continue;
    size_t close = value.find('"', 1);
    if (close == std::string::npos) continue;
    value = value.substr(1, close - 1);
    std::string result;
    for (size_t k = 0; k < value.size(); ++k) {
      if (value[k] == '\\' && k + 1 < value.size()) {
        result += value[++k];
      } else {
        result += value[k];
      }
    }
    if (result.rfind("$HOME", 0) == 0 && (result.size() == 5 || result[5] == '/')) {
      std::string home = homeFolder();
      if (home.empty()) continue;
      result = home + result.substr(5);
    } else if (result.empty() || result[0] != '/') {
      continue;
    }
    found = stripSlash(result);  // the last assignment wins, as in the shell
  }
  return found;
}

std::string userDir(const char* key, bool desktop) {
  std::string d = userDirFromFile(key);
  if (!d.empty()) return d;
  std::string home = homeFolder();
  if (home.empty()) return {};
  return desktop ? home + "/Desktop" : home;
}

}  // namespace

std::string GetSpecialFolderPath(int32_t folder) {
  try {
    switch (folder) {
      case 0:
      case 16:
        return userDir("XDG_DESKTOP_DIR", true);
      case 5:
        return userDir("XDG_DOCUMENTS_DIR", false);
      case 13:
        return userDir("XDG_MUSIC_DIR", false);
      case 14:
        return userDir("XDG_VIDEOS_DIR", false);
      case 21:
        return userDir("XDG_TEMPLATES_DIR", false);
      case 26:
        return baseFolder("XDG_CONFIG_HOME", ".config");
      case 28:
        return baseFolder("XDG_DATA_HOME", ".local/share");
      case 32:
        return baseFolder("XDG_CACHE_HOME", ".cache");
      case 37:
      case 41:
        return "/usr/bin";
      case 39:
        return userDir("XDG_PICTURES_DIR", false);
      case 40:
        return homeFolder();
      default:
        return {};
    }
  } catch (...) {
    return {};
  }
}

}  // namespace pm
