// The text of a 300-page file through CreateTextfileFromPDF, against
// `mutool draw -F txt` (the fastest peer) and `pdftotext` on the same file,
// as whole processes: median time and peak memory of five runs each.
#include <filesystem>

#include "PdfFilesBench.h"
#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"

using namespace pm;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--run") {
    registerCreatePDF();
    ObjectRef pdf = CreateObject(kCreatePDFProgId);
    Variant file(argv[2]), text(argv[3]);
    call(pdf, "CreateTextfileFromPDF", {ByRef(file), ByRef(text)});
    return 0;
  }
  char dirTemplate[] = "/tmp/pm-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate, pdf = dir + "/text.pdf";
  pdfbench::writeDocument(pdf, 300);
  const std::string self = fs::read_symlink("/proc/self/exe");
  std::vector<pdfbench::Contender> all = {
      {"CreateTextfileFromPDF", {self, "--run", pdf, dir + "/ours.txt"}, {}, {}},
      {"mutool draw -F txt", {"mutool", "draw", "-q", "-F", "txt", "-o", dir + "/mutool.txt", pdf}, {}, {}},
      {"pdftotext", {"pdftotext", pdf, dir + "/pdftotext.txt"}, {}, {}},
  };
  std::printf("text of 300 pages\n");
  pdfbench::compare(all, 5, [] {});
  for (const char* name : {"ours.txt", "mutool.txt", "pdftotext.txt"})
    std::printf("%-16s %10ju bytes\n", name, static_cast<uintmax_t>(fs::file_size(dir + "/" + name)));
  fs::remove_all(dir);
  return 0;
}
