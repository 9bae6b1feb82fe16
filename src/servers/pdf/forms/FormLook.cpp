// The appearances of form fields, drawn from their values and looks: what
// every viewer shows and prints, and what flattening burns into the page.
// Viewers that redraw fields themselves do it in the form's default font,
// which often has no Cyrillic, Greek or CJK letters; so each value is drawn
// here, in that font when it can show the value and otherwise in an
// embedded subset of an installed Unicode font.
#include <algorithm>
#include <cmath>

#include "servers/pdf/engine/Fonts.h"
#include "servers/pdf/forms/Form.h"
#include "servers/pdf/engine/PageContent.h"
#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf::form {

namespace {

using content::num;

std::string colourOp(const std::vector<double>& c, bool stroke) {
  std::string s;
  for (double x : c) s += num(x) + " ";
  if (c.size() == 1) return s + (stroke ? "G" : "g");
  if (c.size() == 3) return s + (stroke ? "RG" : "rg");
  if (c.size() == 4) return s + (stroke ? "K" : "k");
  return "";
}

// Splits text into lines at CR LF, LF or CR.
std::vector<std::string> paragraphs(const std::string& text) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (ch == '\r' || ch == '\n') {
      if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.emplace_back();
    } else {
      out.back() += ch;
    }
  }
  return out;
}

// Breaks each paragraph into lines no wider than width at size 1, at
// spaces where it can, else between characters.
std::vector<std::string> wrap(const fonts::Face& f, const std::string& text, double width) {
  std::vector<std::string> out;
  for (const std::string& para : paragraphs(text)) {
    std::string line;
    size_t i = 0;
    while (i < para.size()) {
      size_t sp = para.find(' ', i);
      std::string word = para.substr(i, sp == std::string::npos ? std::string::npos : sp - i + 1);
      i = sp == std::string::npos ? para.size() : sp + 1;
      if (f.width(line + word) <= width || line.empty()) {
        line += word;
      } else {
        out.push_back(line);
        line = word;
      }
      // A word wider than the box is broken between characters.
      while (f.width(line) > width && line.size() > 1) {
        size_t cut = line.size();
        do {
          --cut;
          while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        } while (cut > 1 && f.width(line.substr(0, cut)) > width);
        if (cut == 0) break;
        out.push_back(line.substr(0, cut));
        line = line.substr(cut);
      }
    }
    out.push_back(line);
  }
  return out;
}

// The resource name the form's /DR gives a font object, added under a new
// name when it has none.
std::string drName(Doc& d, pdf_obj* font) {
  pdf_obj* fonts = po::putDict(po::putDict(acroForm(d, true), PDF_NAME(DR)), PDF_NAME(Font));
  int n = 0;
  mu::guard("Reading the form's fonts", [&](fz_context* c) { n = pdf_dict_len(c, fonts); });
  for (int i = 0; i < n; ++i) {
    pdf_obj* k = nullptr;
    pdf_obj* v = nullptr;
    mu::guard("Reading the form's fonts", [&](fz_context* c) {
      k = pdf_dict_get_key(c, fonts, i);
      v = pdf_dict_get_val(c, fonts, i);
    });
    if (po::same(v, font)) return po::name(k);
  }
  for (int i = 1;; ++i) {
    std::string name = "Uni" + std::to_string(i);
    if (!po::get(fonts, name.c_str())) {
      const char* nn = name.c_str();
      mu::guard("Adding a font to the form", [&](fz_context* c) { pdf_dict_puts(c, fonts, nn, font); });
      return name;
    }
  }
}

// What a widget draws in: its box (turned by /MK/R), colours and border.
struct Frame {
  double w = 0, h = 0;
  int rot = 0;
  double border = 0;
  std::vector<double> bg, bc;
};

Frame frameOf(pdf_obj* w) {
  Frame f;
  fz_rect r{};
  pdf_obj* rect = po::get(w, PDF_NAME(Rect));
  mu::guard("Drawing a field", [&](fz_context* c) { r = pdf_to_rect(c, rect); });
  f.w = std::max(1.0, double(r.x1 - r.x0));
  f.h = std::max(1.0, double(r.y1 - r.y0));
  pdf_obj* mk = po::get(w, PDF_NAME(MK));
  f.rot = ((po::integer(po::get(mk, PDF_NAME(R))) % 360) + 360) % 360;
  if (f.rot == 90 || f.rot == 270) std::swap(f.w, f.h);
  f.bg = po::numbers(po::get(mk, PDF_NAME(BG)));
  f.bc = po::numbers(po::get(mk, PDF_NAME(BC)));
  pdf_obj* bw = po::path(w, "BS/W");
  f.border = f.bc.empty() ? 0 : bw ? std::clamp(po::num(bw), 0.0, std::min(f.w, f.h) / 2) : 1;
  return f;
}

std::string background(const Frame& f) {
  std::string ops;
  if (!f.bg.empty()) ops += "q " + colourOp(f.bg, false) + " 0 0 " + num(f.w) + " " + num(f.h) + " re f Q\n";
  if (!f.bc.empty() && f.border > 0) {
    double b = f.border;
    ops += "q " + num(b) + " w " + colourOp(f.bc, true) + " " + num(b / 2) + " " + num(b / 2) + " " + num(f.w - b) +
           " " + num(f.h - b) + " re S Q\n";
  }
  return ops;
}

// Puts the normal appearance stream on the widget, with the one font it
// uses as its resources.
void putAppearance(Doc& d, pdf_obj* w, const Frame& f, const std::string& ops, const fonts::Face& face) {
  pdf_document* doc = d.pdf();
  mu::ObjPtr dict = po::newDict(doc);
  pdf_obj* x = dict.get();
  const char* rn = face.res.c_str();
  pdf_obj* font = face.obj();
  const fonts::Face* fb = face.fallback();
  const char* rn2 = fb ? fb->res.c_str() : nullptr;
  pdf_obj* font2 = fb ? fb->obj() : nullptr;
  int rot = f.rot;
  double fw = f.w, fh = f.h;
  mu::guard("Drawing a field", [&](fz_context* c) {
    pdf_dict_put(c, x, PDF_NAME(Type), PDF_NAME(XObject));
    pdf_dict_put(c, x, PDF_NAME(Subtype), PDF_NAME(Form));
    pdf_dict_put_rect(c, x, PDF_NAME(BBox), fz_make_rect(0, 0, static_cast<float>(fw), static_cast<float>(fh)));
    if (rot) pdf_dict_put_matrix(c, x, PDF_NAME(Matrix), fz_rotate(static_cast<float>(rot)));
    if (font) {
      pdf_obj* fonts = pdf_dict_put_dict(c, pdf_dict_put_dict(c, x, PDF_NAME(Resources), 1), PDF_NAME(Font), 1);
      pdf_dict_puts(c, fonts, rn, font);
      if (font2) pdf_dict_puts(c, fonts, rn2, font2);
    }
  });
  mu::ObjPtr stream = po::newStream(doc, ops, x);
  pdf_obj* ap = po::putDict(w, PDF_NAME(AP));
  po::put(ap, PDF_NAME(N), stream.get());
  po::del(ap, PDF_NAME(D));
  po::del(ap, PDF_NAME(R));
}

// The font a field's text is drawn in and its resource name.
struct Pen {
  std::unique_ptr<fonts::Face> face;
  double size = 0;
  std::string colour;
};

Pen penFor(Doc& d, pdf_obj* field, const std::string& text) {
  Appearance a = appearance(field);
  Pen p;
  p.size = a.size;
  p.colour = colourOp(a.colour, false);
  if (p.colour.empty()) p.colour = "0 g";
  pdf_obj* font = formFont(d, a.font);
  if (!font) font = formFont(d, a.font = "Helv");
  p.face = fonts::simple(d, font, text);
  if (p.face) {
    p.face->res = a.font;
  } else {
    p.face =
        fonts::unicode(d, text, fonts::styleOf(baseFont(d, a.font)), nullptr, po::path(acroForm(d, false), "DR/Font"));
    p.face->res = drName(d, p.face->obj());
    if (fonts::Face* fb = p.face->fallback()) fb->res = drName(d, fb->obj());
  }
  return p;
}

std::string textOps(const Pen& p, double size, const std::vector<std::pair<double, double>>& at,
                    const std::vector<std::string>& lines) {
  std::string ops = "BT " + p.colour + "\n";
  for (size_t i = 0; i < lines.size(); ++i) {
    ops += "1 0 0 1 " + num(at[i].first) + " " + num(at[i].second) + " Tm";
    for (auto& [face, run] : p.face->runs(lines[i]))
      ops += " /" + face->res + " " + num(size) + " Tf " + face->show(run) + " Tj";
    ops += "\n";
  }
  return ops + "ET\n";
}

// A text field, a combo box or a push button's caption: one line, or
// wrapped lines, or one character per comb cell.
void drawText(Doc& d, pdf_obj* field, pdf_obj* w, std::string text, bool multiline, int comb, int align) {
  Frame f = frameOf(w);
  Pen p = penFor(d, field, text);
  double pad = f.border + 2, innerW = std::max(1.0, f.w - 2 * pad), innerH = std::max(1.0, f.h - 2 * f.border);
  double size = p.size;
  std::vector<std::string> lines;
  std::vector<std::pair<double, double>> at;
  if (comb > 0 && !multiline) {
    if (size <= 0) size = std::min(12.0, innerH * 0.7);
    double cell = f.w / comb;
    const char* s = text.c_str();
    for (int i = 0; *s && i < comb; ++i) {
      int u = 0;
      int n = fz_chartorune(&u, s);
      std::string ch(s, static_cast<size_t>(n));
      s += n;
      lines.push_back(ch);
      at.emplace_back(cell * i + (cell - p.face->width(ch) * size) / 2, f.h / 2 - 0.35 * size);
    }
  } else if (multiline) {
    if (size <= 0) {
      // Automatic size: the largest up to 12 points at which the text fits.
      for (size = 12; size > 4; size -= 0.5)
        if (wrap(*p.face, text, innerW / size).size() * size * 1.15 <= innerH - 2) break;
    }
    lines = wrap(*p.face, text, innerW / size);
    double y = f.h - pad - size * 0.9;
    for (auto& l : lines) {
      double lw = p.face->width(l) * size;
      at.emplace_back(align == 1 ? (f.w - lw) / 2 : align == 2 ? f.w - pad - lw : pad, y);
      y -= size * 1.15;
    }
  } else {
    double tw = p.face->width(text);
    if (size <= 0) {
      size = std::min(12.0, innerH * 0.7);
      if (tw * size > innerW) size = std::max(4.0, innerW / std::max(tw, 0.001));
    }
    lines.push_back(text);
    double lw = tw * size;
    at.emplace_back(align == 1 ? (f.w - lw) / 2 : align == 2 ? f.w - pad - lw : pad, f.h / 2 - 0.35 * size);
  }
  std::string ops = "/Tx BMC\n" + background(f) + "q " + num(f.border) + " " + num(f.border) + " " +
                    num(f.w - 2 * f.border) + " " + num(f.h - 2 * f.border) + " re W n\n";
  if (!text.empty()) ops += textOps(p, size, at, lines);
  ops += "Q\nEMC\n";
  putAppearance(d, w, f, ops, *p.face);
}

// A list box: the options from the top index down, the selected ones
// highlighted.
void drawList(Doc& d, pdf_obj* field, pdf_obj* w) {
  Frame f = frameOf(w);
  auto opts = options(field);
  std::vector<std::string> sel = values(field);
  std::string all;
  for (auto& o : opts) all += o.first;
  Pen p = penFor(d, field, all);
  double size = p.size > 0 ? p.size : 12;
  double lead = size * 1.15, pad = f.border + 2;
  int top = std::max(0, po::integer(po::get(field, po::key("TI"))));
  std::string ops = "/Tx BMC\n" + background(f) + "q " + num(f.border) + " " + num(f.border) + " " +
                    num(f.w - 2 * f.border) + " " + num(f.h - 2 * f.border) + " re W n\n";
  std::vector<std::string> lines;
  std::vector<std::pair<double, double>> at;
  double y = f.h - f.border;
  for (size_t i = static_cast<size_t>(top); i < opts.size() && y > f.border; ++i, y -= lead) {
    if (std::find(sel.begin(), sel.end(), opts[i].second) != sel.end())
      ops += "q 0.6 0.75 0.85 rg " + num(f.border) + " " + num(y - lead) + " " + num(f.w - 2 * f.border) + " " +
             num(lead) + " re f Q\n";
    lines.push_back(opts[i].first);
    at.emplace_back(pad, y - lead + (lead - size) / 2 + size * 0.22);
  }
  if (!lines.empty()) ops += textOps(p, size, at, lines);
  ops += "Q\nEMC\n";
  putAppearance(d, w, f, ops, *p.face);
}

void drawField(Doc& d, pdf_obj* field) {
  std::string k = kind(field);
  int flags = fieldFlags(field);
  int align = std::clamp(po::integer(po::inherited(field, PDF_NAME(Q))), 0, 2);
  for (pdf_obj* w : widgets(field)) {
    if (k == "text") {
      std::string v = value(field);
      if (flags & ff::Password) {
        size_t n = 0;
        for (unsigned char ch : v) n += (ch & 0xC0) != 0x80;
        v.assign(n, '*');
      }
      int comb = (flags & ff::Comb) && !(flags & (ff::Multiline | ff::Password | ff::FileSelect))
                     ? po::integer(po::inherited(field, PDF_NAME(MaxLen)))
                     : 0;
      drawText(d, field, w, v, flags & ff::Multiline, comb, align);
    } else if (k == "combobox") {
      std::string v = value(field), shown = v;
      for (auto& o : options(field))
        if (o.second == v) shown = o.first;
      drawText(d, field, w, shown, false, 0, align);
    } else if (k == "listbox") {
      drawList(d, field, w);
    } else if (k == "button") {
      drawText(d, field, w, po::text(po::path(w, "MK/CA")), false, 0, 1);
    } else if (hasOnState(k)) {
      // States drawn elsewhere stay; a widget without any gets ours.
      if (!po::isDict(po::path(w, "AP/N"))) {
        std::string on = value(field) == "Off" ? "Yes" : value(field);
        drawCheck(d, w, on, k == "radiobutton" ? "circle" : "check");
      }
      std::string as = po::name(po::get(w, PDF_NAME(AS)));
      if (as.empty()) po::putName(w, PDF_NAME(AS), "Off");
    }
  }
}

}  // namespace

void redraw(Doc& d, pdf_obj* field) {
  // A form that asked viewers to draw its fields is drawn here whole, once:
  // viewers would otherwise draw over these appearances in a font without
  // the value's letters.
  pdf_obj* form = acroForm(d, false);
  pdf_obj* need = po::get(form, po::key("NeedAppearances"));
  if (need) {
    int all = 0;
    mu::guard("Reading the form", [&](fz_context* c) { all = pdf_to_bool(c, need); });
    po::del(form, po::key("NeedAppearances"));
    if (all)
      for (auto& f : terminalFields(d)) drawField(d, f.obj);
  }
  for (pdf_obj* t : terminals(field)) drawField(d, t);
  d.changed();
}

}  // namespace pm::pdf::form
