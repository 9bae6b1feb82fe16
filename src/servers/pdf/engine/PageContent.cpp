#include "servers/pdf/engine/PageContent.h"

#include <cstdio>

#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf::content {

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string bytes(pdf_obj* page) {
  pdf_obj* c = po::get(page, PDF_NAME(Contents));
  if (po::isArray(c)) {
    std::string out;
    for (int i = 0; i < po::len(c) && i < 10000; ++i) out += po::streamText(po::at(c, i)) + "\n";
    return out;
  }
  return po::streamText(c);
}

pdf_obj* resources(Doc& d, pdf_obj* page) {
  pdf_obj* own = po::get(page, PDF_NAME(Resources));
  if (po::isDict(own)) return own;
  pdf_obj* inherited = po::inherited(page, PDF_NAME(Resources));
  pdf_obj* made = nullptr;
  mu::guard("Preparing the page's resources", [&](fz_context* c) {
    made = pdf_is_dict(c, inherited) ? pdf_copy_dict(c, inherited) : pdf_new_dict(c, d.pdf(), 4);
    pdf_dict_put_drop(c, page, PDF_NAME(Resources), made);
  });
  return po::get(page, PDF_NAME(Resources));
}

std::string addResource(Doc& d, pdf_obj* page, const char* kind, pdf_obj* value, const std::string& prefix) {
  pdf_obj* res = resources(d, page);
  pdf_obj* k = po::key(kind);
  pdf_obj* sub = po::get(res, k);
  if (!po::isDict(sub)) {
    sub = po::putDict(res, k);
  } else if (po::number(sub)) {
    // A shared sub-dictionary stays as the other pages see it.
    pdf_obj* copy = nullptr;
    mu::guard("Preparing the page's resources", [&](fz_context* c) {
      copy = pdf_copy_dict(c, sub);
      pdf_dict_put_drop(c, res, k, copy);
    });
    sub = po::get(res, k);
  }
  for (int i = 1; i < 100000; ++i) {
    std::string n = prefix + std::to_string(i);
    if (!po::get(sub, n.c_str())) {
      const char* nn = n.c_str();
      mu::guard("Adding to the page's resources", [&](fz_context* c) { pdf_dict_puts(c, sub, nn, value); });
      return n;
    }
  }
  mu::fail("The page has too many resources");
}

void add(Doc& d, pdf_obj* page, const std::string& ops, bool onTop) {
  pdf_document* doc = d.pdf();
  pdf_obj* old = po::get(page, PDF_NAME(Contents));
  mu::ObjPtr arr = po::newArray(doc);
  mu::ObjPtr open = po::newStream(doc, "q\n");
  mu::ObjPtr close = po::newStream(doc, "\nQ\n");
  mu::ObjPtr mine = po::newStream(doc, onTop ? "\n" + ops + "\n" : "q\n" + ops + "\nQ\n");
  if (!onTop) po::push(arr.get(), mine.get());
  po::push(arr.get(), open.get());
  if (po::isArray(old)) {
    for (int i = 0; i < po::len(old); ++i) po::push(arr.get(), po::at(old, i));
  } else if (old) {
    po::push(arr.get(), old);
  }
  po::push(arr.get(), close.get());
  if (onTop) po::push(arr.get(), mine.get());
  po::put(page, PDF_NAME(Contents), arr.get());
  d.changed();
}

mu::ObjPtr opacityState(Doc& d, double opacity) {
  mu::ObjPtr gs = po::newDict(d.pdf());
  po::put(gs.get(), PDF_NAME(Type), PDF_NAME(ExtGState));
  po::putReal(gs.get(), PDF_NAME(ca), opacity);
  po::putReal(gs.get(), PDF_NAME(CA), opacity);
  return gs;
}

fz_rect cropBox(pdf_obj* page) {
  fz_rect r{};
  pdf_obj* crop = po::inherited(page, PDF_NAME(CropBox));
  pdf_obj* media = po::inherited(page, PDF_NAME(MediaBox));
  mu::guard("Reading the page box", [&](fz_context* c) {
    fz_rect m = pdf_to_rect(c, media);
    if (fz_is_empty_rect(m)) m = fz_make_rect(0, 0, 612, 792);
    r = pdf_is_array(c, crop) ? fz_intersect_rect(pdf_to_rect(c, crop), m) : m;
  });
  return r;
}

}  // namespace pm::pdf::content
