// Fonts that text is drawn in: a simple font the document already holds
// when its encoding reaches every character, otherwise a subset of one of
// the Unicode fonts installed with the system (DejaVu for alphabetic
// scripts, Noto Sans CJK for Chinese, Japanese and Korean) embedded as a
// Type0 font with its ToUnicode map, so the text shows in every viewer and
// extracts as what was written.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf::fonts {

// A font to set one piece of text in, with its metrics.
class Face {
 public:
  Face(pdf_obj* obj, fz_font* metrics, pdf_font_desc* desc, bool cid);
  ~Face();
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;

  // The font dictionary (the document holds it).
  pdf_obj* obj() const { return obj_; }
  // Two-byte glyph codes (Identity-H) rather than WinAnsi bytes.
  bool cid() const { return cid_; }
  // Width of the text at size 1 (in this face and its fallback).
  double width(const std::string& utf8) const;
  // The text as a string operand of Tj (in this face alone).
  std::string show(const std::string& utf8) const;
  // Whether this face (not its fallback) has the character.
  bool covers(int u) const;

  // The face for what this one lacks (CJK after an alphabetic font), or
  // null; the text is then split into runs of one face each.
  const Face* fallback() const { return fallback_.get(); }
  Face* fallback() { return fallback_.get(); }
  void setFallback(std::unique_ptr<Face> f) { fallback_ = std::move(f); }
  std::vector<std::pair<const Face*, std::string>> runs(const std::string& utf8) const;
  // The name the content that draws with it gives the font.
  std::string res;

 private:
  double widthOwn(const std::string& utf8) const;
  pdf_obj* obj_;
  fz_font* font_;
  pdf_font_desc* desc_;
  bool cid_;
  std::unique_ptr<Face> fallback_;
};

// The family and weight a Unicode font stands in for.
struct Style {
  enum Family { Sans, Serif, Mono } family = Sans;
  bool bold = false;
};
// The style of a base font name ("Times-Bold", "CourierNew", ...).
Style styleOf(const std::string& baseFont);

// The simple font font (a /Font dictionary of the document) when it can
// show every character of text: its encoding is WinAnsi and, when the font
// is embedded, it has their glyphs. Null otherwise.
std::unique_ptr<Face> simple(Doc& d, pdf_obj* font, const std::string& text);

// A subset of the installed Unicode font of the style that covers text,
// holding every character this document asked of that font so far. The
// characters no installed font has are listed in missing (drawn as the
// font's missing glyph); a font is answered regardless. An embedded font
// among known (a /Font dictionary) that has the characters is used first.
std::unique_ptr<Face> unicode(Doc& d, const std::string& text, Style style, std::string* missing,
                              pdf_obj* known = nullptr);

// The characters of text outside WinAnsi (what a standard font cannot show).
bool winAnsi(const std::string& text);

// What a document keeps of the fonts embedded while it is open.
struct Session;

}  // namespace pm::pdf::fonts
