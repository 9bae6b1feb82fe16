// The CJK font MuPDF falls back on for Chinese, Japanese and Korean text a
// document does not embed, read from the system instead of linked in.
//
// Debian builds MuPDF's built-in CJK font from fonts-noto-cjk: its bytes are
// those of NotoSerifCJK-Regular.ttc, a collection whose faces come in the
// order MuPDF's lookup numbers them (Japanese, Korean, simplified and
// traditional Chinese). Linked, that one font is 26 MB of the engine's
// library and most of the Python wheel. Here its bounds are stand-ins that
// enclose nothing, which keeps MuPDF's copy out of the link, and the lookups
// MuPDF's own objects make are wrapped: where MuPDF would hand out the empty
// stand-in, the system's collection is mapped and handed out in its place.
// Where fonts-noto-cjk is missing the lookups say no font, and MuPDF reports
// "cannot find builtin CJK font" or falls back as for any missing font.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <span>

extern "C" {
#include <mupdf/fitz.h>
}

// Both bounds are one address, so MuPDF measures the stand-in as 0 bytes.
extern "C" const unsigned char _binary_resources_fonts_han_SourceHanSerif_Regular_ttc_start[1] = {0};
extern "C" const unsigned char _binary_resources_fonts_han_SourceHanSerif_Regular_ttc_end[1]
    __attribute__((alias("_binary_resources_fonts_han_SourceHanSerif_Regular_ttc_start")));

extern "C" const unsigned char* __real_fz_lookup_cjk_font(fz_context* ctx, int ordering, int* len, int* index);
extern "C" const unsigned char* __real_fz_lookup_noto_font(fz_context* ctx, int script, int lang, int* len,
                                                           int* subfont);

namespace {

// A fixed system path: a font found through a search path could be another
// user's file.
constexpr const char* kCollection = "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc";

// Mapped once for the life of the process, as the linked font was; the pages
// are the page cache's, shared with every other reader of the file.
std::span<const unsigned char> mapCollection() {
  int fd = ::open(kCollection, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  void* p = MAP_FAILED;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 12 && st.st_size < (1 << 30))
    p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return {};
  std::span<const unsigned char> bytes(static_cast<const unsigned char*>(p), static_cast<size_t>(st.st_size));
  // Only a font collection can stand for the collection MuPDF numbers faces in.
  if (std::memcmp(bytes.data(), "ttcf", 4) != 0) {
    ::munmap(p, bytes.size());
    return {};
  }
  return bytes;
}

const unsigned char* collection(int* len) {
  static const std::span<const unsigned char> bytes = mapCollection();
  *len = static_cast<int>(bytes.size());
  return bytes.empty() ? nullptr : bytes.data();
}

const unsigned char* orSystem(const unsigned char* data, int* len) {
  return data == _binary_resources_fonts_han_SourceHanSerif_Regular_ttc_start ? collection(len) : data;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const unsigned char* __wrap_fz_lookup_cjk_font(fz_context* ctx,
                                                                                                 int ordering, int* len,
                                                                                                 int* index) {
  return orSystem(__real_fz_lookup_cjk_font(ctx, ordering, len, index), len);
}

extern "C" __attribute__((visibility("default"))) const unsigned char* __wrap_fz_lookup_noto_font(fz_context* ctx,
                                                                                                  int script, int lang,
                                                                                                  int* len,
                                                                                                  int* subfont) {
  return orSystem(__real_fz_lookup_noto_font(ctx, script, lang, len, subfont), len);
}
