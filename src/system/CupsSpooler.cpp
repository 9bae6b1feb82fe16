// The spooler adapter over libcups. The default it changes is the user's
// default destination, kept by libcups in the user's lpoptions file, the
// way `lpoptions -d` changes it; the server's own default (lpadmin -d) and
// other users are left alone.
#include "system/CupsLibrary.h"
#include "system/Spooler.h"

namespace pm {

namespace {

struct Dests {
  cups_dest_t* dests = nullptr;
  int count = 0;
  Dests() { count = cups().getDests2(CUPS_HTTP_DEFAULT, &dests); }
  ~Dests() {
    if (dests) cups().freeDests(count, dests);
  }
  Dests(const Dests&) = delete;
  Dests& operator=(const Dests&) = delete;
};

std::string option(const cups_dest_t& d, const char* name) {
  const char* v = cups().getOption(name, d.num_options, d.options);
  return v ? v : "";
}

class CupsSpooler : public QueueSpooler {
 protected:
  bool list(Listing& out) override {
    Dests d;
    if (d.count < 0) return false;
    out.queues.clear();
    out.defaultName.clear();
    for (int i = 0; i < d.count; ++i) {
      const cups_dest_t& dest = d.dests[i];
      // Instances are saved option sets of a queue, not printers of their
      // own; the printer is the queue.
      if (dest.instance != nullptr || dest.name == nullptr) continue;
      PrinterQueue q;
      q.name = dest.name;
      q.description = option(dest, "printer-info");
      q.driver = option(dest, "printer-make-and-model");
      // A class has no device of its own; its URI stands for its port.
      q.port = option(dest, "device-uri");
      if (q.port.empty()) q.port = option(dest, "printer-uri-supported");
      if (dest.is_default) out.defaultName = q.name;
      out.queues.push_back(std::move(q));
    }
    return true;
  }

  bool makeDefault(const std::string& queueName) override {
    Dests d;
    if (d.count <= 0) return false;
    bool found = false;
    for (int i = 0; i < d.count; ++i)
      if (d.dests[i].instance == nullptr && d.dests[i].name && queueName == d.dests[i].name) found = true;
    if (!found) return false;
    for (int i = 0; i < d.count; ++i)
      d.dests[i].is_default = d.dests[i].instance == nullptr && d.dests[i].name && queueName == d.dests[i].name;
    return cups().setDests2(CUPS_HTTP_DEFAULT, d.count, d.dests) == 0;
  }
};

}  // namespace

std::unique_ptr<QueueSpooler> makeCupsSpooler() {
  return std::make_unique<CupsSpooler>();
}

}  // namespace pm
