// CreatePDFfromPS, CreatePDFfromMultiPS and the distill step against the
// recording server: the Distiller calls, their order and arguments on both
// paths, the version threshold, the traps, the by-reference write-back, the
// driver file byte for byte, and the missing-file error before any work.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "automation/surfaces/Distiller.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"
#include "support/TestSupport.h"

namespace pm::test {

using pm::recording::Recorder;
namespace fs = std::filesystem;

namespace {

const std::string kEvent = distiller::kEventClsid;
const std::string kSecure = distiller::kSecurityClsid;

class DistillTest : public ::testing::Test {
 protected:
  DistillTest() : registry_("PRESSMARK_REGISTRY", registryDir_.path()) {
    rec_->registerClass(kEvent, distiller::eventSpecs());
    rec_->registerClass(kSecure);
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
    self().strPrinterName = "Test Distiller Printer";
    moduleState().strAcrobatVersion = "5.0";
    writeFile(ps, "%!PS\n");
    // The client's view of the job events.
    clientEvents_ = EventConnection(pdf_, std::make_shared<FunctionSink>([this](const EventCall& e) {
                                      std::string line = e.event.name;
                                      for (Variant* a : e.args) line += " " + recording::Describe(*a);
                                      events_.push_back(line);
                                    }));
  }
  CreatePDF& self() { return static_cast<CreatePDF&>(*pdf_); }

  // The recorded event-enabled Distiller raises a typical job's events.
  recording::Rule& distillerRaisesEvents(const std::string& in, const std::string& out) {
    return rec_->on(kEvent, distiller::kFileToPDF)
        .raises("OnJobStart", {Variant(in), Variant(out)})
        .raises("OnPercentDone", {Variant(int32_t{0})})
        .raises("OnLogMessage", {Variant("a line")})
        .raises("OnPageNumber", {Variant(int32_t{1})})
        .raises("OnPercentDone", {Variant(int32_t{100})})
        .raises("OnJobDone", {Variant(in), Variant(out)});
  }

  TempDir registryDir_;
  test::ScopedEnv registry_;
  TempDir dir_;
  // The job most tests run: a PostScript file that exists, and its PDF.
  const std::string ps = dir_.file("in.ps"), out = dir_.file("out.pdf");
  std::shared_ptr<Recorder> rec_ = Recorder::create();
  ObjectRef pdf_;
  EventConnection clientEvents_;
  std::vector<std::string> events_;
};

std::string q(const std::string& s) {
  return recording::Describe(Variant(s));
}

// What one job on a Distiller class records: its window and spool settings
// as converted from the caller's arguments, then the conversion call.
std::vector<std::string> job(const std::string& cls, const char* show, const char* spool, const std::string& call) {
  return {"create " + cls, cls + " let bShowWindow = " + show, cls + " let bSpoolJobs = " + spool,
          cls + " call " + call, "release " + cls};
}

TEST_F(DistillTest, AConversionStartedFromTheObjectsOwnEventHandlerIsRefused) {
  distillerRaisesEvents(ps, out).does([](auto&, auto) { return Variant(int32_t{1}); });
  std::vector<std::string> nested;
  EventConnection handler(
      pdf_, std::make_shared<FunctionSink>([&](const EventCall& e) {
        if (e.event.name != "JobStart") return;
        for (const char* member : {"CreatePDFfromPS", "CreatePDFfromMultiPS"}) {
          try {
            Variant a(dir_.file("other.pdf")),
                b(std::string(member) == "CreatePDFfromPS" ? Variant(ps) : Variant(Array::vector({Variant(ps)})));
            call(pdf_, member, {ByRef(a), ByRef(b)});
            nested.push_back("no error");
          } catch (const AutomationError& x) {
            nested.push_back(x.description());
          }
        }
      }));
  Variant vPdf(out), vPs(ps);
  call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
  ASSERT_EQ(nested.size(), 2u);
  for (const std::string& n : nested) EXPECT_NE(n.find("already running on this CreatePDF"), std::string::npos) << n;
  EXPECT_EQ(events_.back(), "JobDone " + q(ps) + " " + q(out)) << "the outer job goes on and reports to the end";
  EXPECT_FALSE(self().distiller());
  std::vector<std::string> calls = rec_->transcript();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "create " + kEvent), 1);
}

TEST_F(DistillTest, FromPSOnTheSecurityPathRaisesNoEvents) {
  moduleState().strAcrobatVersion = "8.0";
  Variant vPdf(out), vPs(ps), vDistiller("  "), secure(true);
  rec_->on(kSecure, distiller::kFileToPDF2).returns(Variant(int32_t{1}));
  call(pdf_, "CreatePDFfromPS",
       {ByRef(vPdf), ByRef(vPs), ByRef(vDistiller), Variant(int16_t{-1}), Variant(int16_t{0}), "", ByRef(secure)});
  EXPECT_EQ(rec_->transcript(), job(kSecure, "-1&", "0&", "FileToPDF2(" + q(ps) + ", " + q(out) + ", \"\", True)"));
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(vDistiller, Variant("Test Distiller Printer"));
}

TEST_F(DistillTest, SecurityPathOnlyFromVersion505AndOnlyForBooleanTrue) {
  struct Case {
    std::string version;
    Variant applySecurity;
    std::string expected;
  } cases[] = {
      {"8.0", Variant(true), kSecure},  {"8.0", Variant(int32_t{-1}), kSecure},
      {"5.05", Variant(true), kSecure}, {"5.0", Variant(true), kEvent},
      {"", Variant(true), kEvent},      {"Acrobat 8", Variant(true), kEvent},
      {"8.0", Variant(false), kEvent},  {"8.0", Variant(int32_t{1}), kEvent},
      {"8.0", Variant("True"), kEvent}, {"8.0", Variant(), kEvent},
      {"8.0", Variant::null(), kEvent},
  };
  rec_->on(kSecure, distiller::kFileToPDF2).returns(Variant(int32_t{1}));
  for (const Case& c : cases) {
    moduleState().strAcrobatVersion = c.version;
    rec_->clear();
    Variant vPdf(out), vPs(ps), a(c.applySecurity);
    call(pdf_, "CreatePDFfromPS",
         {ByRef(vPdf), ByRef(vPs), Variant(""), Variant(false), Variant(false), Variant(""), ByRef(a)});
    ASSERT_FALSE(rec_->transcript().empty());
    EXPECT_EQ(rec_->transcript()[0].rfind("create " + c.expected, 0), 0u)
        << c.version << " " << recording::Describe(c.applySecurity);
  }
}

TEST_F(DistillTest, OmittedArgumentsNeitherShowTheWindowNorSpoolJobs) {
  Variant vPdf(out), vPs(ps);
  call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
  EXPECT_EQ(rec_->transcript(), job(kEvent, "0&", "0&", "FileToPDF(" + q(ps) + ", " + q(out) + ", \"\")"));
}

TEST_F(DistillTest, AMissingPostScriptFileIsReportedBeforeAnyWork) {
  std::string ps = dir_.file("no such.ps"), out = dir_.file("out.pdf");
  writeFile(out, "keep me");
  Variant vPdf(out), vPs(ps), vDistiller("");
  EXPECT_EQ(raised([&] {
              call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs), ByRef(vDistiller)});
            }),
            (Raised{-2147467008, "File " + ps + " does not exist.", "Pressmark"}));
  EXPECT_TRUE(rec_->transcript().empty());
  EXPECT_EQ(readFile(out), "keep me");
  EXPECT_EQ(vDistiller, Variant("")) << "nothing is changed";
}

TEST_F(DistillTest, TheTrapReleasesTheDistillerAndRaisesAgainAsTheComponent) {
  rec_->on(kEvent, distiller::kFileToPDF).fails(1234, "Distiller broke");
  Variant vPdf(out), vPs(ps);
  EXPECT_EQ(raised([&] {
              call(pdf_, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
            }),
            (Raised{1234, "Distiller broke", "Pressmark"}));
  EXPECT_FALSE(self().distiller());
  EXPECT_EQ(rec_->transcript().back(), "release " + kEvent);

  moduleState().strAcrobatVersion = "8.0";
  rec_->clear();
  rec_->on(kSecure, distiller::kSpoolJobs).fails(438, "no spool");
  Variant yes(true);
  EXPECT_THROW(call(pdf_, "CreatePDFfromPS",
                    {ByRef(vPdf), ByRef(vPs), Variant(""), Variant(false), Variant(false), Variant(""), ByRef(yes)}),
               AutomationError);
  EXPECT_EQ(rec_->transcript(), (std::vector<std::string>{"create " + kSecure, kSecure + " let bShowWindow = 0&",
                                                          kSecure + " let bSpoolJobs = 0&", "release " + kSecure}));
}

// ---- CreatePDFfromMultiPS ----

const std::string kHead =
    "/prun { /mysave save def\r\ndup = flush\r\nRunFile\r\nclear cleardictstack\r\nmysave restore\r\n} def\r\n\r\n";

class MultiPSTest : public DistillTest {
 protected:
  // Captures the driver file as the Distiller sees it.
  void captureDriver() {
    rec_->on(kEvent, distiller::kFileToPDF).does([this](auto&, std::span<const Arg> args) {
      driverPath_ = CStr(args[0].get());
      driverText_ = readFile(driverPath_);
      driverGrant_ = distiller::WrittenDriver::entriesOf(driverPath_).value_or(std::vector<std::string>{"not listed"});
      return Variant(int32_t{1});
    });
  }
  std::string driverPath_, driverText_;
  std::vector<std::string> driverGrant_;
};

TEST_F(MultiPSTest, DriverFileEscapesNamesSkipsMissingFilesAndGrantsOnlyItsEntries) {
  std::string a = dir_.file("in/a.ps"), b = dir_.file("in/b (1).ps"), slash = dir_.file("in/win\\dir.ps");
  std::string odd = dir_.file("in/odd\\(x).ps");
  for (const std::string& f : {a, b, slash, odd}) writeFile(f, "%!PS\n");
  std::string out = dir_.file("all.pdf");
  captureDriver();
  Variant vPdf(out), list(V({a, dir_.file("in/missing.ps"), b, slash, odd})), vDistiller("");
  call(pdf_, "CreatePDFfromMultiPS", {ByRef(vPdf), ByRef(list), ByRef(vDistiller)});

  EXPECT_EQ(driverPath_, dir_.file("all.ps"));
  EXPECT_EQ(driverText_, kHead + "(" + a + ") prun\r\n" + "(" + dir_.file("in/b \\(1\\).ps") + ") prun\r\n" + "(" +
                             dir_.file("in/win/dir.ps") + ") prun\r\n" + "(" + dir_.file("in/odd/\\(x\\).ps") +
                             ") prun\r\n");
  EXPECT_FALSE(fs::exists(dir_.file("all.ps"))) << "the driver is gone after success";
  // Ghostscript may read exactly the files the driver was written with.
  EXPECT_EQ(driverGrant_, (std::vector<std::string>{a, b, dir_.file("in/win/dir.ps"), dir_.file("in/odd/(x).ps")}));
  EXPECT_FALSE(distiller::WrittenDriver::entriesOf(dir_.file("in/a.ps")));
  EXPECT_EQ(rec_->transcript(),
            job(kEvent, "0&", "0&", "FileToPDF(" + q(dir_.file("all.ps")) + ", " + q(out) + ", \"\")"));
  EXPECT_EQ(vDistiller, Variant("Test Distiller Printer"));
}

// The driver never takes the place of a file of the caller's: an input or
// another file under its name stays as it was, and the driver goes beside
// the PDF under a fresh name; a driver never lists itself; a line break in
// a name stays inside its entry; with no file left only the head is run.
TEST_F(MultiPSTest, TheDriverNeverReplacesACallersFileNorRunsItself) {
  struct Row {
    std::string pdf;
    std::vector<std::string> list, untouched;  // list entries "name" are files with "%!PS\n"; untouched keep theirs
    std::string driver;                        // its path when fixed, "" for a fresh name beside the PDF
    std::vector<std::string> entries;
  };
  for (const Row& r : std::vector<Row>{
           {"nl.pdf", {"two\nlines.ps"}, {}, "nl.ps", {"two\\012lines.ps"}},
           {"book.pdf", {"book.ps", "other.ps"}, {"book.ps"}, "", {"book.ps", "other.ps"}},
           {"set.pdf", {"part.ps"}, {"set.ps"}, "", {"part.ps"}},
           {"self.pdf", {"self.ps", "p.ps"}, {}, "self.ps", {"p.ps"}},
           {"empty.pdf", {"none.ps"}, {"empty.pdf"}, "empty.ps", {}},
       }) {
    SCOPED_TRACE(r.pdf);
    for (const std::string& f : r.list)
      if (f != "none.ps" && f != "self.ps") writeFile(dir_.file(f), "%!PS\n");
    for (const std::string& f : r.untouched) writeFile(dir_.file(f), "the caller's " + f);
    captureDriver();
    std::vector<Variant> names;
    for (const std::string& f : r.list) names.push_back(Variant(dir_.file(f)));
    Variant vPdf(dir_.file(r.pdf)), list(Array::vector(names));
    call(pdf_, "CreatePDFfromMultiPS", {ByRef(vPdf), ByRef(list)});
    std::string text = kHead;
    for (const std::string& e : r.entries) text += "(" + dir_.file(e) + ") prun\r\n";
    EXPECT_EQ(driverText_, text);
    if (!r.driver.empty()) {
      EXPECT_EQ(driverPath_, dir_.file(r.driver));
    }
    EXPECT_EQ(fs::path(driverPath_).parent_path(), fs::path(dir_.path()));
    EXPECT_EQ(fs::path(driverPath_).extension(), ".ps");
    for (const std::string& f : r.untouched) EXPECT_EQ(readFile(dir_.file(f)), "the caller's " + f);
    EXPECT_FALSE(fs::exists(driverPath_) && std::find(r.untouched.begin(), r.untouched.end(),
                                                      fs::path(driverPath_).filename()) == r.untouched.end());
  }
}

TEST_F(MultiPSTest, SecurityPathFailureRaisesAsTheComponentAndTakesTheDriverAlong) {
  moduleState().strAcrobatVersion = "8.0";
  std::string part = dir_.file("p.ps");
  writeFile(part, "%!PS\n");
  Variant vPdf(dir_.file("s.pdf")), list(V({part})), yes(true);
  rec_->on(kSecure, distiller::kFileToPDF2).fails(5, "refused");
  EXPECT_EQ(raised([&] {
              call(pdf_, "CreatePDFfromMultiPS",
                   {ByRef(vPdf), ByRef(list), Variant(""), Variant(false), Variant(true), Variant("o.joboptions"),
                    ByRef(yes)});
            }),
            (Raised{5, "refused", "Pressmark"}));
  EXPECT_EQ(rec_->transcript(),
            job(kSecure, "0&", "-1&",
                "FileToPDF2(" + q(dir_.file("s.ps")) + ", " + q(dir_.file("s.pdf")) + ", \"o.joboptions\", True)"));
  EXPECT_FALSE(fs::exists(dir_.file("s.ps"))) << "a failed job takes its driver file with it";
}

TEST_F(MultiPSTest, BadTargetsAndListsRaiseBeforeAnyDistillerIsMade) {
  Variant vPdf(dir_.file("no/such/folder/x.pdf")), list(V({}));
  Raised r = raised([&] { call(pdf_, "CreatePDFfromMultiPS", {ByRef(vPdf), ByRef(list)}); });
  EXPECT_EQ(r.number, basic::PathNotFound);
  EXPECT_EQ(r.source, "Pressmark");
  // Lists that are not one-dimensional arrays fail through the trap.
  Variant nPdf(dir_.file("n.pdf")), notAList("a.ps"), tooLong{Array({Bound{0, 40000}})};
  EXPECT_EQ(raised([&] {
              call(pdf_, "CreatePDFfromMultiPS", {ByRef(nPdf), ByRef(notAList)});
            }).number,
            basic::TypeMismatch);
  EXPECT_EQ(raised([&] {
              call(pdf_, "CreatePDFfromMultiPS", {ByRef(nPdf), ByRef(tooLong)});
            }).number,
            basic::Overflow)
      << "the list is walked with a 16-bit index";
  EXPECT_TRUE(rec_->transcript().empty());
}

}  // namespace

}  // namespace pm::test
