#include "system/Spooler.h"

#include <atomic>
#include <cstring>

namespace pm {

Spooler::~Spooler() = default;

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::optional<size_t> matchPrinterName(const std::vector<PrinterQueue>& queues, const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::string underscored = name;
  for (char& c : underscored)
    if (c == ' ') c = '_';
  using Step = bool (*)(const PrinterQueue&, const std::string&, const std::string&);
  const Step steps[] = {
      [](const PrinterQueue& q, const std::string& n, const std::string&) { return q.name == n; },
      [](const PrinterQueue& q, const std::string& n, const std::string&) { return sameIgnoringCase(q.name, n); },
      [](const PrinterQueue& q, const std::string&, const std::string& u) { return sameIgnoringCase(q.name, u); },
      [](const PrinterQueue& q, const std::string& n, const std::string&) { return q.description == n; },
      [](const PrinterQueue& q, const std::string& n, const std::string&) {
        return sameIgnoringCase(q.description, n);
      },
  };
  for (Step step : steps) {
    // An ambiguous step ends the search too: a later, looser step must not
    // pick one of several printers the caller might have meant.
    size_t hits = 0;
    std::optional<size_t> found;
    for (size_t i = 0; i < queues.size(); ++i)
      if (step(queues[i], name, underscored)) {
        ++hits;
        found = i;
      }
    if (hits == 1) return found;
    if (hits > 1) return std::nullopt;
  }
  return std::nullopt;
}

bool layoutPrinterInfo5(const PrinterInfo5& info, uint32_t* buffer, uint32_t bytes, uint32_t& needed) {
  const size_t head = kInfo5Words * 4;
  const size_t total = head + info.printerName.size() + 1 + info.portName.size() + 1;
  if (total > UINT32_MAX) {
    needed = 0;
    return false;
  }
  needed = static_cast<uint32_t>(total);
  if (buffer == nullptr || bytes < total) return false;
  char* base = reinterpret_cast<char*>(buffer);
  uint32_t nameAt = static_cast<uint32_t>(head);
  uint32_t portAt = static_cast<uint32_t>(head + info.printerName.size() + 1);
  std::memcpy(base + nameAt, info.printerName.c_str(), info.printerName.size() + 1);
  std::memcpy(base + portAt, info.portName.c_str(), info.portName.size() + 1);
  buffer[0] = nameAt;
  buffer[1] = portAt;
  buffer[2] = info.attributes;
  buffer[3] = info.deviceNotSelectedTimeout;
  buffer[4] = info.transmissionRetryTimeout;
  return true;
}

// ---- QueueSpooler ----

bool QueueSpooler::openPrinter(const std::string& name, uint32_t, Handle& handle) {
  handle = 0;
  Listing l;
  if (!list(l)) return false;
  std::optional<size_t> i = matchPrinterName(l.queues, name);
  if (!i) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  while (next_ == 0 || handles_.count(next_)) ++next_;
  handle = next_++;
  handles_[handle] = l.queues[*i].name;
  return true;
}

bool QueueSpooler::queueOf(Handle handle, std::string& queueName) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;
  queueName = it->second;
  return true;
}

bool QueueSpooler::getPrinter5(Handle handle, uint32_t* buffer, uint32_t bytes, uint32_t& needed) {
  needed = 0;
  std::string queue;
  if (!queueOf(handle, queue)) return false;
  Listing l;
  if (!list(l)) return false;
  for (const PrinterQueue& q : l.queues) {
    if (q.name != queue) continue;
    PrinterInfo5 info;
    info.printerName = q.name;
    info.portName = q.port;
    info.attributes = q.name == l.defaultName ? kPrinterAttributeDefault : 0;
    info.deviceNotSelectedTimeout = kDeviceNotSelectedSeconds * 1000;
    info.transmissionRetryTimeout = kTransmissionRetrySeconds * 1000;
    return layoutPrinterInfo5(info, buffer, bytes, needed);
  }
  return false;  // the queue went away since it was opened
}

bool QueueSpooler::setPrinter5(Handle handle, const PrinterInfo5& info) {
  std::string queue;
  if (!queueOf(handle, queue)) return false;
  // The default attribute is the only one with a counterpart here; a
  // record without it cannot take the default away from a printer, since
  // some printer is always the fallback default.
  if (info.attributes & kPrinterAttributeDefault) return makeDefault(queue);
  return true;
}

bool QueueSpooler::closePrinter(Handle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.erase(handle) > 0;
}

std::string QueueSpooler::getProfileString(const std::string& section, const std::string& key,
                                           const std::string& defaultValue, size_t bufferChars) {
  std::string value = defaultValue;
  Listing l;
  if (sameIgnoringCase(section, "PrinterPorts")) {
    if (list(l)) {
      if (std::optional<size_t> i = matchPrinterName(l.queues, key)) {
        const PrinterQueue& q = l.queues[*i];
        value = q.driver + "," + q.port + "," + std::to_string(kDeviceNotSelectedSeconds) + "," +
                std::to_string(kTransmissionRetrySeconds);
      }
    }
  } else if (sameIgnoringCase(section, "windows") && sameIgnoringCase(key, "Device")) {
    if (list(l) && !l.defaultName.empty()) {
      for (const PrinterQueue& q : l.queues)
        if (q.name == l.defaultName) value = q.name + "," + q.driver + "," + q.port;
    }
  }
  if (bufferChars == 0) return {};
  if (value.size() > bufferChars - 1) value.resize(bufferChars - 1);
  return value;
}

bool QueueSpooler::writeProfileString(const std::string& section, const std::string& key, const std::string& value) {
  // Only the default printer has a home here; other entries are refused
  // rather than kept somewhere nothing reads them.
  if (!sameIgnoringCase(section, "windows") || !sameIgnoringCase(key, "Device")) return false;
  std::string name = value.substr(0, value.find(','));
  Listing l;
  if (!list(l)) return false;
  std::optional<size_t> i = matchPrinterName(l.queues, name);
  if (!i) return false;
  return makeDefault(l.queues[*i].name);
}

// ---- MemorySpooler ----

bool MemorySpooler::list(Listing& out) {
  out.queues = queues;
  out.defaultName = defaultName;
  return true;
}

bool MemorySpooler::makeDefault(const std::string& queueName) {
  calls.push_back("default " + queueName);
  defaultName = queueName;
  return true;
}

bool MemorySpooler::openPrinter(const std::string& name, uint32_t access, Handle& handle) {
  if (failOpen || access != kPrinterAllAccess) {
    handle = 0;
    return false;
  }
  if (!QueueSpooler::openPrinter(name, access, handle)) return false;
  std::string q;
  queueOf(handle, q);
  calls.push_back("open " + q);
  ++open_;
  return true;
}

bool MemorySpooler::getPrinter5(Handle handle, uint32_t* buffer, uint32_t bytes, uint32_t& needed) {
  bool ok = QueueSpooler::getPrinter5(handle, buffer, bytes, needed);
  if (failGetPrinter && buffer != nullptr) return false;
  std::string q;
  if (ok && queueOf(handle, q)) {
    auto it = attributes.find(q);
    if (it != attributes.end()) buffer[2] |= it->second;
  }
  return ok;
}

std::string MemorySpooler::getProfileString(const std::string& section, const std::string& key,
                                            const std::string& defaultValue, size_t bufferChars) {
  if (sameIgnoringCase(section, "PrinterPorts")) {
    auto it = printerPorts.find(key);
    if (it != printerPorts.end()) {
      std::string v = bufferChars ? it->second.substr(0, bufferChars - 1) : std::string();
      return v;
    }
  }
  return QueueSpooler::getProfileString(section, key, defaultValue, bufferChars);
}

bool MemorySpooler::setPrinter5(Handle handle, const PrinterInfo5& info) {
  std::string q;
  if (!queueOf(handle, q)) return false;
  calls.push_back("set5 " + info.printerName + "|" + info.portName + "|" + std::to_string(info.attributes) + "|" +
                  std::to_string(info.deviceNotSelectedTimeout) + "|" + std::to_string(info.transmissionRetryTimeout));
  if (failSetPrinter) return false;
  return QueueSpooler::setPrinter5(handle, info);
}

bool MemorySpooler::closePrinter(Handle handle) {
  std::string q;
  if (!queueOf(handle, q)) return false;
  calls.push_back("close " + q);
  --open_;
  return QueueSpooler::closePrinter(handle);
}

void MemorySpooler::broadcastSettingChange(const std::string& section) {
  calls.push_back("broadcast " + section);
}

// ---- the spooler in use ----

namespace {
std::atomic<Spooler*> g_override{nullptr};
}

Spooler& currentSpooler() {
  if (Spooler* s = g_override.load()) return *s;
  static std::unique_ptr<QueueSpooler> cups = makeCupsSpooler();
  return *cups;
}

ScopedSpooler::ScopedSpooler(Spooler& s) : previous_(g_override.exchange(&s)) {}
ScopedSpooler::~ScopedSpooler() {
  g_override.store(previous_);
}

}  // namespace pm
