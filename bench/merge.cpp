// Merging 20 PDF files of 311 pages each into one through the component
// (CreatePDFfromMultiPDF, run as the pressmark command), against `mutool
// merge` and `qpdf --empty --pages` on the same files in the same run. Each
// is timed as a whole process, with its peak resident memory (its children
// included); the best of three runs is printed, with the ratios to mutool
// (the aim is at most 1.2 for memory).
//
// The component runs on both of its roads: with the registry an
// installation writes (`pressmark register`: viewer version 7.1, a full
// save) and with an empty one (version 0: the save of an older viewer,
// which linearizes the result, the extra work that road asks for).
//
// The inputs are written here as plain PDF: compressed page contents with
// 30 lines of text, one font, and an outline of one item per page, as a
// manual would have.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 20;
constexpr int kPages = 311;

// A zlib stream of stored blocks: valid /FlateDecode data that costs
// nothing to make, so every tool copies the streams as they are.
std::string deflate(const std::string& in) {
  std::string out = "\x78\x01";
  size_t at = 0;
  do {
    size_t n = std::min<size_t>(65535, in.size() - at);
    bool last = at + n == in.size();
    out += static_cast<char>(last ? 1 : 0);
    out += static_cast<char>(n & 0xFF);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(~n & 0xFF);
    out += static_cast<char>((~n >> 8) & 0xFF);
    out.append(in, at, n);
    at += n;
  } while (at < in.size());
  uint32_t a = 1, b = 0;
  for (unsigned char ch : in) {
    a = (a + ch) % 65521;
    b = (b + a) % 65521;
  }
  uint32_t adler = (b << 16) | a;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((adler >> shift) & 0xFF);
  return out;
}

void writeDocument(const std::string& path, int file, int pages) {
  std::vector<std::string> objs;  // object n at index n-1
  objs.push_back("");             // 1 catalog
  objs.push_back("");             // 2 pages tree
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  objs.push_back("");  // 4 outline root
  std::vector<int> pageObjs;
  std::string kids;
  for (int p = 0; p < pages; ++p) {
    std::ostringstream content;
    for (int l = 0; l < 30; ++l)
      content << "BT /F1 11 Tf 50 " << (760 - l * 22) << " Td (File " << file << " page " << p + 1 << " line " << l + 1
              << ": the quick brown fox jumps over the lazy dog) Tj ET\n";
    std::string c = deflate(content.str());
    objs.push_back("<< /Length " + std::to_string(c.size()) + " /Filter /FlateDecode >>\nstream\n" + c + "\nendstream");
    int contentObj = static_cast<int>(objs.size());
    objs.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
        "/Contents " +
        std::to_string(contentObj) + " 0 R >>");
    pageObjs.push_back(static_cast<int>(objs.size()));
    kids += std::to_string(objs.size()) + " 0 R ";
  }
  int firstItem = static_cast<int>(objs.size()) + 1;
  for (int p = 0; p < pages; ++p) {
    int self = firstItem + p;
    std::string item = "<< /Title (Chapter " + std::to_string(p + 1) + ") /Parent 4 0 R /Dest [" +
                       std::to_string(pageObjs[static_cast<size_t>(p)]) + " 0 R /Fit]";
    if (p > 0) item += " /Prev " + std::to_string(self - 1) + " 0 R";
    if (p + 1 < pages) item += " /Next " + std::to_string(self + 1) + " 0 R";
    objs.push_back(item + " >>");
  }
  objs[0] = "<< /Type /Catalog /Pages 2 0 R /Outlines 4 0 R >>";
  objs[1] = "<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [" + kids + "] >>";
  objs[3] = "<< /Type /Outlines /First " + std::to_string(firstItem) + " 0 R /Last " +
            std::to_string(firstItem + pages - 1) + " 0 R /Count " + std::to_string(pages) + " >>";
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

struct Measure {
  double seconds = 0;
  long peakKiB = 0;
};

Measure runChild(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    if (!freopen("/dev/null", "w", stdout)) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage use {};
  wait4(pid, &status, 0, &use);
  Measure m;
  m.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  m.peakKiB = use.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
    std::exit(1);
  }
  return m;
}

int pagesOf(const std::string& pdf) {
  std::string cmd = "mutool info " + pdf + " 2>/dev/null | grep -m1 '^Pages:'";
  FILE* p = popen(cmd.c_str(), "r");
  char line[128] = {};
  if (p && fgets(line, sizeof line, p)) {
  }
  if (p) pclose(p);
  return std::atoi(line + 6);
}

}  // namespace

int main() {
  std::string self = fs::canonical("/proc/self/exe").parent_path().string();
  std::string cli = self + "/../pressmark";
  if (!fs::exists(cli)) {
    std::fprintf(stderr, "the pressmark command is not at %s\n", cli.c_str());
    return 1;
  }
  char tmpl[] = "/tmp/pm-bench-merge-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = tmpl;
  // The component reads the viewer version from its registry.
  std::string registry = "PRESSMARK_REGISTRY=" + dir + "/registered", empty = "PRESSMARK_REGISTRY=" + dir + "/empty";
  runChild({cli, "register"}, {registry});
  std::vector<std::string> inputs;
  std::string list = "[";
  for (int i = 0; i < kFiles; ++i) {
    inputs.push_back(dir + "/in" + std::to_string(i) + ".pdf");
    writeDocument(inputs.back(), i, kPages);
    list += (i ? ",\"" : "\"") + inputs.back() + "\"";
  }
  list += "]";
  std::string ours = dir + "/pressmark.pdf", linear = dir + "/linear.pdf", mu = dir + "/mutool.pdf",
              qp = dir + "/qpdf.pdf";
  std::vector<std::string> muArgs = {"mutool", "merge", "-o", mu};
  std::vector<std::string> qpArgs = {"qpdf", "--empty", "--pages"};
  for (const std::string& in : inputs) {
    muArgs.push_back(in);
    qpArgs.push_back(in);
  }
  qpArgs.push_back("--");
  qpArgs.push_back(qp);
  std::vector<std::string> ourArgs = {cli, "CreatePDFfromMultiPDF", ours, list};
  std::vector<std::string> linearArgs = {cli, "CreatePDFfromMultiPDF", linear, list};

  constexpr int kRuns = 4;
  Measure best[kRuns];
  for (Measure& b : best) b.seconds = 1e9;
  for (int r = 0; r < 3; ++r) {
    Measure m[kRuns] = {runChild(ourArgs, {registry}), runChild(muArgs), runChild(qpArgs),
                        runChild(linearArgs, {empty})};
    for (int k = 0; k < kRuns; ++k) {
      if (m[k].seconds < best[k].seconds) best[k].seconds = m[k].seconds;
      if (r == 0 || m[k].peakKiB < best[k].peakKiB) best[k].peakKiB = m[k].peakKiB;
    }
  }
  std::printf("inputs                        %d files x %d pages, %.1f MiB\n", kFiles, kPages,
              static_cast<double>(fs::file_size(inputs[0])) * kFiles / (1 << 20));
  const char* names[kRuns] = {"pressmark, registered", "mutool merge", "qpdf --empty --pages",
                              "pressmark, empty registry"};
  const std::string outs[kRuns] = {ours, mu, qp, linear};
  for (int k = 0; k < kRuns; ++k)
    std::printf("%-31s %.3f s  %6.1f MiB peak  (%d pages, %.1f MiB)\n", names[k], best[k].seconds,
                best[k].peakKiB / 1024.0, pagesOf(outs[k]), static_cast<double>(fs::file_size(outs[k])) / (1 << 20));
  std::printf("ratio registered / mutool     time %.2f, memory %.2f (target <= 1.20)\n",
              best[0].seconds / best[1].seconds, static_cast<double>(best[0].peakKiB) / best[1].peakKiB);
  std::printf("ratio empty registry / mutool time %.2f, memory %.2f (target <= 1.20)\n",
              best[3].seconds / best[1].seconds, static_cast<double>(best[3].peakKiB) / best[1].peakKiB);
  std::printf("ratio qpdf / mutool            time %.2f, memory %.2f\n", best[2].seconds / best[1].seconds,
              static_cast<double>(best[2].peakKiB) / best[1].peakKiB);
  fs::remove_all(dir);
  return 0;
}
