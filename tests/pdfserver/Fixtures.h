// Documents the PDF server tests make for themselves with MuPDF, and ways to
// read back what a file holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace fixture {

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
};

void makePdf(const std::string& path, const DocSpec& plan);

using pm::test::TempDir;
using pm::test::writeFile;

std::string readFile(const std::string& path);
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
  std::string title, author, keywords;
  std::vector<ReadOutline> outline;
  std::vector<std::string> pageText;
  std::vector<int> rotation;
};
ReadBack readBack(const std::string& path);
// A raw value of the outline item found by its title path "A/B/C": the
// printed PDF object of key (e.g. "C", "F", "Count", "A").
std::string outlineEntry(const std::string& path, const std::vector<std::string>& titles, const std::string& key);

// Runs a command (argv) with a time-out; its exit status, output in out.
int run(const std::vector<std::string>& argv, std::string* out = nullptr, int timeoutSeconds = 60);

}  // namespace fixture
