#include "system/clsRegistry.h"

#include <cstdio>
#include <vector>

#include "automation/Convert.h"
#include "automation/Error.h"
#include "system/EventLog.h"
#include "system/RegistryStore.h"

namespace pm {

namespace {

// Read control, query value, set value, create subkey, enumerate subkeys.
constexpr uint32_t kOpenAccess = 0x2000F;
constexpr uint32_t kAllAccess = 0xF003F;

Variant text(std::string s) {
  return Variant(std::move(s));
}

// Each byte as two upper-case hexadecimal digits and a space.
std::string hexPairs(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  return out;
}

Variant multiString(const std::string& buffer) {
  std::vector<Variant> items;
  std::string_view rest(buffer);
  while (!rest.empty()) {
    size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) {
      // Data without its closing NUL: the last text still counts.
      items.emplace_back(std::string(rest));
      break;
    }
    items.emplace_back(std::string(rest.substr(0, nul)));
    rest.remove_prefix(nul + 1);
  }
  return Variant(Array::vector(std::move(items)));
}

bool skippedItem(const Variant& item) {
  if (item.isNull() || item.isEmpty()) return true;
  std::string s = CStr(item);
  return s.empty() || s == std::string(1, '\0');
}

}  // namespace

clsRegistry::~clsRegistry() {
  if (handle_ != 0) registry::regCloseKey(handle_);
}

int32_t clsRegistry::LastBackslash(const std::string& text) {
  size_t pos = text.rfind('\\');
  return pos == std::string::npos ? 0 : static_cast<int32_t>(pos + 1);
}

int16_t clsRegistry::OpenRegistry(int32_t root, const std::string& path) {
  try {
    if (root == 0) {
      // Close what is open too, so the old handle is not left behind.
      if (open_) CloseRegistry();
      open_ = false;
      return 0;
    }
    root_ = root;
    path_ = path;
    if (open_) {
      CloseRegistry();
      open_ = false;
    }
    if (handle_ != 0) {
      registry::regCloseKey(handle_);
      handle_ = 0;
    }
    int32_t handle = 0;
    if (registry::regOpenKeyEx(root, path, 0, kOpenAccess, handle) == registry::kSuccess) {
      handle_ = handle;
      open_ = true;
      return -1;
    }
    return 0;
  } catch (...) {
    open_ = false;
    return 0;
  }
}

Variant clsRegistry::GetValue(const std::string& name, bool& raw) {
  try {
    if (!open_) return Variant();
    uint32_t type = 0, size = 0;
    int32_t rc = registry::regQueryValueEx(handle_, name, &type, nullptr, &size);
    std::string buffer;
    // The value may change between the two queries; ask again when it grew.
    for (int attempt = 0; rc == registry::kSuccess; ++attempt) {
      buffer.assign(size, '\0');
      uint32_t got = size;
      rc = registry::regQueryValueEx(handle_, name, &type, reinterpret_cast<uint8_t*>(buffer.data()), &got);
      if (rc == registry::kMoreData && attempt < 3) {
        size = got;
        rc = registry::kSuccess;
        continue;
      }
      if (rc == registry::kSuccess) buffer.resize(got);
      break;
    }
    if (rc == registry::kFileNotFound) return Variant();
    if (rc == registry::kAccessDenied) return text("Access Denied");
    if (rc != registry::kSuccess) return text("RegQueryValueEx Returned : (" + std::to_string(rc) + ")");

    switch (type) {
      case regtype::None:
        return text("Not defined value_type=REG_NONE");
      case regtype::String:
      case regtype::ExpandString:
        // Left(buffer, size - 1): a zero size is an invalid length, which
        // the error handler turns into "".
        if (buffer.empty()) return text("");
        return text(buffer.substr(0, buffer.size() - 1));
      case regtype::Binary:
      case regtype::DWord:
        return raw ? text(buffer) : text(hexPairs(buffer));
      case regtype::DWordBigEndian:
        return text(buffer);
      case regtype::Link:
        return text("Not defined value_type=REG_LINK");
      case regtype::MultiString:
        return multiString(buffer);
      case regtype::ResourceList:
        return text("Not defined value_type=REG_RESOURCE_LIST");
      case regtype::FullResourceDescriptor:
        return text("Not defined value_type=REG_FULL_RESOURCE_DESCRIPTOR");
      case regtype::ResourceRequirementsList:
        return text("Not defined value_type=REG_RESOURCE_REQUIREMENTS_LIST");
      default:
        return text("value_type=" + std::to_string(type));
    }
  } catch (...) {
    return text("");
  }
}

bool clsRegistry::CreateValue(const std::string& name, const Variant& value, int32_t& type, const Variant& further) {
  if (!open_) return false;
  std::string data;
  switch (type) {
    case regtype::String:
    case regtype::ExpandString:
      data = CStr(value);
      data += '\0';
      break;
    case regtype::DWord: {
      uint32_t n = static_cast<uint32_t>(CLng(value));
      for (int b = 0; b < 4; ++b) data += static_cast<char>((n >> (8 * b)) & 0xFF);
      break;
    }
    case regtype::MultiString:
      data = CStr(value);
      data += '\0';
      if (!further.isMissing()) {
        auto add = [&](const Variant& item) {
          if (skippedItem(item)) return;
          data += CStr(item);
          data += '\0';
        };
        if (further.isArray()) {
          for (const Variant& item : further.array().data()) add(item);
        } else {
          add(further);
        }
      }
      data += '\0';
      break;
    default:
      logApplicationEvent("Unable to process that Type of data.", EventSeverity::Warning);
      return false;
  }
  if (data.size() > UINT32_MAX) return false;
  return registry::regSetValueEx(handle_, name, static_cast<uint32_t>(type),
                                 reinterpret_cast<const uint8_t*>(data.data()),
                                 static_cast<uint32_t>(data.size())) == registry::kSuccess;
}

bool clsRegistry::CreateDirectory(const std::string& name) {
  if (!open_) return false;
  int32_t created = 0;
  uint32_t disposition = 0;
  if (registry::regCreateKeyEx(handle_, name, 0, kAllAccess, created, &disposition) != registry::kSuccess) return false;
  // The new key's handle is not needed; closing it keeps the table small.
  registry::regCloseKey(created);
  return true;
}

Variant clsRegistry::OneBackOnKey() {
  int32_t pos = LastBackslash(path_);
  if (pos == 0) raise(basic::InvalidProcedureCall);
  path_ = path_.substr(0, static_cast<size_t>(pos - 1));
  CloseRegistry();
  OpenRegistry(root_, path_);
  return Variant();
}

bool clsRegistry::CloseRegistry() {
  try {
    if (registry::regCloseKey(handle_) != registry::kSuccess) return false;
    handle_ = 0;
    open_ = false;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace pm
