// Fuzz target: PostScript files as the distiller reads them before a job:
// the driver-file detection and its entries, and the declared page count.
#include "Fuzz.h"
#include "servers/distiller/GhostscriptJob.h"

std::vector<std::string> pmFuzzTokens() {
  return {"/prun { /mysave save def\r\n",
          "dup = flush\r\nRunFile\r\n",
          "clear cleardictstack\r\nmysave restore\r\n} def\r\n",
          ") prun\r\n",
          "(",
          "%%Pages: ",
          "(atend)",
          "%%Trailer\n",
          "%!PS-Adobe-3.0\n",
          "\\)",
          "\r\n"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = pmfuzz::writeScratch(data, size, ".ps");
  pm::distiller::driverEntries(path);
  pm::distiller::declaredPages(path);
  return 0;
}
