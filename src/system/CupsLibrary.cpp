#include "system/CupsLibrary.h"

#include "system/SystemLibrary.h"

namespace pm {

namespace {

CupsLibrary load() {
  SystemLibrary lib("libcups.so.2", "The printing system's library");
  CupsLibrary c{};
  lib.bind(c.getDests2, "cupsGetDests2");
  lib.bind(c.setDests2, "cupsSetDests2");
  lib.bind(c.freeDests, "cupsFreeDests");
  lib.bind(c.getNamedDest, "cupsGetNamedDest");
  lib.bind(c.getOption, "cupsGetOption");
  lib.bind(c.addOption, "cupsAddOption");
  lib.bind(c.freeOptions, "cupsFreeOptions");
  lib.bind(c.printFile2, "cupsPrintFile2");
  lib.bind(c.lastErrorString, "cupsLastErrorString");
  return c;
}

}  // namespace

const CupsLibrary& cups() {
  // A failed load is tried again at the next use (the static is not set).
  static const CupsLibrary library = load();
  return library;
}

}  // namespace pm
