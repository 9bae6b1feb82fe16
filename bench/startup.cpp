// What starting the pressmark command costs before any engine is needed:
// `pressmark --help` (every member listed, no server loaded) against
// `mutool -v`, a program that starts and stops, as whole processes: median
// time and peak memory of nine runs each. The aim is under 15 MiB.
#include "PdfFilesBench.h"

int main() {
  const std::string cli = pdfbench::command();
  std::vector<pdfbench::Contender> all = {
      {"pressmark --help", {cli, "--help"}, {}, {}, {}},
      {"mutool -v", {"mutool", "-v"}, {}, {}, {}},
  };
  std::printf("start-up\n");
  pdfbench::compare(all, 9, [] {});
  std::printf("pressmark --help peak %.1f MiB (target < 15)\n", pdfbench::median(all[0].mib));
  return 0;
}
