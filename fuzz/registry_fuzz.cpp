// Fuzz target: registry hive files as the registry stand-in reads them.
#include <string_view>

#include "Fuzz.h"
#include "system/RegistryStore.h"

std::vector<std::string> pmFuzzTokens() {
  return {"REGEDIT4\r\n",
          "Windows Registry Editor Version 5.00\r\n",
          "[HKEY_LOCAL_MACHINE\\",
          "[-HKEY_LOCAL_MACHINE\\",
          "[HKEY_CLASSES_ROOT\\",
          "]\r\n",
          "\\",
          "\"v\"=",
          "@=",
          "dword:",
          "hex:",
          "hex(2):",
          "hex(7):",
          ",\\\r\n  ",
          "\\\"",
          "\xFF\xFE"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    pm::registry::Hive h = pm::registry::parseHive(text, "HKEY_LOCAL_MACHINE", "fuzz.reg");
    // What was read is written back and must read again.
    pm::registry::parseHive(pm::registry::formatHive(h), "HKEY_LOCAL_MACHINE", "again.reg");
  } catch (const pm::registry::FormatError&) {
  }
  return 0;
}
