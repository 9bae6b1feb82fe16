// What a zip package (OOXML, ODF) would cost the office to unpack, found
// before the office sees it: a few megabytes of a stranger's document can
// inflate to gigabytes of XML that the office then holds in memory. Each part
// is inflated here, its output counted and thrown away, so a part whose
// declared size lies counts for what it really holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pm::office {

struct PackageLimits {
  uint64_t maxUnpacked = 512ull << 20;  // bytes of all parts together
  // Unpacked bytes per packed byte, held to once the parts unpack to more
  // than ratioFloor (small documents of repeated text compress very well).
  double maxRatio = 100;
  uint64_t ratioFloor = 32ull << 20;
  uint32_t maxParts = 20000;
};

// The limits the environment sets: PRESSMARK_OFFICE_MAX_UNPACKED_MB and
// PRESSMARK_OFFICE_MAX_RATIO (positive numbers), else the defaults above.
PackageLimits packageLimits();

// Reads n bytes at offset into buf; false when the file has fewer.
using PackageReader = std::function<bool(uint64_t offset, void* buf, size_t n)>;

struct PackageVerdict {
  bool isZip = false;     // an end-of-directory record was found
  uint64_t unpacked = 0;  // what was counted before stopping
  std::string refusal;    // empty: the office may have it
};

// Looks at a file of size bytes. A file that is no zip passes as it is (the
// office reads it as whatever else it is); a zip passes when its parts stay
// within the limits, however damaged it is otherwise (the office says so).
PackageVerdict inspectPackage(const PackageReader& read, uint64_t size, const PackageLimits& limits);

// The same for a file on disk; a file that cannot be read passes (the
// office reports it).
PackageVerdict inspectPackageFile(const std::string& path, const PackageLimits& limits);

}  // namespace pm::office
