// Merging 20 PDF files of 311 pages each into one through the component
// (CreatePDFfromMultiPDF, run as the pressmark command), against `mutool
// merge` and `qpdf --empty --pages` on the same files in the same run. Each
// is timed as a whole process, with its peak resident memory (its children
// included: a child's peak counts when it is the larger). Each figure is
// the median of five runs, printed with the load of the machine and the
// ratios the aims are stated in.
//
// The component runs on both of its roads: with the registry an
// installation writes (`pressmark register`: viewer version 7.1, a full
// save) and with an empty one (version 0: the save of an older viewer,
// which linearizes the result, the extra work that road asks for; the aim
// is at most 1.2 times the registered road).
//
// The inputs are written here as plain PDF: compressed page contents with
// 30 lines of text, one font, an outline of one item per page and 11 links
// on every page to the pages that follow, as a manual with its table of
// contents and cross-references would have (68,420 links in the result,
// counted in every output: a merge must keep them all).
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
constexpr int kLinks = 11;  // per page
constexpr int kRuns = 5;

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
  // Each page is its content, the page and its links, in that order.
  auto pageObj = [&](int p) { return 4 + p * (2 + kLinks) + 2; };
  for (int p = 0; p < pages; ++p) {
    std::ostringstream content;
    for (int l = 0; l < 30; ++l)
      content << "BT /F1 11 Tf 50 " << (760 - l * 22) << " Td (File " << file << " page " << p + 1 << " line " << l + 1
              << ": the quick brown fox jumps over the lazy dog) Tj ET\n";
    std::string c = deflate(content.str());
    objs.push_back("<< /Length " + std::to_string(c.size()) + " /Filter /FlateDecode >>\nstream\n" + c + "\nendstream");
    int contentObj = static_cast<int>(objs.size()), self = pageObj(p);
    std::string annots;
    for (int k = 1; k <= kLinks; ++k) annots += std::to_string(self + k) + " 0 R ";
    objs.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
        "/Annots [" +
        annots + "] /Contents " + std::to_string(contentObj) + " 0 R >>");
    for (int k = 0; k < kLinks; ++k) {
      int y = 758 - k * 22;
      objs.push_back("<< /Type /Annot /Subtype /Link /Rect [50 " + std::to_string(y) + " 400 " +
                     std::to_string(y + 12) + "] /Border [0 0 0] /P " + std::to_string(self) + " 0 R /Dest [" +
                     std::to_string(pageObj((p + k + 1) % pages)) + " 0 R /XYZ 0 792 0] >>");
    }
    pageObjs.push_back(self);
    kids += std::to_string(self) + " 0 R ";
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

// The first number a shell command prints.
long countOf(const std::string& cmd) {
  FILE* p = popen(cmd.c_str(), "r");
  char line[128] = {};
  if (p && fgets(line, sizeof line, p)) {
  }
  if (p) pclose(p);
  return std::atol(line);
}

int pagesOf(const std::string& pdf) {
  return static_cast<int>(countOf("mutool info " + pdf + " 2>/dev/null | sed -n 's/^Pages: //p'"));
}

long linksOf(const std::string& pdf) {
  return countOf("mutool show " + pdf + " grep 2>/dev/null | grep -c '/Subtype/Link'");
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
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

  constexpr int kContenders = 4;
  const char* names[kContenders] = {"pressmark, registered", "mutool merge", "qpdf --empty --pages",
                                    "pressmark, empty registry"};
  const std::string outs[kContenders] = {ours, mu, qp, linear};
  std::vector<double> seconds[kContenders], mib[kContenders];
  for (int r = 0; r < kRuns; ++r) {
    Measure m[kContenders] = {runChild(ourArgs, {registry}), runChild(muArgs), runChild(qpArgs),
                              runChild(linearArgs, {empty})};
    for (int k = 0; k < kContenders; ++k) {
      seconds[k].push_back(m[k].seconds);
      mib[k].push_back(static_cast<double>(m[k].peakKiB) / 1024.0);
    }
  }
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("inputs                        %d files x %d pages, %.1f MiB; load %.2f %.2f %.2f\n", kFiles, kPages,
              static_cast<double>(fs::file_size(inputs[0])) * kFiles / (1 << 20), load[0], load[1], load[2]);
  double t[kContenders], m[kContenders];
  for (int k = 0; k < kContenders; ++k) {
    t[k] = median(seconds[k]);
    m[k] = median(mib[k]);
    std::printf("%-29s %7.3f s  %6.1f MiB peak  (%d pages, %ld links, %.1f MiB)\n", names[k], t[k], m[k],
                pagesOf(outs[k]), linksOf(outs[k]), static_cast<double>(fs::file_size(outs[k])) / (1 << 20));
  }
  std::printf("ratio registered / mutool     time %.2f, memory %.2f (target <= 1.20)\n", t[0] / t[1], m[0] / m[1]);
  std::printf("ratio registered / qpdf       time %.2f, memory %.2f (keep)\n", t[0] / t[2], m[0] / m[2]);
  std::printf("ratio empty / registered      time %.2f, memory %.2f (target <= 1.20)\n", t[3] / t[0], m[3] / m[0]);
  fs::remove_all(dir);
  return 0;
}
