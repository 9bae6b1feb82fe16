#include "servers/pdf/forms/AnnotData.h"
#include "servers/pdf/engine/XmlText.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "automation/Automation.h"
#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf::annotdata {

bool isListed(const std::string& subtype) {
  static const char* const notListed[] = {"", "Widget", "Popup", "Link"};
  for (const char* n : notListed)
    if (subtype == n) return false;
  return true;
}

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

// The entries that make an annotation's data; appearance streams, pop-ups
// and page links are the viewer's and are made again on import.
const char* const kKeys[] = {"Subtype",  "Rect",  "Contents",   "T",  "Subj",   "NM",   "M",          "CreationDate",
                             "C",        "IC",    "CA",         "F",  "Name",   "Open", "QuadPoints", "InkList",
                             "Vertices", "L",     "LE",         "BS", "Border", "DA",   "Q",          "RC",
                             "DS",       "State", "StateModel", "RD", "IT"};

// XFDF element names of the annotation kinds.
const std::pair<const char*, const char*> kKinds[] = {{"Text", "text"},
                                                      {"FreeText", "freetext"},
                                                      {"Square", "square"},
                                                      {"Circle", "circle"},
                                                      {"Line", "line"},
                                                      {"Highlight", "highlight"},
                                                      {"Underline", "underline"},
                                                      {"StrikeOut", "strikeout"},
                                                      {"Squiggly", "squiggly"},
                                                      {"Stamp", "stamp"},
                                                      {"Ink", "ink"},
                                                      {"Polygon", "polygon"},
                                                      {"PolyLine", "polyline"},
                                                      {"Caret", "caret"}};

const std::pair<int, const char*> kFlags[] = {{1, "invisible"}, {2, "hidden"},    {4, "print"},
                                              {8, "nozoom"},    {16, "norotate"}, {32, "noview"},
                                              {64, "readonly"}, {128, "locked"},  {256, "togglenoview"}};

struct Listed {
  int page;
  pdf_obj* obj;
};

std::vector<Listed> listed(Doc& d) {
  std::vector<Listed> out;
  pdf_document* doc = d.pdf();
  for (int p = 0; p < d.pageCount(); ++p) {
    pdf_obj* annots = po::get(po::pageObj(doc, p), PDF_NAME(Annots));
    for (int i = 0; i < po::len(annots); ++i) {
      pdf_obj* a = po::at(annots, i);
      std::string t = po::name(po::get(a, PDF_NAME(Subtype)));
      if (!isListed(t)) continue;
      out.push_back({p, a});
    }
  }
  return out;
}

std::string printed(pdf_obj* o) {
  std::string s;
  mu::guard("Writing an annotation", [&](fz_context* c) {
    size_t len = 0;
    char* p = pdf_sprint_obj(c, nullptr, 0, &len, o, 1, 1);
    s.assign(p, len);
    fz_free(c, p);
  });
  return s;
}

bool indirect(pdf_obj* o) {
  int r = 0;
  mu::guard("Reading an annotation", [&](fz_context* c) { r = pdf_is_indirect(c, o); });
  return r != 0;
}

std::string number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", v);
  return b;
}

std::string numbers(pdf_obj* arr, const char* sep = ",") {
  std::string s;
  for (int i = 0; i < po::len(arr); ++i) s += (i ? sep : "") + number(po::num(po::at(arr, i)));
  return s;
}

std::vector<double> parseNumbers(const std::string& s) {
  std::vector<double> out;
  const char* p = s.c_str();
  while (*p) {
    char* end = nullptr;
    double v = std::strtod(p, &end);
    if (end == p) {
      ++p;
      continue;
    }
    out.push_back(v);
    p = end;
  }
  return out;
}

std::string colour(pdf_obj* arr) {
  std::vector<double> c;
  for (int i = 0; i < po::len(arr); ++i) c.push_back(po::num(po::at(arr, i)));
  if (c.size() == 1) c = {c[0], c[0], c[0]};
  if (c.size() == 4) c = {(1 - c[0]) * (1 - c[3]), (1 - c[1]) * (1 - c[3]), (1 - c[2]) * (1 - c[3])};
  if (c.size() != 3) return "";
  char b[8];
  auto byte = [](double v) { return static_cast<int>(v <= 0 ? 0 : v >= 1 ? 255 : v * 255 + 0.5); };
  std::snprintf(b, sizeof b, "#%02X%02X%02X", byte(c[0]), byte(c[1]), byte(c[2]));
  return b;
}

// Finds the annotation named nm on a page; nullptr when there is none.
pdf_obj* named(pdf_obj* page, const std::string& nm) {
  if (nm.empty()) return nullptr;
  pdf_obj* annots = po::get(page, PDF_NAME(Annots));
  for (int i = 0; i < po::len(annots); ++i)
    if (po::text(po::get(po::at(annots, i), po::key("NM"))) == nm) return po::at(annots, i);
  return nullptr;
}

// Puts a new annotation (or the one of the same name, emptied) on a page
// and answers it; the caller fills its entries, then calls drawn().
pdf_obj* place(Doc& d, int page, const std::string& nm, mu::ObjPtr& hold) {
  pdf_document* doc = d.pdf();
  pdf_obj* pg = po::pageObj(doc, page);
  if (pdf_obj* old = named(pg, nm)) {
    for (const char* k : kKeys) po::del(old, po::key(k));
    po::del(old, PDF_NAME(AP));
    return old;
  }
  hold = po::newDict(doc);
  pdf_obj* a = hold.get();
  po::put(a, PDF_NAME(Type), PDF_NAME(Annot));
  po::put(a, PDF_NAME(P), pg);
  po::push(po::putArray(pg, PDF_NAME(Annots)), a);
  return a;
}

// Draws the appearance of an imported annotation, as the viewer would;
// kinds MuPDF cannot draw keep their entries for the viewer that shows them.
void drawn(Doc& d, int page, pdf_obj* a) {
  int num = po::number(a);
  try {
    mu::PagePtr pg = d.loadPage(page);
    fz_page* fp = pg.get();
    mu::guard("Drawing an imported annotation", [&](fz_context* c) {
      pdf_page* pp = pdf_page_from_fz_page(c, fp);
      for (pdf_annot* x = pdf_first_annot(c, pp); x; x = pdf_next_annot(c, x))
        if (pdf_to_num(c, pdf_annot_obj(c, x)) == num) {
          fz_rect keep = pdf_dict_get_rect(c, a, PDF_NAME(Rect));
          pdf_dirty_annot(c, x);
          pdf_update_annot(c, x);
          pdf_dict_put_rect(c, a, PDF_NAME(Rect), keep);
        }
    });
  } catch (const AutomationError&) {
  }
}

int pageOf(Doc& d, int page) {
  if (page < 0 || page >= d.pageCount())
    fail("An imported annotation is on page " + std::to_string(page) + ", which the document does not have");
  return page;
}

}  // namespace

std::string fdfEntry(Doc& d) {
  std::vector<Listed> all = listed(d);
  if (all.empty()) return "";
  std::string out = " /Annots [\n";
  for (const Listed& l : all) {
    out += "<< /Page " + std::to_string(l.page);
    for (const char* k : kKeys) {
      pdf_obj* v = po::get(l.obj, po::key(k));
      if (!v || indirect(v)) continue;
      out += " /" + std::string(k) + " " + printed(v);
    }
    out += " >>\n";
  }
  return out + "]";
}

std::string xfdfElement(Doc& d) {
  std::string out = "<annots>\n";
  for (const Listed& l : listed(d)) {
    std::string subtype = po::name(po::get(l.obj, PDF_NAME(Subtype)));
    const char* tag = nullptr;
    for (auto& [s, t] : kKinds)
      if (subtype == s) tag = t;
    if (!tag) continue;
    pdf_obj* o = l.obj;
    std::string e = "  <" + std::string(tag) + " page=\"" + std::to_string(l.page) + "\"";
    e += " rect=\"" + numbers(po::get(o, PDF_NAME(Rect))) + "\"";
    auto attr = [&](const char* name, const std::string& v) {
      if (!v.empty()) e += " " + std::string(name) + "=\"" + xmlEscape(v, true) + "\"";
    };
    attr("name", po::text(po::get(o, po::key("NM"))));
    attr("title", po::text(po::get(o, PDF_NAME(T))));
    attr("subject", po::text(po::get(o, po::key("Subj"))));
    attr("date", po::text(po::get(o, PDF_NAME(M))));
    attr("creationdate", po::text(po::get(o, PDF_NAME(CreationDate))));
    attr("color", colour(po::get(o, PDF_NAME(C))));
    attr("interior-color", colour(po::get(o, PDF_NAME(IC))));
    if (pdf_obj* ca = po::get(o, PDF_NAME(CA))) attr("opacity", number(po::num(ca)));
    int f = po::integer(po::get(o, PDF_NAME(F)));
    std::string flags;
    for (auto& [bit, n] : kFlags)
      if (f & bit) flags += (flags.empty() ? "" : ",") + std::string(n);
    attr("flags", flags);
    attr("icon", po::name(po::get(o, PDF_NAME(Name))));
    if (pdf_obj* open = po::get(o, PDF_NAME(Open))) attr("open", printed(open) == "true" ? "yes" : "no");
    attr("coords", numbers(po::get(o, PDF_NAME(QuadPoints))));
    if (pdf_obj* w = po::path(o, "BS/W")) attr("width", number(po::num(w)));
    pdf_obj* line = po::get(o, PDF_NAME(L));
    if (po::len(line) == 4) {
      attr("start", number(po::num(po::at(line, 0))) + "," + number(po::num(po::at(line, 1))));
      attr("end", number(po::num(po::at(line, 2))) + "," + number(po::num(po::at(line, 3))));
    }
    e += ">\n";
    std::string contents = po::text(po::get(o, PDF_NAME(Contents)));
    if (!contents.empty()) e += "    <contents>" + xmlEscape(contents, true) + "</contents>\n";
    std::string da = po::text(po::get(o, PDF_NAME(DA)));
    if (!da.empty()) e += "    <defaultappearance>" + xmlEscape(da, true) + "</defaultappearance>\n";
    if (pdf_obj* v = po::get(o, PDF_NAME(Vertices))) e += "    <vertices>" + numbers(v) + "</vertices>\n";
    if (pdf_obj* ink = po::get(o, PDF_NAME(InkList))) {
      e += "    <inklist>\n";
      for (int i = 0; i < po::len(ink); ++i) {
        pdf_obj* g = po::at(ink, i);
        std::string pts;
        for (int k = 0; k + 1 < po::len(g); k += 2)
          pts += (k ? ";" : "") + number(po::num(po::at(g, k))) + "," + number(po::num(po::at(g, k + 1)));
        e += "      <gesture>" + pts + "</gesture>\n";
      }
      e += "    </inklist>\n";
    }
    e += "  </" + std::string(tag) + ">\n";
    out += e;
  }
  return out + "</annots>\n";
}

void importFdf(Doc& d, pdf_obj* annots) {
  pdf_document* doc = d.pdf();
  for (int i = 0; i < po::len(annots) && i < 100000; ++i) {
    pdf_obj* src = po::at(annots, i);
    std::string subtype = po::name(po::get(src, PDF_NAME(Subtype)));
    if (!po::isDict(src) || !isListed(subtype)) continue;
    int page = pageOf(d, po::integer(po::get(src, po::key("Page"))));
    mu::ObjPtr hold;
    pdf_obj* a = place(d, page, po::text(po::get(src, po::key("NM"))), hold);
    for (const char* k : kKeys) {
      pdf_obj* v = po::get(src, po::key(k));
      if (!v) continue;
      mu::guard("Importing an annotation", [&](fz_context* c) {
        pdf_obj* copy = pdf_graft_object(c, doc, v);
        fz_try(c) {
          pdf_dict_puts(c, a, k, copy);
        }
        fz_always(c) {
          pdf_drop_obj(c, copy);
        }
        fz_catch(c) {
          fz_rethrow(c);
        }
      });
    }
    drawn(d, page, a);
  }
  d.changed();
}

namespace {

std::string textOf(fz_xml* x) {
  std::string s;
  for (fz_xml* c = fz_xml_down(x); c; c = fz_xml_next(c))
    if (const char* t = fz_xml_text(c)) s += t;
  return s;
}
std::string localTag(fz_xml* x) {
  const char* t = fz_xml_tag(x);
  std::string s = t ? t : "";
  auto colon = s.rfind(':');
  return colon == std::string::npos ? s : s.substr(colon + 1);
}
fz_xml* child(fz_xml* x, const char* tag) {
  for (fz_xml* c = fz_xml_down(x); c; c = fz_xml_next(c))
    if (localTag(c) == tag) return c;
  return nullptr;
}
std::vector<double> rgb(const std::string& s) {
  if (s.size() != 7 || s[0] != '#') return {};
  unsigned v = static_cast<unsigned>(std::strtoul(s.c_str() + 1, nullptr, 16));
  return {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0};
}

}  // namespace

void importXfdf(Doc& d, fz_xml* annots) {
  for (fz_xml* x = fz_xml_down(annots); x; x = fz_xml_next(x)) {
    std::string tag = localTag(x);
    const char* subtype = nullptr;
    for (auto& [s, t] : kKinds)
      if (tag == t) subtype = s;
    if (!subtype) continue;
    auto att = [&](const char* n) {
      const char* v = fz_xml_att(x, n);
      return std::string(v ? v : "");
    };
    int page = pageOf(d, std::atoi(att("page").c_str()));
    std::vector<double> rect = parseNumbers(att("rect"));
    if (rect.size() != 4) fail("An imported annotation has no rectangle (rect=\"x0,y0,x1,y1\")");
    mu::ObjPtr hold;
    pdf_obj* a = place(d, page, att("name"), hold);
    po::putName(a, PDF_NAME(Subtype), subtype);
    po::putRect(
        a, PDF_NAME(Rect),
        fz_make_rect(static_cast<float>(std::min(rect[0], rect[2])), static_cast<float>(std::min(rect[1], rect[3])),
                     static_cast<float>(std::max(rect[0], rect[2])), static_cast<float>(std::max(rect[1], rect[3]))));
    auto text = [&](const char* attr, pdf_obj* key) {
      std::string v = att(attr);
      if (!v.empty()) po::putText(a, key, v);
    };
    text("name", po::key("NM"));
    text("title", PDF_NAME(T));
    text("subject", po::key("Subj"));
    text("date", PDF_NAME(M));
    text("creationdate", PDF_NAME(CreationDate));
    if (auto c = rgb(att("color")); !c.empty()) po::putReals(a, PDF_NAME(C), c);
    if (auto c = rgb(att("interior-color")); !c.empty()) po::putReals(a, PDF_NAME(IC), c);
    if (!att("opacity").empty()) po::putReal(a, PDF_NAME(CA), std::strtod(att("opacity").c_str(), nullptr));
    std::string flags = att("flags");
    int f = 0;
    for (auto& [bit, n] : kFlags)
      if (("," + flags + ",").find("," + std::string(n) + ",") != std::string::npos) f |= bit;
    if (f) po::putInt(a, PDF_NAME(F), f);
    if (!att("icon").empty()) po::putName(a, PDF_NAME(Name), att("icon"));
    if (!att("open").empty()) po::putBool(a, PDF_NAME(Open), att("open") == "yes" || att("open") == "true");
    if (auto q = parseNumbers(att("coords")); !q.empty()) po::putReals(a, PDF_NAME(QuadPoints), q);
    if (!att("width").empty())
      po::putReal(po::putDict(a, PDF_NAME(BS)), PDF_NAME(W), std::strtod(att("width").c_str(), nullptr));
    auto s = parseNumbers(att("start")), e = parseNumbers(att("end"));
    if (s.size() == 2 && e.size() == 2) po::putReals(a, PDF_NAME(L), {s[0], s[1], e[0], e[1]});
    if (fz_xml* c = child(x, "contents")) po::putText(a, PDF_NAME(Contents), textOf(c));
    if (fz_xml* c = child(x, "defaultappearance")) po::putText(a, PDF_NAME(DA), textOf(c));
    if (fz_xml* c = child(x, "vertices")) po::putReals(a, PDF_NAME(Vertices), parseNumbers(textOf(c)));
    if (fz_xml* ink = child(x, "inklist")) {
      pdf_obj* list = po::putArray(a, PDF_NAME(InkList));
      for (fz_xml* g = fz_xml_down(ink); g; g = fz_xml_next(g)) {
        if (localTag(g) != "gesture") continue;
        std::vector<double> pts = parseNumbers(textOf(g));
        mu::ObjPtr arr = po::newArray(d.pdf());
        for (double v : pts) {
          pdf_obj* ar = arr.get();
          mu::guard("Importing an annotation", [&](fz_context* c) { pdf_array_push_real(c, ar, v); });
        }
        po::push(list, arr.get());
      }
    }
    drawn(d, page, a);
  }
  d.changed();
}

}  // namespace pm::pdf::annotdata
