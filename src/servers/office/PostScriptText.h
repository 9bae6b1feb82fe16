// The office servers' last printing step: the PDF the office exported
// becomes a PostScript file whose text survives distilling.
//
// The office's PDF fonts are subsets whose glyphs are named after their codes
// (/c41) or CIDs, so what character each glyph draws is known only from the
// PDF's ToUnicode maps, which no PostScript font carries. poppler's pdftops
// writes the pages; this step then adds to every font a
// /FontInfo /GlyphNames2Unicode dictionary built from those maps, the
// PostScript convention distillers (Ghostscript's pdfwrite among them) read to
// give the finished PDF its text. Simple fonts are keyed by glyph name,
// CID-keyed fonts by CID.
#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <utility>

namespace pm::office {

// What one PDF font's codes stand for. Simple fonts: one-byte code to text;
// composite fonts (cid): CID to text. Text is UTF-16BE, as the convention wants.
struct FontText {
  bool cid = false;
  std::map<uint32_t, std::string> text;
};
// By the font dictionary's object number and generation (pdftops names the
// font F<num>_<gen> after them).
using FontTexts = std::map<std::pair<int, int>, FontText>;

// The character maps of every font of a PDF, read with MuPDF. Fonts without a
// ToUnicode map are left out. Raises the engine error when the file cannot
// be read.
FontTexts readFontTexts(const std::string& pdf);

// Copies pdftops' PostScript from in to out, adding the GlyphNames2Unicode
// dictionaries texts gives. in is read twice (the composite fonts' names are
// learnt from the lines that use them, after their definitions), so it must
// be seekable. Returns how many fonts got one.
int addGlyphText(std::istream& in, std::ostream& out, const FontTexts& texts);

struct PostScriptJob {
  bool gray = false;  // every colour becomes grey
  std::chrono::milliseconds timeout{0};
  int32_t errorNumber = 0;  // raised, with source, on any failure
  std::string source;
};

// Turns pdf into the PostScript file out, written beside out and renamed to
// it only when complete.
void printPdfToPostScript(const std::string& pdf, const std::string& out, const PostScriptJob& job);

}  // namespace pm::office
