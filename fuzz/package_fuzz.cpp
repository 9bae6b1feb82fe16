// Fuzz target: the look at a zip package before the office unpacks it (its
// end records, central directory, zip64 fields and deflated parts), under
// small limits so a run stays quick.
#include <algorithm>
#include <cstring>

#include "Fuzz.h"
#include "servers/office/PackageSize.h"

std::vector<std::string> pmFuzzTokens() {
  return {std::string("PK\x05\x06", 4),       std::string("PK\x06\x06", 4), std::string("PK\x06\x07", 4),
          std::string("PK\x01\x02", 4),       std::string("PK\x03\x04", 4), std::string("\xff\xff\xff\xff", 4),
          std::string("\x01\x00\x18\x00", 4), std::string("\x08\x00", 2)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pm::office::PackageLimits limits;
  limits.maxUnpacked = 8u << 20;
  limits.ratioFloor = 1u << 20;
  limits.maxParts = 1000;
  auto read = [&](uint64_t offset, void* buf, size_t n) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(buf, data + offset, n);
    return true;
  };
  pm::office::PackageVerdict v = pm::office::inspectPackage(read, size, limits);
  if (v.refusal.empty() && v.unpacked > limits.maxUnpacked) __builtin_trap();
  return 0;
}
