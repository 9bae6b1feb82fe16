// Watermarks of the JavaScript object: text set in a standard font, or a
// page of another PDF, drawn on a range of pages above or below their
// content.
#include <sys/stat.h>

#include <cmath>
#include <sstream>

#include "servers/pdf/engine/Fonts.h"
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/engine/PageContent.h"

namespace pm::pdf {

namespace {

using namespace js;
using content::num;

struct Placement {
  int hAlign = 1, vAlign = 1;  // 0 left/top, 1 centre, 2 right/bottom (3 top, 4 bottom as the viewer numbers them)
  double hValue = 0, vValue = 0;
  bool percentage = false;
  double scale = 1;
  double rotation = 0;
  double opacity = 1;
  bool onTop = true;
  bool onScreen = true, onPrint = true;
};

// The cm operator that puts a w x h block, scaled and rotated about its
// centre, at its place on the page box.
std::string place(const Placement& p, fz_rect box, double w, double h) {
  double pw = box.x1 - box.x0, ph = box.y1 - box.y0;
  double s = p.scale;
  if (s <= 0) s = std::min(pw / std::max(w, 1.0), ph / std::max(h, 1.0));  // fit the page
  double bw = w * s, bh = h * s;
  int v = p.vAlign == 3 ? 0 : p.vAlign == 4 ? 2 : p.vAlign;
  double cx = p.hAlign == 0 ? box.x0 + bw / 2 : p.hAlign == 2 ? box.x1 - bw / 2 : (box.x0 + box.x1) / 2;
  double cy = v == 0 ? box.y1 - bh / 2 : v == 2 ? box.y0 + bh / 2 : (box.y0 + box.y1) / 2;
  cx += p.percentage ? p.hValue * pw : p.hValue;
  cy += p.percentage ? p.vValue * ph : p.vValue;
  double r = p.rotation * M_PI / 180, c = std::cos(r), sn = std::sin(r);
  // Translate to the centre, rotate, scale, then move the block's centre
  // to the origin.
  double a = c * s, b = sn * s, cc = -sn * s, d = c * s;
  double e = cx - (a * w / 2 + cc * h / 2), f = cy - (b * w / 2 + d * h / 2);
  return num(a) + " " + num(b) + " " + num(cc) + " " + num(d) + " " + num(e) + " " + num(f) + " cm";
}

Placement placement(Frame& f, size_t onTop, size_t onScreen, size_t onPrint, size_t hAlign, size_t pct, size_t scale,
                    size_t fixed, size_t rot, size_t opacity) {
  Placement p;
  p.onTop = boolArg(f[onTop], true);
  p.onScreen = boolArg(f[onScreen], true);
  p.onPrint = boolArg(f[onPrint], true);
  if (!p.onScreen && !p.onPrint) fail("A watermark shown neither on screen nor in print would show nowhere");
  (void)fixed;
  p.hAlign = f[hAlign].isMissing() ? 1 : CLng(f[hAlign]);
  p.vAlign = f[hAlign + 1].isMissing() ? 1 : CLng(f[hAlign + 1]);
  if (p.hAlign < 0 || p.hAlign > 2) fail("A horizontal alignment is 0 (left), 1 (centre) or 2 (right)");
  if (p.vAlign < 0 || p.vAlign > 4) fail("A vertical alignment is 0 or 3 (top), 1 (centre), 2 or 4 (bottom)");
  p.hValue = f[hAlign + 2].isMissing() ? 0 : CDbl(f[hAlign + 2]);
  p.vValue = f[hAlign + 3].isMissing() ? 0 : CDbl(f[hAlign + 3]);
  p.percentage = boolArg(f[pct], false);
  p.scale = f[scale].isMissing() ? 1 : CDbl(f[scale]);
  p.rotation = f[rot].isMissing() ? 0 : CDbl(f[rot]);
  p.opacity = f[opacity].isMissing() ? 1 : CDbl(f[opacity]);
  if (p.opacity < 0 || p.opacity > 1) fail("An opacity lies between 0 and 1");
  if (p.scale > 100 || (p.scale <= 0 && p.scale != -1))
    fail("A watermark scale lies above 0 and up to 100, or is -1 (fit the page)");
  return p;
}

// A watermark shown only on screen or only in print sits in an optional
// content group whose usage says so. The document's default configuration
// starts it in its screen state, and the usage application entries let a
// viewer switch it for viewing and printing. Null when it shows everywhere.
mu::ObjPtr visibilityGroup(Doc& d, const Placement& p) {
  if (p.onScreen && p.onPrint) return mu::ObjPtr();
  pdf_document* doc = d.pdf();
  mu::ObjPtr group = po::newDict(doc);
  pdf_obj* g = group.get();
  po::putName(g, PDF_NAME(Type), "OCG");
  po::putText(g, PDF_NAME(Name), p.onPrint ? "Watermark, print only" : "Watermark, screen only");
  pdf_obj* usage = po::putDict(g, po::key("Usage"));
  po::putName(po::putDict(usage, po::key("View")), po::key("ViewState"), p.onScreen ? "ON" : "OFF");
  po::putName(po::putDict(usage, PDF_NAME(Print)), po::key("PrintState"), p.onPrint ? "ON" : "OFF");
  pdf_obj* props = po::putDict(po::catalog(doc), po::key("OCProperties"));
  po::push(po::putArray(props, po::key("OCGs")), g);
  pdf_obj* config = po::putDict(props, PDF_NAME(D));
  po::push(po::putArray(config, p.onScreen ? PDF_NAME(ON) : PDF_NAME(OFF)), g);
  pdf_obj* auto_ = po::putArray(config, po::key("AS"));
  for (const char* event : {"View", "Print"}) {
    mu::ObjPtr entry = po::newDict(doc);
    pdf_obj* e = entry.get();
    po::putName(e, po::key("Event"), event);
    po::push(po::putArray(e, po::key("OCGs")), g);
    mu::ObjPtr category = po::newName(event);
    po::push(po::putArray(e, po::key("Category")), category.get());
    po::push(auto_, e);
  }
  return group;
}

// The watermark's operators inside its group, when it has one.
std::string inGroup(Doc& d, pdf_obj* page, pdf_obj* group, const std::string& ops) {
  if (!group) return ops;
  std::string res = content::addResource(d, page, "Properties", group, "WmOC");
  return "/OC /" + res + " BDC\n" + ops + "\nEMC";
}

Variant addWatermarkFromText(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string text = CStr(f["cText"]);
  int align = f["nTextAlign"].isMissing() ? 1 : CLng(f["nTextAlign"]);
  std::string fontName = textArg(f["cFont"], "Helvetica");
  double size = f["nFontSize"].isMissing() ? 24 : CDbl(f["nFontSize"]);
  if (!(size > 0 && size <= 1000)) fail("A watermark's text size lies above 0 and up to 1000");
  std::vector<double> colour = f["aColor"].isMissing() ? std::vector<double>{0} : colourArg(f["aColor"]).comps;
  auto [a, b] = pageRange(d, f["nStart"], f["nEnd"].isMissing() && !f["nStart"].isMissing() ? f["nStart"] : f["nEnd"]);
  Placement p = placement(f, 7, 8, 9, 10, 14, 15, 16, 17, 18);
  pdf_document* doc = d.pdf();
  // The font and how wide each line is in it.
  // One line of the watermark per line of the text (CR LF, LF or CR).
  std::vector<std::string> lines;
  {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
      char ch = text[i];
      if (ch == '\r' || ch == '\n') {
        lines.push_back(line);
        line.clear();
        if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      } else {
        line += ch;
      }
    }
    lines.push_back(line);
  }
  static const char* standard[] = {"Times-Roman", "Times-Bold",     "Times-Italic",      "Times-BoldItalic",
                                   "Helvetica",   "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
                                   "Courier",     "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
                                   "Symbol",      "ZapfDingbats"};
  bool isStandard = false;
  for (const char* n : standard) isStandard = isStandard || fontName == n;
  if (!isStandard) fail("\"" + fontName + "\" is not one of the standard fonts");
  fz_font* font = nullptr;
  pdf_obj* fontObj = nullptr;
  const char* fn = fontName.c_str();
  int known = 0;
  mu::guard("Loading the watermark's font", [&](fz_context* c) {
    font = fz_new_base14_font(c, fn);
    known = font != nullptr;
    if (font) fontObj = pdf_add_simple_font(c, doc, font, PDF_SIMPLE_ENCODING_LATIN);
  });
  struct DropFont {
    void operator()(fz_font* x) const { fz_drop_font(mu::ctx(), x); }
  };
  std::unique_ptr<fz_font, DropFont> holdFont(font);
  mu::ObjPtr holdObj(fontObj);
  if (!known) fail("\"" + fontName + "\" is not one of the standard fonts");
  // Text beyond the standard font's encoding is set in an embedded subset
  // of a Unicode font of the same style instead.
  std::string all;
  for (auto& l : lines) all += l;
  std::unique_ptr<fonts::Face> face = fonts::simple(d, fontObj, all);
  if (!face) {
    std::string missing;
    face = fonts::unicode(d, all, fonts::styleOf(fontName), &missing);
    if (!missing.empty()) fail("No installed font can draw the characters \"" + missing + "\" of the watermark's text");
  }
  std::vector<double> widths;
  double w = 0;
  for (auto& l : lines) {
    widths.push_back(face->width(l) * size);
    w = std::max(w, widths.back());
  }
  double lead = size * 1.2;
  double h = lead * static_cast<double>(lines.size());
  mu::ObjPtr gs = content::opacityState(d, p.opacity);
  std::string fill = colour.size() == 1   ? num(colour[0]) + " g"
                     : colour.size() == 3 ? num(colour[0]) + " " + num(colour[1]) + " " + num(colour[2]) + " rg"
                     : colour.size() == 4
                         ? num(colour[0]) + " " + num(colour[1]) + " " + num(colour[2]) + " " + num(colour[3]) + " k"
                         : "";
  mu::ObjPtr group = visibilityGroup(d, p);
  for (int pg = a; pg <= b; ++pg) {
    pdf_obj* page = po::pageObj(doc, pg);
    face->res = content::addResource(d, page, "Font", face->obj(), "Wm");
    if (fonts::Face* fb = face->fallback()) fb->res = content::addResource(d, page, "Font", fb->obj(), "Wm");
    std::string gres = content::addResource(d, page, "ExtGState", gs.get(), "WmGs");
    std::ostringstream ops;
    ops << "q /" << gres << " gs " << place(p, content::cropBox(page), w, h) << "\n";
    if (fill.empty())
      ops << "3 Tr\n";  // transparent: nothing shows
    else
      ops << fill << "\n";
    ops << "BT\n";
    for (size_t i = 0; i < lines.size(); ++i) {
      double x = align == 0 ? 0 : align == 2 ? w - widths[i] : (w - widths[i]) / 2;
      double y = h - lead * static_cast<double>(i + 1) + (lead - size) / 2 + size * 0.2;
      ops << "1 0 0 1 " << num(x) << " " << num(y) << " Tm";
      for (auto& [run, part] : face->runs(lines[i]))
        ops << " /" << run->res << " " << num(size) << " Tf " << run->show(part) << " Tj";
      ops << "\n";
    }
    ops << "ET Q";
    content::add(d, page, inGroup(d, page, group.get(), ops.str()), p.onTop);
  }
  return {};
}

Variant addWatermarkFromFile(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string path = CStr(f["cDIPath"]);
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) fail("File " + path + " does not exist");
  int srcPage = f["nSourcePage"].isMissing() ? 0 : CLng(f["nSourcePage"]);
  auto [a, b] = pageRange(d, f["nStart"], f["nEnd"].isMissing() && !f["nStart"].isMissing() ? f["nStart"] : f["nEnd"]);
  Placement p = placement(f, 4, 5, 6, 7, 11, 12, 13, 14, 15);
  pdf_document* doc = d.pdf();
  Doc src;
  if (!src.open(path)) fail("File " + path + " is not a PDF this viewer can read");
  src.checkPage(srcPage);
  pdf_obj* sp = po::pageObj(src.pdf(), srcPage);
  std::string ops = content::bytes(sp);
  fz_rect box = content::cropBox(sp);
  pdf_obj* res = po::inherited(sp, PDF_NAME(Resources));
  pdf_obj* copied = nullptr;
  mu::guard("Copying the watermark page", [&](fz_context* c) {
    if (res) copied = pdf_graft_object(c, doc, res);
  });
  mu::ObjPtr holdRes(copied);
  mu::ObjPtr xobj = po::newStream(doc, ops);
  pdf_obj* x = xobj.get();
  mu::guard("Making the watermark", [&](fz_context* c) {
    pdf_dict_put(c, x, PDF_NAME(Type), PDF_NAME(XObject));
    pdf_dict_put(c, x, PDF_NAME(Subtype), PDF_NAME(Form));
    pdf_dict_put_rect(c, x, PDF_NAME(BBox), box);
    pdf_dict_put_matrix(c, x, PDF_NAME(Matrix), fz_translate(-box.x0, -box.y0));
    if (copied) pdf_dict_put(c, x, PDF_NAME(Resources), copied);
  });
  mu::ObjPtr gs = content::opacityState(d, p.opacity);
  mu::ObjPtr group = visibilityGroup(d, p);
  for (int pg = a; pg <= b; ++pg) {
    pdf_obj* page = po::pageObj(doc, pg);
    std::string xres = content::addResource(d, page, "XObject", x, "WmX");
    std::string gres = content::addResource(d, page, "ExtGState", gs.get(), "WmGs");
    std::string o = "q /" + gres + " gs " + place(p, content::cropBox(page), box.x1 - box.x0, box.y1 - box.y0) + " /" +
                    xres + " Do Q";
    content::add(d, page, inGroup(d, page, group.get(), o), p.onTop);
  }
  return {};
}

void describe(Members<DocHolder>& m) {
  m.method(
      "addWatermarkFromText",
      {P("cText"), P("nTextAlign").opt(), P("cFont").opt(), P("nFontSize").opt(), P("aColor").opt(), P("nStart").opt(),
       P("nEnd").opt(), P("bOnTop").opt(), P("bOnScreen").opt(), P("bOnPrint").opt(), P("nHorizAlign").opt(),
       P("nVertAlign").opt(), P("nHorizValue").opt(), P("nVertValue").opt(), P("bPercentage").opt(), P("nScale").opt(),
       P("bFixedPrint").opt(), P("nRotation").opt(), P("nOpacity").opt()},
      &addWatermarkFromText);
  m.method("addWatermarkFromFile",
           {P("cDIPath").path(), P("nSourcePage").opt(), P("nStart").opt(), P("nEnd").opt(), P("bOnTop").opt(),
            P("bOnScreen").opt(), P("bOnPrint").opt(), P("nHorizAlign").opt(), P("nVertAlign").opt(),
            P("nHorizValue").opt(), P("nVertValue").opt(), P("bPercentage").opt(), P("nScale").opt(),
            P("bFixedPrint").opt(), P("nRotation").opt(), P("nOpacity").opt()},
           &addWatermarkFromFile);
}

const Groups::Register reg("watermarks", &describe);

}  // namespace

}  // namespace pm::pdf
