// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "support/OfficeDocs.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "automation/Automation.h"

namespace pm::test {

std::string rtfText(const std::string& t) {
  std::string s;
  for (size_t k = 0; k < t.size();) {
    unsigned char c = static_cast<unsigned char>(t[k]);
    int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    uint32_t cp = len > 1 ? c & (0x7F >> len) : c;
    for (int j = 1; j < len && k + j < t.size(); ++j) cp = (cp << 6) | (static_cast<unsigned char>(t[k + j]) & 63);
    k += len;
    if (cp == '\\' || cp == '{' || cp == '}') s += '\\';
    if (cp < 128)
      s += static_cast<char>(cp);
    else
      s += "\\u" + std::to_string(cp > 32767 ? static_cast<int>(cp) - 65536 : static_cast<int>(cp)) + "?";
  }
  return s;
}

std::string xmlText(const std::string& t) {
  std::string s;
  for (char c : t)
    s += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
  return s;
}

bool distillerServed() {
  return ClassRegistry::instance().has("{1CD675B2-ECD1-11D1-B976-00600802DB86}") &&
         !commandOutput("command -v gs").empty();
}

std::string makeRtf(const std::vector<RtfPage>& pages, bool landscape, const std::string& font) {
  std::string s = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 " + font + ";}}";
  s += landscape ? "\\paperw16838\\paperh11906\\landscape" : "\\paperw11906\\paperh16838";
  s += "\\margl1134\\margr1134\\margt1134\\margb1134\n";
  for (size_t i = 0; i < pages.size(); ++i)
    s += (i ? "\\page\n" : "") + std::string("\\pard\\f0\\fs24 ") + rtfText(pages[i].text) + "\\par\n";
  return s + "}\n";
}

std::string makeRtfPages(int count, bool landscape) {
  std::vector<RtfPage> pages;
  for (int i = 1; i <= count; ++i) pages.push_back({"Page " + std::to_string(i) + " marker"});
  return makeRtf(pages, landscape);
}

bool officeServed() {
  return ClassRegistry::instance().has("Word.Application") && ClassRegistry::instance().has("Pressmark.OfficeControl");
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string commandOutput(const std::string& commandLine) {
  std::string out;
  std::string line = commandLine.find("2>&1") == std::string::npos ? commandLine + " 2>/dev/null" : commandLine;
  FILE* p = ::popen(line.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

PdfFacts pdfFacts(const std::string& pdf) {
  PdfFacts f;
  std::string info = commandOutput("pdfinfo " + shellQuote(pdf));
  std::smatch m;
  if (std::regex_search(info, m, std::regex(R"(Pages:\s+(\d+))"))) f.pages = std::stoi(m[1]);
  if (std::regex_search(info, m, std::regex(R"(Page size:\s+([\d.]+) x ([\d.]+))"))) {
    f.width = std::stod(m[1]);
    f.height = std::stod(m[2]);
  }
  return f;
}

std::string pdfText(const std::string& pdf, int page) {
  std::string pages = page > 0 ? " " + std::to_string(page) : "";
  return commandOutput("mutool draw -q -F txt -o - " + shellQuote(pdf) + pages + " 2>/dev/null");
}

std::string psToPdf(const std::string& ps, const std::string& pdf) {
  commandOutput("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" + shellQuote(pdf) + " " +
                shellQuote(ps));
  return pdf;
}

std::vector<Ink> pageInk(const std::string& file) {
  std::string out = commandOutput("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox " + shellQuote(file) + " 2>&1");
  std::vector<Ink> pages;
  std::regex re(R"(%%HiResBoundingBox: ([-\d.]+) ([-\d.]+) ([-\d.]+) ([-\d.]+))");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it)
    pages.push_back(Ink{std::stod((*it)[2]), std::stod((*it)[4])});
  return pages;
}

std::string pdfFonts(const std::string& pdf) {
  return commandOutput("pdffonts " + shellQuote(pdf));
}

std::string fileHead(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string s(n, '\0');
  in.read(s.data(), static_cast<std::streamsize>(n));
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

}  // namespace pm::test
