// The shared office service seen from many short-lived clients:
// (a) one-call `pressmark CreatePDFfromWord` processes in a row against
//     `soffice --headless --convert-to pdf` calls on the same 5-page
//     document (the first call, which starts the service, is shown apart);
// (b) two `pressmark shell` clients converting 10 documents each at once
//     with a pool of 2, against one client converting 20.
// Usage: bench_office_pool [RUNS] [PRESSMARK]; the pressmark command is
// found beside the build's library by default. Each part uses its own
// service folder and stops its service at the end.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "WordDocs.h"

using Clock = std::chrono::steady_clock;

namespace {

using bench::fivePages;

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

int sh(const std::string& cmd) {
  return std::system(cmd.c_str());
}

double timed(const std::string& cmd) {
  Clock::time_point t = Clock::now();
  if (sh(cmd) != 0) std::printf("  failed: %s\n", cmd.c_str());
  return seconds(Clock::now() - t);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  std::string cli =
      argc > 2 ? argv[2]
               : (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "pressmark").string();
  char tmpl[] = "/tmp/pm-bench-pool-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  std::ofstream(dir + "/doc.rtf") << fivePages();
  std::filesystem::create_directory(dir + "/reg");
  std::string env = "PRESSMARK_REGISTRY=" + dir + "/reg PRESSMARK_OFFICE_RUNTIME_DIR=" + dir + "/svc ";
  ::mkdir((dir + "/svc").c_str(), 0700);

  // (a)
  double first = timed(env + cli + " CreatePDFfromWord " + dir + "/first.pdf " + dir + "/doc.rtf > /dev/null");
  double warm = 0;
  for (int i = 0; i < runs; ++i)
    warm += timed(env + cli + " CreatePDFfromWord " + dir + "/w" + std::to_string(i) + ".pdf " + dir +
                  "/doc.rtf > /dev/null");
  double soffice = 0;
  for (int i = 0; i < runs; ++i) {
    std::string out = dir + "/s" + std::to_string(i);
    soffice += timed("soffice -env:UserInstallation=file://" + dir + "/sprofile --headless --convert-to pdf --outdir " +
                     out + " " + dir + "/doc.rtf > /dev/null 2>&1");
  }
  std::printf("(a) first call (starts the service): %.2f s\n", first);
  std::printf("(a) %d one-call pressmark processes: %.2f s (%.3f s each)\n", runs, warm, warm / runs);
  std::printf("(a) %d soffice --convert-to pdf calls: %.2f s (%.3f s each)\n", runs, soffice, soffice / runs);
  std::printf("(a) speed-up: %.1fx\n", soffice / warm);
  sh(env + cli + " office stop > /dev/null");

  // (b)
  std::string script10, script20;
  for (int i = 0; i < 20; ++i) {
    std::string line = "CreatePDFfromWord \"" + dir + "/t" + std::to_string(i) + ".pdf\" \"" + dir + "/doc.rtf\"\n";
    script20 += line;
    if (i < 10) script10 += line;
  }
  std::ofstream(dir + "/ten.txt") << script10;
  std::ofstream(dir + "/twenty.txt") << script20;
  std::string pool2 = env + "PRESSMARK_OFFICE_POOL_SIZE=2 ";
  // Two warm offices first, so both runs measure conversions only.
  sh(pool2 + cli + " shell " + dir + "/ten.txt > /dev/null & " + pool2 + cli + " shell " + dir +
     "/ten.txt > /dev/null; wait");
  double one = timed(pool2 + cli + " shell " + dir + "/twenty.txt > /dev/null");
  double two = timed(pool2 + cli + " shell " + dir + "/ten.txt > /dev/null & " + pool2 + cli + " shell " + dir +
                     "/ten.txt > /dev/null; wait");
  std::printf("(b) 1 client x 20 documents: %.2f s\n", one);
  std::printf("(b) 2 clients x 10 documents at once, pool of 2: %.2f s\n", two);
  std::printf("(b) throughput gain: %.2fx\n", one / two);
  sh(env + cli + " office status");
  sh(env + cli + " office stop > /dev/null");
  std::filesystem::remove_all(dir);
  return 0;
}
