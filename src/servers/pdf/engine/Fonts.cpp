#include "servers/pdf/engine/Fonts.h"

#include <hb-subset.h>
#include <hb.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "automation/Convert.h"
#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf::fonts {

namespace {

constexpr const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/";
constexpr const char* kNoto = "/usr/share/fonts/opentype/noto/";

std::vector<int> codesOf(const std::string& utf8) {
  std::vector<int> out;
  const char* s = utf8.c_str();
  while (*s) {
    int u = 0;
    s += fz_chartorune(&u, s);
    out.push_back(u);
  }
  return out;
}

std::string utf8Of(int u) {
  char buf[8];
  int n = fz_runetochar(buf, u);
  return std::string(buf, static_cast<size_t>(n));
}

// One installed font file as HarfBuzz reads it, loaded once per process
// and kept: its faces are read-only and shared by every thread.
struct Source {
  std::string path;
  unsigned index = 0;
  hb_face_t* face = nullptr;
  hb_set_t* unicodes = nullptr;
  bool covers(int u) const { return u < 32 || hb_set_has(unicodes, static_cast<hb_codepoint_t>(u)); }
};

const Source* source(const std::string& path, unsigned index) {
  static std::mutex m;
  static auto* loaded = new std::map<std::string, Source*>;
  std::lock_guard<std::mutex> lock(m);
  std::string key = path + "#" + std::to_string(index);
  auto it = loaded->find(key);
  if (it != loaded->end()) return it->second;
  Source* s = nullptr;
  if (hb_blob_t* blob = hb_blob_create_from_file_or_fail(path.c_str())) {
    s = new Source{path, index, hb_face_create(blob, index), hb_set_create()};
    hb_blob_destroy(blob);
    hb_face_collect_unicodes(s->face, s->unicodes);
    if (hb_set_is_empty(s->unicodes)) s = nullptr;  // not a font (the face is kept: it is harmless)
  }
  loaded->emplace(key, s);
  return s;
}

const Source* dejavu(Style st) {
  static const char* files[3][2] = {{"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"},
                                    {"DejaVuSerif.ttf", "DejaVuSerif-Bold.ttf"},
                                    {"DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf"}};
  const Source* s = source(std::string(kDejaVu) + files[st.family][st.bold ? 1 : 0], 0);
  return s ? s : source(std::string(kDejaVu) + "DejaVuSans.ttf", 0);
}

// The face of the collection whose glyph forms suit the text: Japanese
// with kana, Korean with Hangul, else Simplified Chinese.
const Source* noto(Style st, const std::vector<int>& codes) {
  unsigned index = 2;
  for (int u : codes) {
    if ((u >= 0x3040 && u <= 0x30FF) || (u >= 0x31F0 && u <= 0x31FF))
      index = 0;
    else if ((u >= 0xAC00 && u <= 0xD7AF) || (u >= 0x1100 && u <= 0x11FF) || (u >= 0x3130 && u <= 0x318F))
      index = 1;
  }
  std::string file = std::string(st.family == Style::Serif ? "NotoSerifCJK-" : "NotoSansCJK-") +
                     (st.bold ? "Bold.ttc" : "Regular.ttc");
  const Source* s = source(kNoto + file, index);
  return s ? s : source(std::string(kNoto) + "NotoSansCJK-Regular.ttc", index);
}

// The subset of a source with the given characters. Glyph numbers stay
// those of the whole font: CFF-based fonts are found by them in every
// viewer only then, and text drawn earlier stays valid in a larger subset.
std::string subset(const Source& s, const std::set<int>& codes) {
  hb_subset_input_t* in = hb_subset_input_create_or_fail();
  if (!in) return {};
  hb_set_t* u = hb_subset_input_unicode_set(in);
  for (int c : codes) hb_set_add(u, static_cast<hb_codepoint_t>(c));
  hb_subset_input_set_flags(in, HB_SUBSET_FLAGS_RETAIN_GIDS);
  // Tables a PDF reader does not use (vertical metrics, layout, signatures).
  hb_set_t* drop = hb_subset_input_set(in, HB_SUBSET_SETS_DROP_TABLE_TAG);
  for (const char* t : {"vmtx", "vhea", "VORG", "GSUB", "GPOS", "GDEF", "BASE", "DSIG", "kern", "JSTF", "MATH"})
    hb_set_add(drop, hb_tag_from_string(t, 4));
  std::string out;
  if (hb_face_t* sub = hb_subset_or_fail(s.face, in)) {
    hb_blob_t* blob = hb_face_reference_blob(sub);
    unsigned len = 0;
    const char* data = hb_blob_get_data(blob, &len);
    if (data) out.assign(data, len);
    hb_blob_destroy(blob);
    hb_face_destroy(sub);
  }
  hb_subset_input_destroy(in);
  return out;
}

// Six capitals naming a subset, as PDF asks for subset fonts.
std::string tagOf(const std::set<int>& codes, const std::string& file) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
  for (char ch : file) mix(static_cast<unsigned char>(ch));
  for (int c : codes) mix(static_cast<uint64_t>(c));
  std::string t;
  for (int i = 0; i < 6; ++i, h /= 26) t += static_cast<char>('A' + h % 26);
  return t;
}

struct DropFont {
  void operator()(fz_font* f) const { fz_drop_font(mu::ctx(), f); }
};
using FontPtr = std::unique_ptr<fz_font, DropFont>;

}  // namespace

// A subset font made for this document, by source file.
struct Embedded {
  std::set<int> codes;
  mu::ObjPtr obj;
  FontPtr font;
};
struct Session {
  std::map<std::string, Embedded> byFile;
};

Face::Face(pdf_obj* obj, fz_font* metrics, pdf_font_desc* desc, bool cid)
    : obj_(obj), font_(metrics), desc_(desc), cid_(cid) {}

Face::~Face() {
  fz_context* c = mu::ctx();
  if (desc_) pdf_drop_font(c, desc_);
  if (font_) fz_drop_font(c, font_);
}

bool Face::covers(int u) const {
  if (!cid_) return u >= 32 && fz_windows_1252_from_unicode(u) >= 0;
  int gid = 0;
  fz_font* f = font_;
  mu::guard("Encoding text", [&](fz_context* c) { gid = fz_encode_character(c, f, u); });
  return gid > 0 || u == ' ';
}

std::vector<std::pair<const Face*, std::string>> Face::runs(const std::string& utf8) const {
  std::vector<std::pair<const Face*, std::string>> out;
  for (int u : codesOf(utf8)) {
    const Face* f = fallback_ && !covers(u) && fallback_->covers(u) ? fallback_.get() : this;
    if (out.empty() || out.back().first != f) out.emplace_back(f, std::string());
    out.back().second += utf8Of(u);
  }
  return out;
}

double Face::width(const std::string& utf8) const {
  if (fallback_) {
    double w = 0;
    for (auto& [f, run] : runs(utf8)) w += f == this ? widthOwn(run) : f->width(run);
    return w;
  }
  return widthOwn(utf8);
}

double Face::widthOwn(const std::string& utf8) const {
  double w = 0;
  std::vector<int> codes = codesOf(utf8);
  fz_font* f = font_;
  pdf_font_desc* desc = desc_;
  bool cid = cid_;
  const int* p = codes.data();
  size_t n = codes.size();
  mu::guard("Measuring text", [&](fz_context* c) {
    for (size_t i = 0; i < n; ++i) {
      if (cid) {
        w += fz_advance_glyph(c, f, fz_encode_character(c, f, p[i]), 0);
      } else {
        int code = fz_windows_1252_from_unicode(p[i]);
        if (code < 0) code = '?';
        w += pdf_lookup_hmtx(c, desc, code).w / 1000.0;
      }
    }
  });
  return w;
}

std::string Face::show(const std::string& utf8) const {
  std::vector<int> codes = codesOf(utf8);
  std::string out;
  if (cid_) {
    out = "<";
    for (int u : codes) {
      int gid = 0;
      fz_font* f = font_;
      mu::guard("Encoding text", [&](fz_context* c) { gid = fz_encode_character(c, f, u); });
      char buf[8];
      std::snprintf(buf, sizeof buf, "%04X", gid & 0xFFFF);
      out += buf;
    }
    return out + ">";
  }
  out = "(";
  for (int u : codes) {
    int ch = fz_windows_1252_from_unicode(u);
    if (ch < 0) ch = '?';  // never reached: simple() refuses such text
    if (ch == '(' || ch == ')' || ch == '\\') out += '\\';
    if (ch < 32 || ch > 126) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\%03o", ch & 0xFF);
      out += buf;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + ")";
}

Style styleOf(const std::string& baseFont) {
  std::string b = LCase(baseFont);
  Style s;
  if (b.find("times") != std::string::npos || b.find("serif") != std::string::npos ||
      b.find("roman") != std::string::npos || b.find("georgia") != std::string::npos)
    s.family = Style::Serif;
  if (b.find("sans") != std::string::npos) s.family = Style::Sans;
  if (b.find("cour") != std::string::npos || b.find("mono") != std::string::npos) s.family = Style::Mono;
  s.bold = b.find("bold") != std::string::npos || b.find("black") != std::string::npos;
  return s;
}

bool winAnsi(const std::string& text) {
  for (int u : codesOf(text))
    if (u >= 32 && fz_windows_1252_from_unicode(u) < 0) return false;
  return true;
}

std::unique_ptr<Face> simple(Doc& d, pdf_obj* font, const std::string& text) {
  if (!po::isDict(font)) return nullptr;
  std::string sub = po::name(po::get(font, PDF_NAME(Subtype)));
  if (sub != "Type1" && sub != "TrueType" && sub != "MMType1") return nullptr;
  pdf_obj* enc = po::get(font, PDF_NAME(Encoding));
  std::vector<int> codes = codesOf(text);
  bool ansi = po::nameIs(enc, "WinAnsiEncoding") ||
              (po::isDict(enc) && po::nameIs(po::get(enc, PDF_NAME(BaseEncoding)), "WinAnsiEncoding") &&
               !po::get(enc, PDF_NAME(Differences)));
  if (!ansi) {
    // Without an encoding of its own a font keeps its built-in one, which
    // agrees with WinAnsi on plain ASCII letters and digits only.
    if (enc) return nullptr;
    for (int u : codes)
      if (u < 32 || u > 126 || u == '\'' || u == '`') return nullptr;
  }
  for (int u : codes)
    if (u < 32 || fz_windows_1252_from_unicode(u) < 0) return nullptr;
  pdf_obj* fd = po::get(font, PDF_NAME(FontDescriptor));
  bool embedded =
      po::get(fd, PDF_NAME(FontFile)) || po::get(fd, PDF_NAME(FontFile2)) || po::get(fd, PDF_NAME(FontFile3));
  pdf_document* doc = d.pdf();
  pdf_font_desc* desc = nullptr;
  bool covered = true;
  const int* p = codes.data();
  size_t n = codes.size();
  mu::guard("Loading the form's font", [&](fz_context* c) {
    desc = pdf_load_font(c, doc, nullptr, font);
    if (embedded)
      for (size_t i = 0; i < n && covered; ++i) covered = p[i] == ' ' || fz_encode_character(c, desc->font, p[i]) > 0;
  });
  if (!covered) {
    pdf_drop_font(mu::ctx(), desc);
    return nullptr;
  }
  return std::make_unique<Face>(font, nullptr, desc, false);
}

namespace {

// The subset of a source this document uses, grown by the characters given.
std::unique_ptr<Face> embed(Doc& d, const Source* s, const std::vector<int>& codes) {
  if (!d.fontSession) d.fontSession = std::make_shared<Session>();
  Embedded& e = d.fontSession->byFile[s->path + "#" + std::to_string(s->index)];
  bool grown = !e.obj;
  for (int u : codes)
    if (u >= 32) grown = e.codes.insert(u).second || grown;
  e.codes.insert(' ');
  if (grown) {
    // A larger subset is a new font object: what was drawn before keeps
    // the one it names, whose glyph numbers are the same.
    std::string bytes = subset(*s, e.codes);
    if (bytes.empty()) mu::fail("The font " + s->path + " cannot be embedded");
    pdf_document* doc = d.pdf();
    fz_font* font = nullptr;
    pdf_obj* obj = nullptr;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t len = bytes.size();
    std::string tag = tagOf(e.codes, s->path);
    const char* tg = tag.c_str();
    mu::guard("Embedding a font", [&](fz_context* c) {
      fz_buffer* buf = fz_new_buffer_from_copied_data(c, data, len);
      fz_try(c) {
        font = fz_new_font_from_buffer(c, nullptr, buf, 0, 0);
        obj = pdf_add_cid_font(c, doc, font);
        // The subset's name: a tag, then the font's PostScript name.
        char name[128];
        int k = 0;
        for (const char* q = fz_font_name(c, font); *q && k < 100; ++q)
          if (*q != ' ') name[k++] = *q;
        name[k] = 0;
        char full[140];
        fz_snprintf(full, sizeof full, "%s+%s", tg, name);
        pdf_obj* desc = pdf_array_get(c, pdf_dict_get(c, obj, PDF_NAME(DescendantFonts)), 0);
        pdf_dict_put_name(c, obj, PDF_NAME(BaseFont), full);
        pdf_dict_put_name(c, desc, PDF_NAME(BaseFont), full);
        pdf_dict_put_name(c, pdf_dict_get(c, desc, PDF_NAME(FontDescriptor)), PDF_NAME(FontName), full);
      }
      fz_always(c) {
        fz_drop_buffer(c, buf);
      }
      fz_catch(c) {
        fz_drop_font(c, font);
        pdf_drop_obj(c, obj);
        fz_rethrow(c);
      }
    });
    e.font.reset(font);
    e.obj.reset(obj);
  }
  fz_font* kept = nullptr;
  fz_font* f = e.font.get();
  mu::guard("Embedding a font", [&](fz_context* c) { kept = fz_keep_font(c, f); });
  return std::make_unique<Face>(e.obj.get(), kept, nullptr, true);
}

// An embedded font of the form drawn by glyph number (a subset embedded
// in an earlier session, usually) that has every character: filling a form
// again then embeds nothing.
std::unique_ptr<Face> reuse(Doc& d, pdf_obj* fonts, const std::vector<int>& codes) {
  int n = 0;
  mu::guard("Reading the form's fonts", [&](fz_context* c) { n = pdf_is_dict(c, fonts) ? pdf_dict_len(c, fonts) : 0; });
  pdf_document* doc = d.pdf();
  const int* p = codes.data();
  size_t len = codes.size();
  for (int i = 0; i < n && i < 64; ++i) {
    pdf_obj* v = nullptr;
    mu::guard("Reading the form's fonts", [&](fz_context* c) { v = pdf_dict_get_val(c, fonts, i); });
    if (!po::nameIs(po::get(v, PDF_NAME(Subtype)), "Type0") ||
        !po::nameIs(po::get(v, PDF_NAME(Encoding)), "Identity-H"))
      continue;
    pdf_obj* desc = po::at(po::get(v, PDF_NAME(DescendantFonts)), 0);
    pdf_obj* map = po::get(desc, PDF_NAME(CIDToGIDMap));
    pdf_obj* fd = po::get(desc, PDF_NAME(FontDescriptor));
    if ((map && !po::nameIs(map, "Identity")) ||
        !(po::get(fd, PDF_NAME(FontFile2)) || po::get(fd, PDF_NAME(FontFile3))))
      continue;
    pdf_font_desc* font = nullptr;
    bool covered = true;
    mu::guard("Loading the form's font", [&](fz_context* c) {
      font = pdf_load_font(c, doc, nullptr, v);
      for (size_t k = 0; k < len && covered; ++k) covered = p[k] <= ' ' || fz_encode_character(c, font->font, p[k]) > 0;
    });
    if (covered) {
      fz_font* kept = nullptr;
      mu::guard("Loading the form's font", [&](fz_context* c) { kept = fz_keep_font(c, font->font); });
      return std::make_unique<Face>(v, kept, font, true);
    }
    pdf_drop_font(mu::ctx(), font);
  }
  return nullptr;
}

std::unique_ptr<Face> find(Doc& d, pdf_obj* known, const Source* s, const std::vector<int>& codes) {
  if (auto f = reuse(d, known, codes)) return f;
  return embed(d, s, codes);
}

}  // namespace

std::unique_ptr<Face> unicode(Doc& d, const std::string& text, Style style, std::string* missing, pdf_obj* known) {
  std::vector<int> codes = codesOf(text);
  const Source* latin = dejavu(style);
  const Source* cjk = nullptr;
  // Alphabetic text in the alphabetic font; what it lacks in the CJK font.
  std::vector<int> own, rest, none;
  bool letters = false;
  for (int u : codes) {
    if (latin && latin->covers(u)) {
      own.push_back(u);
      letters = letters || u > ' ';
    } else {
      if (!cjk) cjk = noto(style, codes);
      (cjk && cjk->covers(u) ? rest : none).push_back(u);
    }
  }
  if (missing) {
    missing->clear();
    for (int u : none)
      if (missing->find(utf8Of(u)) == std::string::npos) *missing += utf8Of(u);
  }
  if (!latin && !cjk)
    mu::fail("No Unicode font is installed to draw \"" + text + "\" (fonts-dejavu-core provides one)");
  if (!letters && cjk && !rest.empty()) {
    rest.insert(rest.end(), own.begin(), own.end());
    return find(d, known, cjk, rest);
  }
  if (!latin) return find(d, known, cjk, rest);
  std::unique_ptr<Face> face = find(d, known, latin, own);
  if (!rest.empty()) face->setFallback(find(d, known, cjk, rest));
  return face;
}

}  // namespace pm::pdf::fonts
