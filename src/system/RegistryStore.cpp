// The open keys: a process-wide table of int32 handles and the calls on
// them, with the result codes of the Windows registry functions.
#include "system/RegistryStore.h"

#include <cstring>
#include <map>
#include <mutex>

#include "system/RegistryInternal.h"

namespace pm::registry {

using namespace detail;

namespace {

struct OpenKey {
  int hive = 0;  // 0 HKEY_LOCAL_MACHINE, 1 HKEY_CURRENT_USER
  std::string path;
  uint32_t access = 0;
};
std::map<int32_t, OpenKey> gHandles;
int32_t gNextHandle = 0x100;

// The hive and full path a key argument and subkey name stand for.
bool resolveKeyLocked(int32_t key, std::string_view subKey, int& hive, std::string& path) {
  std::string prefix;
  if (resolveRoot(key, hive, prefix)) {
    path = joinPaths(prefix, subKey);
    return true;
  }
  auto it = gHandles.find(key);
  if (it == gHandles.end()) return false;
  hive = it->second.hive;
  path = joinPaths(it->second.path, subKey);
  return true;
}

int32_t newHandleLocked(int hive, const std::string& path, uint32_t access) {
  while (gNextHandle <= 0 || gHandles.count(gNextHandle)) {
    gNextHandle = gNextHandle <= 0 ? 0x100 : gNextHandle + 4;
  }
  int32_t h = gNextHandle;
  gNextHandle += 4;
  gHandles[h] = OpenKey{hive, path, access};
  return h;
}

constexpr uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey;

}  // namespace

const std::string& lastErrorText() {
  return tLastError;
}

int32_t regOpenKeyEx(int32_t key, std::string_view subKey, uint32_t, uint32_t desired, int32_t& result) {
  result = 0;
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, subKey, hive, path)) return fail(kInvalidHandle, "unknown key handle");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  if (!view.keyExists(path)) return fail(kFileNotFound, "no key " + path);
  if ((desired & kWriteRights) && writeTargetLocked(hive).empty())
    return fail(kAccessDenied, "the key " + path + " cannot be written");
  if (const Key* k = view.primary->findKey(path)) path = k->path;
  result = newHandleLocked(hive, path, desired);
  return ok();
}

int32_t regCreateKeyEx(int32_t key, std::string_view subKey, uint32_t, uint32_t desired, int32_t& result,
                       uint32_t* disposition) {
  result = 0;
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, subKey, hive, path)) return fail(kInvalidHandle, "unknown key handle");
  if (unwritableName(subKey)) return fail(kInvalidParameter, "a key name may not hold line breaks or NULs");
  if (splitPath(path).size() > kMaxKeyDepth)
    return fail(kInvalidParameter,
                "a key may not be nested more than " + std::to_string(kMaxKeyDepth) + " levels deep");
  auto parent = gHandles.find(key);
  if (parent != gHandles.end() && !(parent->second.access & kKeyCreateSubKey))
    return fail(kAccessDenied, "the key was not opened for creating subkeys");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  uint32_t how = 2;
  if (!view.keyExists(path)) {
    how = 1;
    rc = writeLocked(hive, [&](Hive& h) {
      path = h.createKey(path).path;
      return kSuccess;
    });
    if (rc != kSuccess) return rc;
  } else if ((desired & kWriteRights) && writeTargetLocked(hive).empty()) {
    return fail(kAccessDenied, "the key " + path + " cannot be written");
  }
  if (disposition) *disposition = how;
  result = newHandleLocked(hive, path, desired);
  return ok();
}

int32_t regQueryValueEx(int32_t key, std::string_view name, uint32_t* type, uint8_t* data, uint32_t* size) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, "", hive, path)) return fail(kInvalidHandle, "unknown key handle");
  if (data && !size) return fail(kInvalidParameter, "a buffer without a size");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  if (!view.keyExists(path)) return fail(kKeyDeleted, "the key " + path + " no longer exists");
  const Value* v = view.value(path, name);
  if (!v) return fail(kFileNotFound, "no value \"" + std::string(name) + "\" in " + path);
  if (v->data.size() > UINT32_MAX) return fail(kIoFailed, "value too large");
  uint32_t needed = static_cast<uint32_t>(v->data.size());
  if (type) *type = v->type;
  if (data) {
    if (*size < needed) {
      *size = needed;
      return fail(kMoreData, "buffer too small");
    }
    std::memcpy(data, v->data.data(), needed);
  }
  if (size) *size = needed;
  return ok();
}

int32_t regSetValueEx(int32_t key, std::string_view name, uint32_t type, const uint8_t* data, uint32_t size) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string path;
  if (!resolveKeyLocked(key, "", hive, path)) return fail(kInvalidHandle, "unknown key handle");
  auto it = gHandles.find(key);
  if (it != gHandles.end() && !(it->second.access & kKeySetValue))
    return fail(kAccessDenied, "the key was not opened for setting values");
  if (unwritableName(name)) return fail(kInvalidParameter, "a value name may not hold line breaks or NULs");
  if (!data && size) return fail(kInvalidParameter, "data size without data");
  View view;
  int32_t rc = loadViewLocked(hive, view);
  if (rc != kSuccess) return rc;
  if (!view.keyExists(path)) return fail(kKeyDeleted, "the key " + path + " no longer exists");
  std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  rc = writeLocked(hive, [&](Hive& h) {
    Key& k = h.createKey(path);
    if (Value* v = k.find(name)) {
      v->type = type;
      v->data = bytes;
    } else {
      k.values.push_back(Value{std::string(name), type, bytes});
    }
    return kSuccess;
  });
  return rc == kSuccess ? ok() : rc;
}

int32_t regCloseKey(int32_t key) {
  std::lock_guard<std::mutex> g(gMutex);
  int hive;
  std::string prefix;
  if (resolveRoot(key, hive, prefix)) return ok();
  if (gHandles.erase(key) == 0) return fail(kInvalidHandle, "unknown key handle");
  return ok();
}

size_t openHandleCount() {
  std::lock_guard<std::mutex> g(gMutex);
  return gHandles.size();
}

}  // namespace pm::registry
