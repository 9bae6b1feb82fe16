// The spooler and profile services the printer switch runs over, in the
// shape the switching procedures expect: a version query, the printer
// handle calls with level-5 printer information, and the profile strings
// "PrinterPorts" and "windows"/"Device".
//
// Two implementations share the queue-based logic of QueueSpooler: the
// CUPS one (makeCupsSpooler, the user's default destination as
// `lpoptions -d` keeps it) and MemorySpooler, an in-memory stand-in for
// tests. Neither raises: every failure is a false result, so the
// procedures above can leave the default unchanged without a trap.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "automation/Internal.h"

namespace pm {

// Platform identifiers of the version query: 1 is the family whose default
// printer is a spooler attribute; every other value uses the profile.
inline constexpr int32_t kPlatformWin32Windows = 1;
inline constexpr int32_t kPlatformWin32NT = 2;

// Printer attribute bit of the default printer.
inline constexpr uint32_t kPrinterAttributeDefault = 4;
// Access rights asked for when a printer is opened (all printer access).
inline constexpr uint32_t kPrinterAllAccess = 0xF000C;

// Time-outs the profile lists after driver and port, in seconds, and the
// same in milliseconds in the level-5 record. CUPS has no such settings;
// these are the values a freshly installed printer carries.
inline constexpr uint32_t kDeviceNotSelectedSeconds = 15;
inline constexpr uint32_t kTransmissionRetrySeconds = 45;

// Level-5 printer information.
struct PrinterInfo5 {
  std::string printerName;
  std::string portName;
  uint32_t attributes = 0;
  uint32_t deviceNotSelectedTimeout = 0;  // milliseconds
  uint32_t transmissionRetryTimeout = 0;  // milliseconds
};

// The level-5 buffer is an array of 32-bit words. Words 0 and 1 locate the
// printer and port names as byte offsets from the start of the buffer
// (where the 32-bit layout kept addresses), words 2 to 4 are attributes
// and the two time-outs; the NUL-terminated names follow the five words.
inline constexpr uint32_t kInfo5Words = 5;

// Lays the record out in the buffer. needed is always set to the bytes the
// record takes; false (and the buffer untouched) when bytes is too small.
bool layoutPrinterInfo5(const PrinterInfo5& info, uint32_t* buffer, uint32_t bytes, uint32_t& needed);

class Spooler {
 public:
  using Handle = uint32_t;  // 0 is no printer

  virtual ~Spooler();

  // The platform identifier the version query reports.
  virtual int32_t platformId() = 0;

  // Printer handles. openPrinter resolves the name as printer names are
  // matched (see matchPrinterName).
  virtual bool openPrinter(const std::string& name, uint32_t access, Handle& handle) = 0;
  // Level 5 into buffer (bytes long; may be null when bytes is 0). needed
  // receives the size the record takes; false when the buffer is too small.
  virtual bool getPrinter5(Handle handle, uint32_t* buffer, uint32_t bytes, uint32_t& needed) = 0;
  virtual bool setPrinter5(Handle handle, const PrinterInfo5& info) = 0;
  virtual bool closePrinter(Handle handle) = 0;

  // Profile strings. The value is cut to bufferChars - 1 characters, as a
  // buffer of that many characters holds it with its NUL.
  virtual std::string getProfileString(const std::string& section, const std::string& key,
                                       const std::string& defaultValue, size_t bufferChars) = 0;
  virtual bool writeProfileString(const std::string& section, const std::string& key, const std::string& value) = 0;
  // Tells the rest of the system that a profile section changed and
  // returns once that is delivered.
  virtual void broadcastSettingChange(const std::string& section) = 0;
};

// A printer as the spooler lists it.
struct PrinterQueue {
  std::string name;         // queue name (no spaces in CUPS)
  std::string description;  // printer-info
  std::string driver;       // make and model
  std::string port;         // device URI
};

// Finds the queue a printer name means: the exact queue name, then the
// name ignoring case (queue names are case-insensitive in CUPS), then with
// spaces read as underscores (queue names cannot hold spaces), then the
// queue's description, exactly and then ignoring case. A step that matches
// more than one queue matches none, so an ambiguous description never
// picks a printer at random. Returns the index into queues.
std::optional<size_t> matchPrinterName(const std::vector<PrinterQueue>& queues, const std::string& name);

// The spooler and profile views over a list of queues and one default.
// Subclasses provide the list and the change of default.
class QueueSpooler : public Spooler {
 public:
  int32_t platformId() override { return platform_; }
  void setPlatformId(int32_t id) { platform_ = id; }

  bool openPrinter(const std::string& name, uint32_t access, Handle& handle) override;
  bool getPrinter5(Handle handle, uint32_t* buffer, uint32_t bytes, uint32_t& needed) override;
  bool setPrinter5(Handle handle, const PrinterInfo5& info) override;
  bool closePrinter(Handle handle) override;
  std::string getProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                               size_t bufferChars) override;
  bool writeProfileString(const std::string& section, const std::string& key, const std::string& value) override;
  void broadcastSettingChange(const std::string&) override {}

 protected:
  struct Listing {
    std::vector<PrinterQueue> queues;
    std::string defaultName;  // "" when there is no default
  };
  // The current queues and default; false when the spooler cannot be read.
  virtual bool list(Listing& out) = 0;
  // Makes the queue of that exact name the default.
  virtual bool makeDefault(const std::string& queueName) = 0;
  // The queue an open handle stands for; false for a handle not open.
  bool queueOf(Handle handle, std::string& queueName);

 private:
  int32_t platform_ = kPlatformWin32NT;
  std::mutex mutex_;
  std::map<Handle, std::string> handles_;
  Handle next_ = 1;
};

// The user's default CUPS destination, through libcups: the server and
// user settings libcups reads (CUPS_SERVER, ~/.cups/lpoptions). Changing
// the default writes the user's lpoptions file, as `lpoptions -d` does; a
// default set through LPDEST or PRINTER in the environment still wins for
// programs that read it, as it does for lp.
PM_INTERNAL std::unique_ptr<QueueSpooler> makeCupsSpooler();

// The in-memory stand-in: a list of queues, a default, and a record of the
// calls that change something.
class MemorySpooler : public QueueSpooler {
 public:
  std::vector<PrinterQueue> queues;
  std::string defaultName;
  // Failure switches for the failure paths of the procedures.
  bool failOpen = false;
  bool failGetPrinter = false;  // the query with a buffer fails
  bool failSetPrinter = false;
  // Further attribute bits a queue reports besides the default bit.
  std::map<std::string, uint32_t> attributes;
  // "PrinterPorts" values given verbatim instead of driver,port,15,45.
  std::map<std::string, std::string> printerPorts;
  // What happened, in order: "open QUEUE", "close QUEUE", "default QUEUE",
  // "broadcast SECTION", and "set5 NAME|PORT|ATTR|T1|T2" with the record
  // written back.
  std::vector<std::string> calls;
  int openHandles() const { return open_; }

  bool openPrinter(const std::string& name, uint32_t access, Handle& handle) override;
  bool getPrinter5(Handle handle, uint32_t* buffer, uint32_t bytes, uint32_t& needed) override;
  bool setPrinter5(Handle handle, const PrinterInfo5& info) override;
  bool closePrinter(Handle handle) override;
  std::string getProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                               size_t bufferChars) override;
  void broadcastSettingChange(const std::string& section) override;

 protected:
  bool list(Listing& out) override;
  bool makeDefault(const std::string& queueName) override;

 private:
  int open_ = 0;
};

// The spooler SetDefPrinter works with: the CUPS one unless a test put
// another in place.
Spooler& currentSpooler();

// Puts a spooler in place of the CUPS one for its lifetime.
class ScopedSpooler {
 public:
  explicit ScopedSpooler(Spooler& s);
  ~ScopedSpooler();
  ScopedSpooler(const ScopedSpooler&) = delete;
  ScopedSpooler& operator=(const ScopedSpooler&) = delete;

 private:
  Spooler* previous_;
};

}  // namespace pm
