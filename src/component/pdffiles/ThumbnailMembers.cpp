// Small bitmaps of a PDF's pages: the viewer copies a page rectangle to the
// clipboard as a bitmap, and the bitmap is saved as a BMP file whatever the
// extension. Outcomes are codes: 1 for success, -1 for any failure.
#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/pdffiles/ThumbnailNames.h"
#include "system/Clipboard.h"

namespace pm {
namespace {

constexpr int16_t kThumbnailDone = 1;
constexpr int16_t kThumbnailFailed = -1;
constexpr int16_t kDefaultZoom = 10;

// The objects a thumbnail method holds; whatever happens, the document is
// closed and everything released before the method answers.
struct ThumbnailSession {
  ObjectRef doc, page, rect;

  ~ThumbnailSession() { release(); }
  void release() {
    page.reset();
    rect.reset();
    doc.reset();
  }
  void close() {
    if (doc) ignoreErrors([&] { call(doc, "Close"); });
    release();
  }

  template <class Body>
  Variant run(Body&& body) {
    // A viewer that cannot be had at all is the caller's error, not a code.
    try {
      doc = CreateObject(acrobat::kPDDoc);
    } catch (...) {
      AutomationError e = currentAsAutomationError();
      throw AutomationError(e.number(), kComponentTitle, e.description());
    }
    try {
      int16_t result = body();
      close();
      return Variant(result);
    } catch (...) {
      close();
      return Variant(kThumbnailFailed);
    }
  }

  // A zoom outside 0 to 100 percent is the default.
  static Variant zoomOf(const Variant& intZoom) {
    double z = CDbl(intZoom);
    return z < 0 || z > 100 ? Variant(kDefaultZoom) : intZoom;
  }

  // The rectangle of the page at the zoom from the top left corner, copied
  // to the clipboard and saved.
  void saveThumbnail(const ObjectRef& size, const Variant& zoom, const std::string& file) {
    const double z = CDbl(zoom);
    let(rect, "Left", Variant(int16_t(0)));
    let(rect, "Right", Variant(CDbl(get(size, "x")) * z / 100));
    let(rect, "Top", Variant(int16_t(0)));
    let(rect, "bottom", Variant(CDbl(get(size, "y")) * z / 100));
    clipboard::clear();
    call(page, "CopyToClipboard", {Variant(rect), Variant(int16_t(0)), Variant(int16_t(0)), zoom});
    std::optional<Bitmap> picture = clipboard::get();
    if (!picture) raise(basic::InvalidProcedureCall, "The clipboard holds no bitmap");
    saveBitmapFile(*picture, file);
  }
};

Variant CreateThumbnailImage(CreatePDF&, Frame& f) {
  const Variant& strPDF = f["strPDF"];
  ThumbnailSession s;
  return s.run([&]() -> int16_t {
    if (!CBool(call(s.doc, "Open", {strPDF}))) return kThumbnailFailed;
    int32_t n = CLng(call(s.doc, "GetNumPages"));
    int32_t page = CLng(f["lngPage"]);
    if (page < 1) page = n;
    s.page = objectOf(call(s.doc, "AcquirePage", {Variant(page - 1)}));
    ObjectRef size = objectOf(call(s.page, "GetSize"));
    s.rect = CreateObject(acrobat::kRect);
    Variant zoom = ThumbnailSession::zoomOf(f["intZoom"]);
    // The names are settled before the copy is saved.
    std::string extension = pdffiles::thumbnailExtension(f["strFileExtention"]);
    std::string file = pdffiles::thumbnailFile(CStr(strPDF), f["strFile"], extension);
    s.saveThumbnail(size, zoom, file);
    return kThumbnailDone;
  });
}

Variant CreateThumbnailImages(CreatePDF&, Frame& f) {
  const Variant& strPDF = f["strPDF"];
  ThumbnailSession s;
  return s.run([&]() -> int16_t {
    if (!CBool(call(s.doc, "Open", {strPDF}))) return kThumbnailFailed;
    int32_t n = CLng(call(s.doc, "GetNumPages"));
    Variant zoom = ThumbnailSession::zoomOf(f["intZoom"]);
    std::string path = CStr(strPDF);
    std::string extension = pdffiles::thumbnailExtension(f["strFileExtention"]);
    std::string folder = pdffiles::thumbnailFolder(path, f["strDir"]);
    std::string base = pdffiles::thumbnailBaseName(path);
    // One rectangle serves every page.
    s.rect = CreateObject(acrobat::kRect);
    // Images already saved stay when a later page fails.
    for (int32_t i = 1; i <= n; ++i) {
      s.page = objectOf(call(s.doc, "AcquirePage", {Variant(i - 1)}));
      s.saveThumbnail(objectOf(call(s.page, "GetSize")), zoom, pdffiles::pageImageFile(folder, base, i, extension));
    }
    return kThumbnailDone;
  });
}

void describe(Members<CreatePDF>& m) {
  m.method("CreateThumbnailImage",
           {P("strPDF").path(), P("strFile").path().byVal().opt(""), P("strFileExtention").byVal().opt("bmp"),
            P("intZoom").byVal().opt(kDefaultZoom), P("lngPage").byVal().opt(int32_t(1))},
           &CreateThumbnailImage, "Save one page of a PDF file as a small bitmap; answers 1, or -1 on failure.")
      .method("CreateThumbnailImages",
              {P("strPDF").path(), P("strDir").path().byVal().opt(), P("strFileExtention").byVal().opt("bmp"),
               P("intZoom").byVal().opt(kDefaultZoom)},
              &CreateThumbnailImages,
              "Save every page of a PDF file as a small bitmap of its own; answers 1, or -1 on failure.");
}

const CreatePDFMembers::Register reg("pdffiles_thumbnails", &describe);

}  // namespace
}  // namespace pm
