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

struct FlagProp {
  const char* name;
  bool field;  // a field flag (Ff) rather than a widget flag (F)
  int bit;
};
constexpr FlagProp kFlags[] = {
    {"readonly", true, form::ff::ReadOnly},
    {"required", true, form::ff::Required},
    {"multiline", true, form::ff::Multiline},
    {"password", true, form::ff::Password},
    {"fileSelect", true, form::ff::FileSelect},
    {"doNotSpellCheck", true, form::ff::DoNotSpellCheck},
    {"doNotScroll", true, form::ff::DoNotScroll},
    {"comb", true, form::ff::Comb},
    {"editable", true, form::ff::Edit},
    {"multipleSelection", true, form::ff::MultiSelect},
    {"commitOnSelChange", true, form::ff::CommitOnSelChange},
    {"radiosInUnison", true, form::ff::RadiosInUnison},
    {"hidden", false, form::af::Hidden},
    {"print", false, form::af::Print},
};

const char* kBorder[][2] = {{"solid", "S"}, {"beveled", "B"}, {"dashed", "D"}, {"inset", "I"}, {"underline", "U"}};
const char* kHighlight[][2] = {{"none", "N"}, {"invert", "I"}, {"push", "P"}, {"outline", "O"}};
const char* kAlign[] = {"left", "center", "right"};
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

// The signature information snapshot.
class SignatureInfo : public Dispatch {
 public:
  explicit SignatureInfo(SignatureState s) : s_(std::move(s)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("SignatureInfo");
      Members<SignatureInfo> m(t);
      m.get("status", {}, &SignatureInfo::status);
      m.get("name", {}, &SignatureInfo::name);
      m.get("statusText", {}, &SignatureInfo::statusText);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "SignatureInfo"; }

 private:
  Variant status(Frame&) { return Variant(int32_t(s_.status)); }
  Variant name(Frame&) { return Variant(s_.signer); }
  Variant statusText(Frame&) { return Variant(s_.description); }
  SignatureState s_;
};

class FieldObject : public Dispatch {
 public:
  FieldObject(std::shared_ptr<Doc> d, std::string n) : doc_(std::move(d)), name_(std::move(n)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("Field");
      Members<FieldObject> m(t);
      for (const char* k : {"value",
                            "rect",
                            "textFont",
                            "textSize",
                            "textColor",
                            "fillColor",
                            "strokeColor",
                            "borderColor",
                            "bgColor",
                            "fgColor",
                            "borderStyle",
                            "lineWidth",
                            "borderWidth",
                            "alignment",
                            "display",
                            "charLimit",
                            "defaultValue",
                            "exportValues",
                            "userName",
                            "submitName",
                            "rotation",
                            "style",
                            "highlight",
                            "buttonAlignX",
                            "buttonAlignY",
                            "buttonFitBounds",
                            "buttonPosition",
                            "buttonScaleHow",
                            "buttonScaleWhen",
                            "calcOrderIndex",
                            "currentValueIndices",
                            "delay"}) {
        m.get(k, {}, &FieldObject::getProp);
        m.let(k, {P("v")}, &FieldObject::letProp);
      }
      for (const FlagProp& f : kFlags) {
        m.get(f.name, {}, &FieldObject::getFlag);
        m.let(f.name, {P("v")}, &FieldObject::letFlag);
      }
      for (const char* k : {"name", "type", "valueAsString", "page", "numItems", "signatureInfo"})
        m.get(k, {}, &FieldObject::getProp);
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

  Variant getFlag(Frame& f) {
    std::string n = LCase(f.member().name);
    for (const FlagProp& p : kFlags)
      if (LCase(p.name) == n) {
        if (p.field) return Variant((form::fieldFlags(terminal()) & p.bit) != 0);
        return Variant((form::widgetFlags(firstWidget()) & p.bit) != 0);
      }
    return {};
  }
  Variant letFlag(Frame& f) {
    std::string n = LCase(f.member().name);
    bool on = CBool(f["v"]);
    for (const FlagProp& p : kFlags)
      if (LCase(p.name) == n) {
        if (p.field) {
          for (pdf_obj* t : form::terminals(field())) form::setFieldFlag(t, p.bit, on);
          // Lines, comb cells and hidden characters change what is drawn.
          if (p.bit & (form::ff::Multiline | form::ff::Comb | form::ff::Password)) form::redraw(*doc_, field());
        } else {
          for (pdf_obj* w : allWidgets()) form::setWidgetFlag(w, p.bit, on);
        }
      }
    changed();
    return {};
  }

  Variant getProp(Frame& f) {
    std::string n = LCase(f.member().name);
    if (n == "name") return Variant(form::fullName(field()));
    if (n == "delay") return Variant(delay_);
    pdf_obj* t = terminal();
    std::string k = form::kind(t);
    if (n == "type") return Variant(k);
    if (n == "value" || n == "valueasstring") {
      if (n == "value" && k == "listbox" && (form::fieldFlags(t) & form::ff::MultiSelect)) {
        auto vs = form::values(t);
        if (vs.size() > 1) {
          std::vector<Variant> out(vs.begin(), vs.end());
          return Variant(Array::vector(std::move(out)));
        }
      }
      return Variant(form::value(t));
    }
    if (n == "page") {
      std::vector<Variant> pages;
      pdf_document* doc = doc_->pdf();
      for (pdf_obj* w : allWidgets()) {
        int p = po::pageNumberOf(doc, po::get(w, PDF_NAME(P)));
        if (p < 0) {
          int cnt = doc_->pageCount();
          for (int i = 0; i < cnt && p < 0; ++i)
            for (int a = 0; a < po::len(po::get(po::pageObj(doc, i), PDF_NAME(Annots))); ++a)
              if (po::same(po::at(po::get(po::pageObj(doc, i), PDF_NAME(Annots)), a), w)) p = i;
        }
        pages.emplace_back(int32_t(p));
      }
      if (pages.size() == 1) return pages[0];
      return Variant(Array::vector(std::move(pages)));
    }
    if (n == "numitems") return Variant(int32_t(form::options(t).size()));
    if (n == "signatureinfo") {
      if (k != "signature") fail("The field \"" + name_ + "\" is not a signature field");
      return Variant(ObjectRef(std::make_shared<SignatureInfo>(signatureState(*doc_, t))));
    }
    if (n == "textfont") return Variant(form::baseFont(*doc_, form::appearance(t).font));
    if (n == "textsize") return Variant(form::appearance(t).size);
    if (n == "textcolor" || n == "fgcolor") return js::colourValue(form::appearance(t).colour);
    if (n == "defaultvalue") {
      pdf_obj* dv = po::inherited(t, PDF_NAME(DV));
      return Variant(po::text(dv));
    }
    if (n == "alignment") {
      int q = po::integer(po::inherited(t, PDF_NAME(Q)));
      return Variant(kAlign[q >= 0 && q <= 2 ? q : 0]);
    }
    if (n == "charlimit") return Variant(int32_t(po::integer(po::inherited(t, PDF_NAME(MaxLen)))));
    if (n == "username") return Variant(po::text(po::inherited(t, PDF_NAME(TU))));
    if (n == "submitname") return Variant(po::text(po::inherited(t, po::key("TM"))));
    if (n == "exportvalues") {
      std::vector<Variant> out;
      if (k == "checkbox" || k == "radiobutton")
        for (auto& s : form::onStates(t)) out.emplace_back(s);
      else
        for (auto& [shown, exp] : form::options(t)) out.emplace_back(exp);
      return Variant(Array::vector(std::move(out)));
    }
    if (n == "calcorderindex") {
      pdf_obj* co = po::get(form::acroForm(*doc_, false), po::key("CO"));
      for (int i = 0; i < po::len(co); ++i)
        if (po::same(po::at(co, i), t)) return Variant(int32_t(i));
      return Variant(int32_t(-1));
    }
    if (n == "currentvalueindices") {
      auto opts = form::options(t);
      std::vector<Variant> idx;
      for (auto& v : form::values(t))
        for (size_t i = 0; i < opts.size(); ++i)
          if (opts[i].second == v) {
            idx.emplace_back(int32_t(i));
            break;
          }
      if (idx.size() == 1) return idx[0];
      if (idx.empty()) return Variant(int32_t(-1));
      return Variant(Array::vector(std::move(idx)));
    }
    // Widget entries: read from the first widget.
    pdf_obj* w = firstWidget();
    if (n == "rect") {
      fz_rect r{};
      pdf_obj* ro = po::get(w, PDF_NAME(Rect));
      mu::guard("Reading the field's rectangle", [&](fz_context* c) { r = pdf_to_rect(c, ro); });
      return js::rectValue(r);
    }
    if (n == "fillcolor" || n == "bgcolor") return js::colourValue(js::numbers(po::get(mk(w, false), PDF_NAME(BG))));
    if (n == "strokecolor" || n == "bordercolor")
      return js::colourValue(js::numbers(po::get(mk(w, false), PDF_NAME(BC))));
    if (n == "borderstyle") {
      std::string s = po::name(po::path(w, "BS/S"));
      for (auto& b : kBorder)
        if (s == b[1]) return Variant(b[0]);
      return Variant("solid");
    }
    if (n == "linewidth" || n == "borderwidth") {
      pdf_obj* wd = po::path(w, "BS/W");
      return Variant(int32_t(wd ? std::lround(po::num(wd)) : 1));
    }
    if (n == "display") {
      int fl = form::widgetFlags(w);
      if (fl & form::af::Hidden) return Variant(int32_t(1));
      if (fl & form::af::NoView) return Variant(int32_t(3));
      if (!(fl & form::af::Print)) return Variant(int32_t(2));
      return Variant(int32_t(0));
    }
    if (n == "rotation") return Variant(int32_t(po::integer(po::get(mk(w, false), PDF_NAME(R)))));
    if (n == "style") {
      std::string ca = po::text(po::get(mk(w, false), PDF_NAME(CA)));
      for (auto& g : kGlyph)
        if (ca == g[1]) return Variant(g[0]);
      return Variant("check");
    }
    if (n == "highlight") {
      std::string h = po::name(po::get(w, PDF_NAME(H)));
      for (auto& x : kHighlight)
        if (h == x[1]) return Variant(x[0]);
      return Variant("invert");
    }
    pdf_obj* iff = po::get(mk(w, false), po::key("IF"));
    if (n == "buttonalignx" || n == "buttonaligny") {
      pdf_obj* a = po::get(iff, PDF_NAME(A));
      int i = n == "buttonalignx" ? 0 : 1;
      return Variant(int32_t(po::len(a) == 2 ? std::lround(po::num(po::at(a, i)) * 100) : 50));
    }
    if (n == "buttonfitbounds") {
      pdf_obj* fb = po::get(iff, po::key("FB"));
      int b = 0;
      mu::guard("Reading the button", [&](fz_context* c) { b = pdf_to_bool(c, fb); });
      return Variant(b != 0);
    }
    if (n == "buttonposition") return Variant(int32_t(po::integer(po::get(mk(w, false), po::key("TP")))));
    if (n == "buttonscalehow") return Variant(int32_t(po::name(po::get(iff, PDF_NAME(S))) == "A" ? 1 : 0));
    if (n == "buttonscalewhen") {
      std::string s = po::name(po::get(iff, po::key("SW")));
      return Variant(int32_t(s == "N" ? 1 : s == "B" ? 2 : s == "S" ? 3 : 0));
    }
    fail("The field property " + std::string(f.member().name) + " cannot be read");
  }

  static std::string nameOf(const Variant& v, const char* table[][2], size_t n, const char* what) {
    if (v.isNumeric()) {
      int i = CLng(v);
      if (i >= 0 && static_cast<size_t>(i) < n) return table[i][1];
    } else {
      std::string s = LCase(CStr(v));
      for (size_t i = 0; i < n; ++i)
        if (s == table[i][0]) return table[i][1];
    }
    std::string known;
    for (size_t i = 0; i < n; ++i) known += std::string(known.empty() ? "" : ", ") + table[i][0];
    fail("\"" + CStr(v) + "\" is not a " + what + " (" + known + ")");
  }

  Variant letProp(Frame& f) {
    std::string n = LCase(f.member().name);
    const Variant& v = f["v"];
    if (n == "delay") {
      delay_ = CBool(v);
      return {};
    }
    pdf_obj* fld = field();
    std::vector<pdf_obj*> terms = form::terminals(fld);
    pdf_obj* t = terms.empty() ? fld : terms.front();
    std::string k = form::kind(t);
    pdf_document* doc = doc_->pdf();
    if (n == "value") {
      for (pdf_obj* x : terms) {
        if (v.isEmpty() || v.isNull() || (v.isObject() && !v.asObject()))
          form::clearValue(*doc_, x);
        else if (v.isArray()) {
          std::vector<std::string> s;
          for (auto& e : v.array().data()) s.push_back(CStr(e));
          form::setValues(*doc_, x, s);
        } else
          form::setValue(*doc_, x, CStr(v));
      }
      return {};
    }
    if (n == "textfont" || n == "textsize" || n == "textcolor" || n == "fgcolor") {
      for (pdf_obj* x : terms) {
        form::Appearance a = form::appearance(x);
        if (n == "textfont")
          a.font = form::fontResource(*doc_, CStr(v));
        else if (n == "textsize") {
          double s = CDbl(v);
          if (s < 0 || s > 32767) fail("A text size lies between 0 (automatic) and 32767");
          a.size = s;
        } else {
          a.colour = js::colourArg(v).comps;
        }
        form::setAppearance(*doc_, x, a);
      }
      return {};
    }
    if (n == "defaultvalue") {
      for (pdf_obj* x : terms) {
        std::string s = CStr(v);
        if (k == "checkbox" || k == "radiobutton")
          po::putName(x, PDF_NAME(DV), s);
        else
          po::putText(x, PDF_NAME(DV), s);
      }
      changed();
      return {};
    }
    if (n == "alignment") {
      std::string s = v.isNumeric() ? std::string(kAlign[std::clamp(CLng(v), 0, 2)]) : LCase(CStr(v));
      int q = s == "left" ? 0 : s == "center" ? 1 : s == "right" ? 2 : -1;
      if (q < 0) fail("\"" + CStr(v) + "\" is not an alignment (left, center or right)");
      for (pdf_obj* x : terms) po::putInt(x, PDF_NAME(Q), q);
      form::redraw(*doc_, fld);
      changed();
      return {};
    }
    if (n == "charlimit") {
      int c = CLng(v);
      if (c < 0) fail("A character limit is not negative");
      for (pdf_obj* x : terms) {
        if (c == 0)
          po::del(x, PDF_NAME(MaxLen));
        else
          po::putInt(x, PDF_NAME(MaxLen), c);
      }
      if (form::fieldFlags(t) & form::ff::Comb) form::redraw(*doc_, fld);
      changed();
      return {};
    }
    if (n == "username" || n == "submitname") {
      for (pdf_obj* x : terms) po::putText(x, n == "username" ? PDF_NAME(TU) : po::key("TM"), CStr(v));
      changed();
      return {};
    }
    if (n == "exportvalues") {
      std::vector<Variant> ev = js::items(v);
      if (k == "checkbox" || k == "radiobutton") {
        for (pdf_obj* x : terms) {
          std::vector<pdf_obj*> ws = form::widgets(x);
          std::string was = form::value(x);
          std::vector<std::string> old = form::onStates(x);
          for (size_t i = 0; i < ws.size() && i < ev.size(); ++i) {
            std::string s = CStr(ev[i]);
            form::setOnState(*doc_, ws[i], s);
            if (old[i] == was) po::putName(x, PDF_NAME(V), s);
          }
        }
      } else if (k == "combobox" || k == "listbox") {
        for (pdf_obj* x : terms) {
          auto opts = form::options(x);
          for (size_t i = 0; i < opts.size() && i < ev.size(); ++i) opts[i].second = CStr(ev[i]);
          form::setOptions(*doc_, x, opts);
        }
      } else {
        fail("Export values do not apply to the " + k + " field \"" + name_ + "\"");
      }
      changed();
      return {};
    }
    if (n == "calcorderindex") {
      int idx = CLng(v);
      // Only calculated fields take part in the calculation order; for the
      // others there is nothing to order.
      if (!po::path(t, "AA/C")) return {};
      pdf_obj* form = form::acroForm(*doc_, true);
      pdf_obj* co = po::putArray(form, po::key("CO"));
      po::removeAll(co, t);
      int len = po::len(co);
      po::insert(co, t, std::clamp(idx, 0, len));
      changed();
      return {};
    }
    if (n == "currentvalueindices") {
      auto opts = form::options(t);
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
        form::clearValue(*doc_, t);
      else
        form::setValues(*doc_, t, sel);
      return {};
    }
    // Widget entries: written on every widget of the field.
    std::vector<pdf_obj*> ws = allWidgets();
    if (ws.empty()) fail("The field \"" + name_ + "\" has no widget on a page");
    for (pdf_obj* w : ws) {
      if (n == "rect") {
        fz_rect r = js::rectArg(v);
        po::putRect(w, PDF_NAME(Rect), r);
        // The appearance no longer fits the box; viewers redraw it.
        if (k != "checkbox" && k != "radiobutton") po::del(w, PDF_NAME(AP));
      } else if (n == "fillcolor" || n == "bgcolor" || n == "strokecolor" || n == "bordercolor") {
        js::Colour c = js::colourArg(v);
        pdf_obj* key = (n == "fillcolor" || n == "bgcolor") ? PDF_NAME(BG) : PDF_NAME(BC);
        if (c.comps.empty())
          po::del(mk(w, true), key);
        else
          po::putReals(mk(w, true), key, c.comps);
      } else if (n == "borderstyle") {
        po::putName(po::putDict(w, PDF_NAME(BS)), PDF_NAME(S), nameOf(v, kBorder, 5, "border style"));
      } else if (n == "linewidth" || n == "borderwidth") {
        double lw = CDbl(v);
        if (lw < 0 || lw > 100) fail("A line width lies between 0 and 100");
        po::putReal(po::putDict(w, PDF_NAME(BS)), PDF_NAME(W), lw);
      } else if (n == "display") {
        int dsp = CLng(v);
        if (dsp < 0 || dsp > 3) fail("A display value is 0 (visible), 1 (hidden), 2 (no print) or 3 (no view)");
        int fl = form::widgetFlags(w) & ~(form::af::Hidden | form::af::Print | form::af::NoView);
        fl |= dsp == 0   ? form::af::Print
              : dsp == 1 ? form::af::Hidden
              : dsp == 3 ? (form::af::NoView | form::af::Print)
                         : 0;
        po::putInt(w, PDF_NAME(F), fl);
      } else if (n == "rotation") {
        int r = CLng(v);
        if (r % 90 != 0) fail("A field rotation is 0, 90, 180 or 270");
        po::putInt(mk(w, true), PDF_NAME(R), ((r % 360) + 360) % 360);
      } else if (n == "style") {
        std::string s = nameOf(v, kGlyph, 6, "glyph style");
        std::string style;
        for (auto& g : kGlyph)
          if (s == g[1]) style = g[0];
        if (k == "checkbox" || k == "radiobutton") {
          std::vector<std::string> st = form::onStates(t);
          std::vector<pdf_obj*> tw = form::widgets(t);
          for (size_t i = 0; i < tw.size(); ++i)
            if (tw[i] == w || po::same(tw[i], w)) {
              std::string as = po::name(po::get(w, PDF_NAME(AS)));
              form::drawCheck(*doc_, w, st[i].empty() ? "Yes" : st[i], style);
              po::putName(w, PDF_NAME(AS), as.empty() ? "Off" : as);
            }
        }
        po::putText(mk(w, true), PDF_NAME(CA), s);
      } else if (n == "highlight") {
        po::putName(w, PDF_NAME(H), nameOf(v, kHighlight, 4, "highlight mode"));
      } else if (n == "buttonalignx" || n == "buttonaligny") {
        pdf_obj* iff = po::putDict(mk(w, true), po::key("IF"));
        std::vector<double> a = js::numbers(po::get(iff, PDF_NAME(A)));
        if (a.size() != 2) a = {0.5, 0.5};
        double x = CDbl(v);
        if (x < 0 || x > 100) fail("A button alignment lies between 0 and 100");
        a[n == "buttonalignx" ? 0 : 1] = x / 100;
        po::putReals(iff, PDF_NAME(A), a);
      } else if (n == "buttonfitbounds") {
        po::putBool(po::putDict(mk(w, true), po::key("IF")), po::key("FB"), CBool(v));
      } else if (n == "buttonposition") {
        int p = CLng(v);
        if (p < 0 || p > 6) fail("A button layout lies between 0 and 6");
        po::putInt(mk(w, true), po::key("TP"), p);
      } else if (n == "buttonscalehow") {
        po::putName(po::putDict(mk(w, true), po::key("IF")), PDF_NAME(S), CLng(v) == 1 ? "A" : "P");
      } else if (n == "buttonscalewhen") {
        static const char* sw[] = {"A", "N", "B", "S"};
        int i = CLng(v);
        if (i < 0 || i > 3) fail("A button scaling choice lies between 0 and 3");
        po::putName(po::putDict(mk(w, true), po::key("IF")), po::key("SW"), sw[i]);
      }
    }
    (void)doc;
    form::redraw(*doc_, fld);
    changed();
    return {};
  }

  // ---- Items of list and combo boxes ----
  void requireChoice(const char* what) { requireKind({"combobox", "listbox"}, what); }
  Variant setItems(Frame& f) {
    requireChoice("setItems");
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
    requireChoice("getItemAt");
    auto opts = form::options(terminal());
    int i = CLng(f["nIdx"]);
    if (i < 0 || static_cast<size_t>(i) >= opts.size())
      fail("Item " + std::to_string(i) + " does not exist in the field \"" + name_ + "\", which has " +
           std::to_string(opts.size()) + " items");
    return Variant(CBool(f["bExportValue"]) ? opts[static_cast<size_t>(i)].second : opts[static_cast<size_t>(i)].first);
  }
  Variant insertItemAt(Frame& f) {
    requireChoice("insertItemAt");
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
    requireChoice("deleteItemAt");
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
    requireChoice("clearItems");
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

}  // namespace

ObjectRef makeField(std::shared_ptr<Doc> d, std::string fullName) {
  return std::make_shared<FieldObject>(std::move(d), std::move(fullName));
}

}  // namespace pm::pdf
