#include "servers/pdf/engine/Export.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "automation/Error.h"
#include "servers/pdf/engine/PageWriter.h"
#include "system/AtomicFile.h"
#include "system/Files.h"
#include "system/Process.h"
#include "system/SystemServices.h"

extern "C" {
#include <jpeglib.h>
}

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw mu::EngineError(d);
}

// One file per page for picture formats: the target itself for a one-page
// document, otherwise <name>_Page_<n><ext>.
std::string pageTarget(const std::string& target, int page, int pages) {
  if (pages == 1) return target;
  auto slash = target.rfind('/');
  auto dot = target.rfind('.');
  std::string base = target, ext;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    base = target.substr(0, dot);
    ext = target.substr(dot);
  }
  return base + "_Page_" + std::to_string(page + 1) + ext;
}

// One output file while it is written: a fresh, unpredictable name beside
// the target, renamed over it only when complete and removed otherwise.
struct Temp {
  std::optional<AtomicFile> file;
  std::string path;
  explicit Temp(const std::string& target) {
    try {
      file.emplace(target);
      // The writers below open the file by name.
      file->close();
    } catch (const AtomicFileError& e) {
      fail(e.what());
    }
    path = file->path();
  }
  void commit() {
    try {
      file->commit();
    } catch (const AtomicFileError& e) {
      fail(e.what());
    }
  }
};

// Every page through one of MuPDF's document writers into one file.
void writeWith(Doc& d, const std::string& target, const char* format, const char* options) {
  fz_document* doc = d.fz();
  int pages = d.pageCount();
  Temp tmp(target);
  const char* out = tmp.path.c_str();
  mu::guard(("Writing " + target).c_str(), [&](fz_context* c) {
    fz_document_writer* w = fz_new_document_writer(c, out, format, options);
    fz_try(c) {
      writePages(c, doc, w, 0, pages - 1);
      fz_close_document_writer(c, w);
    }
    fz_always(c) {
      fz_drop_document_writer(c, w);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
  tmp.commit();
}

mu::PixmapPtr render(Doc& d, int page, float dpi) {
  mu::PagePtr p = d.loadPage(page);
  fz_page* pg = p.get();
  fz_pixmap* pix = nullptr;
  mu::guard("Rendering a page", [&](fz_context* c) {
    pix = fz_new_pixmap_from_page(c, pg, fz_scale(dpi / 72, dpi / 72), fz_device_rgb(c), 0);
  });
  return mu::PixmapPtr(pix);
}

// Every page into a file of its own (the target itself for a one-page
// document), each written under a fresh name beside it and renamed when
// complete. write gets the page, the file's final name and the path to
// write now.
void writeEachPage(Doc& d, const std::string& target,
                   const std::function<void(int, const std::string&, const std::string&)>& write) {
  int pages = d.pageCount();
  for (int i = 0; i < pages; ++i) {
    std::string name = pageTarget(target, i, pages);
    Temp tmp(name);
    write(i, name, tmp.path);
    tmp.commit();
  }
}

// Every page as an image of 150 dpi, one file a page.
void writeEachPageImage(Doc& d, const std::string& target,
                        const std::function<void(fz_pixmap*, const std::string&, const std::string&)>& write) {
  writeEachPage(d, target, [&](int page, const std::string& name, const std::string& path) {
    mu::PixmapPtr pix = render(d, page, 150);
    write(pix.get(), name, path);
  });
}

void writePng(Doc& d, const std::string& target) {
  writeEachPageImage(d, target, [](fz_pixmap* px, const std::string& name, const std::string& path) {
    const char* out = path.c_str();
    mu::guard(("Writing " + name).c_str(), [&](fz_context* c) { fz_save_pixmap_as_png(c, px, out); });
  });
}

void writeJpeg(Doc& d, const std::string& target) {
  writeEachPageImage(d, target, [](fz_pixmap* px, const std::string& name, const std::string& path) {
    fz_context* c = mu::ctx();
    int w = fz_pixmap_width(c, px), h = fz_pixmap_height(c, px);
    int n = fz_pixmap_components(c, px);
    ptrdiff_t stride = fz_pixmap_stride(c, px);
    unsigned char* s = fz_pixmap_samples(c, px);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) fail("Cannot write " + name + ": " + std::strerror(errno));
    // libjpeg's default error handler exits the process; this one records
    // the failure and jumps back here, where nothing with a destructor lives
    // between setjmp and the jump.
    struct Err {
      jpeg_error_mgr mgr;
      jmp_buf jump;
    } err;
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr ci) { longjmp(reinterpret_cast<Err*>(ci->err)->jump, 1); };
    volatile bool ok = false;
    if (setjmp(err.jump) == 0) {
      jpeg_create_compress(&cinfo);
      jpeg_stdio_dest(&cinfo, f);
      cinfo.image_width = static_cast<JDIMENSION>(w);
      cinfo.image_height = static_cast<JDIMENSION>(h);
      cinfo.input_components = 3;
      cinfo.in_color_space = JCS_RGB;
      jpeg_set_defaults(&cinfo);
      jpeg_set_quality(&cinfo, 90, TRUE);
      jpeg_start_compress(&cinfo, TRUE);
      while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = s + static_cast<ptrdiff_t>(cinfo.next_scanline) * stride;
        jpeg_write_scanlines(&cinfo, &row, 1);
      }
      jpeg_finish_compress(&cinfo);
      ok = true;
    }
    jpeg_destroy_compress(&cinfo);
    (void)n;
    bool closed = std::fclose(f) == 0;
    if (!ok || !closed) fail("Cannot write the JPEG file " + name);
  });
}

void writeTiff(Doc& d, const std::string& target) {
  // Baseline TIFF, uncompressed RGB, one strip: every reader takes it.
  writeEachPageImage(d, target, [](fz_pixmap* px, const std::string& name, const std::string& path) {
    fz_context* c = mu::ctx();
    uint32_t w = static_cast<uint32_t>(fz_pixmap_width(c, px));
    uint32_t h = static_cast<uint32_t>(fz_pixmap_height(c, px));
    ptrdiff_t stride = fz_pixmap_stride(c, px);
    unsigned char* s = fz_pixmap_samples(c, px);
    std::vector<uint8_t> o;
    auto u16 = [&](uint32_t v) {
      o.push_back(uint8_t(v));
      o.push_back(uint8_t(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
      u16(v & 0xFFFF);
      u16(v >> 16);
    };
    const uint32_t entries = 12;
    const uint32_t ifd = 8;
    const uint32_t bps = ifd + 2 + entries * 12 + 4;
    const uint32_t res = bps + 6;
    const uint32_t data = res + 16;
    o.push_back('I');
    o.push_back('I');
    u16(42);
    u32(ifd);
    u16(entries);
    auto tag = [&](uint16_t t, uint16_t type, uint32_t count, uint32_t value) {
      u16(t);
      u16(type);
      u32(count);
      u32(value);
    };
    tag(256, 4, 1, w);
    tag(257, 4, 1, h);
    tag(258, 3, 3, bps);
    tag(259, 3, 1, 1);
    tag(262, 3, 1, 2);
    tag(273, 4, 1, data);
    tag(277, 3, 1, 3);
    tag(278, 4, 1, h);
    tag(279, 4, 1, w * h * 3);
    tag(282, 5, 1, res);
    tag(283, 5, 1, res + 8);
    tag(296, 3, 1, 2);
    u32(0);
    u16(8);
    u16(8);
    u16(8);
    u32(150);
    u32(1);
    u32(150);
    u32(1);
    for (uint32_t y = 0; y < h; ++y) o.insert(o.end(), s + y * stride, s + y * stride + w * 3);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) fail("Cannot write " + name + ": " + std::strerror(errno));
    size_t wrote = std::fwrite(o.data(), 1, o.size(), f);
    if (std::fclose(f) != 0 || wrote != o.size()) fail("Cannot write the TIFF file " + name);
  });
}

// Ghostscript reads "%d" and its kind in an output file name as a format
// (and "%pipe%" as a command); "%%" is a plain percent sign.
std::string ghostscriptOutputName(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

// EPS through Ghostscript's eps2write, one file per page; the pages come
// from a copy of the document as it is now, written to the private
// temporary folder. Ghostscript runs in a process group of its own, with a
// time-out, and dies with this process.
void writeEps(Doc& d, const std::string& target) {
  std::string source;
  {
    ExclusiveTempFile reserved(privateTempDir(), ".pdf");
    reserved.keep();
    source = reserved.path();
  }
  struct Remove {
    std::string p;
    ~Remove() { ::unlink(p.c_str()); }
  } cleanup{source};
  d.save(source, true, false, false, false);
  writeEachPage(d, target, [&](int i, const std::string& name, const std::string& path) {
    ProcessOptions po;
    po.argv = {"gs",
               "-q",
               "-dSAFER",
               "-dBATCH",
               "-dNOPAUSE",
               "-sDEVICE=eps2write",
               "-dFirstPage=" + std::to_string(i + 1),
               "-dLastPage=" + std::to_string(i + 1),
               "-sOutputFile=" + ghostscriptOutputName(path),
               source};
    po.timeout = std::chrono::seconds(120);
    ProcessResult r;
    try {
      r = runProcess(std::move(po));
    } catch (const AutomationError&) {
      fail("Saving as EPS needs Ghostscript (gs), which is not installed");
    }
    if (r.timedOut) fail("Ghostscript did not write the EPS file " + name + " within 120 seconds");
    if (!r.success()) fail("Ghostscript could not write the EPS file " + name + " (" + r.describe() + ")");
  });
}

// The formats saveAs writes besides PDF, by the last part of their
// conversion ids: written by a function of their own or by MuPDF's
// document writer with a format and its options.
struct Writer {
  const char* kind;
  void (*write)(Doc&, const std::string&);
  const char* format = nullptr;
  const char* options = "";
};
const Writer kWriters[] = {{"eps", &writeEps},
                           {"png", &writePng},
                           {"jpeg", &writeJpeg},
                           {"tiff", &writeTiff},
                           {"ps", nullptr, "ps", "resolution=300"},
                           {"plain-text", nullptr, "text"},
                           {"accesstext", nullptr, "text"},
                           {"html-3-20", nullptr, "html"},
                           {"html-4-01-css-1-00", nullptr, "html"},
                           {"xml-1-00", nullptr, "stext"}};

}  // namespace

void exportDocument(Doc& d, const std::string& target, const std::string& convId) {
  d.pdf();
  if (target.empty()) fail("saveAs needs a file name");
  std::string id = convId;
  for (char& ch : id) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const std::string prefix = "com.adobe.acrobat.";
  std::string kind = id.rfind(prefix, 0) == 0 ? id.substr(prefix.size()) : id;
  if (id.empty() || kind == "pdf") {
    d.save(target, true, false, true);
    return;
  }
  for (const Writer& w : kWriters)
    if (kind == w.kind) return w.format ? writeWith(d, target, w.format, w.options) : w.write(d, target);
  fail("Saving as \"" + convId + "\" is not supported by this viewer");
}

}  // namespace pm::pdf
