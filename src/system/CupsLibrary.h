// libcups, loaded the first time a printer is listed or a job printed: work
// that prints nothing does not map it, nor the TLS, Kerberos and D-Bus
// libraries it brings.
#pragma once

#include <cups/cups.h>

namespace pm {

struct CupsLibrary {
  decltype(&::cupsGetDests2) getDests2;
  decltype(&::cupsSetDests2) setDests2;
  decltype(&::cupsFreeDests) freeDests;
  decltype(&::cupsGetNamedDest) getNamedDest;
  decltype(&::cupsGetOption) getOption;
  decltype(&::cupsAddOption) addOption;
  decltype(&::cupsFreeOptions) freeOptions;
  decltype(&::cupsPrintFile2) printFile2;
  decltype(&::cupsLastErrorString) lastErrorString;
};

// Loads the library once (the system's copy, by its soname) and keeps it.
// Raises error 429 naming the library and the loader's reason when it is
// missing or lacks a function.
const CupsLibrary& cups();

}  // namespace pm
