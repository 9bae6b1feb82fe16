// Field objects of the JavaScript object: the properties and methods of one
// form field, read from and written into the form dictionaries of the file.
#include "servers/pdf/js/JSFieldObject.h"

#include <algorithm>
#include <cmath>

#include "servers/pdf/forms/Form.h"
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/forms/Signing.h"

namespace pm::pdf {

namespace {

using js::fail;
using js::notSupported;

const char* kBorder[][2] = {{"solid", "S"}, {"beveled", "B"}, {"dashed", "D"}, {"inset", "I"}, {"underline", "U"}};
const char* kHighlight[][2] = {{"none", "N"}, {"invert", "I"}, {"push", "P"}, {"outline", "O"}};
const char* kAlign[] = {"left", "center", "right"};
// The position of a name in a list; none when it is not there.
int32_t indexIn(std::span<const char* const> names, const std::string& s, int32_t none) {
  for (size_t i = 0; i < names.size(); ++i)
    if (s == names[i]) return int32_t(i);
  return none;
}
const char* kGlyph[][2] = {{"check", "4"},  {"cross", "8"}, {"diamond", "u"},
                           {"circle", "l"}, {"star", "H"},  {"square", "n"}};
// Triggers: the key, and whether it belongs to the widget (else the field).
struct Trigger {
  const char* name;
  const char* key;
  bool widget;
};
constexpr Trigger kTriggers[] = {{"MouseUp", "U", true},    {"MouseDown", "D", true}, {"MouseEnter", "E", true},
                                 {"MouseExit", "X", true},  {"OnFocus", "Fo", true},  {"OnBlur", "Bl", true},
                                 {"Keystroke", "K", false}, {"Validate", "V", false}, {"Calculate", "C", false},
                                 {"Format", "F", false}};

class FieldObject : public Dispatch {
 public:
  FieldObject(std::shared_ptr<Doc> d, std::string n) : doc_(std::move(d)), name_(std::move(n)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("Field");
      Members<FieldObject> m(t);
      for (const Prop& p : props())
        if (p.set) m.get(p.name, {}, &FieldObject::getProp).let(p.name, {P("v")}, &FieldObject::letProp);
      for (const Prop& p : props())
        if (!p.set) m.get(p.name, {}, &FieldObject::getProp);
      m.method("setItems", {P("oArray")}, &FieldObject::setItems);
      m.method("getItemAt", {P("nIdx"), P("bExportValue").opt(true)}, &FieldObject::getItemAt);
      m.method("insertItemAt", {P("cName"), P("cExport").opt(), P("nIdx").opt(int32_t(0))}, &FieldObject::insertItemAt);
      m.method("deleteItemAt", {P("nIdx").opt()}, &FieldObject::deleteItemAt);
      m.method("clearItems", {}, &FieldObject::clearItems);
      m.method("setAction", {P("cTrigger"), P("cScript")}, &FieldObject::setAction);
      m.method("buttonSetCaption", {P("cCaption"), P("nFace").opt(int32_t(0))}, &FieldObject::buttonSetCaption);
      m.method("buttonGetCaption", {P("nFace").opt(int32_t(0))}, &FieldObject::buttonGetCaption);
      m.method("checkThisBox", {P("nWidget"), P("bCheckIt").opt(true)}, &FieldObject::checkThisBox);
      m.method("isBoxChecked", {P("nWidget")}, &FieldObject::isBoxChecked);
      m.method("isDefaultChecked", {P("nWidget")}, &FieldObject::isDefaultChecked);
      m.method("defaultIsChecked", {P("nWidget"), P("bIsDefaultChecked").opt(true)}, &FieldObject::defaultIsChecked);
      m.method("getArray", {}, &FieldObject::getArray);
      m.method("signatureSign", {P("oSig").opt(), P("oInfo").opt(), P("cDIPath").path().opt()},
               &FieldObject::signatureSign);
      m.method("signatureValidate", {P("oSig").opt()}, &FieldObject::signatureValidate);
      m.method("buttonImportIcon", {P("cPath").path().opt(), P("nPage").opt()}, &FieldObject::buttonImportIcon);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "Field"; }

 private:
  pdf_obj* field() {
    doc_->pdf();
    pdf_obj* f = form::lookup(*doc_, name_);
    if (!f) fail("The field \"" + name_ + "\" does not exist");
    return f;
  }
  pdf_obj* terminal() {
    pdf_obj* f = field();
    std::vector<pdf_obj*> t = form::terminals(f);
    return t.empty() ? f : t.front();
  }
  std::vector<pdf_obj*> allWidgets() {
    std::vector<pdf_obj*> out;
    for (pdf_obj* t : form::terminals(field()))
      for (pdf_obj* w : form::widgets(t)) out.push_back(w);
    return out;
  }
  pdf_obj* firstWidget() {
    auto w = allWidgets();
    if (w.empty()) fail("The field \"" + name_ + "\" has no widget on a page");
    return w.front();
  }
  std::string kind() { return form::kind(terminal()); }
  void requireKind(std::initializer_list<const char*> kinds, const char* what) {
    std::string k = kind();
    for (const char* x : kinds)
      if (k == x) return;
    fail(std::string(what) + " does not apply to the " + k + " field \"" + name_ + "\"");
  }
  void changed() { doc_->changed(); }

  // A widget's entry at a path below MK (made on the way when write).
  pdf_obj* mk(pdf_obj* w, bool write) { return write ? po::putDict(w, PDF_NAME(MK)) : po::get(w, PDF_NAME(MK)); }

  // Where a property lives: on this object, in the field's terminals or in
  // its widgets (read from the first, written on each).
  enum class Scope { Object, Field, Widget };
  struct At;
  // A property: its name, scope, reader and writer (none: read only), and
  // what properties sharing these differ by (an entry, a position or bit).
  struct Prop {
    const char* name;
    Scope scope;
    Variant (FieldObject::*get)(const At&);
    void (FieldObject::*set)(const At&, const Variant&);
    const char* key = nullptr;
    int index = 0;
  };
  // What a reader or writer works on (what its scope needs).
  struct At {
    const Prop& prop;
    pdf_obj* fld = nullptr;
    std::vector<pdf_obj*> terms{};
    pdf_obj* t = nullptr;
    std::string k{};
    pdf_obj* w = nullptr;
  };
  static std::span<const Prop> props();
  static const Prop* find(const std::string& lower) {
    for (const Prop& p : props())
      if (LCase(p.name) == lower) return &p;
    return nullptr;
  }

  // Flags of the field (Ff) and of its widgets (F), by their bits.
  Variant getFieldFlag(const At& a) { return Variant((form::fieldFlags(terminal()) & a.prop.index) != 0); }
  void setFieldFlag(const At& a, const Variant& v) {
    bool on = CBool(v);
    for (pdf_obj* t : form::terminals(field())) form::setFieldFlag(t, a.prop.index, on);
    // Lines, comb cells and hidden characters change what is drawn.
    if (a.prop.index & (form::ff::Multiline | form::ff::Comb | form::ff::Password)) form::redraw(*doc_, field());
    changed();
  }
  Variant getWidgetFlag(const At& a) { return Variant((form::widgetFlags(firstWidget()) & a.prop.index) != 0); }
  void setWidgetFlag(const At& a, const Variant& v) {
    bool on = CBool(v);
    for (pdf_obj* w : allWidgets()) form::setWidgetFlag(w, a.prop.index, on);
    changed();
  }

  Variant getProp(Frame& f) {
    // Every property member comes from the table.
    const Prop* p = find(LCase(f.member().name));
    At a{*p};
    if (p->scope != Scope::Object) {
      a.t = terminal();
      a.k = form::kind(a.t);
    }
    if (p->scope == Scope::Widget) a.w = firstWidget();
    return (this->*p->get)(a);
  }
  Variant letProp(Frame& f) {
    const Prop* p = find(LCase(f.member().name));
    const Variant& v = f["v"];
    At a{*p};
    if (p->scope != Scope::Object) {
      a.fld = field();
      a.terms = form::terminals(a.fld);
      a.t = a.terms.empty() ? a.fld : a.terms.front();
      a.k = form::kind(a.t);
    }
    if (p->scope != Scope::Widget) {
      (this->*p->set)(a, v);
      return {};
    }
    std::vector<pdf_obj*> ws = allWidgets();
    if (ws.empty()) fail("The field \"" + name_ + "\" has no widget on a page");
    for (pdf_obj* w : ws) {
      a.w = w;
      (this->*p->set)(a, v);
    }
    form::redraw(*doc_, a.fld);
    changed();
    return {};
  }

  // ---- Properties of this object and of the field ----
  Variant getName(const At&) { return Variant(form::fullName(field())); }
  Variant getDelay(const At&) { return Variant(delay_); }
  void setDelay(const At&, const Variant& v) { delay_ = CBool(v); }
  Variant getType(const At& a) { return Variant(a.k); }
  Variant getValue(const At& a) {
    if (a.prop.index == 0 && a.k == "listbox" && (form::fieldFlags(a.t) & form::ff::MultiSelect)) {
      auto vs = form::values(a.t);
      if (vs.size() > 1) {
        std::vector<Variant> out(vs.begin(), vs.end());
        return Variant(Array::vector(std::move(out)));
      }
    }
    return Variant(form::value(a.t));
  }
  void setValue(const At& a, const Variant& v) {
    for (pdf_obj* x : a.terms) {
      if (v.isEmpty() || v.isNull() || (v.isObject() && !v.asObject()))
        form::clearValue(*doc_, x);
      else if (v.isArray()) {
        std::vector<std::string> s;
        for (auto& e : v.array().data()) s.push_back(CStr(e));
        form::setValues(*doc_, x, s);
      } else
        form::setValue(*doc_, x, CStr(v));
    }
  }
  Variant getPage(const At&) {
    std::vector<Variant> pages;
    pdf_document* doc = doc_->pdf();
    for (pdf_obj* w : allWidgets()) {
      int p = po::pageNumberOf(doc, po::get(w, PDF_NAME(P)));
      // A widget that does not name its page is found in the pages' lists.
      for (int i = 0; p < 0 && i < doc_->pageCount(); ++i) {
        pdf_obj* annots = po::get(po::pageObj(doc, i), PDF_NAME(Annots));
        for (int a = 0; a < po::len(annots); ++a)
          if (po::same(po::at(annots, a), w)) p = i;
      }
      pages.emplace_back(int32_t(p));
    }
    if (pages.size() == 1) return pages[0];
    return Variant(Array::vector(std::move(pages)));
  }
  Variant getNumItems(const At& a) { return Variant(int32_t(form::options(a.t).size())); }
  Variant getSignatureInfo(const At& a) {
    if (a.k != "signature") fail("The field \"" + name_ + "\" is not a signature field");
    return Variant(makeSignatureInfo(signatureState(*doc_, a.t)));
  }
  Variant getTextFont(const At& a) { return Variant(form::baseFont(*doc_, form::appearance(a.t).font)); }
  Variant getTextSize(const At& a) { return Variant(form::appearance(a.t).size); }
  Variant getTextColor(const At& a) { return js::colourValue(form::appearance(a.t).colour); }
  // Changes the default appearance of every terminal.
  template <class Change>
  void restyle(const At& a, Change change) {
    for (pdf_obj* x : a.terms) {
      form::Appearance ap = form::appearance(x);
      change(ap);
      form::setAppearance(*doc_, x, ap);
    }
  }
  void setTextFont(const At& a, const Variant& v) {
    restyle(a, [&](form::Appearance& ap) { ap.font = form::fontResource(*doc_, CStr(v)); });
  }
  void setTextSize(const At& a, const Variant& v) {
    restyle(a, [&](form::Appearance& ap) {
      double s = CDbl(v);
      if (s < 0 || s > 32767) fail("A text size lies between 0 (automatic) and 32767");
      ap.size = s;
    });
  }
  void setTextColor(const At& a, const Variant& v) {
    restyle(a, [&](form::Appearance& ap) { ap.colour = js::colourArg(v).comps; });
  }
  Variant getDefaultValue(const At& a) { return Variant(po::text(po::inherited(a.t, PDF_NAME(DV)))); }
  void setDefaultValue(const At& a, const Variant& v) {
    for (pdf_obj* x : a.terms) {
      std::string s = CStr(v);
      if (form::hasOnState(a.k))
        po::putName(x, PDF_NAME(DV), s);
      else
        po::putText(x, PDF_NAME(DV), s);
    }
    changed();
  }
  Variant getAlignment(const At& a) {
    int q = po::integer(po::inherited(a.t, PDF_NAME(Q)));
    return Variant(kAlign[q >= 0 && q <= 2 ? q : 0]);
  }
  void setAlignment(const At& a, const Variant& v) {
    std::string s = v.isNumeric() ? std::string(kAlign[std::clamp(CLng(v), 0, 2)]) : LCase(CStr(v));
    int q = indexIn(kAlign, s, -1);
    if (q < 0) fail("\"" + CStr(v) + "\" is not an alignment (left, center or right)");
    for (pdf_obj* x : a.terms) po::putInt(x, PDF_NAME(Q), q);
    form::redraw(*doc_, a.fld);
    changed();
  }
  Variant getCharLimit(const At& a) { return Variant(int32_t(po::integer(po::inherited(a.t, PDF_NAME(MaxLen))))); }
  void setCharLimit(const At& a, const Variant& v) {
    int c = CLng(v);
    if (c < 0) fail("A character limit is not negative");
    for (pdf_obj* x : a.terms) {
      if (c == 0)
        po::del(x, PDF_NAME(MaxLen));
      else
        po::putInt(x, PDF_NAME(MaxLen), c);
    }
    if (form::fieldFlags(a.t) & form::ff::Comb) form::redraw(*doc_, a.fld);
    changed();
  }
  Variant getText(const At& a) { return Variant(po::text(po::inherited(a.t, po::key(a.prop.key)))); }
  void setText(const At& a, const Variant& v) {
    for (pdf_obj* x : a.terms) po::putText(x, po::key(a.prop.key), CStr(v));
    changed();
  }
  Variant getExportValues(const At& a) {
    std::vector<Variant> out;
    if (form::hasOnState(a.k))
      for (auto& s : form::onStates(a.t)) out.emplace_back(s);
    else
      for (auto& [shown, exp] : form::options(a.t)) out.emplace_back(exp);
    return Variant(Array::vector(std::move(out)));
  }
  void setExportValues(const At& a, const Variant& v) {
    std::vector<Variant> ev = js::items(v);
    if (form::hasOnState(a.k)) {
      for (pdf_obj* x : a.terms) {
        std::vector<pdf_obj*> ws = form::widgets(x);
        std::string was = form::value(x);
        std::vector<std::string> old = form::onStates(x);
        for (size_t i = 0; i < ws.size() && i < ev.size(); ++i) {
          std::string s = CStr(ev[i]);
          form::setOnState(*doc_, ws[i], s);
          if (old[i] == was) po::putName(x, PDF_NAME(V), s);
        }
      }
    } else if (a.k == "combobox" || a.k == "listbox") {
      for (pdf_obj* x : a.terms) {
        auto opts = form::options(x);
        for (size_t i = 0; i < opts.size() && i < ev.size(); ++i) opts[i].second = CStr(ev[i]);
        form::setOptions(*doc_, x, opts);
      }
    } else {
      fail("Export values do not apply to the " + a.k + " field \"" + name_ + "\"");
    }
    changed();
  }
  Variant getCalcOrderIndex(const At& a) {
    pdf_obj* co = po::get(form::acroForm(*doc_, false), po::key("CO"));
    for (int i = 0; i < po::len(co); ++i)
      if (po::same(po::at(co, i), a.t)) return Variant(int32_t(i));
    return Variant(int32_t(-1));
  }
  void setCalcOrderIndex(const At& a, const Variant& v) {
    int idx = CLng(v);
    // Only calculated fields take part in the calculation order; for the
    // others there is nothing to order.
    if (!po::path(a.t, "AA/C")) return;
    pdf_obj* co = po::putArray(form::acroForm(*doc_, true), po::key("CO"));
    po::removeAll(co, a.t);
    int len = po::len(co);
    po::insert(co, a.t, std::clamp(idx, 0, len));
    changed();
  }
  Variant getCurrentValueIndices(const At& a) {
    auto opts = form::options(a.t);
    std::vector<Variant> idx;
    for (auto& v : form::values(a.t))
      for (size_t i = 0; i < opts.size(); ++i)
        if (opts[i].second == v) {
          idx.emplace_back(int32_t(i));
          break;
        }
    if (idx.size() == 1) return idx[0];
    if (idx.empty()) return Variant(int32_t(-1));
    return Variant(Array::vector(std::move(idx)));
  }
  void setCurrentValueIndices(const At& a, const Variant& v) {
    auto opts = form::options(a.t);
    std::vector<std::string> sel;
    for (auto& e : js::items(v)) {
      int i = CLng(e);
      if (i < 0 || static_cast<size_t>(i) >= opts.size()) {
        if (opts.empty()) continue;  // nothing to select in an empty list
        fail("Item " + std::to_string(i) + " does not exist in the field \"" + name_ + "\"");
      }
      sel.push_back(opts[static_cast<size_t>(i)].second);
    }
    if (sel.empty())
      form::clearValue(*doc_, a.t);
    else
      form::setValues(*doc_, a.t, sel);
  }

  // ---- Properties of the widgets ----
  Variant getRect(const At& a) {
    fz_rect r{};
    pdf_obj* ro = po::get(a.w, PDF_NAME(Rect));
    mu::guard("Reading the field's rectangle", [&](fz_context* c) { r = pdf_to_rect(c, ro); });
    return js::rectValue(r);
  }
  void setRect(const At& a, const Variant& v) {
    po::putRect(a.w, PDF_NAME(Rect), js::rectArg(v));
    // The appearance no longer fits the box; viewers redraw it.
    if (!form::hasOnState(a.k)) po::del(a.w, PDF_NAME(AP));
  }
  Variant getColour(const At& a) { return js::colourValue(js::numbers(po::get(mk(a.w, false), po::key(a.prop.key)))); }
  void setColour(const At& a, const Variant& v) {
    js::Colour c = js::colourArg(v);
    if (c.comps.empty()) return po::del(mk(a.w, true), po::key(a.prop.key));
    po::putReals(mk(a.w, true), po::key(a.prop.key), c.comps);
  }
  Variant getBorderStyle(const At& a) { return Variant(shownAs(po::name(po::path(a.w, "BS/S")), kBorder, "solid")); }
  void setBorderStyle(const At& a, const Variant& v) {
    po::putName(po::putDict(a.w, PDF_NAME(BS)), PDF_NAME(S), nameOf(v, kBorder, "border style"));
  }
  Variant getLineWidth(const At& a) {
    pdf_obj* wd = po::path(a.w, "BS/W");
    return Variant(int32_t(wd ? std::lround(po::num(wd)) : 1));
  }
  void setLineWidth(const At& a, const Variant& v) {
    double lw = CDbl(v);
    if (lw < 0 || lw > 100) fail("A line width lies between 0 and 100");
    po::putReal(po::putDict(a.w, PDF_NAME(BS)), PDF_NAME(W), lw);
  }
  Variant getDisplay(const At& a) {
    int fl = form::widgetFlags(a.w);
    if (fl & form::af::Hidden) return Variant(int32_t(1));
    if (fl & form::af::NoView) return Variant(int32_t(3));
    if (!(fl & form::af::Print)) return Variant(int32_t(2));
    return Variant(int32_t(0));
  }
  void setDisplay(const At& a, const Variant& v) {
    int dsp = CLng(v);
    if (dsp < 0 || dsp > 3) fail("A display value is 0 (visible), 1 (hidden), 2 (no print) or 3 (no view)");
    // The widget flags of each display value.
    static constexpr int shown[] = {form::af::Print, form::af::Hidden, 0, form::af::NoView | form::af::Print};
    int fl = form::widgetFlags(a.w) & ~(form::af::Hidden | form::af::Print | form::af::NoView);
    po::putInt(a.w, PDF_NAME(F), fl | shown[dsp]);
  }
  Variant getRotation(const At& a) { return Variant(int32_t(po::integer(po::get(mk(a.w, false), PDF_NAME(R))))); }
  void setRotation(const At& a, const Variant& v) {
    int r = CLng(v);
    if (r % 90 != 0) fail("A field rotation is 0, 90, 180 or 270");
    po::putInt(mk(a.w, true), PDF_NAME(R), ((r % 360) + 360) % 360);
  }
  Variant getStyle(const At& a) {
    return Variant(shownAs(po::text(po::get(mk(a.w, false), PDF_NAME(CA))), kGlyph, "check"));
  }
  void setStyle(const At& a, const Variant& v) {
    std::string s = nameOf(v, kGlyph, "glyph style");
    std::string style = shownAs(s, kGlyph, "");
    if (form::hasOnState(a.k)) {
      std::vector<std::string> st = form::onStates(a.t);
      std::vector<pdf_obj*> tw = form::widgets(a.t);
      for (size_t i = 0; i < tw.size(); ++i)
        if (tw[i] == a.w || po::same(tw[i], a.w)) {
          std::string as = po::name(po::get(a.w, PDF_NAME(AS)));
          form::drawCheck(*doc_, a.w, st[i].empty() ? "Yes" : st[i], style);
          po::putName(a.w, PDF_NAME(AS), as.empty() ? "Off" : as);
        }
    }
    po::putText(mk(a.w, true), PDF_NAME(CA), s);
  }
  Variant getHighlight(const At& a) {
    return Variant(shownAs(po::name(po::get(a.w, PDF_NAME(H))), kHighlight, "invert"));
  }
  void setHighlight(const At& a, const Variant& v) {
    po::putName(a.w, PDF_NAME(H), nameOf(v, kHighlight, "highlight mode"));
  }
  // The icon fit of a button's widget (made on the way when write).
  pdf_obj* iconFit(pdf_obj* w, bool write) {
    return write ? po::putDict(mk(w, true), po::key("IF")) : po::get(mk(w, false), po::key("IF"));
  }
  Variant getButtonAlign(const At& a) {
    pdf_obj* al = po::get(iconFit(a.w, false), PDF_NAME(A));
    return Variant(int32_t(po::len(al) == 2 ? std::lround(po::num(po::at(al, a.prop.index)) * 100) : 50));
  }
  void setButtonAlign(const At& a, const Variant& v) {
    pdf_obj* iff = iconFit(a.w, true);
    std::vector<double> al = js::numbers(po::get(iff, PDF_NAME(A)));
    if (al.size() != 2) al = {0.5, 0.5};
    double x = CDbl(v);
    if (x < 0 || x > 100) fail("A button alignment lies between 0 and 100");
    al[size_t(a.prop.index)] = x / 100;
    po::putReals(iff, PDF_NAME(A), al);
  }
  Variant getButtonFitBounds(const At& a) {
    pdf_obj* fb = po::get(iconFit(a.w, false), po::key("FB"));
    int b = 0;
    mu::guard("Reading the button", [&](fz_context* c) { b = pdf_to_bool(c, fb); });
    return Variant(b != 0);
  }
  void setButtonFitBounds(const At& a, const Variant& v) { po::putBool(iconFit(a.w, true), po::key("FB"), CBool(v)); }
  Variant getButtonPosition(const At& a) {
    return Variant(int32_t(po::integer(po::get(mk(a.w, false), po::key("TP")))));
  }
  void setButtonPosition(const At& a, const Variant& v) {
    int p = CLng(v);
    if (p < 0 || p > 6) fail("A button layout lies between 0 and 6");
    po::putInt(mk(a.w, true), po::key("TP"), p);
  }
  // How and when a button's icon is scaled, by number.
  static constexpr const char* kScaleHow[] = {"P", "A"};
  static constexpr const char* kScaleWhen[] = {"A", "N", "B", "S"};
  Variant getButtonScaleHow(const At& a) {
    return Variant(indexIn(kScaleHow, po::name(po::get(iconFit(a.w, false), PDF_NAME(S))), 0));
  }
  void setButtonScaleHow(const At& a, const Variant& v) {
    po::putName(iconFit(a.w, true), PDF_NAME(S), kScaleHow[CLng(v) == 1 ? 1 : 0]);
  }
  Variant getButtonScaleWhen(const At& a) {
    return Variant(indexIn(kScaleWhen, po::name(po::get(iconFit(a.w, false), po::key("SW"))), 0));
  }
  void setButtonScaleWhen(const At& a, const Variant& v) {
    int i = CLng(v);
    if (i < 0 || i > 3) fail("A button scaling choice lies between 0 and 3");
    po::putName(iconFit(a.w, true), po::key("SW"), kScaleWhen[i]);
  }

  // The name a table shows for a PDF name; fallback when it has none.
  template <size_t N>
  static std::string shownAs(const std::string& pdfName, const char* (&table)[N][2], const char* fallback) {
    for (auto& row : table)
      if (pdfName == row[1]) return row[0];
    return fallback;
  }

  // The PDF name of a value given by its position or its name in a table.
  template <size_t N>
  static std::string nameOf(const Variant& v, const char* (&table)[N][2], const char* what) {
    int i = v.isNumeric() ? CLng(v) : -1;
    std::string s = v.isNumeric() ? std::string() : LCase(CStr(v));
    std::string known;
    for (size_t k = 0; k < N; ++k) {
      if (int(k) == i || s == table[k][0]) return table[k][1];
      known += std::string(known.empty() ? "" : ", ") + table[k][0];
    }
    fail("\"" + CStr(v) + "\" is not a " + what + " (" + known + ")");
  }

  // ---- Items of list and combo boxes ----
  Variant setItems(Frame& f) {
    requireKind({"combobox", "listbox"}, "setItems");
    std::vector<std::pair<std::string, std::string>> opts;
    for (auto& e : js::items(f["oArray"])) {
      if (e.isArray()) {
        auto pair = e.array().data();
        if (pair.empty()) continue;
        std::string shown = CStr(pair[0]);
        opts.emplace_back(shown, pair.size() > 1 ? CStr(pair[1]) : shown);
      } else {
        opts.emplace_back(CStr(e), CStr(e));
      }
    }
    form::setOptions(*doc_, terminal(), opts);
    return {};
  }
  Variant getItemAt(Frame& f) {
    requireKind({"combobox", "listbox"}, "getItemAt");
    auto opts = form::options(terminal());
    int i = CLng(f["nIdx"]);
    if (i < 0 || static_cast<size_t>(i) >= opts.size())
      fail("Item " + std::to_string(i) + " does not exist in the field \"" + name_ + "\", which has " +
           std::to_string(opts.size()) + " items");
    return Variant(CBool(f["bExportValue"]) ? opts[static_cast<size_t>(i)].second : opts[static_cast<size_t>(i)].first);
  }
  Variant insertItemAt(Frame& f) {
    requireKind({"combobox", "listbox"}, "insertItemAt");
    pdf_obj* t = terminal();
    auto opts = form::options(t);
    std::string shown = CStr(f["cName"]);
    std::string exp = f["cExport"].isMissing() ? shown : CStr(f["cExport"]);
    int i = CLng(f["nIdx"]);
    // -1, or a position past the end, appends.
    size_t at = (i < 0 || static_cast<size_t>(i) > opts.size()) ? opts.size() : static_cast<size_t>(i);
    opts.insert(opts.begin() + static_cast<long>(at), {shown, exp});
    form::setOptions(*doc_, t, opts);
    return {};
  }
  Variant deleteItemAt(Frame& f) {
    requireKind({"combobox", "listbox"}, "deleteItemAt");
    pdf_obj* t = terminal();
    auto opts = form::options(t);
    int i = -1;
    if (f["nIdx"].isMissing()) {
      // Without an index the selected item goes.
      std::string v = form::value(t);
      for (size_t k = 0; k < opts.size(); ++k)
        if (opts[k].second == v) i = static_cast<int>(k);
      if (i < 0) fail("The field \"" + name_ + "\" has no selected item to delete");
    } else {
      i = CLng(f["nIdx"]);
    }
    if (i < 0 || static_cast<size_t>(i) >= opts.size())
      fail("Item " + std::to_string(i) + " does not exist in the field \"" + name_ + "\"");
    std::string gone = opts[static_cast<size_t>(i)].second;
    opts.erase(opts.begin() + i);
    form::setOptions(*doc_, t, opts);
    if (form::value(t) == gone) form::clearValue(*doc_, t);
    return {};
  }
  Variant clearItems(Frame&) {
    requireKind({"combobox", "listbox"}, "clearItems");
    pdf_obj* t = terminal();
    form::setOptions(*doc_, t, {});
    form::clearValue(*doc_, t);
    return {};
  }

  // ---- Actions ----
  Variant setAction(Frame& f) {
    std::string trig = CStr(f["cTrigger"]);
    std::string script = CStr(f["cScript"]);
    const Trigger* tr = nullptr;
    for (const Trigger& x : kTriggers)
      if (LCase(x.name) == LCase(trig)) tr = &x;
    if (!tr)
      fail("Unknown field trigger \"" + trig +
           "\" (MouseUp, MouseDown, MouseEnter, MouseExit, OnFocus, OnBlur, Keystroke, Validate, Calculate or Format)");
    pdf_document* doc = doc_->pdf();
    std::vector<pdf_obj*> targets = tr->widget ? allWidgets() : form::terminals(field());
    for (pdf_obj* o : targets) {
      pdf_obj* aa = po::putDict(o, PDF_NAME(AA));
      if (Trim(script).empty()) {
        // An empty script leaves nothing to run.
        mu::guard("Changing the field's action", [&](fz_context* c) { pdf_dict_dels(c, aa, tr->key); });
      } else {
        mu::ObjPtr a = po::newScriptAction(doc, script);
        pdf_obj* ao = a.get();
        mu::guard("Changing the field's action", [&](fz_context* c) { pdf_dict_puts(c, aa, tr->key, ao); });
      }
    }
    if (std::string(tr->key) == "C" && !Trim(script).empty()) {
      // Calculated fields are listed in the form's calculation order.
      pdf_obj* co = po::putArray(form::acroForm(*doc_, true), po::key("CO"));
      for (pdf_obj* t : form::terminals(field())) {
        po::removeAll(co, t);
        po::push(co, t);
      }
    }
    changed();
    return {};
  }

  // ---- Buttons ----
  static pdf_obj* faceKey(const Variant& v) {
    int face = CLng(v);
    if (face < 0 || face > 2) fail("A button face is 0 (normal), 1 (down) or 2 (rollover)");
    return face == 0 ? PDF_NAME(CA) : face == 1 ? PDF_NAME(RC) : PDF_NAME(AC);
  }
  Variant buttonSetCaption(Frame& f) {
    requireKind({"button"}, "A caption");
    pdf_obj* key = faceKey(f["nFace"]);
    for (pdf_obj* w : allWidgets()) {
      po::putText(mk(w, true), key, CStr(f["cCaption"]));
      po::del(w, PDF_NAME(AP));
    }
    form::redraw(*doc_, field());
    changed();
    return {};
  }
  Variant buttonGetCaption(Frame& f) {
    requireKind({"button"}, "A caption");
    return Variant(po::text(po::get(mk(firstWidget(), false), faceKey(f["nFace"]))));
  }
  pdf_obj* widgetAt(const Variant& v) {
    requireKind({"checkbox", "radiobutton"}, "Checking a box");
    std::vector<pdf_obj*> ws = form::widgets(terminal());
    int i = CLng(v);
    if (i < 0 || static_cast<size_t>(i) >= ws.size())
      fail("Widget " + std::to_string(i) + " does not exist in the field \"" + name_ + "\", which has " +
           std::to_string(ws.size()));
    return ws[static_cast<size_t>(i)];
  }
  std::string stateAt(const Variant& v) {
    widgetAt(v);
    std::string s = form::onStates(terminal())[static_cast<size_t>(CLng(v))];
    if (s.empty()) fail("Widget " + CStr(v) + " of the field \"" + name_ + "\" has no on state");
    return s;
  }
  Variant checkThisBox(Frame& f) {
    std::string s = stateAt(f["nWidget"]);
    bool on = CBool(f["bCheckIt"]);
    if (!on && kind() == "radiobutton" && form::value(terminal()) == s &&
        (form::fieldFlags(terminal()) & form::ff::NoToggleToOff))
      fail("A radio button cannot be unchecked; check another one instead");
    if (on)
      form::setValue(*doc_, terminal(), s);
    else if (form::value(terminal()) == s)
      form::setValue(*doc_, terminal(), "Off");
    return {};
  }
  Variant isBoxChecked(Frame& f) {
    pdf_obj* w = widgetAt(f["nWidget"]);
    std::string as = po::name(po::get(w, PDF_NAME(AS)));
    return Variant(!as.empty() && as != "Off");
  }
  Variant isDefaultChecked(Frame& f) {
    std::string s = stateAt(f["nWidget"]);
    return Variant(po::name(po::inherited(terminal(), PDF_NAME(DV))) == s);
  }
  Variant defaultIsChecked(Frame& f) {
    std::string s = stateAt(f["nWidget"]);
    pdf_obj* t = terminal();
    if (CBool(f["bIsDefaultChecked"]))
      po::putName(t, PDF_NAME(DV), s);
    else if (po::name(po::inherited(t, PDF_NAME(DV))) == s)
      po::putName(t, PDF_NAME(DV), "Off");
    changed();
    return {};
  }
  Variant getArray(Frame&) {
    std::vector<Variant> out;
    for (pdf_obj* t : form::terminals(field())) out.emplace_back(makeField(doc_, form::fullName(t)));
    return Variant(Array::vector(std::move(out)));
  }
  // Signs with the identity of a logged-in security handler and saves the
  // document (to cDIPath when given), as signing always writes the file.
  Variant signatureSign(Frame& f) {
    requireKind({"signature"}, "Signing");
    auto* handler = f["oSig"].isObject() ? dynamic_cast<SecurityHandler*>(f["oSig"].asObject().get()) : nullptr;
    if (!handler) fail("Signing needs the security handler of security.getHandler(\"Adobe.PPKLite\")");
    if (!handler->credentials()) fail("Log in to the security handler before signing");
    if (signatureState(*doc_, terminal()).status != 0) fail("The field \"" + name_ + "\" is already signed");
    signField(*doc_, terminal(), handler->credentials(), js::textArg(f["cDIPath"]));
    return Variant(true);
  }
  Variant signatureValidate(Frame&) {
    requireKind({"signature"}, "Validating a signature");
    return Variant(int32_t(signatureState(*doc_, terminal()).status));
  }
  Variant buttonImportIcon(Frame&) { notSupported("Importing a button icon"); }

  std::shared_ptr<Doc> doc_;
  std::string name_;
  bool delay_ = false;
};

std::span<const FieldObject::Prop> FieldObject::props() {
  using F = FieldObject;
  constexpr Scope O = Scope::Object, T = Scope::Field, W = Scope::Widget;
  // The writable properties first, then the read-only ones: the order in
  // which the members are listed.
  static const Prop table[] = {
      {"value", T, &F::getValue, &F::setValue},
      {"rect", W, &F::getRect, &F::setRect},
      {"textFont", T, &F::getTextFont, &F::setTextFont},
      {"textSize", T, &F::getTextSize, &F::setTextSize},
      {"textColor", T, &F::getTextColor, &F::setTextColor},
      {"fillColor", W, &F::getColour, &F::setColour, "BG"},
      {"strokeColor", W, &F::getColour, &F::setColour, "BC"},
      {"borderColor", W, &F::getColour, &F::setColour, "BC"},
      {"bgColor", W, &F::getColour, &F::setColour, "BG"},
      {"fgColor", T, &F::getTextColor, &F::setTextColor},
      {"borderStyle", W, &F::getBorderStyle, &F::setBorderStyle},
      {"lineWidth", W, &F::getLineWidth, &F::setLineWidth},
      {"borderWidth", W, &F::getLineWidth, &F::setLineWidth},
      {"alignment", T, &F::getAlignment, &F::setAlignment},
      {"display", W, &F::getDisplay, &F::setDisplay},
      {"charLimit", T, &F::getCharLimit, &F::setCharLimit},
      {"defaultValue", T, &F::getDefaultValue, &F::setDefaultValue},
      {"exportValues", T, &F::getExportValues, &F::setExportValues},
      {"userName", T, &F::getText, &F::setText, "TU"},
      {"submitName", T, &F::getText, &F::setText, "TM"},
      {"rotation", W, &F::getRotation, &F::setRotation},
      {"style", W, &F::getStyle, &F::setStyle},
      {"highlight", W, &F::getHighlight, &F::setHighlight},
      {"buttonAlignX", W, &F::getButtonAlign, &F::setButtonAlign, nullptr, 0},
      {"buttonAlignY", W, &F::getButtonAlign, &F::setButtonAlign, nullptr, 1},
      {"buttonFitBounds", W, &F::getButtonFitBounds, &F::setButtonFitBounds},
      {"buttonPosition", W, &F::getButtonPosition, &F::setButtonPosition},
      {"buttonScaleHow", W, &F::getButtonScaleHow, &F::setButtonScaleHow},
      {"buttonScaleWhen", W, &F::getButtonScaleWhen, &F::setButtonScaleWhen},
      {"calcOrderIndex", T, &F::getCalcOrderIndex, &F::setCalcOrderIndex},
      {"currentValueIndices", T, &F::getCurrentValueIndices, &F::setCurrentValueIndices},
      {"delay", O, &F::getDelay, &F::setDelay},
      // Flags read and written on their own, without the field's terminals.
      {"readonly", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::ReadOnly},
      {"required", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::Required},
      {"multiline", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::Multiline},
      {"password", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::Password},
      {"fileSelect", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::FileSelect},
      {"doNotSpellCheck", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::DoNotSpellCheck},
      {"doNotScroll", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::DoNotScroll},
      {"comb", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::Comb},
      {"editable", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::Edit},
      {"multipleSelection", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::MultiSelect},
      {"commitOnSelChange", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::CommitOnSelChange},
      {"radiosInUnison", O, &F::getFieldFlag, &F::setFieldFlag, nullptr, form::ff::RadiosInUnison},
      {"hidden", O, &F::getWidgetFlag, &F::setWidgetFlag, nullptr, form::af::Hidden},
      {"print", O, &F::getWidgetFlag, &F::setWidgetFlag, nullptr, form::af::Print},
      {"name", O, &F::getName, nullptr},
      {"type", T, &F::getType, nullptr},
      {"valueAsString", T, &F::getValue, nullptr, nullptr, 1},
      {"page", O, &F::getPage, nullptr},
      {"numItems", T, &F::getNumItems, nullptr},
      {"signatureInfo", T, &F::getSignatureInfo, nullptr}};
  return table;
}

}  // namespace

ObjectRef makeField(std::shared_ptr<Doc> d, std::string fullName) {
  return std::make_shared<FieldObject>(std::move(d), std::move(fullName));
}

}  // namespace pm::pdf
