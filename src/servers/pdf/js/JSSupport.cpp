#include "servers/pdf/js/JSSupport.h"

#include <algorithm>

#include "system/AtomicFile.h"

namespace pm::pdf::js {

void fail(const std::string& description) {
  mu::fail(description);
}

void notSupported(const std::string& what) {
  fail(what + " is not supported by this PDF viewer");
}

void writeFileSafely(const std::string& path, std::string_view bytes) {
  if (path.empty()) fail("Writing a file needs its path");
  try {
    AtomicFile out(path);
    out.write(bytes);
    out.commit();
  } catch (const AtomicFileError& e) {
    fail(e.what());
  }
}

Doc& docOf(DocHolder& self) {
  auto d = self.docState();
  if (!d) fail("The document is not open");
  d->pdf();
  return *d;
}

std::string textArg(const Variant& v, const std::string& def) {
  if (v.isMissing() || v.isEmpty()) return def;
  return CStr(v);
}
bool boolArg(const Variant& v, bool def) {
  if (v.isMissing() || v.isEmpty()) return def;
  return CBool(v);
}

int pageArg(Doc& d, const Variant& v, int def) {
  int p = v.isMissing() || v.isEmpty() ? def : CLng(v);
  d.checkPage(p);
  return p;
}

std::pair<int, int> pageRange(Doc& d, const Variant& first, const Variant& last, int lastDef) {
  int n = d.pageCount();
  int a = first.isMissing() || first.isEmpty() ? 0 : CLng(first);
  int b = last.isMissing() || last.isEmpty() ? (lastDef < 0 ? n - 1 : lastDef) : CLng(last);
  if (a < 0 || b < a || b >= n)
    fail("Pages " + std::to_string(a) + " to " + std::to_string(b) + " do not exist: the document has " +
         std::to_string(n) + (n == 1 ? " page" : " pages") + " (page numbers start at 0)");
  return {a, b};
}

std::vector<Variant> items(const Variant& v) {
  if (v.isArray()) return v.array().data();
  if (v.isMissing() || v.isEmpty() || v.isNull()) return {};
  return {v};
}

Colour colourArg(const Variant& v) {
  if (!v.isArray()) fail("A colour is an array such as [\"RGB\", 1, 0, 0]");
  std::vector<Variant> it = v.array().data();
  if (it.empty()) fail("A colour array names its colour space first");
  std::string space = UCase(CStr(it[0]));
  size_t n = space == "T" ? 0 : space == "G" ? 1 : space == "RGB" ? 3 : space == "CMYK" ? 4 : 99;
  if (n == 99) fail("Unknown colour space \"" + CStr(it[0]) + "\" (T, G, RGB or CMYK)");
  Colour c;
  for (size_t i = 1; i <= n; ++i) c.comps.push_back(std::clamp(i < it.size() ? CDbl(it[i]) : 0.0, 0.0, 1.0));
  return c;
}

Variant colourValue(const std::vector<double>& c) {
  std::vector<Variant> out;
  switch (c.size()) {
    case 1:
      out = {Variant("G"), Variant(c[0])};
      break;
    case 3:
      out = {Variant("RGB"), Variant(c[0]), Variant(c[1]), Variant(c[2])};
      break;
    case 4:
      out = {Variant("CMYK"), Variant(c[0]), Variant(c[1]), Variant(c[2]), Variant(c[3])};
      break;
    default:
      out = {Variant("T")};
      break;
  }
  return Variant(Array::vector(std::move(out)));
}

fz_rect rectArg(const Variant& v) {
  std::vector<Variant> it = v.isArray() ? v.array().data() : std::vector<Variant>{};
  if (it.size() < 4) fail("A rectangle is an array of four numbers");
  double x0 = CDbl(it[0]), y0 = CDbl(it[1]), x1 = CDbl(it[2]), y1 = CDbl(it[3]);
  for (double x : {x0, y0, x1, y1})
    if (!(x > -1e6 && x < 1e6)) fail("A rectangle's coordinates lie within a million points");
  return fz_make_rect(static_cast<float>(std::min(x0, x1)), static_cast<float>(std::min(y0, y1)),
                      static_cast<float>(std::max(x0, x1)), static_cast<float>(std::max(y0, y1)));
}

Variant rectValue(fz_rect r) {
  return V({double(r.x0), double(r.y1), double(r.x1), double(r.y0)});
}

}  // namespace pm::pdf::js
