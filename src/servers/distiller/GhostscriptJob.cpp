#include "servers/distiller/GhostscriptJob.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "automation/Error.h"
#include "automation/surfaces/Distiller.h"
#include "servers/distiller/JobOptions.h"
#include "servers/distiller/PdfPages.h"
#include "system/AtomicFile.h"
#include "system/Files.h"
#include "system/Process.h"

namespace pm::distiller {

namespace fs = std::filesystem;

namespace {

// The first line of the driver file the component writes.
constexpr std::string_view kDriverFirstLine = "/prun { /mysave save def";

// Job folders carry the id of the process that made them, so that one
// whose owner was killed (and could not clean up) is recognised and removed
// by the next process that runs a job.
constexpr std::string_view kJobDirPrefix = "distill-";

void removeStaleJobDirs(const std::string& base) {
  std::error_code ec;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.rfind(kJobDirPrefix, 0) != 0) continue;
    size_t dash = name.find('-', kJobDirPrefix.size());
    if (dash == std::string::npos || dash == kJobDirPrefix.size()) continue;
    std::string digits = name.substr(kJobDirPrefix.size(), dash - kJobDirPrefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    pid_t owner = static_cast<pid_t>(std::stol(digits));
    if (owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) continue;
    std::error_code rm;
    fs::remove_all(it->path(), rm);
  }
}

// The private folder of one job, removed with everything in it.
class JobDir {
 public:
  JobDir() {
    const std::string base = privateTempDir();
    // A listing of the private folder per job is cheap, and a client that
    // was killed is noticed by the next job of any process of the user.
    removeStaleJobDirs(base);
    std::string tmpl = base + std::string(kJobDirPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(tmpl.data())) raiseFileError(errno, tmpl);
    path_ = tmpl;
  }
  ~JobDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  JobDir(const JobDir&) = delete;
  JobDir& operator=(const JobDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readHead(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string s(n, '\0');
  in.read(s.data(), static_cast<std::streamsize>(n));
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

std::string readTail(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::streamoff size = in.tellg();
  std::streamoff from = size > static_cast<std::streamoff>(n) ? size - static_cast<std::streamoff>(n) : 0;
  in.seekg(from);
  std::string s(static_cast<size_t>(size - from), '\0');
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

// The number after "%%Pages:" at the start of a line, -1 for "(atend)",
// -2 when the comment is absent.
int64_t pagesComment(const std::string& text) {
  size_t at = 0;
  for (;;) {
    at = text.find("%%Pages:", at);
    if (at == std::string::npos) return -2;
    if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r') break;
    at += 8;
  }
  size_t p = at + 8;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
  if (text.compare(p, 7, "(atend)") == 0) return -1;
  int64_t n = 0;
  bool any = false;
  while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])) && n < 10000000) {
    n = n * 10 + (text[p++] - '0');
    any = true;
  }
  return any ? n : -2;
}

int32_t declaredPagesOfOne(const std::string& path) {
  constexpr size_t kScan = 64 * 1024;
  int64_t n = pagesComment(readHead(path, kScan));
  if (n == -1) {
    // The trailer holds the count; the last %%Pages there is the one.
    std::string tail = readTail(path, kScan);
    size_t at = tail.rfind("%%Pages:");
    n = at == std::string::npos ? -2 : pagesComment(tail.substr(at));
  }
  return n > 0 ? static_cast<int32_t>(n) : 0;
}

bool isValidPdf(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) < 16) return false;
  if (readHead(path, 5) != "%PDF-") return false;
  return readTail(path, 1024).find("%%EOF") != std::string::npos;
}

std::string randomToken() {
  std::random_device rd;
  std::ostringstream ss;
  ss << std::hex << rd() << rd();
  return ss.str();
}

void writeText(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) raiseFileError(errno, path);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      raiseFileError(err, path);
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) raiseFileError(errno, path);
}

// Ghostscript reads "%d" and friends in an output file name as a page
// number format; "%%" is a plain percent sign.
std::string outputFileArgument(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

std::string absolute(const std::string& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return ec ? p : a.lexically_normal().string();
}

// A PDF input with nothing in the job that changes it (no settings, no
// security) is already the result: Ghostscript would only rewrite it, at
// the cost of its start and of every page. It is checked, its pages are
// reported as Ghostscript's would be, and it is copied into place whole.
// False when its pages cannot be counted, so Ghostscript (which repairs
// what it can) takes the job.
bool passPdfThrough(const std::string& input, const std::string& output, const JobRequest& rq,
                    const JobProgress& progress, bool& ok) {
  auto log = [&](const std::string& m) {
    if (progress.log) progress.log(m);
  };
  if (!isValidPdf(input)) return false;
  const int32_t total = pdfPageCount(input);
  if (total <= 0) return false;
  std::ifstream in(input, std::ios::binary);
  if (!in) return false;
  try {
    AtomicFile pending(output);
    if (progress.percent) progress.percent(0);
    int32_t lastPercent = 0;
    for (int32_t page = 1; page <= total; ++page) {
      if (progress.page) progress.page(page);
      int32_t pct = static_cast<int32_t>(int64_t{page} * 100 / total);
      if (progress.percent && pct != lastPercent) progress.percent(lastPercent = pct);
    }
    std::string buffer(1 << 20, '\0');
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      if (in.gcount() > 0) pending.write(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
    }
    if (!in.eof()) {
      log("Input file " + rq.input + " could not be read; no PDF was made.");
      ok = false;
      return true;
    }
    pending.commit();
    if (progress.percent && lastPercent != 100) progress.percent(100);
    ok = true;
  } catch (const std::exception& e) {
    log(std::string("Output file ") + rq.output + " cannot be written: " + e.what());
    ok = false;
  }
  return true;
}

}  // namespace

std::string ghostscriptProgram() {
  const char* gs = std::getenv("PRESSMARK_GHOSTSCRIPT");
  return gs && *gs ? gs : "gs";
}

std::chrono::seconds defaultTimeout() {
  if (const char* t = std::getenv(kTimeoutEnv)) {
    char* end = nullptr;
    long v = std::strtol(t, &end, 10);
    if (*t && end && !*end && v > 0) return std::chrono::seconds(v);
  }
  return std::chrono::seconds(kDefaultTimeoutSeconds);
}

std::vector<std::string> driverEntries(const std::string& path) {
  std::vector<std::string> out;
  std::string head = readHead(path, kDriverFirstLine.size());
  if (head != kDriverFirstLine) return out;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    constexpr std::string_view kRun = " prun";
    if (line.size() <= kRun.size() || line.compare(line.size() - kRun.size(), kRun.size(), kRun) != 0) continue;
    std::string file;
    if (decodePsString(std::string_view(line).substr(0, line.size() - kRun.size()), file)) out.push_back(file);
  }
  return out;
}

int32_t declaredPages(const std::string& path) {
  // Only a driver this process wrote has parts to count; any other file
  // is counted by its own comments, whatever its lines name.
  std::vector<std::string> entries = WrittenDriver::entriesOf(path).value_or(std::vector<std::string>{});
  if (entries.empty()) return declaredPagesOfOne(path);
  int64_t total = 0;
  for (const std::string& e : entries) {
    int32_t n = declaredPagesOfOne(e);
    if (n == 0) return 0;  // one unknown part makes the whole unknown
    total += n;
  }
  return total > INT32_MAX ? 0 : static_cast<int32_t>(total);
}

bool argumentFileLine(const std::string& argument, std::string& line) {
  if (!argument.empty() && argument.back() == '\\') return false;
  line = "\"";
  for (unsigned char c : argument) {
    if (c < 0x20 || c == 0x7F) return false;
    if (c == '"') line += '\\';
    line += static_cast<char>(c);
  }
  line += "\"";
  return true;
}

namespace {

// The job's messages go to the caller's log; a failed step logs why.
struct JobLog {
  const JobProgress& progress;
  void operator()(const std::string& m) const {
    if (progress.log) progress.log(m);
  }
  bool fail(const std::string& m) const {
    (*this)(m);
    return false;
  }
};

// A job whose files and options were checked.
struct CheckedJob {
  std::string input;   // absolute
  std::string output;  // absolute
  JobOptions options;
  std::vector<std::string> securityArgs;  // Ghostscript's, when security is asked for
};

// The passwords and permissions of the job options as Ghostscript takes
// them, or why security cannot be applied.
std::optional<std::string> securityArguments(const JobRequest& rq, CheckedJob& job) {
  const JobOptions& options = job.options;
  if (!options.ownerPassword && !options.userPassword)
    return "Security was asked for, but the job options" +
           std::string(rq.jobOptions.empty() ? "" : " file " + rq.jobOptions) +
           " give neither an OwnerPassword nor a UserPassword; no PDF was made.";
  std::string user = options.userPassword.value_or("");
  std::string owner = options.ownerPassword && !options.ownerPassword->empty() ? *options.ownerPassword : user;
  job.securityArgs = {"-sOwnerPassword=" + owner, "-sUserPassword=" + user, "-dEncryptionR=3", "-dKeyLength=128"};
  if (options.permissions) job.securityArgs.push_back("-dPermissions=" + std::to_string(*options.permissions));
  return std::nullopt;
}

// Checks the request's files and reads its job options; says what is wrong.
std::optional<std::string> checkJob(const JobRequest& rq, CheckedJob& job) {
  std::error_code ec;
  if (rq.input.empty() || !fs::is_regular_file(rq.input, ec)) return "Input file " + rq.input + " does not exist.";
  if (rq.output.empty()) return "No output file was given.";
  job.input = absolute(rq.input);
  job.output = absolute(rq.output);
  if (fs::is_directory(job.output, ec)) return "Output file " + rq.output + " is a folder.";
  try {
    job.options = readJobOptions(rq.jobOptions);
  } catch (const JobOptionsError& e) {
    return std::string(e.what());
  }
  if (rq.applySecurity) return securityArguments(rq, job);
  return std::nullopt;
}

// The lines the job's PostScript prints for this process: a page ended, the
// job options were refused, the job replaced the page-end hook. Each holds a
// token of this job, so the document cannot print them itself.
struct JobMarkers {
  explicit JobMarkers(const std::string& token)
      : page("%%[Page " + token + "]%%"),
        options("%%[JobOptions " + token + " "),
        replaced("%%[EndPage " + token + "]%%") {}
  const std::string page, options, replaced;
};

// The PostScript files run before and after the job.
struct JobFrame {
  std::string prologue, epilogue;
};

JobFrame writeJobFrame(const JobDir& dir, const JobOptions& options, const JobMarkers& markers) {
  std::string prologue =
      "%!PS\n"
      "% Driver files run their parts with RunFile.\n"
      "userdict /RunFile { run } bind put\n"
      "% Each page reports itself, so the job's progress can be followed.\n"
      "userdict /PressmarkEndPage { exch pop 2 ne dup { " +
      psString(markers.page) +
      " = flush } if } bind put\n"
      "<< /EndPage userdict /PressmarkEndPage get >> setpagedevice\n";
  if (!options.postscript.empty()) {
    std::string optionsFile = dir.file("joboptions.ps");
    writeText(optionsFile, options.postscript);
    prologue += "{ " + psString(optionsFile) + " run } stopped { " + psString(markers.options) +
                " print $error /errorname get =only ( ]%%) = flush quit } if\n";
  }
  JobFrame frame{dir.file("prologue.ps"), dir.file("epilogue.ps")};
  writeText(frame.prologue, prologue);
  // Run after the job: tells whether the job put its own page-end hook in
  // place of ours, in which case its pages went uncounted.
  writeText(frame.epilogue, "currentpagedevice /EndPage get userdict /PressmarkEndPage get ne { " +
                                psString(markers.replaced) + " = flush } if\n");
  return frame;
}

// Ghostscript's command line for the job writing pdf, or why there is none.
std::optional<std::string> ghostscriptCommand(const CheckedJob& job, const std::string& pdf, const JobDir& dir,
                                              const JobFrame& frame, const JobLog& log,
                                              std::vector<std::string>& argv) {
  argv = {ghostscriptProgram(), "-dSAFER",           "-dBATCH",
          "-dNOPAUSE",          "-sDEVICE=pdfwrite", "-sOutputFile=" + outputFileArgument(pdf)};
  // Reading is limited to the input's folder and the files of a driver
  // file this process wrote. Ghostscript splits these lists at ":", so a
  // name holding one cannot be permitted.
  auto permit = [&](const std::string& p) {
    if (p.find(':') != std::string::npos) {
      log("Warning: " + p + " holds a \":\" and cannot be made readable for Ghostscript.");
      return;
    }
    argv.push_back("--permit-file-read=" + p);
  };
  permit(withTrailingSlash(fs::path(job.input).parent_path().string()));
  for (const std::string& e : WrittenDriver::entriesOf(job.input).value_or(std::vector<std::string>{})) {
    permit(e);
    if (!e.empty() && e[0] != '/') permit(absolute(e));
  }
  if (!job.securityArgs.empty()) {
    // Passwords go through an arguments file in the private folder, not
    // the command line that every user of the machine can read.
    std::string text;
    for (const std::string& a : job.securityArgs) {
      std::string line;
      if (!argumentFileLine(a, line))
        return "A password in the job options cannot be passed to Ghostscript (line break, control character or "
               "trailing backslash).";
      text += line + "\n";
    }
    std::string argsFile = dir.file("security.args");
    writeText(argsFile, text);
    argv.push_back("@" + argsFile);
  }
  argv.push_back(frame.prologue);
  argv.push_back(job.input);
  argv.push_back(frame.epilogue);
  return std::nullopt;
}

// Follows a running job through its output: counts its pages, reports its
// progress, and keeps what Ghostscript said about refused job options.
struct JobWatch {
  JobWatch(const JobMarkers& m, const JobProgress& p, const JobLog& l, int32_t pagesDeclared)
      : markers(m), progress(p), log(l), total(pagesDeclared) {}
  const JobMarkers& markers;
  const JobProgress& progress;
  const JobLog& log;
  const int32_t total;  // the pages the input declares, 0 when unknown
  int32_t pages = 0, lastPercent = 0;
  std::string optionsFault;
  bool uncounted = false;

  void line(std::string_view line) {
    if (line == markers.page) {
      ++pages;
      if (progress.page) progress.page(pages);
      if (total > 0 && progress.percent) {
        int32_t pct = static_cast<int32_t>(std::min<int64_t>(100, int64_t{pages} * 100 / total));
        if (pct != lastPercent) progress.percent(lastPercent = pct);
      }
      return;
    }
    if (line == markers.replaced) {
      uncounted = true;
      log("The job installed its own page-end procedure; its pages were not counted.");
      return;
    }
    if (line.rfind(markers.options, 0) == 0) {
      optionsFault = std::string(line.substr(markers.options.size()));
      if (optionsFault.size() >= 4) optionsFault.resize(optionsFault.size() - 4);
      return;
    }
    log(std::string(line));
  }
};

// Why the finished run made no PDF, if it made none.
std::optional<std::string> runFault(const JobRequest& rq, const ProcessResult& r, const JobWatch& watch,
                                    const std::string& pdf) {
  if (!watch.optionsFault.empty())
    return "Job options file " + rq.jobOptions + " was refused by Ghostscript (" + watch.optionsFault +
           "); no PDF was made.";
  if (r.timedOut)
    return "Ghostscript did not finish within " + std::to_string(rq.timeout.count()) +
           " seconds; the job was stopped and no PDF was made.";
  if (!r.success()) return "Ghostscript failed (" + r.describe() + "); no PDF was made.";
  if (!isValidPdf(pdf)) return std::string("Ghostscript produced no valid PDF; no PDF was made.");
  // pdfwrite turns a job without pages into one blank page; Distiller's
  // answer to an empty job is no PDF, which is the honest one.
  if (watch.pages == 0 && !watch.uncounted) return std::string("The job produced no pages; no PDF was made.");
  return std::nullopt;
}

// Runs Ghostscript on a checked job in a private folder of its own.
bool distil(const JobRequest& rq, const CheckedJob& job, const JobProgress& progress, const JobLog& log) {
  JobDir dir;
  const JobMarkers markers(randomToken());
  const JobFrame frame = writeJobFrame(dir, job.options, markers);

  // The PDF while Ghostscript writes it: a fresh file beside the output,
  // put in its place only when the job succeeded, so that a failed job
  // leaves an existing file as it was.
  std::unique_ptr<AtomicFile> pending;
  try {
    pending = std::make_unique<AtomicFile>(job.output);
    pending->close();
  } catch (const std::exception& e) {
    return log.fail(std::string("Output file ") + rq.output + " cannot be written: " + e.what());
  }
  std::vector<std::string> argv;
  if (std::optional<std::string> why = ghostscriptCommand(job, pending->path(), dir, frame, log, argv))
    return log.fail(*why);

  JobWatch watch(markers, progress, log,
                 readHead(job.input, 5) == "%PDF-" ? pdfPageCount(job.input) : declaredPages(job.input));
  if (progress.percent) progress.percent(0);
  ProcessOptions po;
  po.argv = std::move(argv);
  po.environment = {{"TMPDIR", dir.path()}, {"TMP", dir.path()}, {"TEMP", dir.path()}};
  po.timeout = rq.timeout;
  // The kernel's own bound as well: a job that only computes ({} loop)
  // ends after the time-out's worth of processor time even when this
  // process is stopped and cannot end it.
  po.cpuLimit = rq.timeout + std::chrono::seconds(5);
  po.onLine = [&](OutputStream, std::string_view line) { watch.line(line); };
  ProcessResult r = runProcess(std::move(po));

  if (std::optional<std::string> why = runFault(rq, r, watch, pending->path())) return log.fail(*why);
  try {
    pending->commit();
  } catch (const std::exception& e) {
    return log.fail(e.what());
  }
  if (progress.percent && watch.lastPercent != 100) progress.percent(100);
  return true;
}

}  // namespace

bool runJob(const JobRequest& rq, const JobProgress& progress) {
  const JobLog log{progress};
  CheckedJob job;
  if (std::optional<std::string> why = checkJob(rq, job)) return log.fail(*why);

  if (job.options.postscript.empty() && job.securityArgs.empty() && readHead(job.input, 5) == "%PDF-") {
    bool ok = false;
    if (passPdfThrough(job.input, job.output, rq, progress, ok)) return ok;
  }

  try {
    return distil(rq, job, progress, log);
  } catch (const AutomationError& e) {
    // Ghostscript missing or not executable: not a job failure but a
    // broken installation, which the caller must hear about.
    if (e.description().rfind("Cannot start", 0) == 0) {
      log(e.description());
      throw;
    }
    return log.fail("The job could not be prepared: " + e.description());
  }
}

}  // namespace pm::distiller
