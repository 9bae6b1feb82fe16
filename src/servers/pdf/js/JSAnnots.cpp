// Annotations of the JavaScript object: addAnnot, getAnnots, getAnnot, the
// annotation objects with their properties (read and written one by one or
// as a property object through getProps and setProps) and destroy.
#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

#include "servers/pdf/forms/AnnotData.h"
#include "servers/pdf/forms/Form.h"
#include "servers/pdf/js/JSSupport.h"

namespace pm::pdf {

namespace {

using namespace js;

// The annotation kinds this viewer makes, by their JavaScript names (the
// PDF subtype names).
constexpr const char* kTypes[] = {"Text",      "FreeText", "Stamp",    "Highlight", "Underline",
                                  "StrikeOut", "Squiggly", "Square",   "Circle",    "Line",
                                  "Ink",       "Polygon",  "PolyLine", "Caret",     "FileAttachment"};
// The icon or default appearance some kinds start with.
struct Start {
  const char* kind;
  const char* icon;
  const char* appearance;
};
constexpr Start kStarts[] = {
    {"Text", "Note", nullptr}, {"Stamp", "Draft", nullptr}, {"FreeText", nullptr, "/Helv 12 Tf 0 g"}};
// Kinds a viewer knows but this one does not make (lower case).
constexpr const char* kNotMade[] = {"sound", "movie", "link", "widget"};
constexpr const char* kMarkup[] = {"Highlight", "Underline", "StrikeOut", "Squiggly"};

template <size_t N>
bool among(const char* const (&names)[N], const std::string& s) {
  for (const char* x : names)
    if (s == x) return true;
  return false;
}

// Names of a property object that setProps does not apply: the viewer
// keeps the dates, and the delay belongs to the object, not to the file.
constexpr const char* kNotApplied[] = {"delay", "creationdate", "moddate"};

std::string pdfNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "D:%Y%m%d%H%M%SZ", &tm);
  return buf;
}

std::string uniqueName() {
  static std::mt19937_64 rng(std::random_device{}());
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) s += '-';
    s += hex[rng() % 16];
  }
  return s;
}

// The short font names MuPDF draws free text with, the base fonts they
// stand for and how a font name given by a caller is matched (lower case,
// its start or the whole name); other names are Helvetica.
struct FontKey {
  const char* key;
  const char* base;
  const char* match;
  bool prefix;
};
constexpr FontKey kFontKeys[] = {{"TiRo", "Times-Roman", "times", true},
                                 {"Cour", "Courier", "courier", true},
                                 {"Symb", "Symbol", "symbol", false},
                                 {"ZaDb", "ZapfDingbats", "zapfdingbats", false}};
std::string fontKey(const std::string& base) {
  std::string b = LCase(base);
  for (const FontKey& f : kFontKeys)
    if (f.prefix ? b.rfind(f.match, 0) == 0 : b == f.match) return f.key;
  return "Helv";
}
std::string fontBase(const std::string& key) {
  for (const FontKey& f : kFontKeys)
    if (key == f.key) return f.base;
  return "Helvetica";
}

// ---- The property object of getProps and setProps ----
class PropBag : public Dispatch {
 public:
  Variant invoke(std::string_view name, Invoke kind, std::span<const Arg> args) override {
    std::string n = LCase(name);
    if (kind == Invoke::Let || kind == Invoke::Set) {
      if (args.empty()) raise(basic::WrongArgumentCount);
      put(std::string(name), args.back().get());
      return {};
    }
    if (!args.empty())
      raise(basic::MemberNotSupported,
            std::string(basicDescription(basic::MemberNotSupported)) + ": " + std::string(name));
    for (auto& [k, v] : items)
      if (LCase(k) == n) return v;
    return {};
  }
  std::string typeName() const override { return "Object"; }
  void put(const std::string& k, Variant v) {
    for (auto& [key, val] : items)
      if (LCase(key) == LCase(k)) {
        val = std::move(v);
        return;
      }
    items.emplace_back(k, std::move(v));
  }
  std::vector<std::pair<std::string, Variant>> items;
  // What getProps read, so setProps can tell what the caller changed.
  std::vector<std::pair<std::string, Variant>> original;
  bool unchanged(const std::string& k, const Variant& v) const {
    for (auto& [key, val] : original)
      if (LCase(key) == LCase(k)) return val == v;
    return false;
  }
};

class Annot : public Dispatch {
 public:
  Annot(std::shared_ptr<Doc> d, int num) : doc_(std::move(d)), num_(num) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("Annotation");
      Members<Annot> m(t);
      for (const Prop& p : props()) m.get(p.name, {}, &Annot::getProp).let(p.name, {P("v")}, &Annot::letProp);
      m.get("delay", {}, &Annot::getDelay).let("delay", {P("v")}, &Annot::letDelay);
      m.method("getProps", {}, &Annot::getProps);
      m.method("setProps", {P("oProps")}, &Annot::setProps);
      m.method("destroy", {}, &Annot::destroy);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "Annotation"; }

  // Applies a property object or any object with the properties by name.
  void apply(const ObjectRef& props) {
    auto bag = std::dynamic_pointer_cast<PropBag>(props);
    std::vector<std::pair<std::string, Variant>> wanted;
    if (bag) {
      wanted = bag->items;
    } else {
      for (const Prop& p : Annot::props()) {
        Variant v;
        try {
          v = get(props, p.name);
        } catch (const AutomationError&) {
          continue;
        }
        if (!v.isEmpty()) wanted.emplace_back(p.name, v);
      }
    }
    // The kind comes first (it makes the annotation), then its page; the
    // rest in the order given. Values of a property object read with
    // getProps that the caller did not change are left alone, so changing
    // one place (the point, say) is not undone by a related value read
    // before it (the rectangle).
    auto order = [](const std::string& k) { return LCase(k) == "type" ? 0 : LCase(k) == "page" ? 1 : 2; };
    std::stable_sort(wanted.begin(), wanted.end(), [&](auto& a, auto& b) { return order(a.first) < order(b.first); });
    for (auto& [k, v] : wanted) {
      std::string n = LCase(k);
      if (among(kNotApplied, n)) continue;
      if (bag && bag->unchanged(k, v)) continue;
      write(n, v);
    }
    refresh();
  }

 private:
  pdf_document* pdf() { return doc_->pdf(); }
  bool exists() { return num_ > 0 && obj() != nullptr; }
  // A reference to the annotation dictionary by its number, checked at
  // every use: pages hold annotations by reference, so what is put into
  // their lists must be the reference, not the dictionary itself.
  pdf_obj* obj() {
    if (num_ <= 0) return nullptr;
    pdf_document* d = pdf();
    if (!ref_ || refDoc_ != d) {
      pdf_obj* r = nullptr;
      int n = num_;
      mu::guard("Finding the annotation", [&](fz_context* c) {
        if (n < pdf_xref_len(c, d)) r = pdf_new_indirect(c, d, n, 0);
      });
      ref_.reset(r);
      refDoc_ = d;
    }
    if (!ref_) return nullptr;
    pdf_obj* ref = ref_.get();
    int ok = 0;
    mu::guard("Finding the annotation", [&](fz_context* c) {
      pdf_obj* r = pdf_resolve_indirect(c, ref);
      ok = pdf_is_dict(c, r) && pdf_name_eq(c, pdf_dict_get(c, r, PDF_NAME(Type)), PDF_NAME(Annot));
    });
    return ok ? ref : nullptr;
  }
  pdf_obj* need() {
    pdf_obj* o = obj();
    if (!o) {
      if (num_ == 0) fail("The annotation has no type yet: set its type first");
      fail("The annotation no longer exists");
    }
    return o;
  }
  // The page holding the annotation.
  int pageOf(pdf_obj* o) {
    pdf_document* d = pdf();
    int p = po::pageNumberOf(d, po::get(o, PDF_NAME(P)));
    if (p >= 0) return p;
    int n = doc_->pageCount();
    for (int i = 0; i < n; ++i) {
      pdf_obj* a = po::get(po::pageObj(d, i), PDF_NAME(Annots));
      for (int k = 0; k < po::len(a); ++k)
        if (po::same(po::at(a, k), o)) return i;
    }
    return -1;
  }
  std::string type() { return po::name(po::get(need(), PDF_NAME(Subtype))); }

  void create(const std::string& t, int page) {
    std::string kind;
    for (const char* k : kTypes)
      if (LCase(k) == LCase(t)) kind = k;
    if (kind.empty()) {
      if (among(kNotMade, LCase(t))) notSupported("Adding a " + t + " annotation");
      fail("Unknown annotation type \"" + t + "\"");
    }
    doc_->checkPage(page);
    pdf_document* d = pdf();
    pdf_obj* pg = po::pageObj(d, page);
    mu::ObjPtr a = po::newDict(d);
    pdf_obj* o = a.get();
    std::string nm = uniqueName(), now = pdfNow();
    pdf_obj* nmKey = po::key("NM");
    mu::guard("Adding the annotation", [&](fz_context* c) {
      pdf_dict_put(c, o, PDF_NAME(Type), PDF_NAME(Annot));
      pdf_dict_put_name(c, o, PDF_NAME(Subtype), kind.c_str());
      pdf_dict_put_rect(c, o, PDF_NAME(Rect), fz_make_rect(0, 0, 20, 20));
      pdf_dict_put(c, o, PDF_NAME(P), pg);
      pdf_dict_put_int(c, o, PDF_NAME(F), form::af::Print);
      pdf_dict_put_text_string(c, o, nmKey, nm.c_str());
      pdf_dict_put_text_string(c, o, PDF_NAME(M), now.c_str());
      pdf_dict_put_text_string(c, o, PDF_NAME(CreationDate), now.c_str());
      for (const Start& s : kStarts)
        if (kind == s.kind) {
          if (s.icon) pdf_dict_put_name(c, o, PDF_NAME(Name), s.icon);
          if (s.appearance) pdf_dict_put_text_string(c, o, PDF_NAME(DA), s.appearance);
        }
      pdf_array_push(c,
                     pdf_dict_get(c, pg, PDF_NAME(Annots)) ? pdf_dict_get(c, pg, PDF_NAME(Annots))
                                                           : pdf_dict_put_array(c, pg, PDF_NAME(Annots), 1),
                     o);
    });
    num_ = po::number(o);
    changed(kind);
  }

  // Text markup draws shapes over the page's words and no words of its own.
  void changed(const std::string& kind) {
    if (among(kMarkup, kind))
      doc_->changedWithoutText();
    else
      doc_->changed();
  }

  // Moves the annotation and its pop-up to another page.
  void move(pdf_obj* o, int page) {
    doc_->checkPage(page);
    int from = pageOf(o);
    if (from == page) return;
    pdf_document* d = pdf();
    pdf_obj* popup = po::get(o, PDF_NAME(Popup));
    pdf_obj* to = po::pageObj(d, page);
    for (pdf_obj* x : {o, popup}) {
      if (!x) continue;
      if (from >= 0) po::removeAll(po::get(po::pageObj(d, from), PDF_NAME(Annots)), x);
      po::push(po::putArray(to, PDF_NAME(Annots)), x);
      po::put(x, PDF_NAME(P), to);
    }
  }

  pdf_obj* popup(bool create) {
    pdf_obj* o = need();
    pdf_obj* p = po::get(o, PDF_NAME(Popup));
    if (p || !create) return p;
    pdf_document* d = pdf();
    mu::ObjPtr made = po::newDict(d);
    pdf_obj* m = made.get();
    pdf_obj* page = po::get(o, PDF_NAME(P));
    mu::guard("Adding the pop-up", [&](fz_context* c) {
      pdf_dict_put(c, m, PDF_NAME(Type), PDF_NAME(Annot));
      pdf_dict_put(c, m, PDF_NAME(Subtype), PDF_NAME(Popup));
      pdf_dict_put(c, m, PDF_NAME(Parent), o);
      pdf_dict_put(c, m, PDF_NAME(P), page);
      pdf_dict_put_bool(c, m, PDF_NAME(Open), 0);
      pdf_dict_put_rect(c, m, PDF_NAME(Rect), fz_make_rect(0, 0, 200, 100));
      pdf_dict_put(c, o, PDF_NAME(Popup), m);
      if (page) {
        pdf_obj* annots = pdf_dict_get(c, page, PDF_NAME(Annots));
        if (annots) pdf_array_push(c, annots, m);
      }
    });
    return m;
  }

  fz_rect rectOf(pdf_obj* o) {
    fz_rect r{};
    pdf_obj* ro = po::get(o, PDF_NAME(Rect));
    mu::guard("Reading the annotation", [&](fz_context* c) { r = pdf_to_rect(c, ro); });
    return r;
  }
  static Variant rectValue(fz_rect r) { return V({double(r.x0), double(r.y0), double(r.x1), double(r.y1)}); }

  // One property: its JavaScript name, how it is read and written, and the
  // entry (text properties) or flag bit (flag properties) it keeps.
  struct At;
  struct Prop {
    const char* name;
    Variant (Annot::*get)(const At&);
    void (Annot::*set)(const At&, const Variant&);
    const char* key = nullptr;
    int bit = 0;
  };
  // What a reader or writer works on: the annotation's dictionary, its kind
  // and the property.
  struct At {
    pdf_obj* o;
    std::string type;
    const Prop& prop;
    bool freeText() const { return type == "FreeText"; }
    bool note() const { return type == "Text"; }
  };
  // The properties, in the order getProps hands them out and setProps
  // applies them back.
  static std::span<const Prop> props();
  static const Prop* find(const std::string& lower) {
    for (const Prop& p : props())
      if (LCase(p.name) == lower) return &p;
    return nullptr;
  }

  Variant getType(const At& a) { return Variant(a.type); }
  Variant getPage(const At& a) { return Variant(int32_t(pageOf(a.o))); }
  Variant getRect(const At& a) { return rectValue(rectOf(a.o)); }
  Variant getText(const At& a) { return Variant(po::text(po::get(a.o, po::key(a.prop.key)))); }
  Variant getPoint(const At& a) {
    fz_rect r = rectOf(a.o);
    return V({double(r.x0), double(r.y1)});
  }
  Variant getPopupRect(const At&) {
    pdf_obj* p = popup(false);
    return p ? rectValue(rectOf(p)) : Variant();
  }
  Variant getPopupOpen(const At& a) {
    pdf_obj* p = popup(false);
    pdf_obj* open = po::get(p ? p : a.o, PDF_NAME(Open));
    int b = 0;
    mu::guard("Reading the annotation", [&](fz_context* c) { b = pdf_to_bool(c, open); });
    return Variant(b != 0);
  }
  Variant getIcon(const At& a) { return Variant(po::name(po::get(a.o, PDF_NAME(Name)))); }
  Variant getStrokeColor(const At& a) {
    if (!a.freeText()) return colourValue(numbers(po::get(a.o, PDF_NAME(C))));
    // The free text's colour is its text colour.
    std::istringstream in(po::text(po::get(a.o, PDF_NAME(DA))));
    std::vector<std::string> tok;
    std::string s;
    while (in >> s) {
      if (size_t k = form::colourOperands(s); k && tok.size() >= k) {
        std::vector<double> comps;
        for (size_t i = tok.size() - k; i < tok.size(); ++i) comps.push_back(Val(tok[i]));
        return colourValue(comps);
      }
      tok.push_back(s);
    }
    return colourValue({0});
  }
  Variant getFillColor(const At& a) {
    return colourValue(numbers(po::get(a.o, a.freeText() ? PDF_NAME(C) : PDF_NAME(IC))));
  }
  Variant getWidth(const At& a) {
    pdf_obj* w = po::path(a.o, "BS/W");
    return Variant(w ? po::num(w) : 1.0);
  }
  Variant getOpacity(const At& a) {
    pdf_obj* ca = po::get(a.o, PDF_NAME(CA));
    return Variant(ca ? po::num(ca) : 1.0);
  }
  Variant getFlag(const At& a) { return Variant((po::integer(po::get(a.o, PDF_NAME(F))) & a.prop.bit) != 0); }
  Variant getAlignment(const At& a) { return Variant(int32_t(po::integer(po::get(a.o, PDF_NAME(Q))))); }
  // The font and size of the first font operator of the default appearance.
  static std::pair<std::string, double> textStyle(pdf_obj* o) {
    std::istringstream in(po::text(po::get(o, PDF_NAME(DA))));
    std::vector<std::string> tok;
    std::string s;
    while (in >> s) {
      if (s == "Tf" && tok.size() >= 2) {
        std::string f = tok[tok.size() - 2];
        if (!f.empty() && f[0] == '/') f.erase(0, 1);
        return {fontBase(f), Val(tok.back())};
      }
      tok.push_back(s);
    }
    return {"Helvetica", 12.0};
  }
  Variant getTextFont(const At& a) { return Variant(textStyle(a.o).first); }
  Variant getTextSize(const At& a) { return Variant(textStyle(a.o).second); }
  Variant getRotate(const At& a) { return Variant(int32_t(po::integer(po::get(a.o, PDF_NAME(Rotate))))); }
  Variant getQuads(const At& a) {
    std::vector<double> q = numbers(po::get(a.o, PDF_NAME(QuadPoints)));
    std::vector<Variant> out;
    for (size_t i = 0; i + 8 <= q.size(); i += 8) {
      std::vector<Variant> one;
      for (size_t k = 0; k < 8; ++k) one.emplace_back(q[i + k]);
      out.emplace_back(Array::vector(std::move(one)));
    }
    return Variant(Array::vector(std::move(out)));
  }

  void setPage(const At& a, const Variant& v) { move(a.o, CLng(v)); }
  void setRect(const At& a, const Variant& v) { po::putRect(a.o, PDF_NAME(Rect), rectArg(v)); }
  void setText(const At& a, const Variant& v) { po::putText(a.o, po::key(a.prop.key), CStr(v)); }
  void setPoint(const At& a, const Variant& v) {
    std::vector<Variant> p = items(v);
    if (p.size() < 2) fail("A point is an array of two numbers");
    double x = CDbl(p[0]), y = CDbl(p[1]);
    // A note's icon is 20 points square, whatever size it was drawn at.
    fz_rect r = rectOf(a.o);
    double w = std::max(1.0, double(r.x1 - r.x0)), h = std::max(1.0, double(r.y1 - r.y0));
    if (a.note()) w = h = 20;
    po::putRect(a.o, PDF_NAME(Rect), fz_make_rect(float(x), float(y - h), float(x + w), float(y)));
  }
  void setPopupRect(const At&, const Variant& v) { po::putRect(popup(true), PDF_NAME(Rect), rectArg(v)); }
  void setPopupOpen(const At& a, const Variant& v) {
    po::putBool(popup(true), PDF_NAME(Open), CBool(v));
    if (a.note()) po::putBool(a.o, PDF_NAME(Open), CBool(v));
  }
  void setIcon(const At& a, const Variant& v) {
    std::string s = CStr(v);
    if (s.empty() || s.find_first_of(" /()<>[]{}%#") != std::string::npos) fail("\"" + s + "\" is not an icon name");
    po::putName(a.o, PDF_NAME(Name), s);
  }
  void setState(const At& a, const Variant& v) {
    setText(a, v);
    if (!po::get(a.o, po::key("StateModel"))) po::putText(a.o, po::key("StateModel"), "Review");
  }
  // No components remove the colour.
  static void putColour(pdf_obj* o, pdf_obj* key, const Colour& c) {
    if (c.comps.empty()) return po::del(o, key);
    po::putReals(o, key, c.comps);
  }
  void setStrokeColor(const At& a, const Variant& v) {
    Colour c = colourArg(v);
    if (!a.freeText()) return putColour(a.o, PDF_NAME(C), c);
    // The free text's colour is its text colour, set after its (last) font.
    std::string font = "Helv";
    double size = 12;
    std::istringstream in(po::text(po::get(a.o, PDF_NAME(DA))));
    std::vector<std::string> tok;
    std::string s;
    while (in >> s) {
      if (s == "Tf" && tok.size() >= 2) {
        font = tok[tok.size() - 2].substr(tok[tok.size() - 2].rfind('/') + 1);
        size = Val(tok.back());
      }
      tok.push_back(s);
    }
    std::string nd = "/" + font + " " + DoubleToText(size) + " Tf";
    for (double x : c.comps) nd += " " + DoubleToText(x);
    nd += c.comps.size() == 1 ? " g" : c.comps.size() == 3 ? " rg" : c.comps.size() == 4 ? " k" : " 0 g";
    po::putText(a.o, PDF_NAME(DA), nd);
  }
  void setFillColor(const At& a, const Variant& v) {
    Colour c = colourArg(v);
    putColour(a.o, a.freeText() ? PDF_NAME(C) : PDF_NAME(IC), c);
  }
  void setWidth(const At& a, const Variant& v) {
    double w = CDbl(v);
    if (w < 0 || w > 1000) fail("A border width lies between 0 and 1000");
    po::putReal(po::putDict(a.o, PDF_NAME(BS)), PDF_NAME(W), w);
  }
  void setOpacity(const At& a, const Variant& v) {
    double o = CDbl(v);
    if (o < 0 || o > 1) fail("An opacity lies between 0 and 1");
    po::putReal(a.o, PDF_NAME(CA), o);
  }
  void setFlag(const At& a, const Variant& v) {
    int f = po::integer(po::get(a.o, PDF_NAME(F)));
    po::putInt(a.o, PDF_NAME(F), CBool(v) ? (f | a.prop.bit) : (f & ~a.prop.bit));
  }
  void setAlignment(const At& a, const Variant& v) {
    int q = CLng(v);
    if (q < 0 || q > 2) fail("An alignment is 0 (left), 1 (center) or 2 (right)");
    po::putInt(a.o, PDF_NAME(Q), q);
  }
  // Rewrites the font operator of the default appearance with a new font
  // or size, keeping what follows it.
  void setTextStyle(const At& a, const Variant& v, bool isFont) {
    std::string font = "Helv", rest = " 0 g";
    double size = 12;
    std::string da = po::text(po::get(a.o, PDF_NAME(DA)));
    auto tf = da.find(" Tf");
    if (tf != std::string::npos) {
      std::istringstream in(da.substr(0, tf));
      std::vector<std::string> tok;
      std::string s;
      while (in >> s) tok.push_back(s);
      if (tok.size() >= 2) {
        font = tok[tok.size() - 2].substr(tok[tok.size() - 2].rfind('/') + 1);
        size = Val(tok.back());
      }
      rest = da.substr(tf + 3);
    }
    if (isFont) {
      font = fontKey(CStr(v));
    } else {
      size = CDbl(v);
      if (size < 0 || size > 32767) fail("A text size lies between 0 and 32767");
    }
    po::putText(a.o, PDF_NAME(DA), "/" + font + " " + DoubleToText(size) + " Tf" + rest);
  }
  void setTextFont(const At& a, const Variant& v) { setTextStyle(a, v, true); }
  void setTextSize(const At& a, const Variant& v) { setTextStyle(a, v, false); }
  void setRotate(const At& a, const Variant& v) {
    int r = CLng(v);
    if (r % 90 != 0) fail("An annotation's rotation is 0, 90, 180 or 270");
    po::putInt(a.o, PDF_NAME(Rotate), ((r % 360) + 360) % 360);
  }
  void setQuads(const At& a, const Variant& v) {
    if (!among(kMarkup, a.type)) fail("Quads belong to text markup annotations, not to " + a.type);
    std::vector<double> q;
    for (const Variant& e : items(v)) {
      if (e.isArray())
        for (const Variant& x : e.array().data()) q.push_back(CDbl(x));
      else
        q.push_back(CDbl(e));
    }
    if (q.empty() || q.size() % 8 != 0) fail("Quads are arrays of eight numbers each");
    po::putReals(a.o, PDF_NAME(QuadPoints), q);
    double x0 = q[0], y0 = q[1], x1 = q[0], y1 = q[1];
    for (size_t i = 0; i + 1 < q.size(); i += 2) {
      x0 = std::min(x0, q[i]);
      x1 = std::max(x1, q[i]);
      y0 = std::min(y0, q[i + 1]);
      y1 = std::max(y1, q[i + 1]);
    }
    po::putRect(a.o, PDF_NAME(Rect), fz_make_rect(float(x0), float(y0), float(x1), float(y1)));
  }
  void setDate(const At&, const Variant&) { fail("The annotation's dates are kept by the viewer"); }

 public:
  // A property by its lower-case name; nothing for a name that is not one.
  Variant read(const std::string& n) {
    pdf_obj* o = need();
    std::string t = po::name(po::get(o, PDF_NAME(Subtype)));
    const Prop* p = find(n);
    return p ? (this->*p->get)(At{o, t, *p}) : Variant();
  }

  void write(const std::string& n, const Variant& v) {
    if (n == "type") {
      std::string t = CStr(v);
      if (!exists()) {
        create(t, pending_page_ >= 0 ? pending_page_ : 0);
        return;
      }
      if (LCase(type()) != LCase(t))
        fail("An annotation keeps its type; \"" + type() + "\" cannot become \"" + t + "\"");
      return;
    }
    if (!exists()) {
      // Before it has a type the annotation only remembers its page.
      if (n == "page") {
        pending_page_ = CLng(v);
        doc_->checkPage(pending_page_);
        return;
      }
      need();
    }
    pdf_obj* o = need();
    std::string t = type();
    const Prop* p = find(n);
    if (!p) fail("Annotations have no property " + n);
    (this->*p->set)(At{o, t, *p}, v);
    po::putText(o, PDF_NAME(M), pdfNow());
    changed(t);
  }

  // Redraws the annotation's appearance from its entries, as the viewer
  // would on screen. Kinds MuPDF cannot draw keep their entries and are
  // drawn by the viewer that shows them.
  void refresh() {
    if (!exists()) return;
    pdf_obj* o = obj();
    int page = pageOf(o);
    int num = num_;
    if (page < 0) return;
    try {
      mu::PagePtr pg = doc_->loadPage(page);
      fz_page* fp = pg.get();
      mu::guard("Drawing the annotation", [&](fz_context* c) {
        pdf_page* pp = pdf_page_from_fz_page(c, fp);
        for (pdf_annot* a = pdf_first_annot(c, pp); a; a = pdf_next_annot(c, a))
          if (pdf_to_num(c, pdf_annot_obj(c, a)) == num) {
            // The drawing may resize the box to its icon; the caller's
            // rectangle stays.
            fz_rect keep = pdf_dict_get_rect(c, o, PDF_NAME(Rect));
            pdf_dirty_annot(c, a);
            pdf_update_annot(c, a);
            pdf_dict_put_rect(c, o, PDF_NAME(Rect), keep);
          }
      });
    } catch (const AutomationError&) {
    }
  }

 private:
  Variant getProp(Frame& f) { return read(LCase(f.member().name)); }
  Variant letProp(Frame& f) {
    write(LCase(f.member().name), f["v"]);
    refresh();
    return {};
  }
  Variant getDelay(Frame&) { return Variant(delay_); }
  Variant letDelay(Frame& f) {
    delay_ = CBool(f["v"]);
    return {};
  }
  Variant getProps(Frame&) {
    auto bag = std::make_shared<PropBag>();
    if (exists()) {
      for (const Prop& p : props()) {
        Variant v = read(LCase(p.name));
        if (!v.isEmpty()) bag->items.emplace_back(p.name, v);
      }
    }
    bag->original = bag->items;
    return Variant(ObjectRef(bag));
  }
  Variant setProps(Frame& f) {
    apply(objectOf(f["oProps"]));
    return Variant(true);
  }
  Variant destroy(Frame&) {
    pdf_obj* o = need();
    pdf_document* d = pdf();
    mu::ObjPtr keep = mu::keep(o);
    std::string kind = type();
    pdf_obj* p = po::get(o, PDF_NAME(Popup));
    int page = pageOf(o);
    if (page >= 0) {
      pdf_obj* annots = po::get(po::pageObj(d, page), PDF_NAME(Annots));
      po::removeAll(annots, o);
      if (p) po::removeAll(annots, p);
      // Replies to the annotation go with it.
      for (int i = po::len(annots) - 1; i >= 0; --i)
        if (po::same(po::get(po::at(annots, i), PDF_NAME(IRT)), o)) po::remove(annots, i);
    }
    // Other objects for the same annotation find it gone.
    po::del(o, PDF_NAME(Type));
    num_ = -1;
    changed(kind);
    return {};
  }

  std::shared_ptr<Doc> doc_;
  int num_;  // 0: not made yet; -1: destroyed
  mu::ObjPtr ref_;
  pdf_document* refDoc_ = nullptr;
  int pending_page_ = -1;
  bool delay_ = false;
};

std::span<const Annot::Prop> Annot::props() {
  using A = Annot;
  static const Prop table[] = {{"type", &A::getType, nullptr},  // written first, by write itself
                               {"page", &A::getPage, &A::setPage},
                               {"rect", &A::getRect, &A::setRect},
                               {"contents", &A::getText, &A::setText, "Contents"},
                               {"name", &A::getText, &A::setText, "NM"},
                               {"author", &A::getText, &A::setText, "T"},
                               {"subject", &A::getText, &A::setText, "Subj"},
                               {"point", &A::getPoint, &A::setPoint},
                               {"popupRect", &A::getPopupRect, &A::setPopupRect},
                               {"popupOpen", &A::getPopupOpen, &A::setPopupOpen},
                               {"noteIcon", &A::getIcon, &A::setIcon},
                               {"AP", &A::getIcon, &A::setIcon},
                               {"state", &A::getText, &A::setState, "State"},
                               {"stateModel", &A::getText, &A::setText, "StateModel"},
                               {"strokeColor", &A::getStrokeColor, &A::setStrokeColor},
                               {"fillColor", &A::getFillColor, &A::setFillColor},
                               {"width", &A::getWidth, &A::setWidth},
                               {"opacity", &A::getOpacity, &A::setOpacity},
                               {"lock", &A::getFlag, &A::setFlag, nullptr, form::af::Locked},
                               {"readOnly", &A::getFlag, &A::setFlag, nullptr, form::af::ReadOnly},
                               {"hidden", &A::getFlag, &A::setFlag, nullptr, form::af::Hidden},
                               {"noView", &A::getFlag, &A::setFlag, nullptr, form::af::NoView},
                               {"toggleNoView", &A::getFlag, &A::setFlag, nullptr, form::af::ToggleNoView},
                               {"print", &A::getFlag, &A::setFlag, nullptr, form::af::Print},
                               {"alignment", &A::getAlignment, &A::setAlignment},
                               {"textFont", &A::getTextFont, &A::setTextFont},
                               {"textSize", &A::getTextSize, &A::setTextSize},
                               {"rotate", &A::getRotate, &A::setRotate},
                               {"quads", &A::getQuads, &A::setQuads},
                               {"creationDate", &A::getText, &A::setDate, "CreationDate"},
                               {"modDate", &A::getText, &A::setDate, "M"}};
  return table;
}

// The annotations a viewer lists: everything but widgets, pop-ups and links.
std::vector<int> listed(Doc& d, int page) {
  std::vector<int> out;
  pdf_obj* annots = po::get(po::pageObj(d.pdf(), page), PDF_NAME(Annots));
  int n = po::len(annots);
  for (int i = 0; i < n; ++i) {
    pdf_obj* a = po::at(annots, i);
    std::string t = po::name(po::get(a, PDF_NAME(Subtype)));
    if (!annotdata::isListed(t)) continue;
    int num = po::number(a);
    if (num > 0) out.push_back(num);
  }
  return out;
}

Variant addAnnot(DocHolder& self, Frame& f) {
  docOf(self);
  auto a = std::make_shared<Annot>(self.docState(), 0);
  if (!f["oProps"].isMissing() && f["oProps"].isObject() && f["oProps"].asObject()) a->apply(f["oProps"].asObject());
  return Variant(ObjectRef(a));
}

Variant getAnnots(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::vector<int> pages;
  if (f["nPage"].isMissing() || f["nPage"].isEmpty()) {
    for (int i = 0; i < d.pageCount(); ++i) pages.push_back(i);
  } else {
    pages.push_back(pageArg(d, f["nPage"], 0));
  }
  std::vector<Variant> out;
  for (int p : pages)
    for (int num : listed(d, p)) out.emplace_back(ObjectRef(std::make_shared<Annot>(self.docState(), num)));
  // An empty list when there is none: a caller can always take its bounds.
  return Variant(Array::vector(std::move(out)));
}

Variant getAnnot(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int page = pageArg(d, f["nPage"], 0);
  std::string name = CStr(f["cName"]);
  for (int num : listed(d, page)) {
    auto a = std::make_shared<Annot>(self.docState(), num);
    if (CStr(a->read("name")) == name) return Variant(ObjectRef(a));
  }
  return Variant::null();
}

Variant syncAnnotScan(DocHolder& self, Frame&) {
  // Annotations are read from the file at each call; there is nothing to wait for.
  docOf(self);
  return {};
}

void describe(Members<DocHolder>& m) {
  m.method("addAnnot", {P("oProps").opt()}, &addAnnot);
  m.method("getAnnots", {P("nPage").opt(), P("nSortBy").opt(), P("bReverse").opt(), P("nFilterBy").opt()}, &getAnnots);
  m.method("getAnnot", {P("nPage"), P("cName")}, &getAnnot);
  m.method("syncAnnotScan", {}, &syncAnnotScan);
}

const Groups::Register reg("annots", &describe);

}  // namespace

}  // namespace pm::pdf
