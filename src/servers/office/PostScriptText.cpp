// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "servers/office/PostScriptText.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "automation/Automation.h"
#include "system/AtomicFile.h"
#include "system/Files.h"
#include "system/Process.h"
#include "system/SystemServices.h"

namespace pm::office {

namespace {

// Redefines font /name with a copy of its FontInfo that holds the given
// GlyphNames2Unicode dictionary: /name dict pmGlyphText. The copy is made as
// pdftops' own pdfMakeFont makes its fonts.
constexpr const char* kGlyphTextProc =
    "/pmGlyphText {\n"
    "  1 index findfont dup length 1 add dict begin\n"
    "    { 1 index /FID ne { def } { pop pop } ifelse } forall\n"
    "    currentdict /FontInfo known { FontInfo dup length 1 add dict copy } { 1 dict } ifelse\n"
    "    dup /GlyphNames2Unicode 4 -1 roll put\n"
    "    /FontInfo exch def\n"
    "    currentdict\n"
    "  end\n"
    "  definefont pop\n"
    "} bind def\n";

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "<";
  for (unsigned char b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s + ">";
}

// A glyph name that can be written as a PostScript name literal as it is.
bool plainName(const std::string& n) {
  if (n.empty() || n.size() > 127) return false;
  for (char ch : n)
    if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '_' || ch == '-')) return false;
  return true;
}

// The dictionary body for a simple font: each code's glyph name (from the
// encoding pdftops gave the font) to the code's text.
std::string simpleEntries(const std::vector<std::string>& encoding, const FontText& ft) {
  std::string d;
  for (const auto& [code, text] : ft.text) {
    if (code >= encoding.size()) continue;
    const std::string& name = encoding[code];
    if (!plainName(name) || name == ".notdef") continue;
    d += "/" + name + " " + hex(text) + "\n";
  }
  return d;
}

std::string cidEntries(const FontText& ft) {
  std::string d;
  for (const auto& [cid, text] : ft.text) d += std::to_string(cid) + " " + hex(text) + "\n";
  return d;
}

std::pair<int, int> fontKey(const std::smatch& m) {
  return {std::stoi(m[1]), std::stoi(m[2])};
}

}  // namespace

int addGlyphText(std::istream& in, std::ostream& out, const FontTexts& texts) {
  // pdftops writes "/F<num>_<gen> /<base> <wmode> pdfMakeFont16L3" (or
  // pdfMakeFont16) after the CIDFont resource it composes; learn which
  // resources serve which PDF fonts first.
  static const std::regex composite(R"(^/F(\d+)_(\d+) /(\S+) [01] pdfMakeFont16(L3)?\s*$)");
  static const std::regex simpleHead(R"(^/F(\d+)_(\d+) /(\S+) \S+ \S+\s*$)");
  static const std::regex cidName(R"(^/CIDFontName /(\S+) def)");
  std::map<std::string, std::map<uint32_t, std::string>> cidText;
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (line.find("pdfMakeFont16") == std::string::npos || !std::regex_match(line, m, composite)) continue;
    auto t = texts.find(fontKey(m));
    if (t == texts.end() || !t->second.cid) continue;
    auto& merged = cidText[m[3]];
    for (const auto& [cid, text] : t->second.text) merged.emplace(cid, text);
  }
  in.clear();
  in.seekg(0);

  int fonts = 0;
  bool procWritten = false;
  std::string currentCid;
  while (std::getline(in, line)) {
    // A CIDFont resource: its dictionary is still open on the line that
    // ends it (defineresource for TrueType-based ones, StartData for CFF).
    if (line.rfind("/CIDFontName /", 0) == 0 && std::regex_search(line, m, cidName)) currentCid = m[1];
    if (!currentCid.empty() &&
        (line.find("/CIDFont defineresource") != std::string::npos || line.find("StartData") != std::string::npos)) {
      auto t = cidText.find(currentCid);
      if (t != cidText.end() && !t->second.empty()) {
        FontText ft;
        ft.cid = true;
        ft.text = t->second;
        out << "currentdict /FontInfo known { FontInfo dup length 1 add dict copy } { 1 dict } ifelse\n"
               "dup /GlyphNames2Unicode <<\n"
            << cidEntries(ft) << ">> put /FontInfo exch def\n";
        ++fonts;
      }
      currentCid.clear();
    }
    // A simple font: the head line, the encoding array, pdfMakeFont.
    if (line.rfind("/F", 0) == 0 && line.find("pdfMakeFont") == std::string::npos &&
        std::regex_match(line, m, simpleHead)) {
      std::pair<int, int> key = fontKey(m);
      std::string name = "F" + std::to_string(key.first) + "_" + std::to_string(key.second);
      std::vector<std::string> lines{line};
      std::vector<std::string> encoding;
      bool complete = false;
      // The head, 32 lines of encoding, pdfMakeFont: anything longer is
      // not one of these, and goes out as it came.
      while (lines.size() < 40 && std::getline(in, line)) {
        lines.push_back(line);
        if (line == "pdfMakeFont") {
          complete = true;
          break;
        }
        for (size_t i = 0; (i = line.find('/', i)) != std::string::npos;) {
          size_t end = line.find_first_of("/] \t", i + 1);
          encoding.push_back(line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1));
          i = end == std::string::npos ? line.size() : end;
        }
      }
      for (const std::string& l : lines) out << l << "\n";
      auto t = texts.find(key);
      if (complete && encoding.size() == 256 && t != texts.end() && !t->second.cid) {
        std::string entries = simpleEntries(encoding, t->second);
        if (!entries.empty()) {
          if (!procWritten) out << kGlyphTextProc;
          procWritten = true;
          out << "/" << name << " <<\n" << entries << ">> pmGlyphText\n";
          ++fonts;
        }
      }
      continue;
    }
    out << line << "\n";
  }
  return fonts;
}

namespace {

// Runs one conversion program; raises the job's error with what it said.
void run(std::vector<std::string> argv, const PostScriptJob& job) {
  ProcessOptions po;
  po.argv = std::move(argv);
  po.timeout = job.timeout;
  std::string errors;
  po.onLine = [&](OutputStream, std::string_view line) {
    if (errors.size() < 2000) errors.append(line).append("\n");
  };
  ProcessResult r = runProcess(std::move(po));
  if (!r.success())
    raise(job.errorNumber, "PrintOut: PostScript conversion failed (" + r.describe() + "): " + Trim(errors),
          job.source);
}

std::string folderOf(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  return withTrailingSlash(dir.empty() ? "." : dir);
}

}  // namespace

void printPdfToPostScript(const std::string& pdf, const std::string& out, const PostScriptJob& job) {
  // Grey is made on the PDF, where Ghostscript keeps the fonts' maps.
  std::string source = pdf;
  std::unique_ptr<ExclusiveTempFile> gray;
  if (job.gray) {
    gray = std::make_unique<ExclusiveTempFile>(folderOf(pdf), ".pdf");
    run({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-sColorConversionStrategy=Gray",
         "-dProcessColorModel=/DeviceGray", "-sOutputFile=" + gray->path(), pdf},
        job);
    source = gray->path();
  }
  FontTexts texts;
  try {
    texts = readFontTexts(source);
  } catch (const AutomationError& e) {
    raise(job.errorNumber, "PrintOut: the printed pages could not be read: " + e.description(), job.source);
  }

  ExclusiveTempFile pages(folderOf(pdf), ".ps");
  // Each page keeps its own size and orientation (pdftops would otherwise
  // turn landscape pages onto portrait paper).
  run({"pdftops", "-level3", "-origpagesizes", source, pages.path()}, job);

  try {
    AtomicFile part(out);
    part.close();
    {
      std::ifstream in(pages.path(), std::ios::binary);
      std::ofstream o(part.path(), std::ios::binary | std::ios::trunc);
      if (!in || !o) raise(job.errorNumber, "PrintOut: the PostScript file could not be written.", job.source);
      addGlyphText(in, o, texts);
      o.flush();
      if (!o) raise(job.errorNumber, "PrintOut: the PostScript file could not be written (disk full?).", job.source);
    }
    part.commit();
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), out);
  }
}

}  // namespace pm::office
