// The Distiller classes with real Ghostscript: PostScript the tests write
// becomes PDF, the job events arrive in order, failures and time-outs leave
// no PDF behind, reading is confined to what the job needs, and security is
// applied when asked. Results are checked with qpdf.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "automation/surfaces/Distiller.h"
#include "servers/distiller/GhostscriptJob.h"
#include "servers/distiller/JobOptions.h"
#include "system/Files.h"
#include "support/PdfFixtures.h"
#include "support/Expect.h"
#include "support/OfficeDocs.h"
#include "support/Processes.h"
#include "support/TestSupport.h"
#include "system/Process.h"

namespace pm::test {
using namespace pm::distiller;
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// PostScript with n pages, each showing its number; the DSC page count is
// declared when asked.
std::string pagesPs(int n, bool declare = true) {
  std::string ps = "%!PS-Adobe-3.0\n";
  if (declare) ps += "%%Pages: " + std::to_string(n) + "\n";
  ps += "%%EndComments\n/Helvetica findfont 24 scalefont setfont\n";
  for (int i = 1; i <= n; ++i)
    ps += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n72 700 moveto (Page " + std::to_string(i) +
          ") show showpage\n";
  return ps + "%%EOF\n";
}

// A folder outside the system temporary folder (inputs there need the
// read permit), removed at the end.
class OutsideDir {
 public:
  OutsideDir() {
    std::string tmpl = (fs::current_path() / "distiller-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~OutsideDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& n) const { return path_ + "/" + n; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

int pdfPages(const std::string& pdf, const std::string& password = {}) {
  std::string out;
  return run({"qpdf", "--show-npages", "--password=" + password, pdf}, &out) == 0 ? std::atoi(out.c_str()) : -1;
}

// Everything in a folder except the given names: what a job left behind.
std::vector<std::string> leftovers(const std::string& dir, std::vector<std::string> expected) {
  std::vector<std::string> extra;
  for (const auto& e : fs::directory_iterator(dir))
    if (std::find(expected.begin(), expected.end(), e.path().filename()) == expected.end())
      extra.push_back(e.path().filename());
  return extra;
}

// The progress of a job of three declared pages.
const std::vector<std::string> kThreePages = {"OnPercentDone 0",  "OnPageNumber 1",   "OnPercentDone 33",
                                              "OnPageNumber 2",   "OnPercentDone 66", "OnPageNumber 3",
                                              "OnPercentDone 100"};

class Ghostscript : public ::testing::Test {
 protected:
  void SetUp() override {
    PM_REQUIRE_OR_SKIP(!commandOutput("command -v gs && command -v qpdf").empty(), "Ghostscript and qpdf are needed");
    d = eventDistiller();
  }
  // Writes a file and gives its path.
  static std::string write(const std::string& path, const std::string& text) {
    writeFile(path, text);
    return path;
  }

  // Connects to the event-enabled Distiller and writes each event as a line.
  ObjectRef eventDistiller() {
    ObjectRef d = CreateObject(kEventClsid);
    connection_ = EventConnection(d, std::make_shared<FunctionSink>([this](const EventCall& e) {
                                    std::string line = e.event.name;
                                    for (Variant* a : e.args) line += " " + CStr(*a);
                                    (e.event.name == kOnLogMessage ? log_ : events_).push_back(line);
                                  }));
    return d;
  }
  // A job's events: started, the ones between, then done or failed.
  static std::vector<std::string> job(const std::string& in, const std::string& out, std::vector<std::string> between,
                                      bool done = true) {
    between.insert(between.begin(), "OnJobStart " + in + " " + out);
    between.push_back((done ? "OnJobDone " : "OnJobFail ") + in + " " + out);
    return between;
  }
  std::string logText() const {
    std::string all;
    for (const std::string& l : log_) all += l + "\n";
    return all;
  }

  TempDir tmp_;
  OutsideDir outside_;
  EventConnection connection_;
  ObjectRef d;  // the event-enabled Distiller, its events recorded
  std::vector<std::string> events_, log_;
};

TEST_F(Ghostscript, PagesBecomePdfWithEventsInOrderWhateverSignsThePathsHold) {
  std::string ps = write(outside_.file("a folder (with) 100%/in (1) %d.ps"), pagesPs(3)),
              pdf = outside_.file("a folder (with) 100%/out (1) %d.pdf");
  EXPECT_EQ(call(d, kFileToPDF, {ps, pdf, ""}), Variant(int32_t{1})) << logText();
  EXPECT_EQ(events_, job(ps, pdf, kThreePages));
  EXPECT_FALSE(log_.empty()) << "Ghostscript's own lines are reported as log messages";
  EXPECT_EQ(pdfPages(pdf), 3);
  EXPECT_EQ(leftovers(outside_.file("a folder (with) 100%"), {"in (1) %d.ps", "out (1) %d.pdf"}), Lines{});
}

// Jobs whose pages cannot be counted ahead: no declared count, or an
// EndPage hook of the job's own that Ghostscript's counting cannot see.
TEST_F(Ghostscript, UncountedPagesGivePercentOnlyAtStartAndEnd) {
  for (bool hook : {false, true}) {
    std::string ps = write(
                    tmp_.file("undeclared.ps"),
                    (hook ? "%!PS\n<< /EndPage { exch pop 2 ne } bind >> setpagedevice\n" : "") + pagesPs(2, false)),
                pdf = tmp_.file("undeclared.pdf");
    events_.clear();
    EXPECT_EQ(call(d, kFileToPDF, {ps, pdf, ""}), Variant(int32_t{1})) << logText();
    EXPECT_EQ(events_, job(ps, pdf,
                           hook ? Lines{"OnPercentDone 0", "OnPercentDone 100"}
                                : Lines{"OnPercentDone 0", "OnPageNumber 1", "OnPageNumber 2", "OnPercentDone 100"}));
    EXPECT_EQ(logText().find("its pages were not counted") != std::string::npos, hook) << logText();
    EXPECT_EQ(pdfPages(pdf), 2);
  }
}

// Jobs that make no PDF: each ends in OnJobFail with its reason logged,
// keeps the caller's old file and leaves nothing else beside its input.
TEST_F(Ghostscript, EmptyMissingBrokenAndLoopingJobsFailWithTheirReason) {
  struct Row {
    const char* ps;  // nullptr: no input file
    int32_t timeout;
    std::string log;
  };
  for (const Row& r : std::vector<Row>{{"%!PS\n% no pages at all\n", 0, "The job produced no pages"},
                                       {nullptr, 0, "Input file " + tmp_.file("job.ps") + " does not exist."},
                                       // One good page, then an error: Ghostscript would write a one-page PDF.
                                       {"%!PS\n72 72 moveto /Helvetica findfont 12 scalefont setfont (one) show "
                                        "showpage\nnosuchoperator\n",
                                        0, "Ghostscript failed (exit code 1); no PDF was made."},
                                       {"%!PS\n{ 1 pop } loop\n", 1, "did not finish within 1 seconds"}}) {
    SCOPED_TRACE(r.log);
    std::string ps = tmp_.file("job.ps"), pdf = tmp_.file("job.pdf");
    if (r.ps) writeFile(ps, r.ps);
    writeFile(pdf, "the caller's old file");
    ObjectRef d = eventDistiller();
    if (r.timeout) {
      let(d, kTimeout, Variant(r.timeout));
      EXPECT_EQ(get(d, kTimeout), Variant(r.timeout));
    }
    events_.clear();
    log_.clear();
    EXPECT_EQ(call(d, kFileToPDF, {ps, pdf, ""}), Variant(int32_t{0}));
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.front(), "OnJobStart " + ps + " " + pdf);
    EXPECT_EQ(events_.back(), "OnJobFail " + ps + " " + pdf);
    EXPECT_NE(logText().find(r.log), std::string::npos) << logText();
    EXPECT_EQ(processesWhere([&](pid_t p) { return cmdline(p).find(ps) != std::string::npos; }), std::vector<pid_t>{})
        << "Ghostscript still runs after the job ended";
    EXPECT_EQ(readFile(pdf), "the caller's old file") << "never a partial PDF under the caller's name";
    EXPECT_EQ(leftovers(tmp_.path(), {"job.ps", "job.pdf"}), Lines{});
    std::filesystem::remove(ps);
  }
}

TEST_F(Ghostscript, TheDefaultTimeOutComesFromTheEnvironment) {
  for (auto [cls, value, want] :
       {std::tuple{kEventClsid, "42", 42}, {kSecurityClsid, "soon", kDefaultTimeoutSeconds}}) {
    ScopedEnv env(kTimeoutEnv, value);
    EXPECT_EQ(get(CreateObject(cls), kTimeout), Variant(int32_t{want})) << value;
  }
}

TEST_F(Ghostscript, ADriverFileRunsItsPartsFromOtherFolders) {
  std::string a = write(outside_.file("parts (a)/a.ps"), pagesPs(2)), b = write(tmp_.file("b \\ (x).ps"), pagesPs(3));
  std::string driver = outside_.file("driver/all.ps"), pdf = outside_.file("driver/all.pdf");
  // The driver file the component writes: prun runs each part with RunFile.
  writeFile(
      driver,
      "/prun { /mysave save def\r\ndup = flush\r\nRunFile\r\nclear cleardictstack\r\nmysave restore\r\n} def\r\n\r\n" +
          psString(a) + " prun\r\n" + psString(b) + " prun\r\n");
  WrittenDriver written(driver, {a, b});
  EXPECT_EQ(call(d, kFileToPDF, {driver, pdf, ""}), Variant(int32_t{1})) << logText();
  EXPECT_EQ(pdfPages(pdf), 5);
  // Percent from the parts' declared counts; pages count on across parts.
  EXPECT_EQ(events_[1], "OnPercentDone 0");
  EXPECT_EQ(events_[events_.size() - 3], "OnPageNumber 5");
  EXPECT_NE(std::find(events_.begin(), events_.end(), "OnPercentDone 40"), events_.end());
  // prun prints each part's name.
  EXPECT_NE(std::find(log_.begin(), log_.end(), "OnLogMessage " + a), log_.end());
}

TEST_F(Ghostscript, AJobCannotReadFilesItWasNotGiven) {
  // A file outside the job's folder, not named by a driver: -dSAFER refuses.
  std::string secret = write(outside_.file("secret/other.ps"), pagesPs(1));
  std::string ps = write(outside_.file("job/reader.ps"), "%!PS\n" + psString(secret) + " run\n"),
              pdf = outside_.file("job/reader.pdf");
  EXPECT_EQ(call(d, kFileToPDF, {ps, pdf, ""}), Variant(int32_t{0}));
  EXPECT_NE(logText().find("/invalidfileaccess"), std::string::npos) << logText();
  EXPECT_FALSE(fs::exists(pdf));

  // A file in the input's own folder is readable.
  std::string sibling = write(outside_.file("job/sibling.ps"), pagesPs(1));
  writeFile(ps, "%!PS\n" + psString(sibling) + " run\n");
  log_.clear();
  EXPECT_EQ(call(d, kFileToPDF, {ps, pdf, ""}), Variant(int32_t{1})) << logText();

  // A file that looks like a driver grants no reading either: its first
  // line opens a hostile file; its "(path) prun" lines name a secret
  // elsewhere, which it would print onto a page.
  secret = write(outside_.file("secret/shadow"), "TOPSECRET4711\n");
  ps = outside_.file("job/hostile.ps");
  pdf = outside_.file("job/hostile.pdf");
  log_.clear();
  writeFile(ps,
            "/prun { /mysave save def\r\n} pop pop\r\n"
            "/prun { (r) file 100 string readstring pop /Helvetica findfont 12 scalefont setfont "
            "72 700 moveto show showpage } def\r\n" +
                psString(secret) + " prun\r\n");
  call(d, kFileToPDF, {ps, pdf, ""});
  EXPECT_NE(logText().find("/invalidfileaccess"), std::string::npos) << logText();
  std::string text;
  if (fs::exists(pdf)) run({"pdftotext", pdf, "-"}, &text);
  EXPECT_THAT(text, Not(HasSubstr("TOPSECRET")));
}

TEST_F(Ghostscript, AKilledOwnerTakesGhostscriptWithItAndItsFolderGoesAtTheNextJob) {
  std::string loop = tmp_.file("loop.ps"), pdf = tmp_.file("loop.pdf");
  writeFile(loop, "%!PS\n{ } loop\n");
  pid_t owner = ::fork();
  ASSERT_GE(owner, 0);
  if (owner == 0) {
    // On a worker thread, as a service runs its jobs, while the main
    // thread waits on something else.
    std::thread worker([&] {
      JobRequest rq{loop, pdf, "", false, std::chrono::seconds(600)};
      runJob(rq, {});
    });
    worker.join();
    ::_exit(0);
  }
  // The owner's Ghostscript, once it runs.
  auto ghostscriptOf = [](pid_t parent) {
    auto children = processesWhere([&](pid_t p) { return statusField(p, "PPid") == std::to_string(parent); });
    return children.empty() ? 0 : children[0];
  };
  pid_t gs = 0;
  for (int i = 0; i < 200 && !gs; ++i, ::usleep(50000)) gs = ghostscriptOf(owner);
  ASSERT_GT(gs, 0) << "Ghostscript did not start";
  const std::string folderPrefix = "distill-" + std::to_string(owner) + "-";
  auto ownersFolders = [&] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(privateTempDir()))
      if (e.path().filename().string().rfind(folderPrefix, 0) == 0) ++n;
    return n;
  };
  EXPECT_EQ(ownersFolders(), 1);
  ::kill(owner, SIGKILL);
  ::waitpid(owner, nullptr, 0);
  EXPECT_FALSE(stillRunning(gs)) << "Ghostscript outlived the process that started it";
  std::string ps = write(tmp_.file("next.ps"), pagesPs(1));
  EXPECT_EQ(call(d, kFileToPDF, {ps, tmp_.file("next.pdf"), ""}), Variant(int32_t{1})) << logText();
  EXPECT_EQ(ownersFolders(), 0) << "the next job removes the dead owner's folder";
}

TEST_F(Ghostscript, APdfIsTakenAsItIsUnlessTheJobChangesIt) {
  std::string ps = write(tmp_.file("made.ps"), pagesPs(3)), made = tmp_.file("made.pdf");
  ASSERT_EQ(call(d, kFileToPDF, {ps, made, ""}), Variant(int32_t{1})) << logText();
  // Nothing to change: the same bytes, the same events as a distilled job.
  events_.clear();
  std::string same = tmp_.file("same.pdf");
  ASSERT_EQ(call(d, kFileToPDF, {made, same, ""}), Variant(int32_t{1})) << logText();
  EXPECT_EQ(events_, job(made, same, kThreePages));
  EXPECT_EQ(readFile(same), readFile(made));
  // Job options change it: Ghostscript rewrites it, pages counted.
  events_.clear();
  std::string options = outside_.file("old.joboptions"), old = tmp_.file("old.pdf");
  writeFile(options, "CompatibilityLevel = 1.3\n");
  ASSERT_EQ(call(d, kFileToPDF, {made, old, options}), Variant(int32_t{1})) << logText();
  EXPECT_EQ(events_, job(made, old, kThreePages));
  EXPECT_EQ(readFile(old).substr(0, 8), "%PDF-1.3");
  EXPECT_EQ(pdfPages(old), 3);
  // A page tree that declares far more pages than it holds: the events are
  // those of the pages it has.
  events_.clear();
  std::string body = "%PDF-1.4\n", boasting = tmp_.file("boasting.pdf"), copy = tmp_.file("copy.pdf");
  std::vector<size_t> offsets;
  for (std::string obj :
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Count 999999999 /Kids [3 0 R 4 0 R 5 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>"}) {
    offsets.push_back(body.size());
    body += std::to_string(offsets.size()) + " 0 obj\n" + obj + "\nendobj\n";
  }
  const size_t xref = body.size();
  body += "xref\n0 6\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    std::string n = std::to_string(o);
    body += std::string(10 - n.size(), '0') + n + " 00000 n \n";
  }
  body += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  ASSERT_EQ(call(d, kFileToPDF, {write(boasting, body), copy, ""}), Variant(int32_t{1})) << logText();
  EXPECT_EQ(events_, job(boasting, copy, kThreePages));
  EXPECT_EQ(readFile(copy), body);
  // A damaged PDF that qpdf cannot count is not copied as if it were whole.
  events_.clear();
  std::string damaged = tmp_.file("damaged.pdf"), none = tmp_.file("none.pdf");
  writeFile(damaged, "%PDF-1.7\nnothing here\n%%EOF\n");
  EXPECT_EQ(call(d, kFileToPDF, {damaged, none, ""}), Variant(int32_t{0}));
  EXPECT_FALSE(fs::exists(none));
}

TEST_F(Ghostscript, MissingOrBadJobOptionsFailTheJobWithAClearMessage) {
  std::string ps = write(tmp_.file("opts.ps"), pagesPs(1)), pdf = tmp_.file("opts.pdf");
  const std::string missing = tmp_.file("missing.joboptions"), bad = tmp_.file("bad.joboptions"),
                    refused = tmp_.file("refused.joboptions");
  writeFile(bad, "<< /CompatibilityLevel 1.4\n/Foo { (x) = } >> setdistillerparams\n");
  // Well-formed, but a value Ghostscript refuses.
  writeFile(refused, "<< /CompatibilityLevel (high) >> setdistillerparams\n");
  for (auto [options, message] : {std::pair{missing, " does not exist"},
                                  {bad, " is not valid: line 2: procedures are not allowed in job options"},
                                  {refused, " was refused by Ghostscript (typecheck)"}}) {
    log_.clear();
    call(d, kFileToPDF, {ps, pdf, options});
    EXPECT_EQ(events_.back(), "OnJobFail " + ps + " " + pdf);
    EXPECT_NE(logText().find("OnLogMessage Job options file " + options + message), std::string::npos) << logText();
    EXPECT_TRUE(options == refused || log_.size() == 1u) << "Ghostscript is not started: " << logText();
    EXPECT_FALSE(fs::exists(pdf));
  }
}

std::string encryption(const std::string& pdf, const std::string& password) {
  std::string out;
  run({"qpdf", "--show-encryption", "--password=" + password, pdf}, &out);
  return out;
}
TEST_F(Ghostscript, SecurityIsAppliedOnlyWhenAskedAndOpensOnlyWithThePassword) {
  std::string ps = write(outside_.file("secret.ps"), pagesPs(2));
  std::string opts = outside_.file("secure.joboptions");
  writeFile(opts,
            "<< /CompatibilityLevel 1.4 /OwnerPassword (owner \"pw\") /UserPassword (user pw) /Permissions -1852 >> "
            "setdistillerparams\n");
  ObjectRef d = CreateObject(kSecurityClsid);
  EXPECT_THROW(connectEvents(d, std::make_shared<FunctionSink>([](const EventCall&) {})), AutomationError)
      << "the security-capable class raises no events";
  let(d, kShowWindow, Variant(int32_t{-1}));
  let(d, kSpoolJobs, Variant(int32_t{0}));

  std::string pdf = outside_.file("secret.pdf");
  EXPECT_EQ(call(d, kFileToPDF2, {ps, pdf, opts, Variant(true)}), Variant(int32_t{1}));
  // Without a password, or with a wrong one, it does not open.
  EXPECT_NE(run({"qpdf", "--check", pdf}), 0);
  EXPECT_NE(run({"qpdf", "--check", "--password=wrong", pdf}), 0);
  EXPECT_EQ(pdfPages(pdf, "user pw"), 2);
  std::string asUser = encryption(pdf, "user pw");
  for (const char* line :
       {"R = 3", "P = -1852", "Supplied password is user password", "print high resolution: allowed",
        "print low resolution: allowed", "modify other: not allowed", "extract for any purpose: not allowed"})
    EXPECT_THAT(asUser, HasSubstr(line));
  EXPECT_THAT(encryption(pdf, "owner \"pw\""), HasSubstr("Supplied password is owner password"));

  // Not asked: the same options give a PDF without security.
  std::string plain = outside_.file("plain.pdf");
  call(d, kFileToPDF2, {ps, plain, opts, Variant(false)});
  EXPECT_EQ(run({"qpdf", "--is-encrypted", plain}), 2);
  EXPECT_EQ(pdfPages(plain), 2);

  // The event-enabled class never encrypts.
  std::string viaEvents = outside_.file("events.pdf");
  call(eventDistiller(), kFileToPDF, {ps, viaEvents, opts});
  EXPECT_EQ(run({"qpdf", "--is-encrypted", viaEvents}), 2);

  // Asked without a password: no PDF. A user password alone also guards
  // the owner's rights.
  std::string none = outside_.file("none.pdf"), user = outside_.file("user.pdf");
  EXPECT_EQ(call(d, kFileToPDF2, {ps, none, "", Variant(true)}), Variant(int32_t{0}));
  EXPECT_FALSE(fs::exists(none));
  opts = write(outside_.file("user.joboptions"), "UserPassword = only\nPermissions = -3904\n");
  EXPECT_EQ(call(d, kFileToPDF2, {ps, user, opts, Variant(int16_t{-1})}), Variant(int32_t{1}));
  EXPECT_THAT(encryption(user, "only"), HasSubstr("R = 3"));
  EXPECT_NE(run({"qpdf", "--check", user}), 0);
}

TEST_F(Ghostscript, TheCommandLineIsConfinedAndCarriesNoPassword) {
  // A wrapper records the arguments Ghostscript is started with.
  std::string wrapper = tmp_.file("gs-wrapper"), argsLog = tmp_.file("args.log");
  writeFile(wrapper, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$PM_ARGS_LOG\"\nexec gs \"$@\"\n");
  ::chmod(wrapper.c_str(), 0755);
  ScopedEnv gs("PRESSMARK_GHOSTSCRIPT", wrapper);
  ScopedEnv log("PM_ARGS_LOG", argsLog);

  std::string ps = write(outside_.file("in put/doc.ps"), pagesPs(1)), pdf = outside_.file("doc.pdf");
  std::string opts =
      write(outside_.file("s.joboptions"), "OwnerPassword = very-secret-owner\nUserPassword = very-secret-user\n");
  ObjectRef d = CreateObject(kSecurityClsid);
  ASSERT_EQ(call(d, kFileToPDF2, {ps, pdf, opts, Variant(true)}), Variant(int32_t{1}));

  std::string args = readFile(argsLog);
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = args.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(args.substr(at, nl - at));
  ASSERT_GE(lines.size(), 8u) << args;
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite"}));
  EXPECT_THAT(args, HasSubstr("\n--permit-file-read=" + outside_.file("in put") + "/\n"));
  EXPECT_EQ(lines[lines.size() - 2], ps);
  EXPECT_EQ(args.find("very-secret"), std::string::npos) << "passwords travel in a private arguments file";
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("@", 0) == 0; }));
  // The private folder with the arguments file is gone after the job.
  for (const std::string& l : lines)
    if (l.rfind("@", 0) == 0) {
      EXPECT_FALSE(fs::exists(l.substr(1)));
    }
  EXPECT_THAT(encryption(pdf, "very-secret-user"), HasSubstr("R = 3"));
}

TEST_F(Ghostscript, AMissingGhostscriptRaisesAnErrorAfterJobFail) {
  std::string ps = write(tmp_.file("p.ps"), pagesPs(1)), pdf = tmp_.file("p.pdf");
  ScopedEnv env("PRESSMARK_GHOSTSCRIPT", "/nonexistent/gs");
  std::string why;
  EXPECT_EQ(errorOf([&] { call(d, kFileToPDF, {ps, pdf, ""}); }, &why), basic::FileNotFound);
  EXPECT_NE(why.find("/nonexistent/gs"), std::string::npos);
  EXPECT_EQ(events_.back(), "OnJobFail " + ps + " " + pdf);
  EXPECT_EQ(leftovers(tmp_.path(), {"p.ps"}), Lines{});
}

}  // namespace
}  // namespace pm::test
