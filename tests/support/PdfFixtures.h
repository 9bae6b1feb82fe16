// Documents the PDF server tests make for themselves with MuPDF, and ways to
// read back what a file holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/Expect.h"
#include "support/TestSupport.h"

namespace pm::test {

struct Outline {
  std::string title;
  int page = 0;  // 0-based destination
  std::vector<Outline> children;
  bool open = true;
};

struct PageSpec {
  float width = 612, height = 792;
  int rotate = 0;
  std::vector<std::string> lines;  // Helvetica text, one line each from the top
  std::string cjk;                 // UTF-8 Japanese text drawn below the lines
  float cropInset = 0;             // a crop box this far inside the media box
};

struct DocSpec {
  std::vector<PageSpec> pages;
  std::vector<Outline> outline;
  std::string title, author;
  std::string userPassword;  // encrypts with AES-256 when not empty
  bool loopOutline = false;  // the last top-level item leads back to the first
  // A filled form on the first page: text field "name" holding formValue,
  // combo box "choice" (Red/Green/Blue, Green chosen), check boxes "agree"
  // (on) and "news" (off), radio buttons "size" (S, M; M chosen).
  bool form = false;
  std::string formValue = "Ada";
  // On the first page: a link to the last page by explicit destination,
  // one by named destination ("end"), a web link, and a note with its
  // pop-up.
  bool annotated = false;
  std::string xmp;  // an XMP packet as the catalog's /Metadata when not empty
};

void makePdf(const std::string& path, const DocSpec& plan);
// Pages of Helvetica text, one list of lines for each page.
DocSpec textPages(const std::vector<std::vector<std::string>>& pages);

bool exists(const std::string& path);

// Read back with MuPDF, independently of the server.
struct ReadOutline {
  std::string title;
  int page = -1;
  bool open = false;
  std::vector<ReadOutline> children;
};
struct ReadBack {
  bool ok = false;
  int pages = 0;
  std::string title, author, keywords, modDate;
  std::string xmp;  // the catalog's /Metadata stream
  std::vector<ReadOutline> outline;
  std::vector<std::string> pageText;
};
ReadBack readBack(const std::string& path);
// A raw value of the outline item found by its title path "A/B/C": the
// printed PDF object of key (e.g. "C", "F", "Count", "A").
std::string outlineEntry(const std::string& path, const std::vector<std::string>& titles, const std::string& key);

// The form's terminal fields as qpdf --json reads them, in form order:
// "fullname=value@page" with qpdf's value notation ("u:text", "/Name") and
// the 1-based page of the field's widget.
std::vector<std::string> qpdfFields(const std::string& path);
// The annotations of a page (0-based) read with MuPDF: the subtype, for a
// link where it leads ("Link>2", a 0-based page of the file, or
// "Link:http://..."), for a pop-up its parent's subtype ("Popup<Text").
std::vector<std::string> annotSummary(const std::string& path, int page);

// qpdf's check of the file finds no fault.
void expectClean(const std::string& file);

// The text of a page (1-based) as poppler's pdftotext and MuPDF's mutool
// each extract it, MuPDF's warnings left out.
std::pair<std::string, std::string> shownText(const std::string& file, int page = 1);
// Both engines show every part on the page.
void expectShown(const std::string& file, int page, const std::vector<std::string>& parts);

// Several reads in one comparable line: "key=value" for each key, separated
// by spaces.
std::string eachOf(const std::vector<std::string>& keys, const std::function<std::string(const std::string&)>& read);

// Runs a command (argv) with a time-out; its exit status, output in out.
int run(const std::vector<std::string>& argv, std::string* out = nullptr, int timeoutSeconds = 60);

}  // namespace pm::test
