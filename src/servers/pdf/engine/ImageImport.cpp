#include "servers/pdf/engine/ImageImport.h"

#include <sys/stat.h>

#include <fstream>

#include "automation/Error.h"

namespace pm::pdf {

namespace {

// The resolution of a picture that states none, as the engine takes such
// pictures (GIF, for one) elsewhere; it also brings stated resolutions below
// 72 dots per inch up to 72, which cannot be meant for print.
constexpr int kDefaultResolution = 96;

// Pictures larger than this many pixels are refused rather than decoded.
constexpr int64_t kMaxPixels = int64_t(1) << 30;

void addPicture(fz_context* c, pdf_document* doc, fz_image* image, int index) {
  int xres = 0, yres = 0;
  fz_image_resolution(image, &xres, &yres);
  if (xres <= 1 || yres <= 1) xres = yres = kDefaultResolution;
  float w = image->w * 72.0f / xres, h = image->h * 72.0f / yres;
  pdf_obj* ref = nullptr;
  pdf_obj* resources = nullptr;
  fz_buffer* contents = nullptr;
  pdf_obj* page = nullptr;
  fz_var(ref);
  fz_var(resources);
  fz_var(contents);
  fz_var(page);
  fz_try(c) {
    ref = pdf_add_image(c, doc, image);
    resources = pdf_new_dict(c, doc, 1);
    pdf_obj* xobjects = pdf_dict_put_dict(c, resources, PDF_NAME(XObject), 1);
    pdf_dict_puts(c, xobjects, "Im0", ref);
    contents = fz_new_buffer(c, 64);
    fz_append_printf(c, contents, "q %g 0 0 %g 0 0 cm /Im0 Do Q\n", w, h);
    page = pdf_add_page(c, doc, fz_make_rect(0, 0, w, h), 0, resources, contents);
    pdf_insert_page(c, doc, index, page);
  }
  fz_always(c) {
    pdf_drop_obj(c, page);
    fz_drop_buffer(c, contents);
    pdf_drop_obj(c, resources);
    pdf_drop_obj(c, ref);
  }
  fz_catch(c) {
    fz_rethrow(c);
  }
}

}  // namespace

bool looksLikeImage(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  unsigned char head[8] = {};
  f.read(reinterpret_cast<char*>(head), sizeof head);
  if (f.gcount() < 2) return false;
  int kind = 0;
  mu::guard("Recognising the image", [&](fz_context* c) { kind = fz_recognize_image_format(c, head); });
  return kind != FZ_IMAGE_UNKNOWN;
}

bool importImage(Doc& d, const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !looksLikeImage(path)) return false;
  d.create();
  pdf_document* doc = d.pdf();
  const char* name = path.c_str();
  try {
    mu::guard("Converting the image", [&](fz_context* c) {
      fz_buffer* buf = nullptr;
      fz_image* image = nullptr;
      fz_pixmap* pix = nullptr;
      fz_var(buf);
      fz_var(image);
      fz_var(pix);
      fz_try(c) {
        buf = fz_read_file(c, name);
        unsigned char* data = nullptr;
        size_t len = fz_buffer_storage(c, buf, &data);
        int pictures = 1;
        if (len >= 8 && fz_recognize_image_format(c, data) == FZ_IMAGE_TIFF)
          pictures = fz_load_tiff_subimage_count(c, data, len);
        if (pictures <= 1) {
          // One picture keeps its compressed form (a JPEG stays a JPEG).
          image = fz_new_image_from_buffer(c, buf);
          if (int64_t(image->w) * image->h > kMaxPixels || image->w < 1 || image->h < 1)
            fz_throw(c, FZ_ERROR_GENERIC, "the picture is too large");
          addPicture(c, doc, image, 0);
        } else {
          for (int i = 0; i < pictures; ++i) {
            pix = fz_load_tiff_subimage(c, data, len, i);
            image = fz_new_image_from_pixmap(c, pix, nullptr);
            fz_drop_pixmap(c, pix);
            pix = nullptr;
            addPicture(c, doc, image, i);
            fz_drop_image(c, image);
            image = nullptr;
          }
        }
      }
      fz_always(c) {
        fz_drop_pixmap(c, pix);
        fz_drop_image(c, image);
        fz_drop_buffer(c, buf);
      }
      fz_catch(c) {
        fz_rethrow(c);
      }
    });
  } catch (const AutomationError&) {
    d.close();
    return false;
  }
  d.setDirty(true);
  return true;
}

}  // namespace pm::pdf
