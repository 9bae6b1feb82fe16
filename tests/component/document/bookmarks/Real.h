// The Document's bookmark members working for real through the MuPDF
// server, on documents the tests make, read back from the saved file by
// qpdf (independently of the engine the server uses).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "Model.h"
#include "support/PdfRead.h"

namespace pm::test {

using Lines = std::vector<std::string>;

// qpdf's JSON of the file, turned into lines by a short program: every
// value comes from qpdf, none from the engine under test.
inline constexpr const char* kOutlineReader = R"PY(
import json, subprocess, sys
def val(r):
    return objs.get("obj:" + r, {}).get("value") if isinstance(r, str) and r.endswith(" R") else r
def text(s):
    s = val(s)
    if isinstance(s, str) and s[:2] in ("u:", "b:"):
        return s[2:] if s[0] == "u" else bytes.fromhex(s[2:]).decode("latin-1")
    return "" if s is None else str(s)
def num(v):
    v = val(v)
    if isinstance(v, list):
        return "[" + " ".join(num(x) for x in v) + "]"
    return "" if v is None else str(int(v) if isinstance(v, float) and v == int(v) else v)
def walk(node, depth, out):
    ch, n = node.get("/First"), 0
    while ch and depth < 40 and n < 500:
        item, n = val(ch) or {}, n + 1
        js = text((val(item.get("/A")) or {}).get("/JS"))
        out.append("  " * depth + text(item.get("/Title")) + "|C=" + num(item.get("/C")) + "|F=" + num(item.get("/F")) +
                   "|Count=" + num(item.get("/Count")) + "|JS=" + js)
        walk(item, depth + 1, out)
        ch = item.get("/Next")
files = []
for path in sys.argv[1:]:
    raw = subprocess.run(["qpdf", "--json=2", "--json-key=qpdf", path], capture_output=True, check=True).stdout
    objs = json.loads(raw)["qpdf"][1]
    root, out = val(objs["trailer"]["value"]["/Root"]), []
    if root.get("/Outlines"):
        walk(val(root["/Outlines"]), 0, out)
    files.append("\n".join(out))
sys.stdout.buffer.write("\f".join(files).encode("utf-8"))
)PY";

// Several files read in one go (each read starts an interpreter).
inline std::vector<Lines> outlinesOf(const std::vector<std::string>& paths) {
  std::vector<std::string> argv = {"python3", "-c", kOutlineReader};
  argv.insert(argv.end(), paths.begin(), paths.end());
  std::string out;
  EXPECT_EQ(run(argv, &out), 0) << out;
  std::vector<Lines> files;
  std::stringstream all(out);
  for (std::string file; std::getline(all, file, '\f');) {
    std::stringstream lines(file);
    files.emplace_back();
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) files.back().push_back(line);
  }
  files.resize(paths.size());
  return files;
}

// The outline of a file as qpdf reads it, one line per bookmark in display
// order, indented two spaces per level: "Title|C=...|F=...|Count=...|JS=..."
// (an entry the bookmark lacks is left empty).
inline Lines outlineLines(const std::string& path) {
  return outlinesOf({path})[0];
}

// Only the titles, indented the same way.
inline Lines titlesOnly(const Lines& lines) {
  Lines out;
  for (const std::string& l : lines) out.push_back(l.substr(0, l.find('|')));
  return out;
}

// Three pages of text.
inline DocSpec plainSpec() {
  return textPages({{"1. Scope", "1.1 Terms of use", "This 1.2 is in the middle"},
                    {"2. Use", "3 plain", "3.1. dotted"},
                    {"2.1 Details here"}});
}

// The same pages with an outline of several levels with a repeated
// name, names in Cyrillic and a name holding "~":
//   Intro (Intro, Terms ~ conditions), Введение (Глава (Deep)), Summary
inline DocSpec outlinedSpec() {
  DocSpec s = plainSpec();
  s.outline = {
      {"Intro", 0, {{"Intro", 1, {}}, {"Terms ~ conditions", 1, {}}}},
      {"Введение", 2, {{"Глава", 2, {{"Deep", 0, {}}}}}},
      {"Summary", 1, {}},
  };
  return s;
}

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
