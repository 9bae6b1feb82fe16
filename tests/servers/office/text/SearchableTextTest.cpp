// The text of printed documents survives the whole printing road (office,
// PostScript, Distiller, PDF): every line the test writes is read back from
// the finished PDF by MuPDF and by poppler's pdftotext. Fonts from the
// Liberation, DejaVu and Noto families, bold and italic, in Latin with
// accents, Greek, Cyrillic, Chinese and Japanese. Every office program prints
// through the same rewriting of pdftops' output, tested here on its shapes.
#include <sstream>

#include "support/RealConversion.h"
#include "servers/office/PostScriptText.h"

namespace pm::test {

namespace {

// ---- The rewriting of pdftops' output, on the shapes pdftops writes ----

const char* kSimpleFont =
    "%%BeginResource: font BAAAAA+LiberationSerif\n"
    "10 dict begin\n/FontName /BAAAAA+LiberationSerif def\n/FontType 42 def\n"
    "FontName currentdict end definefont pop\n%%EndResource\n";

std::string simpleUse(const std::string& objectName) {
  std::string s = "/" + objectName + " /BAAAAA+LiberationSerif 1 1\n";
  for (int row = 0; row < 32; ++row) {
    s += row == 0 ? "[ " : "  ";
    for (int col = 0; col < 8; ++col) {
      char name[8];
      std::snprintf(name, sizeof name, "/c%02x", row * 8 + col);
      s += name;
    }
    s += row == 31 ? "]\n" : "\n";
  }
  return s + "pdfMakeFont\n";
}

const char* kCidFont =
    "%%BeginResource: font QABZZT+DejaVuSans\n"
    "/CIDInit /ProcSet findresource begin\n20 dict begin\n/CIDFontName /QABZZT+DejaVuSans def\n/CIDFontType 2 def\n"
    "CIDFontName currentdict end /CIDFont defineresource pop\nend\n%%EndResource\n"
    "/F13_0 /QABZZT+DejaVuSans 0 pdfMakeFont16L3\n";

TEST(GlyphText, EachFontGetsTheTextOfItsGlyphs) {
  office::FontTexts texts;
  texts[{12, 0}] = office::FontText{
      false, {{0x01, std::string("\0A", 2)}, {0x02, "\x03\x95"}, {0x03, std::string("\xD8\x3D\xDE\x00", 4)}}};
  texts[{13, 0}] = office::FontText{true, {{5, "\x4E\x2D"}, {300, "\x65\xE5"}}};
  texts[{20, 0}] = office::FontText{true, {{7, "\x30\x42"}}};
  texts[{99, 0}] = office::FontText{false, {{0x01, std::string("\0Z", 2)}}};  // a font the file does not use
  struct Case {
    const char* what;
    std::string in;
    std::vector<std::string> present, absent;
    int fonts;
  } cases[] = {
      {"a simple font: names from its encoding, keyed to the code's text",
       std::string(kSimpleFont) + simpleUse("F12_0"),
       {"/pmGlyphText {", "/F12_0 <<\n/c01 <0041>\n/c02 <0395>\n/c03 <D83DDE00>\n>> pmGlyphText\n"},
       {"/c00 <", "<005A>"},
       1},
      {"a composite font: CIDs inside the CIDFont's own dictionary, before it is defined",
       kCidFont,
       {"/CIDFontType 2 def\ncurrentdict /FontInfo known { FontInfo dup length 1 add dict copy } { 1 dict } ifelse\n"
        "dup /GlyphNames2Unicode <<\n5 <4E2D>\n300 <65E5>\n>> put /FontInfo exch def\n"
        "CIDFontName currentdict end /CIDFont defineresource pop\n"},
       {"pmGlyphText"},
       1},
      {"a CFF-based CIDFont: the dictionary is still open on its StartData line",
       "%%BeginResource: font Noto\n20 dict begin\n/CIDFontName /Noto def\n/CIDFontType 0 def\n(Hex) 1234 StartData\n"
       "%%EndResource\n/F20_0 /Noto 0 pdfMakeFont16L3\n",
       {"/CIDFontType 0 def\ncurrentdict /FontInfo known",
        "<<\n7 <3042>\n>> put /FontInfo exch def\n(Hex) 1234 StartData\n"},
       {},
       1},
      {"a font with no map is left as pdftops wrote it",
       std::string(kSimpleFont) + simpleUse("F14_0"),
       {},
       {"GlyphNames2Unicode", "pmGlyphText"},
       0},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.in);
    std::ostringstream out;
    int fonts = office::addGlyphText(in, out, texts);
    EXPECT_EQ(fonts, c.fonts) << c.what;
    for (const std::string& p : c.present)
      EXPECT_NE(out.str().find(p), std::string::npos) << c.what << ": " << p << "\n" << out.str();
    for (const std::string& a : c.absent) EXPECT_EQ(out.str().find(a), std::string::npos) << c.what << ": " << a;
    if (c.fonts == 0) {
      EXPECT_EQ(out.str(), c.in) << c.what;
    }
  }
}

// ---- The conversions end to end ----

struct Line {
  const char* font;
  const char* style;  // RTF: "", "\\b", "\\i", "\\b\\i"
  const char* text;
};

// One paragraph per line, each in its own font and style. CJK text is set in
// the Noto CJK fonts (the office takes the Asian font for it).
const Line kLines[] = {
    {"Liberation Serif", "", "Liberation Serif: café, naïve, Ærøskøbing, façade, Œuvre"},
    {"Liberation Sans", "\\b", "Liberation Sans bold: Größe, señor, Dvořák"},
    {"Liberation Mono", "\\i", "Liberation Mono italic: żółć"},
    {"DejaVu Sans", "\\i", "DejaVu Sans italic: Ελληνικά κείμενα"},
    {"DejaVu Serif", "\\b\\i", "DejaVu Serif bold italic: Кириллица и текст"},
    {"Noto Sans CJK SC", "", "中文文本的测试"},
    {"Noto Serif CJK JP", "\\b", "日本語のテキストです"},
};

class SearchableConversion : public RealConversion {
 protected:
  // Every line is in the PDF's text as MuPDF reads it and as pdftotext reads it.
  void expectLines(const std::string& file, const std::vector<std::string>& lines) {
    std::string mu = pdfText(file);
    std::string poppler = commandOutput("pdftotext -enc UTF-8 " + shellQuote(file) + " -");
    for (const std::string& l : lines) {
      EXPECT_NE(mu.find(l), std::string::npos) << file << " read by MuPDF lacks: " << l << "\n" << mu;
      EXPECT_NE(poppler.find(l), std::string::npos) << file << " read by pdftotext lacks: " << l << "\n" << poppler;
    }
  }
};

TEST_F(SearchableConversion, WordDocumentAndItsPostScriptDistilledLater) {
  std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl";
  for (size_t i = 0; i < std::size(kLines); ++i) rtf += "{\\f" + std::to_string(i) + " " + kLines[i].font + ";}";
  rtf += "}\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134\n";
  for (size_t i = 0; i < std::size(kLines); ++i) {
    std::string f = std::to_string(i);
    rtf += "\\pard\\plain\\f" + f + "\\dbch\\af" + f + "\\loch\\f" + f + "\\fs24" + kLines[i].style + " " +
           rtfText(kLines[i].text) + "\\par\n";
  }
  writeFile(dir.file("letter.rtf"), rtf + "}\n");
  std::vector<std::string> lines;
  for (const Line& l : kLines) lines.push_back(l.text);
  call(pdf, "CreatePDFfromWord", {Arg(dir.file("letter.pdf")), Arg(dir.file("letter.rtf"))});
  expectLines(dir.file("letter.pdf"), lines);
  std::string fonts = pdfFonts(dir.file("letter.pdf"));
  for (const char* f : {"LiberationSerif", "LiberationSans-Bold", "LiberationMono-Italic", "DejaVuSans-Oblique",
                        "DejaVuSerif-BoldItalic", "NotoSansCJK", "NotoSerifCJK"})
    EXPECT_NE(fonts.find(f), std::string::npos) << f << " is one of the fonts the text was set in:\n" << fonts;

  // The PostScript file a user keeps, distilled on its own.
  call(pdf, "CreatePSfromWord", {Arg(dir.file("letter.ps")), Arg(dir.file("letter.rtf"))});
  Variant out(dir.file("later.pdf")), in(dir.file("letter.ps"));
  call(pdf, "CreatePDFfromPS", {ByRef(out), ByRef(in)});
  expectLines(dir.file("later.pdf"), lines);
}

}  // namespace

}  // namespace pm::test
