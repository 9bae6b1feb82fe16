// What the PDF-file benchmarks share: a text document written by hand (so
// the input depends on no other tool), and whole-process runs, of this
// program in a child mode and of its peers, timed with their peak memory.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pdfbench {

// pages pages of 40 lines of Helvetica text each.
inline void writeDocument(const std::string& path, int pages) {
  std::vector<std::string> objs;  // object n at index n-1
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objs.push_back("");
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  std::string kids;
  for (int p = 0; p < pages; ++p) {
    std::ostringstream content;
    content << "0.2 0.3 0.8 rg 40 40 532 8 re f 0 g\n";
    for (int l = 0; l < 40; ++l)
      content << "BT /F1 11 Tf 50 " << (760 - l * 18) << " Td (Page " << p + 1 << " line " << l + 1
              << ": the quick brown fox jumps over the lazy dog) Tj ET\n";
    std::string c = content.str();
    objs.push_back("<< /Length " + std::to_string(c.size()) + " >>\nstream\n" + c + "endstream");
    int contentObj = static_cast<int>(objs.size());
    objs.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
        "/Contents " +
        std::to_string(contentObj) + " 0 R >>");
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

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;
  double peakMiB = 0;
};

// The pressmark command of this build tree (bench/..), as a user runs it:
// it loads the servers a job needs, where this program links them all.
inline std::string command() {
  char self[4096] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.find_last_of('/'));
  std::string cli = dir + "/../pressmark";
  if (access(cli.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "the pressmark command is not at %s\n", cli.c_str());
    std::exit(1);
  }
  return cli;
}

// Runs argv as a fresh process; its elapsed time and peak resident size.
inline Run runProcess(const std::vector<std::string>& argv) {
  std::fflush(stdout);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> a;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
    execvp(a[0], a.data());
    _exit(127);
  }
  int status = 0;
  rusage use{};
  wait4(pid, &status, 0, &use);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.peakMiB = static_cast<double>(use.ru_maxrss) / 1024.0;
  r.cpuSeconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                 static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
    std::exit(1);
  }
  return r;
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs each contender in turn, rounds times, and prints the medians and
// the ratios to each peer (the first one is the one aimed at).
struct Contender {
  std::string name;
  std::vector<std::string> argv;
  std::vector<double> seconds, cpu, mib;
};

inline void compare(std::vector<Contender>& all, int rounds, const std::function<void()>& between) {
  for (int r = 0; r < rounds + 1; ++r)
    for (Contender& c : all) {
      between();
      Run x = runProcess(c.argv);
      if (r == 0) continue;  // the first round warms the file cache
      c.seconds.push_back(x.seconds);
      c.cpu.push_back(x.cpuSeconds);
      c.mib.push_back(x.peakMiB);
    }
  for (Contender& c : all)
    std::printf("%-34s %7.3f s  %7.3f s cpu  %7.1f MiB peak\n", c.name.c_str(), median(c.seconds), median(c.cpu),
                median(c.mib));
  const double t0 = median(all[0].seconds), c0 = median(all[0].cpu), m0 = median(all[0].mib);
  for (size_t i = 1; i < all.size(); ++i)
    std::printf("ratio to %-25s %7.2f x time %5.2f x cpu %5.2f x memory%s\n", all[i].name.c_str(),
                t0 / median(all[i].seconds), c0 / median(all[i].cpu), m0 / median(all[i].mib),
                i == 1 ? " (target <= 1.20)" : "");
}

}  // namespace pdfbench
