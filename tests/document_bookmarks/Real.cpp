#include "Real.h"

// The document maker and reader the PDF server tests use, shared rather than
// copied.
#include "../pdfserver/Fixtures.cpp"

namespace realbm {

namespace {

// qpdf's JSON of the file, turned into lines by a short program: every
// value comes from qpdf, none from the engine under test.
const char* kReader = R"PY(
import json, subprocess, sys
raw = subprocess.run(["qpdf", "--json=2", "--json-key=qpdf", sys.argv[1]], capture_output=True, check=True).stdout
objs = json.loads(raw)["qpdf"][1]
def val(r):
    if isinstance(r, str) and r.endswith(" R"):
        return objs.get("obj:" + r, {}).get("value")
    return r
def text(s):
    s = val(s)
    if isinstance(s, str) and s.startswith("u:"):
        return s[2:]
    if isinstance(s, str) and s.startswith("b:"):
        return bytes.fromhex(s[2:]).decode("latin-1")
    return "" if s is None else str(s)
def num(v):
    v = val(v)
    if isinstance(v, list):
        return "[" + " ".join(num(x) for x in v) + "]"
    if isinstance(v, float) and v == int(v):
        return str(int(v))
    return "" if v is None else str(v)
def walk(node, depth, out):
    ch = node.get("/First")
    n = 0
    while ch and depth < 40 and n < 500:
        item = val(ch) or {}
        n += 1
        a = val(item.get("/A")) or {}
        js = text(a.get("/JS")) if "/JS" in a else ""
        out.append("  " * depth + text(item.get("/Title")) + "|C=" + num(item.get("/C")) + "|F=" + num(item.get("/F")) +
                   "|Count=" + num(item.get("/Count")) + "|JS=" + js)
        walk(item, depth + 1, out)
        ch = item.get("/Next")
root = val(objs["trailer"]["value"]["/Root"])
out = []
if root.get("/Outlines"):
    walk(val(root["/Outlines"]), 0, out)
sys.stdout.buffer.write("\n".join(out).encode("utf-8"))
)PY";

}  // namespace

Lines outlineLines(const std::string& path) {
  std::string out;
  int rc = fixture::run({"python3", "-c", kReader, path}, &out);
  EXPECT_EQ(rc, 0) << out;
  Lines lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

Lines outlineTitles(const std::string& path) {
  Lines out;
  for (const std::string& l : outlineLines(path)) out.push_back(l.substr(0, l.find('|')));
  return out;
}

fixture::DocSpec plainSpec() {
  fixture::DocSpec s;
  fixture::PageSpec p1, p2, p3;
  p1.lines = {"1. Scope", "1.1 Terms of use", "This 1.2 is in the middle"};
  p2.lines = {"2. Use", "3 plain", "3.1. dotted"};
  p3.lines = {"2.1 Details here"};
  s.pages = {p1, p2, p3};
  return s;
}

fixture::DocSpec outlinedSpec() {
  fixture::DocSpec s = plainSpec();
  s.outline = {
      {"Intro", 0, {{"Intro", 1, {}}, {"Terms ~ conditions", 1, {}}}},
      {"Введение", 2, {{"Глава", 2, {{"Deep", 0, {}}}}}},
      {"Summary", 1, {}},
  };
  return s;
}

}  // namespace realbm
