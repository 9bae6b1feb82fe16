// The text of a 311-page file through CreateTextfileFromPDF, run as the
// pressmark command, against `mutool draw -F txt` (the fastest peer) and
// `pdftotext` on the same file, as whole processes: median time, cpu time
// and peak memory of five runs each.
#include <filesystem>

#include "PdfFilesBench.h"

namespace fs = std::filesystem;

int main() {
  const std::string cli = pdfbench::command();
  char dirTemplate[] = "/tmp/pm-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate, pdf = dir + "/text.pdf";
  pdfbench::writeDocument(pdf, 311);
  std::vector<pdfbench::Contender> all = {
      {"pressmark CreateTextfileFromPDF", {cli, "CreateTextfileFromPDF", pdf, dir + "/ours.txt"}, {}, {}, {}},
      {"mutool draw -F txt", {"mutool", "draw", "-q", "-F", "txt", "-o", dir + "/mutool.txt", pdf}, {}, {}, {}},
      {"pdftotext", {"pdftotext", pdf, dir + "/pdftotext.txt"}, {}, {}, {}},
  };
  std::printf("text of 311 pages\n");
  pdfbench::compare(all, 5, [] {});
  for (const char* name : {"ours.txt", "mutool.txt", "pdftotext.txt"})
    std::printf("%-16s %10ju bytes\n", name, static_cast<uintmax_t>(fs::file_size(dir + "/" + name)));
  fs::remove_all(dir);
  return 0;
}
