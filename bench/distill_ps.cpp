// A 200-page PostScript file through CreatePDFfromPS, and through the bare
// Ghostscript command line doing the same job, alternating in one run; the
// ratio of the medians is the pipeline's overhead (the target is < 5%).
//
//   bench_distill_ps [rounds]     (default 7)
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "system/Process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string twoHundredPages() {
  std::string ps = "%!PS-Adobe-3.0\n%%Pages: 200\n%%EndComments\n/Helvetica findfont 11 scalefont setfont\n";
  for (int p = 1; p <= 200; ++p) {
    ps += "%%Page: " + std::to_string(p) + " " + std::to_string(p) + "\n";
    for (int line = 0; line < 40; ++line)
      ps += "72 " + std::to_string(740 - line * 16) + " moveto (Page " + std::to_string(p) + ", line " +
            std::to_string(line) + ": the quick brown fox jumps over the lazy dog) show\n";
    ps += "newpath 72 60 moveto 540 60 lineto stroke showpage\n";
  }
  return ps + "%%EOF\n";
}

// Processor time of this process and its reaped children, in seconds: on a
// loaded machine it varies far less than the elapsed time.
double cpuSeconds() {
  auto secs = [](const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  rusage self{}, children{};
  ::getrusage(RUSAGE_SELF, &self);
  ::getrusage(RUSAGE_CHILDREN, &children);
  return secs(self) + secs(children);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::string dir = (fs::temp_directory_path() / "pm-bench-distill-XXXXXX").string();
  if (!::mkdtemp(dir.data())) return 1;
  std::string registry = dir + "/registry";
  fs::create_directories(registry);
  ::setenv("PRESSMARK_REGISTRY", registry.c_str(), 1);
  std::string ps = dir + "/pages.ps";
  std::ofstream(ps, std::ios::binary) << twoHundredPages();

  pm::registerCreatePDF();
  pm::ObjectRef pdf = pm::CreateObject(pm::kCreatePDFProgId);

  std::vector<double> ours, bare, oursCpu, bareCpu;
  bool ok = true;
  auto runOurs = [&](bool count) {
    std::string out = dir + "/ours.pdf";
    pm::Variant vPdf(out), vPs(ps);
    double c0 = cpuSeconds();
    auto t0 = Clock::now();
    pm::call(pdf, "CreatePDFfromPS", {pm::ByRef(vPdf), pm::ByRef(vPs)});
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    double c = cpuSeconds() - c0;
    ok = ok && fs::exists(out);
    if (count) {
      ours.push_back(s);
      oursCpu.push_back(c);
    }
  };
  auto runBare = [&](bool count) {
    std::string out = dir + "/bare.pdf";
    pm::ProcessOptions o;
    o.argv = {"gs", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-sOutputFile=" + out, ps};
    o.onLine = [](pm::OutputStream, std::string_view) {};
    double c0 = cpuSeconds();
    auto t0 = Clock::now();
    pm::ProcessResult res = pm::runProcess(std::move(o));
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    double c = cpuSeconds() - c0;
    ok = ok && res.success();
    if (count) {
      bare.push_back(s);
      bareCpu.push_back(c);
    }
  };
  // Round 0 warms the caches and is not counted; the order alternates so
  // that neither side always runs on the other's warm caches.
  for (int r = 0; r <= rounds; ++r) {
    if (r % 2) {
      runBare(r > 0);
      runOurs(r > 0);
    } else {
      runOurs(r > 0);
      runBare(r > 0);
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (!ok) {
    std::fprintf(stderr, "a conversion failed\n");
    return 1;
  }
  double a = median(ours), b = median(bare), ac = median(oursCpu), bc = median(bareCpu);
  std::printf("200-page PostScript to PDF, %d rounds (medians)   elapsed    processor\n", rounds);
  std::printf("  CreatePDFfromPS                              %7.3f s  %7.3f s\n", a, ac);
  std::printf("  bare gs command line                         %7.3f s  %7.3f s\n", b, bc);
  std::printf("  ratio                                        %7.3f    %7.3f\n", a / b, ac / bc);
  std::printf("  overhead                                     %+6.1f%%   %+6.1f%%\n", (a / b - 1) * 100,
              (ac / bc - 1) * 100);
  return 0;
}
