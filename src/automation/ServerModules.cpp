#include "automation/ServerModules.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <map>

#include "automation/Error.h"
#include "automation/surfaces/Acrobat.h"
#include "automation/surfaces/Ado.h"
#include "automation/surfaces/Distiller.h"
#include "automation/surfaces/Office.h"

namespace pm {

namespace {

[[noreturn]] void refuse(const std::string& why) {
  raise(basic::CannotCreateObject, std::string(basicDescription(basic::CannotCreateObject)) + ": " + why);
}

// Only root and the user running the process may own what gets loaded, and
// nobody else may be able to write it or replace it.
std::string unsafeBecause(const std::string& path, const struct stat& st) {
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) return path + " belongs to another user";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return path + " can be written by other users";
  return {};
}

// A folder on the way may be shared (like /tmp) only with the sticky bit,
// which keeps others from renaming what is not theirs.
std::string unsafeFolders(std::string folder) {
  while (!folder.empty()) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return folder + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX)) return folder + " can be written by other users";
    if (folder == "/") break;
    auto slash = folder.find_last_of('/');
    folder = slash == 0 ? "/" : folder.substr(0, slash);
  }
  return {};
}

std::mutex& loadLock() {
  static std::mutex m;
  return m;
}

// The handles of the modules loaded, by path.
std::map<std::string, void*>& loaded() {
  static std::map<std::string, void*> s;
  return s;
}

// The PDF engine's library, which MuPDF lives in: the PDF and the office
// modules share it.
constexpr const char* kPdfEngine = "libpressmark-pdfengine.so";

std::string fileOf(const ServerModule& m) {
  return serverModuleFolder() + "/" + m.name + ".so";
}

}  // namespace

std::string foldClassName(std::string_view s) {
  std::string r;
  for (char c : s)
    if (c != '{' && c != '}') r += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

const std::vector<ServerModule>& serverModules() {
  static const std::vector<ServerModule> modules = {
      {"pdf", {acrobat::kApp, acrobat::kAVDoc, acrobat::kPDDoc, acrobat::kRect, acrobat::kPDBookmark}, kPdfEngine},
      {"distiller",
       {distiller::kEventProgId, distiller::kEventClsid, distiller::kSecurityProgId, distiller::kSecurityClsid}},
      {"data",
       {ado::kConnectionProgId, "{00000514-0000-0010-8000-00AA006D2EA4}", ado::kRecordsetProgId,
        "{00000535-0000-0010-8000-00AA006D2EA4}"}},
      {"office",
       {office::kWordProgId, office::kExcelProgId, office::kPowerPointProgId, office::kPublisherProgId,
        "Pressmark.OfficeControl"},
       kPdfEngine},
  };
  return modules;
}

const ServerModule* serverModuleFor(std::string_view name) {
  std::string key = foldClassName(name);
  if (key.empty()) return nullptr;
  for (const ServerModule& m : serverModules())
    for (const char* c : m.classes)
      if (foldClassName(c) == key) return &m;
  return nullptr;
}

std::string serverModuleFolder() {
  // The folder of the library this function is in, as the loader mapped
  // it, made absolute with every link resolved.
  static const std::string folder = [] {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&serverModuleFolder), &info) || !info.dli_fname) return std::string();
    char* real = ::realpath(info.dli_fname, nullptr);
    if (!real) return std::string();
    std::string lib = real;
    std::free(real);
    auto slash = lib.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    return lib.substr(0, slash == 0 ? 1 : slash) + "/" + kServerModuleFolder;
  }();
  return folder;
}

bool serverModulePresent(const ServerModule& m) {
  struct stat st {};
  return !serverModuleFolder().empty() && ::lstat(fileOf(m).c_str(), &st) == 0;
}

void loadServerModuleFile(const std::string& path) {
  if (path.empty() || path[0] != '/') refuse("the server module path \"" + path + "\" is not absolute");
  std::lock_guard lock(loadLock());
  if (loaded().count(path)) return;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    refuse("the server module " + path + " cannot be found (" + std::strerror(errno) + ")");
  if (!S_ISREG(st.st_mode)) refuse("the server module " + path + " is not a plain file");
  std::string why = unsafeBecause(path, st);
  if (why.empty()) {
    std::string folder = path.substr(0, path.find_last_of('/'));
    struct stat dir {};
    if (::stat(folder.empty() ? "/" : folder.c_str(), &dir) != 0)
      why = folder + ": " + std::strerror(errno);
    else
      why = unsafeBecause(folder, dir);
    if (why.empty()) why = unsafeFolders(folder.empty() ? "/" : folder);
  }
  if (!why.empty()) refuse("the server module is not loaded: " + why);
  // Modules stay for the life of the process: their classes' factories and
  // the objects made by them live in their code.
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* e = ::dlerror();
    refuse("the server module " + path + " cannot be loaded: " + (e ? e : "unknown reason"));
  }
  loaded()[path] = handle;
}

void loadServerModule(const ServerModule& m) {
  if (serverModuleFolder().empty()) refuse(std::string("the folder of the server modules is unknown"));
  if (m.library) loadServerModuleFile(serverModuleFolder() + "/" + m.library);
  loadServerModuleFile(fileOf(m));
}

void* serverModuleSymbol(std::string_view name, const char* symbol) {
  const ServerModule* m = serverModuleFor(name);
  if (!m) return nullptr;
  loadServerModule(*m);
  std::lock_guard lock(loadLock());
  auto it = loaded().find(fileOf(*m));
  return it == loaded().end() ? nullptr : ::dlsym(it->second, symbol);
}

void loadEveryServerModule() {
  for (const ServerModule& m : serverModules())
    if (serverModulePresent(m)) loadServerModule(m);
}

}  // namespace pm
