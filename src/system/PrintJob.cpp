#include "system/PrintJob.h"

#include "automation/Error.h"
#include "system/CupsLibrary.h"

namespace pm {

namespace {

constexpr int32_t kPrinterError = 482;

struct Dest {
  cups_dest_t* dest = nullptr;
  Dest() { dest = cups().getNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr); }
  ~Dest() {
    if (dest) cups().freeDests(1, dest);
  }
  Dest(const Dest&) = delete;
  Dest& operator=(const Dest&) = delete;
};

}  // namespace

std::string DefaultPrintDestination() {
  Dest d;
  return d.dest && d.dest->name ? d.dest->name : "";
}

int PrintFileToDefault(const std::string& path, const std::string& title, const std::string& mimeType) {
  Dest d;
  if (!d.dest || !d.dest->name)
    raise(kPrinterError, "Printer error: there is no default printer to print " + title + " on");
  cups_option_t* options = nullptr;
  int count = 0;
  count = cups().addOption("document-format", mimeType.c_str(), count, &options);
  int job = cups().printFile2(CUPS_HTTP_DEFAULT, d.dest->name, path.c_str(), title.c_str(), count, options);
  cups().freeOptions(count, options);
  if (job <= 0) {
    const char* why = cups().lastErrorString();
    raise(kPrinterError, std::string("Printer error: the printer ") + d.dest->name + " refused the job " + title +
                             ": " + (why && *why ? why : "no reason given"));
  }
  return job;
}

}  // namespace pm
