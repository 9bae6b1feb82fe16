// Opening a 500-page PDF and reading every page's size and text through the
// PDF server, against `mutool draw -F txt` on the same file in the same
// run. Prints both times and their ratio (the aim is at most 1.5).
//
// The document is written here as plain PDF by hand, so the measurement
// does not depend on any other tool: 500 pages of 40 lines each.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "automation/Automation.h"
#include "automation/surfaces/Acrobat.h"

using namespace pm;
using Clock = std::chrono::steady_clock;

namespace {

void writeDocument(const std::string& path, int pages) {
  std::vector<std::string> objs;  // object n at index n-1
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objs.push_back("");  // pages tree, filled below
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  std::string kids;
  for (int p = 0; p < pages; ++p) {
    std::ostringstream content;
    for (int l = 0; l < 40; ++l)
      content << "BT /F1 11 Tf 50 " << (760 - l * 18) << " Td (Page " << p + 1 << " line " << l + 1
              << ": the quick brown fox jumps over the lazy dog) Tj ET\n";
    std::string c = content.str();
    objs.push_back("<< /Length " + std::to_string(c.size()) + " >>\nstream\n" + c + "endstream");
    int contentObj = static_cast<int>(objs.size());
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents " + std::to_string(contentObj) + " 0 R >>");
    kids += std::to_string(objs.size()) + " 0 R ";
  }
  objs[1] = "<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [" + kids + "] >>";
  std::ostringstream out;
  out << "%PDF-1.4\n";
  std::vector<long> offsets;
  for (size_t i = 0; i < objs.size(); ++i) {
    offsets.push_back(static_cast<long>(out.tellp()));
    out << i + 1 << " 0 obj\n" << objs[i] << "\nendobj\n";
  }
  long xref = static_cast<long>(out.tellp());
  out << "xref\n0 " << objs.size() + 1 << "\n0000000000 65535 f \n";
  char buf[32];
  for (long o : offsets) {
    std::snprintf(buf, sizeof buf, "%010ld 00000 n \n", o);
    out << buf;
  }
  out << "trailer\n<< /Size " << objs.size() + 1 << " /Root 1 0 R >>\nstartxref\n" << xref << "\n%%EOF\n";
  std::ofstream(path, std::ios::binary) << out.str();
}

double serverRun(const std::string& path, long& chars) {
  auto t0 = Clock::now();
  ObjectRef doc = CreateObject(acrobat::kPDDoc);
  if (!CBool(call(doc, "Open", {path}))) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }
  int n = CLng(call(doc, "GetNumPages"));
  ObjectRef rect = CreateObject(acrobat::kRect);
  chars = 0;
  for (int i = 0; i < n; ++i) {
    ObjectRef page = objectOf(call(doc, "AcquirePage", {i}));
    ObjectRef size = objectOf(call(page, "GetSize"));
    let(rect, "Left", 0);
    let(rect, "Right", CLng(get(size, "x")) * 10);
    let(rect, "bottom", 0);
    let(rect, "Top", CLng(get(size, "y")) * 10);
    ObjectRef sel = objectOf(call(doc, "CreateTextSelect", {i, Variant(rect)}));
    int pieces = CLng(call(sel, "GetNumText"));
    for (int k = 0; k < pieces; ++k) chars += static_cast<long>(CStr(call(sel, "GetText", {k})).size());
  }
  call(doc, "Close");
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double mutoolRun(const std::string& path, const std::string& out) {
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execlp("mutool", "mutool", "draw", "-q", "-F", "txt", "-o", out.c_str(), path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  double t = std::chrono::duration<double>(Clock::now() - t0).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "mutool failed (is mupdf-tools installed?)\n");
    std::exit(1);
  }
  return t;
}

}  // namespace

int main() {
  char dir[] = "/tmp/pm-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string path = std::string(dir) + "/500.pdf", txt = std::string(dir) + "/500.txt";
  writeDocument(path, 500);
  long chars = 0;
  serverRun(path, chars);  // warm the file cache and the engine once
  mutoolRun(path, txt);
  double best = 1e9, bestTool = 1e9;
  for (int r = 0; r < 3; ++r) {
    best = std::min(best, serverRun(path, chars));
    bestTool = std::min(bestTool, mutoolRun(path, txt));
  }
  std::ifstream t(txt, std::ios::binary | std::ios::ate);
  long toolChars = static_cast<long>(t.tellg());
  std::printf("pages                      500\n");
  std::printf("server: size and text      %.3f s (%ld bytes of text)\n", best, chars);
  std::printf("mutool draw -F txt         %.3f s (%ld bytes of text)\n", bestTool, toolChars);
  std::printf("ratio server / mutool      %.2f (target <= 1.50)\n", best / bestTool);
  std::remove(path.c_str());
  std::remove(txt.c_str());
  rmdir(dir);
  return 0;
}
