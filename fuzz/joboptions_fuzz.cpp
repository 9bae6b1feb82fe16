// Fuzz target: job-options files, in both their forms.
#include <string_view>

#include "Fuzz.h"
#include "servers/distiller/JobOptions.h"

std::vector<std::string> pmFuzzTokens() {
  return {"<<",
          ">>",
          "setdistillerparams",
          "/ColorImageResolution 300",
          "/AutoRotatePages /None",
          "(",
          ")",
          "\\(",
          "\\222",
          "true",
          "false",
          "[",
          "]",
          "= ",
          "\n",
          "/OwnerPassword",
          "/UserPassword",
          "/Permissions -4"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    pm::distiller::parseJobOptions(text);
  } catch (const pm::distiller::JobOptionsError&) {
  }
  std::string decoded;
  pm::distiller::decodePsString(text, decoded);
  pm::distiller::psString(text);
  return 0;
}
