// Documents the office tests write for themselves, and reading the PDF and
// PostScript files the conversions make back through the command-line
// tools of poppler and Ghostscript.
#pragma once

#include <string>
#include <vector>

namespace pm::test {

struct RtfPage {
  std::string text;  // UTF-8; non-ASCII characters are written as \uN
};

// UTF-8 text as RTF text (\uN escapes) and as XML character data.
std::string rtfText(const std::string& utf8);
std::string xmlText(const std::string& text);
// True when the Distiller server and Ghostscript are there.
bool distillerServed();

// An RTF document with one paragraph per page, separated by page breaks.
std::string makeRtf(const std::vector<RtfPage>& pages, bool landscape = false, const std::string& font = "DejaVu Sans");
// Pages whose text is "Page <n> marker" for n = 1..count.
std::string makeRtfPages(int count, bool landscape = false);

// True when Word.Application is served (the office server was built).
bool officeServed();

// Runs a command line, returns its standard output ("" on failure).
std::string commandOutput(const std::string& commandLine);
// Shell quoting for one argument.
std::string shellQuote(const std::string& s);

struct PdfFacts {
  int pages = 0;
  double width = 0, height = 0;  // of the first page, in points
};
PdfFacts pdfFacts(const std::string& pdf);
// The text of one page (1-based), or of all pages when page is 0, read by MuPDF.
std::string pdfText(const std::string& pdf, int page = 0);
// A PostScript file made into a PDF by Ghostscript, for reading back.
std::string psToPdf(const std::string& ps, const std::string& pdf);
// The lowest and highest inked points of each page (Ghostscript's bbox
// device), in points from the bottom; an empty page gives {0, 0}.
struct Ink {
  double bottom = 0, top = 0;
};
std::vector<Ink> pageInk(const std::string& psOrPdf);
// The names of the fonts a PDF embeds (pdffonts).
std::string pdfFonts(const std::string& pdf);
// The first bytes of a file.
std::string fileHead(const std::string& path, size_t n);

}  // namespace pm::test
