// The Document's bookmark members working for real through the MuPDF
// server, on documents the tests make, read back from the saved file by
// qpdf (independently of the engine the server uses).
#pragma once

#include <string>
#include <vector>

#include "Model.h"
#include "pdfserver_js/Read.h"

namespace pm::test {

using Lines = std::vector<std::string>;

// The outline of a file as qpdf reads it, one line per bookmark in display
// order, indented two spaces per level: "Title|C=...|F=...|Count=...|JS=..."
// (an entry the bookmark lacks is left empty).
Lines outlineLines(const std::string& path);
// Several files read in one go (each read starts an interpreter).
std::vector<Lines> outlinesOf(const std::vector<std::string>& paths);
// Only the titles, indented the same way.
Lines titlesOnly(const Lines& lines);

// Three pages of text, and an outline of several levels with a repeated
// name, names in Cyrillic and a name holding "~":
//   Intro (Intro, Terms ~ conditions), Введение (Глава (Deep)), Summary
DocSpec outlinedSpec();
// The same pages without an outline.
DocSpec plainSpec();

class RealBookmarks : public ::testing::Test {
 protected:
  std::string make(const std::string& name, const DocSpec& layout) {
    std::string p = dir.file(name);
    makePdf(p, layout);
    return p;
  }
  ObjectRef open(const std::string& path) {
    ObjectRef d = openDocument(path);
    EXPECT_NO_THROW(get(d, "NumPages")) << path;
    return d;
  }
  TempDir dir;
};

}  // namespace pm::test
