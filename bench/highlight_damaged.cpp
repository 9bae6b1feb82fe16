// Highlighting a word through Document.FindAndHighlightText on a 150-page
// document, on the intact file and on a copy with 200 damaged bytes in its
// cross-reference table, which the engine repairs when it opens the file:
// once a word found on every page, once a word found on every line (40 a
// page, so what each highlight costs shows). Prints the times and the
// damaged file's ratio to the intact one (the aim is at most 2).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "PdfFilesBench.h"
#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"

using namespace pm;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPages = 150;

double highlight(const std::string& path, const char* word, int32_t& found) {
  auto t0 = Clock::now();
  moduleState().strOpenDocumentPath = path;
  ObjectRef d = createDocument();
  found = CLng(call(d, "FindAndHighlightText", {word}));
  d.reset();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main() {
  char dir[] = "/tmp/pm-bench-damaged-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string intact = std::string(dir) + "/intact.pdf", damaged = std::string(dir) + "/damaged.pdf";
  pdfbench::writeDocument(intact, kPages);
  std::ifstream in(intact, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string data = bytes.str();
  size_t xref = data.rfind("\nxref\n");
  if (xref == std::string::npos) return 1;
  for (size_t i = 0; i < 200 && xref + 20 + i < data.size(); ++i) data[xref + 20 + i] = '#';
  std::ofstream(damaged, std::ios::binary) << data;

  bool same = true;
  std::printf("pages                      %d\n", kPages);
  // "40:" ends the last line's number: one match a page; "fox" is on every line.
  for (const char* word : {"40:", "fox"}) {
    int32_t a = 0, b = 0;
    double best[2] = {1e9, 1e9};
    for (int r = 0; r < 3; ++r) {
      best[0] = std::min(best[0], highlight(intact, word, a));
      best[1] = std::min(best[1], highlight(damaged, word, b));
    }
    std::printf("\"%s\": matches            %d intact, %d damaged\n", word, a, b);
    std::printf("  intact                   %.2f s\n", best[0]);
    std::printf("  200 damaged bytes        %.2f s\n", best[1]);
    std::printf("  ratio                    %.2f (aim: at most 2)\n", best[1] / best[0]);
    same = same && a == b && a > 0;
  }
  std::filesystem::remove_all(dir);
  return same ? 0 : 1;
}
