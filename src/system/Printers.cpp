#include "system/Printers.h"

#include <cstring>
#include <vector>

#include "automation/Error.h"

namespace pm {

void ParsePrinterPorts(const std::string& value, std::string& driver, std::string& port) {
  driver.clear();
  port.clear();
  size_t p1 = value.find(',');
  if (p1 == std::string::npos) return;
  driver = value.substr(0, p1);
  size_t p2 = value.find(',', p1 + 1);
  if (p2 == std::string::npos) return;
  port = value.substr(p1 + 1, p2 - p1 - 1);
}

std::string PtrToString(const char* address, size_t available) {
  if (address == nullptr) return {};
  // The copy stops at the NUL or when the buffer is one short of full;
  // reading stops at the end of what the spooler handed over.
  size_t limit = available < kPtrStringBuffer - 1 ? available : kPtrStringBuffer - 1;
  const void* nul = std::memchr(address, '\0', limit);
  if (nul != nullptr) return std::string(address, static_cast<const char*>(nul));
  // No NUL within the readable bytes: a string cut off by the end of the
  // spooler's buffer is no string at all; a longer one fills the buffer.
  if (limit < kPtrStringBuffer - 1) return {};
  return std::string(address, limit);
}

void WriteDefaultPrinter(Spooler& spooler, const std::string& name, const std::string& driver,
                         const std::string& port) {
  spooler.writeProfileString("windows", "Device", name + "," + driver + "," + port);
  spooler.broadcastSettingChange("windows");
}

void SetDefaultPrinterNT(Spooler& spooler, std::string& name) {
  // The whole buffer goes to the parser, the value's NUL and the padding
  // after it included; only the commas before it count.
  std::string buffer(kProfileBuffer, ' ');
  std::string value = spooler.getProfileString("PrinterPorts", name, "", kProfileBuffer);
  if (value.size() > kProfileBuffer - 1) value.resize(kProfileBuffer - 1);
  buffer.replace(0, value.size(), value);
  buffer[value.size()] = '\0';

  std::string driver, port;
  ParsePrinterPorts(buffer, driver, port);
  if (!driver.empty() && !port.empty()) WriteDefaultPrinter(spooler, name, driver, port);
}

void SetDefaultPrinter9x(Spooler& spooler, std::string& name) {
  if (name.empty()) return;
  Spooler::Handle handle = 0;
  if (!spooler.openPrinter(name, kPrinterAllAccess, handle)) return;
  struct Closer {
    Spooler& s;
    Spooler::Handle h;
    ~Closer() { s.closePrinter(h); }
  } closer{spooler, handle};

  uint32_t needed = 0;
  spooler.getPrinter5(handle, nullptr, 0, needed);
  // Words 0 to needed \ 4: at least needed bytes, and never less than the
  // five words of the record, whatever the first answer said.
  size_t words = needed / 4 + 1;
  if (words < kInfo5Words) words = kInfo5Words;
  std::vector<uint32_t> buffer(words, 0);
  uint32_t bytes = static_cast<uint32_t>(words * 4);
  if (!spooler.getPrinter5(handle, buffer.data(), bytes, needed)) return;

  const char* base = reinterpret_cast<const char*>(buffer.data());
  auto text = [&](uint32_t offset) {
    return offset < bytes ? PtrToString(base + offset, bytes - offset) : std::string();
  };
  PrinterInfo5 info;
  info.printerName = text(buffer[0]);
  info.portName = text(buffer[1]);
  info.attributes = buffer[2];
  info.deviceNotSelectedTimeout = buffer[3];
  info.transmissionRetryTimeout = buffer[4];

  info.attributes = kPrinterAttributeDefault;
  spooler.setPrinter5(handle, info);
}

void SetDefaultPrinter(Spooler& spooler, const std::string& name) {
  // Reports nothing: whatever goes wrong below leaves the default alone.
  ignoreErrors([&] {
    std::string copy = name;
    if (spooler.platformId() == kPlatformWin32Windows)
      SetDefaultPrinter9x(spooler, copy);
    else
      SetDefaultPrinterNT(spooler, copy);
  });
}

std::string CurrentDefaultPrinter(Spooler& spooler) {
  std::string device;
  ignoreErrors([&] { device = spooler.getProfileString("windows", "Device", "", kProfileBuffer); });
  return device.substr(0, device.find(','));
}

}  // namespace pm
