#include "servers/office/PackageSize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace pm::office {

namespace {

uint32_t le16(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}
uint32_t le32(const unsigned char* p) {
  return le16(p) | le16(p + 2) << 16;
}
uint64_t le64(const unsigned char* p) {
  return static_cast<uint64_t>(le32(p)) | static_cast<uint64_t>(le32(p + 4)) << 32;
}

double envPositive(const char* name, double fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  double d = std::strtod(v, &end);
  return end == v || *end || !(d > 0) ? fallback : d;
}

std::string megabytes(uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

struct Directory {
  uint64_t entries = 0, offset = 0, size = 0;
};

// The central directory as the end records give it; false when the file
// has no end-of-directory record (it is no zip).
bool findDirectory(const PackageReader& read, uint64_t size, Directory& dir) {
  constexpr uint64_t kEnd = 22, kMaxComment = 0xFFFF;
  if (size < kEnd) return false;
  uint64_t tailSize = std::min<uint64_t>(size, kEnd + kMaxComment);
  std::vector<unsigned char> tail(tailSize);
  if (!read(size - tailSize, tail.data(), tail.size())) return false;
  for (uint64_t i = tailSize - kEnd + 1; i-- > 0;) {
    const unsigned char* e = tail.data() + i;
    if (le32(e) != 0x06054b50) continue;
    dir.entries = le16(e + 10);
    dir.size = le32(e + 12);
    dir.offset = le32(e + 16);
    uint64_t at = size - tailSize + i;
    // Zip64: the record before points at the larger one.
    if ((dir.entries == 0xFFFF || dir.size == 0xFFFFFFFF || dir.offset == 0xFFFFFFFF) && at >= 20) {
      unsigned char loc[20], big[56];
      if (read(at - 20, loc, sizeof loc) && le32(loc) == 0x07064b50 && read(le64(loc + 8), big, sizeof big) &&
          le32(big) == 0x06064b50) {
        dir.entries = le64(big + 32);
        dir.size = le64(big + 40);
        dir.offset = le64(big + 48);
      }
    }
    return true;
  }
  return false;
}

// Inflates a raw deflate stream of at most packed bytes from offset,
// counting its output up to budget (a little past it at most).
uint64_t inflatedSize(const PackageReader& read, uint64_t offset, uint64_t packed, uint64_t budget) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 0;
  std::vector<unsigned char> in(1 << 16), out(1 << 16);
  uint64_t produced = 0;
  int rc = Z_OK;
  while (rc == Z_OK && produced <= budget) {
    if (z.avail_in == 0) {
      if (packed == 0) break;
      size_t n = static_cast<size_t>(std::min<uint64_t>(packed, in.size()));
      if (!read(offset, in.data(), n)) break;
      offset += n;
      packed -= n;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&z, Z_NO_FLUSH);
    produced += out.size() - z.avail_out;
    if (rc == Z_BUF_ERROR && z.avail_in == 0 && packed > 0) rc = Z_OK;  // wants more input
  }
  inflateEnd(&z);
  return produced;
}

}  // namespace

PackageLimits packageLimits() {
  PackageLimits l;
  l.maxUnpacked = static_cast<uint64_t>(envPositive("PRESSMARK_OFFICE_MAX_UNPACKED_MB", 512) * (1 << 20));
  l.maxRatio = envPositive("PRESSMARK_OFFICE_MAX_RATIO", l.maxRatio);
  return l;
}

PackageVerdict inspectPackage(const PackageReader& read, uint64_t size, const PackageLimits& limits) {
  PackageVerdict v;
  Directory dir;
  if (!findDirectory(read, size, dir)) return v;
  v.isZip = true;
  if (dir.entries > limits.maxParts) {
    v.refusal = "the document is a package of " + std::to_string(dir.entries) + " parts, more than the " +
                std::to_string(limits.maxParts) + " allowed";
    return v;
  }
  auto tooBig = [&] {
    v.refusal =
        "the document unpacks to more than " + megabytes(limits.maxUnpacked) + " (PRESSMARK_OFFICE_MAX_UNPACKED_MB)";
    return v;
  };
  if (dir.offset >= size) return v;
  uint64_t at = dir.offset;
  const uint64_t end = std::min(size, dir.offset + std::min(dir.size, size));
  for (uint64_t i = 0; i < dir.entries && at + 46 <= end; ++i) {
    unsigned char c[46];
    if (!read(at, c, sizeof c) || le32(c) != 0x02014b50) break;
    uint32_t method = le16(c + 10), nameLen = le16(c + 28), extraLen = le16(c + 30), commentLen = le16(c + 32);
    uint64_t packed = le32(c + 20), declared = le32(c + 24), local = le32(c + 42);
    // Zip64 sizes and offset, each present only where its field is full.
    std::vector<unsigned char> extra(extraLen);
    if (extraLen && read(at + 46 + nameLen, extra.data(), extra.size())) {
      for (size_t k = 0; k + 4 <= extra.size();) {
        uint32_t id = le16(&extra[k]), len = le16(&extra[k + 2]);
        if (k + 4 + len > extra.size()) break;
        if (id == 1) {
          size_t f = k + 4;
          for (uint64_t* field : {&declared, &packed, &local}) {
            if (*field != 0xFFFFFFFF) continue;
            if (f + 8 > k + 4 + len) break;
            *field = le64(&extra[f]);
            f += 8;
          }
        }
        k += 4 + len;
      }
    }
    at += 46ull + nameLen + extraLen + commentLen;
    // A part counts for what it says it holds and for what it really
    // inflates to, whichever is more.
    uint64_t counted = std::max(declared, method == 0 ? packed : 0);
    unsigned char l[30];
    if (method == 8 && read(local, l, sizeof l) && le32(l) == 0x04034b50) {
      uint64_t data = local + 30 + le16(l + 26) + le16(l + 28);
      uint64_t budget = limits.maxUnpacked - std::min(limits.maxUnpacked, v.unpacked);
      uint64_t available = data < size ? size - data : 0;
      counted = std::max(counted, inflatedSize(read, data, std::min(packed, available), budget));
    }
    v.unpacked += counted;
    if (v.unpacked > limits.maxUnpacked) return tooBig();
  }
  if (v.unpacked > limits.ratioFloor && static_cast<double>(v.unpacked) > limits.maxRatio * static_cast<double>(size))
    v.refusal = "the document unpacks to " + megabytes(v.unpacked) + ", " +
                std::to_string(static_cast<uint64_t>(static_cast<double>(v.unpacked) / std::max<uint64_t>(size, 1))) +
                " times its size, more than the ratio of " + std::to_string(static_cast<uint64_t>(limits.maxRatio)) +
                " allowed (PRESSMARK_OFFICE_MAX_RATIO)";
  return v;
}

PackageVerdict inspectPackageFile(const std::string& path, const PackageLimits& limits) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct Close {
    int fd;
    ~Close() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
  PackageReader read = [fd](uint64_t offset, void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
      ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      p += got;
      n -= static_cast<size_t>(got);
      offset += static_cast<uint64_t>(got);
    }
    return true;
  };
  return inspectPackage(read, static_cast<uint64_t>(st.st_size), limits);
}

}  // namespace pm::office
