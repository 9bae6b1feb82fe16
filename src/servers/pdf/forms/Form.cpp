#include "servers/pdf/forms/Form.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "automation/Convert.h"
#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf::form {

using mu::fail;

namespace {

constexpr int kMaxDepth = 32;
constexpr int kMaxFields = 100000;

bool hasNamedKids(pdf_obj* f) {
  pdf_obj* kids = po::get(f, PDF_NAME(Kids));
  int n = po::len(kids);
  for (int k = 0; k < n; ++k)
    if (po::get(po::at(kids, k), PDF_NAME(T))) return true;
  return false;
}

void collect(pdf_obj* arr, const std::string& prefix, int depth, int& budget, std::vector<Field>& out) {
  int n = po::len(arr);
  for (int i = 0; i < n && budget-- > 0; ++i) {
    pdf_obj* f = po::at(arr, i);
    if (!po::isDict(f)) continue;
    pdf_obj* t = po::get(f, PDF_NAME(T));
    std::string name = t ? (prefix.empty() ? po::text(t) : prefix + "." + po::text(t)) : prefix;
    if (hasNamedKids(f) && depth < kMaxDepth)
      collect(po::get(f, PDF_NAME(Kids)), name, depth + 1, budget, out);
    else if (t)
      out.push_back(Field{f, name});
  }
}

pdf_obj* fieldsArray(Doc& d, bool create) {
  pdf_obj* form = acroForm(d, create);
  if (!form) return nullptr;
  return create ? po::putArray(form, PDF_NAME(Fields)) : po::get(form, PDF_NAME(Fields));
}

pdf_obj* findChild(pdf_obj* arr, const std::string& part) {
  int n = po::len(arr);
  for (int i = 0; i < n; ++i) {
    pdf_obj* f = po::at(arr, i);
    if (po::isDict(f) && po::get(f, PDF_NAME(T)) && po::text(po::get(f, PDF_NAME(T))) == part) return f;
  }
  return nullptr;
}

// Entries that belong to the widget rather than to the field.
pdf_obj* const* widgetKeys() {
  static pdf_obj* const keys[] = {PDF_NAME(Type), PDF_NAME(Subtype), PDF_NAME(Rect),   PDF_NAME(P),
                                  PDF_NAME(F),    PDF_NAME(MK),      PDF_NAME(BS),     PDF_NAME(AP),
                                  PDF_NAME(AS),   PDF_NAME(H),       PDF_NAME(Border), nullptr};
  return keys;
}

std::string fmt(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

// The check styles by name and the ZapfDingbats glyph each is drawn with;
// the first is the style of a glyph not listed.
constexpr std::pair<const char*, const char*> kGlyphs[] = {{"check", "4"},  {"cross", "8"}, {"diamond", "u"},
                                                           {"circle", "l"}, {"star", "H"},  {"square", "n"}};
const char* glyphOf(const std::string& style) {
  std::string s = LCase(style);
  for (auto& [name, glyph] : kGlyphs)
    if (s == name) return glyph;
  return kGlyphs[0].second;
}
const char* styleOf(const std::string& glyph) {
  for (auto& [name, g] : kGlyphs)
    if (glyph == g) return name;
  return kGlyphs[0].first;
}

// What makes a field of each kind: its field type and the flags it starts
// with, whether it has an on state (drawn with a check style), whether it
// is a signature (else it has text, a default appearance) and whether it
// holds a value. flagKey is the flag that tells
// the kinds of one field type apart when reading a field back; the kinds
// of a type are listed with the one without such a flag last.
struct KindSteps {
  const char* kind;
  const char* type;
  int flags;
  int flagKey;
  const char* checkStyle;  // nullptr: no on state
  bool signature;
  bool value = true;
};
constexpr KindSteps kKindSteps[] = {
    {"text", "Tx", 0, 0, nullptr, false},
    {"signature", "Sig", 0, 0, nullptr, true, false},
    {"combobox", "Ch", ff::Combo, ff::Combo, nullptr, false},
    {"listbox", "Ch", 0, 0, nullptr, false},
    {"button", "Btn", ff::Pushbutton, ff::Pushbutton, nullptr, false, false},
    {"radiobutton", "Btn", ff::Radio | ff::NoToggleToOff, ff::Radio, "circle", false},
    {"checkbox", "Btn", 0, 0, "check", false},
};
const KindSteps* stepsOf(const std::string& kind) {
  for (const KindSteps& k : kKindSteps)
    if (kind == k.kind) return &k;
  return nullptr;
}

// A standard font dictionary of the form's resources.
void putStandard(fz_context* c, pdf_obj* fonts, const char* res, const char* base) {
  pdf_obj* f = pdf_dict_puts_dict(c, fonts, res, 4);
  pdf_dict_put(c, f, PDF_NAME(Type), PDF_NAME(Font));
  pdf_dict_put(c, f, PDF_NAME(Subtype), PDF_NAME(Type1));
  pdf_dict_put_name(c, f, PDF_NAME(BaseFont), base);
  if (std::strcmp(base, "ZapfDingbats") != 0 && std::strcmp(base, "Symbol") != 0)
    pdf_dict_put(c, f, PDF_NAME(Encoding), PDF_NAME(WinAnsiEncoding));
}

}  // namespace

pdf_obj* acroForm(Doc& d, bool create) {
  pdf_document* doc = d.pdf();
  pdf_obj* root = po::catalog(doc);
  pdf_obj* form = po::get(root, PDF_NAME(AcroForm));
  if (po::isDict(form) || !create) return po::isDict(form) ? form : nullptr;
  mu::ObjPtr made = po::newDict(doc);
  pdf_obj* f = made.get();
  mu::guard("Making the form", [&](fz_context* c) {
    pdf_dict_put_array(c, f, PDF_NAME(Fields), 4);
    pdf_dict_put_text_string(c, f, PDF_NAME(DA), "/Helv 0 Tf 0 g");
    pdf_obj* fonts = pdf_dict_put_dict(c, pdf_dict_put_dict(c, f, PDF_NAME(DR), 1), PDF_NAME(Font), 2);
    putStandard(c, fonts, "Helv", "Helvetica");
    putStandard(c, fonts, "ZaDb", "ZapfDingbats");
    pdf_dict_put(c, root, PDF_NAME(AcroForm), f);
  });
  return f;
}

pdf_obj* formFont(Doc& d, const std::string& resource) {
  pdf_obj* fonts = po::path(acroForm(d, false), "DR/Font");
  if (pdf_obj* f = po::get(fonts, resource.c_str()); po::isDict(f)) return f;
  // The names fields are made with, and the short names viewers know for
  // the standard fonts.
  static const char* const standard[][2] = {
      {"Helv", "Helvetica"},  {"HeBo", "Helvetica-Bold"}, {"HeOb", "Helvetica-Oblique"}, {"TiRo", "Times-Roman"},
      {"TiBo", "Times-Bold"}, {"TiIt", "Times-Italic"},   {"Cour", "Courier"},           {"CoBo", "Courier-Bold"},
      {"Symb", "Symbol"},     {"ZaDb", "ZapfDingbats"}};
  for (auto& s : standard)
    if (resource == s[0]) {
      fonts = po::putDict(po::putDict(acroForm(d, true), PDF_NAME(DR)), PDF_NAME(Font));
      const char* res = s[0];
      const char* base = s[1];
      mu::guard("Adding a font to the form", [&](fz_context* c) { putStandard(c, fonts, res, base); });
      return po::get(fonts, res);
    }
  return nullptr;
}

std::vector<Field> terminalFields(Doc& d) {
  std::vector<Field> out;
  int budget = kMaxFields;
  collect(fieldsArray(d, false), "", 0, budget, out);
  return out;
}

pdf_obj* lookup(Doc& d, const std::string& name) {
  if (name.empty()) return nullptr;
  pdf_obj* arr = fieldsArray(d, false);
  pdf_obj* f = nullptr;
  size_t start = 0;
  // A dotted name walks down the hierarchy; a field whose own name holds a
  // dot is found by the whole name at its level too.
  while (arr) {
    size_t dot = name.find('.', start);
    std::string part = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    pdf_obj* found = findChild(arr, part);
    if (!found && dot != std::string::npos) {
      if (pdf_obj* whole = findChild(arr, name.substr(start))) return whole;
    }
    if (!found) return nullptr;
    f = found;
    if (dot == std::string::npos) return f;
    start = dot + 1;
    arr = po::get(f, PDF_NAME(Kids));
  }
  return nullptr;
}

std::string fullName(pdf_obj* field) {
  std::string n;
  pdf_obj* o = field;
  for (int i = 0; o && i < kMaxDepth; ++i) {
    pdf_obj* t = po::get(o, PDF_NAME(T));
    if (t) n = n.empty() ? po::text(t) : po::text(t) + "." + n;
    o = po::get(o, PDF_NAME(Parent));
  }
  return n;
}

std::vector<pdf_obj*> widgets(pdf_obj* field) {
  std::vector<pdf_obj*> out;
  pdf_obj* kids = po::get(field, PDF_NAME(Kids));
  int n = po::len(kids);
  if (n == 0) {
    if (po::nameIs(po::get(field, PDF_NAME(Subtype)), "Widget") || po::get(field, PDF_NAME(Rect))) out.push_back(field);
    return out;
  }
  for (int i = 0; i < n && i < kMaxFields; ++i) {
    pdf_obj* k = po::at(kids, i);
    if (po::isDict(k) && !po::get(k, PDF_NAME(T))) out.push_back(k);
  }
  return out;
}

std::vector<pdf_obj*> terminals(pdf_obj* field) {
  std::vector<pdf_obj*> out;
  std::vector<std::pair<pdf_obj*, int>> stack{{field, 0}};
  while (!stack.empty() && out.size() < static_cast<size_t>(kMaxFields)) {
    auto [f, depth] = stack.back();
    stack.pop_back();
    if (hasNamedKids(f) && depth < kMaxDepth) {
      pdf_obj* kids = po::get(f, PDF_NAME(Kids));
      for (int i = po::len(kids) - 1; i >= 0; --i) {
        pdf_obj* k = po::at(kids, i);
        if (po::get(k, PDF_NAME(T))) stack.push_back({k, depth + 1});
      }
    } else {
      out.push_back(f);
    }
  }
  return out;
}

int fieldFlags(pdf_obj* field) {
  return po::integer(po::inherited(field, PDF_NAME(Ff)));
}
void setFieldFlag(pdf_obj* field, int flag, bool on) {
  int f = fieldFlags(field);
  po::putInt(field, PDF_NAME(Ff), on ? (f | flag) : (f & ~flag));
}
int widgetFlags(pdf_obj* w) {
  return po::integer(po::get(w, PDF_NAME(F)));
}
void setWidgetFlag(pdf_obj* w, int flag, bool on) {
  int f = widgetFlags(w);
  po::putInt(w, PDF_NAME(F), on ? (f | flag) : (f & ~flag));
}

std::string kind(pdf_obj* field) {
  std::string ft = po::name(po::inherited(field, PDF_NAME(FT)));
  int f = fieldFlags(field);
  for (const KindSteps& k : kKindSteps)
    if (ft == k.type && (f & k.flagKey) == k.flagKey) return k.kind;
  return "";
}

bool holdsNoValue(const std::string& kind) {
  const KindSteps* k = stepsOf(kind);
  return k && !k->value;
}

bool hasOnState(const std::string& kind) {
  const KindSteps* k = stepsOf(kind);
  return k && k->checkStyle;
}

namespace {

// The parts of a dotted field name; none may be empty.
std::vector<std::string> nameParts(const std::string& name) {
  std::vector<std::string> parts;
  std::stringstream ss(name);
  std::string p;
  while (std::getline(ss, p, '.')) parts.push_back(p);
  if (parts.empty() || name.back() == '.') fail("\"" + name + "\" is not a field name");
  for (auto& p2 : parts)
    if (p2.empty()) fail("\"" + name + "\" is not a field name");
  return parts;
}

// Finds or makes the parents of a dotted name below the list arr; arr
// becomes the list of the last parent's kids. The last parent, or nullptr
// for a name without dots.
pdf_obj* makeParents(pdf_document* doc, const std::vector<std::string>& parts, pdf_obj*& arr) {
  pdf_obj* parent = nullptr;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    pdf_obj* f = findChild(arr, parts[i]);
    if (!f) {
      mu::ObjPtr made = po::newDict(doc);
      po::putText(made.get(), PDF_NAME(T), parts[i]);
      po::putArray(made.get(), PDF_NAME(Kids));
      if (parent) po::put(made.get(), PDF_NAME(Parent), parent);
      po::push(arr, made.get());
      f = made.get();
    } else if (!hasNamedKids(f) && !po::get(f, PDF_NAME(Kids)) && po::get(f, PDF_NAME(FT))) {
      fail("\"" + parts[i] + "\" is a field and cannot hold other fields");
    }
    parent = f;
    arr = po::putArray(f, PDF_NAME(Kids));
  }
  return parent;
}

mu::ObjPtr newWidget(pdf_document* doc, pdf_obj* pageObj, fz_rect rect) {
  mu::ObjPtr widget = po::newDict(doc);
  pdf_obj* w = widget.get();
  mu::guard("Adding a widget", [&](fz_context* c) {
    pdf_dict_put(c, w, PDF_NAME(Type), PDF_NAME(Annot));
    pdf_dict_put(c, w, PDF_NAME(Subtype), PDF_NAME(Widget));
    pdf_dict_put_rect(c, w, PDF_NAME(Rect), rect);
    pdf_dict_put(c, w, PDF_NAME(P), pageObj);
    pdf_dict_put_int(c, w, PDF_NAME(F), af::Print);
    pdf_obj* bs = pdf_dict_put_dict(c, w, PDF_NAME(BS), 2);
    pdf_dict_put_int(c, bs, PDF_NAME(W), 1);
    pdf_dict_put(c, bs, PDF_NAME(S), PDF_NAME(S));
    pdf_dict_put_dict(c, w, PDF_NAME(MK), 2);
  });
  return widget;
}

// Before a field that is its own widget gets a second one, it gives its
// widget entries to a first kid.
void splitOwnWidget(pdf_document* doc, pdf_obj* field) {
  if (po::get(field, PDF_NAME(Kids))) return;
  mu::ObjPtr first = po::newDict(doc);
  pdf_obj* fw = first.get();
  for (pdf_obj* const* key = widgetKeys(); *key; ++key) {
    pdf_obj* v = po::get(field, *key);
    if (v) {
      po::put(fw, *key, v);
      po::del(field, *key);
    }
  }
  po::put(fw, PDF_NAME(Parent), field);
  po::push(po::putArray(field, PDF_NAME(Kids)), fw);
  // The page's list points at the field object; it now points at the kid.
  pdf_obj* wp = po::get(fw, PDF_NAME(P));
  pdf_obj* annots = po::get(wp, PDF_NAME(Annots));
  for (int i = 0; i < po::len(annots); ++i)
    if (po::same(po::at(annots, i), field)) {
      mu::guard("Adding a widget", [&](fz_context* c) { pdf_array_put(c, annots, i, fw); });
    }
}

}  // namespace

pdf_obj* add(Doc& d, const std::string& name, const std::string& k, int page, fz_rect rect) {
  if (Trim(name).empty()) fail("A field needs a name");
  std::string kd = LCase(k);
  const KindSteps* steps = stepsOf(kd);
  if (!steps)
    fail("Unknown field type \"" + k + "\" (text, button, checkbox, radiobutton, combobox, listbox or signature)");
  d.checkPage(page);
  pdf_document* doc = d.pdf();
  pdf_obj* pageObj = po::pageObj(doc, page);
  pdf_obj* arr = fieldsArray(d, true);
  std::vector<std::string> parts = nameParts(name);
  pdf_obj* parent = makeParents(doc, parts, arr);
  pdf_obj* field = findChild(arr, parts.back());
  mu::ObjPtr widget = newWidget(doc, pageObj, rect);
  pdf_obj* w = widget.get();
  if (field) {
    if (hasNamedKids(field) || kind(field) != kd)
      fail("A field named \"" + name + "\" already exists" +
           (kind(field).empty() ? "" : " as a " + kind(field) + " field"));
    splitOwnWidget(doc, field);
    po::put(w, PDF_NAME(Parent), field);
    po::push(po::get(field, PDF_NAME(Kids)), w);
  } else {
    field = w;
    po::putText(w, PDF_NAME(T), parts.back());
    if (parent) po::put(w, PDF_NAME(Parent), parent);
    po::putName(w, PDF_NAME(FT), steps->type);
    if (steps->flags) po::putInt(w, PDF_NAME(Ff), steps->flags);
    if (!steps->signature) {
      po::putText(w, PDF_NAME(DA), "/Helv 0 Tf 0 g");
      formFont(d, "Helv");  // a form made elsewhere may not have it
    }
    if (steps->checkStyle) po::putName(w, PDF_NAME(V), "Off");
    po::push(arr, w);
  }
  if (steps->checkStyle) {
    // Each radio button widget has its own state; check boxes share one.
    bool own = steps->flags & ff::Radio;
    std::string on = own ? std::to_string(widgets(field).size() - 1) : "Yes";
    drawCheck(d, w, on, steps->checkStyle);
    po::putName(w, PDF_NAME(AS), "Off");
  }
  if (steps->signature) {
    pdf_obj* form = acroForm(d, true);
    po::putInt(form, PDF_NAME(SigFlags), po::integer(po::get(form, PDF_NAME(SigFlags))) | 1);
  }
  po::push(po::putArray(pageObj, PDF_NAME(Annots)), w);
  if (!steps->signature) redraw(d, field);
  d.changed();
  return field;
}

void remove(Doc& d, pdf_obj* field) {
  pdf_document* doc = d.pdf();
  // Widgets leave their pages first.
  std::vector<pdf_obj*> all;
  for (pdf_obj* t : terminals(field))
    for (pdf_obj* w : widgets(t)) all.push_back(w);
  for (pdf_obj* w : all) {
    pdf_obj* page = po::get(w, PDF_NAME(P));
    if (page)
      po::removeAll(po::get(page, PDF_NAME(Annots)), w);
    else {
      int n = d.pageCount();
      for (int i = 0; i < n; ++i) po::removeAll(po::get(po::pageObj(doc, i), PDF_NAME(Annots)), w);
    }
  }
  mu::ObjPtr keep = mu::keep(field);
  pdf_obj* parent = po::get(field, PDF_NAME(Parent));
  pdf_obj* arr = parent ? po::get(parent, PDF_NAME(Kids)) : fieldsArray(d, false);
  po::removeAll(arr, field);
  po::removeAll(po::get(acroForm(d, false), po::key("CO")), field);
  d.changed();
}

std::vector<std::string> onStates(pdf_obj* field) {
  std::vector<std::string> out;
  for (pdf_obj* w : widgets(field)) {
    std::string on;
    pdf_obj* n = po::path(w, "AP/N");
    int len = 0;
    mu::guard("Reading a button", [&](fz_context* c) { len = pdf_is_dict(c, n) ? pdf_dict_len(c, n) : 0; });
    for (int i = 0; i < len; ++i) {
      pdf_obj* key = nullptr;
      mu::guard("Reading a button", [&](fz_context* c) { key = pdf_dict_get_key(c, n, i); });
      std::string k = po::name(key);
      if (k != "Off") on = k;
    }
    out.push_back(on);
  }
  return out;
}

void setOnState(Doc& d, pdf_obj* w, const std::string& state) {
  if (state.empty() || state == "Off") fail("\"" + state + "\" cannot be the name of a button's on state");
  std::string style = styleOf(po::text(po::path(w, "MK/CA")));
  bool wasOn = !po::nameIs(po::get(w, PDF_NAME(AS)), "Off") && po::get(w, PDF_NAME(AS));
  drawCheck(d, w, state, style);
  if (wasOn) po::putName(w, PDF_NAME(AS), state);
}

void drawCheck(Doc& d, pdf_obj* w, const std::string& onState, const std::string& style) {
  pdf_document* doc = d.pdf();
  fz_rect r{};
  pdf_obj* rect = po::get(w, PDF_NAME(Rect));
  mu::guard("Drawing a button", [&](fz_context* c) { r = pdf_to_rect(c, rect); });
  double wd = std::max(1.0, double(r.x1 - r.x0)), ht = std::max(1.0, double(r.y1 - r.y0));
  double size = std::min(wd, ht) * 0.8;
  const char* glyph = glyphOf(style);
  std::string on = "q 0 g BT /ZaDb " + fmt(size) + " Tf " + fmt((wd - size * 0.8) / 2) + " " +
                   fmt((ht - size * 0.7) / 2) + " Td (" + glyph + ") Tj ET Q\n";
  // The glyph's font goes with the appearance (and into the form's fonts,
  // where a form made elsewhere may lack it).
  pdf_obj* zadb = formFont(d, "ZaDb");
  mu::ObjPtr onDict = po::newDict(doc), offDict = po::newDict(doc);
  for (pdf_obj* x : {onDict.get(), offDict.get()}) {
    mu::guard("Drawing a button", [&](fz_context* c) {
      pdf_dict_put(c, x, PDF_NAME(Type), PDF_NAME(XObject));
      pdf_dict_put(c, x, PDF_NAME(Subtype), PDF_NAME(Form));
      pdf_dict_put_rect(c, x, PDF_NAME(BBox), fz_make_rect(0, 0, static_cast<float>(wd), static_cast<float>(ht)));
      pdf_dict_puts(c, pdf_dict_put_dict(c, pdf_dict_put_dict(c, x, PDF_NAME(Resources), 1), PDF_NAME(Font), 1), "ZaDb",
                    zadb);
    });
  }
  mu::ObjPtr onStream = po::newStream(doc, on, onDict.get());
  mu::ObjPtr offStream = po::newStream(doc, "", offDict.get());
  pdf_obj* ap = po::putDict(w, PDF_NAME(AP));
  pdf_obj* n = nullptr;
  mu::guard("Drawing a button", [&](fz_context* c) {
    n = pdf_dict_put_dict(c, ap, PDF_NAME(N), 2);
    pdf_dict_puts(c, n, onState.c_str(), onStream.get());
    pdf_dict_put(c, n, PDF_NAME(Off), offStream.get());
    pdf_dict_del(c, ap, PDF_NAME(D));
  });
  po::putText(po::putDict(w, PDF_NAME(MK)), PDF_NAME(CA), glyph);
  d.changed();
}

std::string value(pdf_obj* field) {
  pdf_obj* v = po::inherited(field, PDF_NAME(V));
  if (po::isArray(v)) return po::text(po::at(v, 0));
  if (hasOnState(kind(field)) && (!v || po::name(v).empty())) return "Off";
  return po::text(v);
}

std::vector<std::string> values(pdf_obj* field) {
  pdf_obj* v = po::inherited(field, PDF_NAME(V));
  std::vector<std::string> out;
  if (po::isArray(v)) {
    for (int i = 0; i < po::len(v); ++i) out.push_back(po::text(po::at(v, i)));
  } else if (v) {
    out.push_back(value(field));
  }
  return out;
}

void setValue(Doc& d, pdf_obj* field, const std::string& v) {
  std::string k = kind(field);
  if (hasOnState(k)) {
    std::vector<std::string> states = onStates(field);
    if (v != "Off" && std::find(states.begin(), states.end(), v) == states.end()) {
      std::string known;
      for (auto& s : states) known += (known.empty() ? "" : ", ") + s;
      fail("\"" + v + "\" is not a state of the field \"" + fullName(field) + "\" (Off or " + known + ")");
    }
    po::putName(field, PDF_NAME(V), v);
    std::vector<pdf_obj*> ws = widgets(field);
    for (size_t i = 0; i < ws.size(); ++i) po::putName(ws[i], PDF_NAME(AS), states[i] == v ? v : "Off");
  } else if (holdsNoValue(k)) {
    fail("A " + k + " field has no value to set");
  } else {
    po::putText(field, PDF_NAME(V), v);
  }
  redraw(d, field);
}

void setValues(Doc& d, pdf_obj* field, const std::vector<std::string>& v) {
  if (v.size() == 1 || kind(field) != "listbox") {
    setValue(d, field, v.empty() ? std::string() : v[0]);
    return;
  }
  pdf_document* doc = d.pdf();
  mu::ObjPtr arr = po::newArray(doc);
  for (auto& s : v) po::push(arr.get(), po::newText(s).get());
  po::put(field, PDF_NAME(V), arr.get());
  redraw(d, field);
}

void clearValue(Doc& d, pdf_obj* field) {
  if (hasOnState(kind(field))) {
    setValue(d, field, "Off");
    return;
  }
  po::del(field, PDF_NAME(V));
  redraw(d, field);
}

void reset(Doc& d, pdf_obj* field) {
  pdf_obj* dv = po::inherited(field, PDF_NAME(DV));
  if (!dv) {
    clearValue(d, field);
    return;
  }
  if (po::isArray(dv)) {
    po::put(field, PDF_NAME(V), dv);
    redraw(d, field);
    return;
  }
  if (hasOnState(kind(field)))
    setValue(d, field, po::name(dv).empty() ? "Off" : po::name(dv));
  else
    setValue(d, field, po::text(dv));
}

std::vector<std::pair<std::string, std::string>> options(pdf_obj* field) {
  std::vector<std::pair<std::string, std::string>> out;
  pdf_obj* opt = po::inherited(field, PDF_NAME(Opt));
  int n = po::len(opt);
  for (int i = 0; i < n && i < kMaxFields; ++i) {
    pdf_obj* o = po::at(opt, i);
    if (po::isArray(o))
      out.emplace_back(po::text(po::at(o, 1)), po::text(po::at(o, 0)));
    else
      out.emplace_back(po::text(o), po::text(o));
  }
  return out;
}

void setOptions(Doc& d, pdf_obj* field, const std::vector<std::pair<std::string, std::string>>& opts) {
  pdf_document* doc = d.pdf();
  mu::ObjPtr arr = po::newArray(doc);
  for (auto& [shown, exp] : opts) {
    if (shown == exp) {
      po::push(arr.get(), po::newText(shown).get());
    } else {
      mu::ObjPtr pair = po::newArray(doc);
      po::push(pair.get(), po::newText(exp).get());
      po::push(pair.get(), po::newText(shown).get());
      po::push(arr.get(), pair.get());
    }
  }
  po::put(field, PDF_NAME(Opt), arr.get());
  redraw(d, field);
}

size_t colourOperands(const std::string& op) {
  static const std::pair<const char*, size_t> ops[] = {{"g", 1}, {"rg", 3}, {"k", 4}};
  for (auto& [o, n] : ops)
    if (op == o) return n;
  return 0;
}

Appearance appearance(pdf_obj* field) {
  Appearance a;
  std::string da = po::text(po::inherited(field, PDF_NAME(DA)));
  std::istringstream in(da);
  std::vector<std::string> toks;
  std::string t;
  while (in >> t) {
    if (t == "Tf" && toks.size() >= 2) {
      a.font = toks[toks.size() - 2];
      if (!a.font.empty() && a.font[0] == '/') a.font.erase(0, 1);
      a.size = Val(toks.back());
      toks.clear();
    } else if (size_t n = colourOperands(t); n && !toks.empty()) {
      if (toks.size() >= n) {
        a.colour.clear();
        for (size_t i = toks.size() - n; i < toks.size(); ++i) a.colour.push_back(Val(toks[i]));
      }
      toks.clear();
    } else {
      toks.push_back(t);
    }
  }
  return a;
}

void setAppearance(Doc& d, pdf_obj* field, const Appearance& a) {
  std::string da = "/" + a.font + " " + fmt(a.size) + " Tf";
  for (double x : a.colour) da += " " + fmt(x);
  da += a.colour.size() == 1 ? " g" : a.colour.size() == 3 ? " rg" : a.colour.size() == 4 ? " k" : "";
  if (a.colour.empty()) da += " 0 g";
  po::putText(field, PDF_NAME(DA), da);
  redraw(d, field);
}

std::string baseFont(Doc& d, const std::string& resource) {
  pdf_obj* form = acroForm(d, false);
  pdf_obj* fonts = po::path(form, "DR/Font");
  pdf_obj* f = po::get(fonts, resource.c_str());
  std::string b = po::name(po::get(f, PDF_NAME(BaseFont)));
  return b.empty() ? resource : b;
}

std::string fontResource(Doc& d, const std::string& base) {
  pdf_obj* form = acroForm(d, true);
  pdf_obj* fonts = po::putDict(po::putDict(form, PDF_NAME(DR)), PDF_NAME(Font));
  int n = 0;
  mu::guard("Reading the form's fonts", [&](fz_context* c) { n = pdf_dict_len(c, fonts); });
  for (int i = 0; i < n; ++i) {
    pdf_obj* k = nullptr;
    pdf_obj* v = nullptr;
    mu::guard("Reading the form's fonts", [&](fz_context* c) {
      k = pdf_dict_get_key(c, fonts, i);
      v = pdf_dict_get_val(c, fonts, i);
    });
    if (po::name(po::get(v, PDF_NAME(BaseFont))) == base) return po::name(k);
  }
  std::string res;
  for (char ch : base)
    if (std::isalnum(static_cast<unsigned char>(ch))) res += ch;
  if (res.empty()) fail("\"" + base + "\" is not a font name");
  pdf_document* doc = d.pdf();
  mu::ObjPtr font = po::newDict(doc);
  pdf_obj* fo = font.get();
  mu::guard("Adding a font to the form", [&](fz_context* c) {
    pdf_dict_put(c, fo, PDF_NAME(Type), PDF_NAME(Font));
    pdf_dict_put(c, fo, PDF_NAME(Subtype), PDF_NAME(Type1));
    pdf_dict_put_name(c, fo, PDF_NAME(BaseFont), base.c_str());
    if (base != "Symbol" && base != "ZapfDingbats") pdf_dict_put(c, fo, PDF_NAME(Encoding), PDF_NAME(WinAnsiEncoding));
    pdf_dict_puts(c, fonts, res.c_str(), fo);
  });
  return res;
}

}  // namespace pm::pdf::form
