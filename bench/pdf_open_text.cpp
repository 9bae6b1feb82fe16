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
#include "PdfFilesBench.h"

using namespace pm;
using Clock = std::chrono::steady_clock;

namespace {

using pdfbench::writeDocument;

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
