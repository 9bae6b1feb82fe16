// CreatePDFfromPS, CreatePDFfromMultiPS and the distill step against the
// recording server: the Distiller calls, their order and arguments on both
// paths, the version threshold, the traps, the by-reference write-back, the
// driver file byte for byte, and the missing-file error before any work.
#include "component/convert/Orchestrated.h"

namespace pm::test {

namespace fs = std::filesystem;

namespace {

const std::string kEvent = distiller::kEventClsid;
const std::string kSecure = distiller::kSecurityClsid;

class DistillTest : public Orchestrated {
 protected:
  DistillTest() : Orchestrated({kSecure}) {
    self().strPrinterName = "Test Distiller Printer";
    moduleState().strAcrobatVersion = "5.0";
    writeFile(ps, "%!PS\n");
    // The client's view of the job events.
    clientEvents_ = EventConnection(pdf, std::make_shared<FunctionSink>([this](const EventCall& e) {
                                      std::string line = e.event.name;
                                      for (Variant* a : e.args) line += " " + recording::Describe(*a);
                                      events_.push_back(line);
                                    }));
  }
  CreatePDF& self() { return static_cast<CreatePDF&>(*pdf); }

  // The job most tests run: a PostScript file that exists, and its PDF.
  const std::string ps = dir.file("in.ps"), out = dir.file("out.pdf");
  EventConnection clientEvents_;
  Lines events_;
};

// What one job on a Distiller class records: its window and spool settings
// as converted from the caller's arguments, then the conversion call.
Lines job(const std::string& cls, const char* show, const char* spool, const std::string& call) {
  return {"create " + cls, cls + " let bShowWindow = " + show, cls + " let bSpoolJobs = " + spool,
          cls + " call " + call, "release " + cls};
}

TEST_F(DistillTest, AConversionStartedFromTheObjectsOwnEventHandlerIsRefused) {
  // The recorded event-enabled Distiller raises a typical job's events.
  rec->on(kEvent, distiller::kFileToPDF)
      .raises("OnJobStart", {Variant(ps), Variant(out)})
      .raises("OnPercentDone", {Variant(int32_t{0})})
      .raises("OnLogMessage", {Variant("a line")})
      .raises("OnPageNumber", {Variant(int32_t{1})})
      .raises("OnPercentDone", {Variant(int32_t{100})})
      .raises("OnJobDone", {Variant(ps), Variant(out)})
      .does([](auto&, auto) { return Variant(int32_t{1}); });
  Lines nested;
  EventConnection handler(
      pdf, std::make_shared<FunctionSink>([&](const EventCall& e) {
        if (e.event.name != "JobStart") return;
        for (const char* member : {"CreatePDFfromPS", "CreatePDFfromMultiPS"}) {
          try {
            Variant a(dir.file("other.pdf")),
                b(std::string(member) == "CreatePDFfromPS" ? Variant(ps) : Variant(Array::vector({Variant(ps)})));
            call(pdf, member, {ByRef(a), ByRef(b)});
            nested.push_back("no error");
          } catch (const AutomationError& x) {
            nested.push_back(x.description());
          }
        }
      }));
  Variant vPdf(out), vPs(ps);
  call(pdf, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
  ASSERT_EQ(nested.size(), 2u);
  for (const std::string& n : nested) EXPECT_NE(n.find("already running on this CreatePDF"), std::string::npos) << n;
  EXPECT_EQ(events_.back(), "JobDone " + q(ps) + " " + q(out)) << "the outer job goes on and reports to the end";
  EXPECT_FALSE(self().distiller());
  Lines calls = rec->transcript();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "create " + kEvent), 1);
}

TEST_F(DistillTest, ArgumentsAreConvertedForEachPathAndTheSecurityPathRaisesNoEvents) {
  moduleState().strAcrobatVersion = "8.0";
  Variant vPdf(out), vPs(ps), vDistiller("  "), secure(true);
  rec->on(kSecure, distiller::kFileToPDF2).returns(Variant(int32_t{1}));
  call(pdf, "CreatePDFfromPS",
       {ByRef(vPdf), ByRef(vPs), ByRef(vDistiller), Variant(int16_t{-1}), Variant(int16_t{0}), "", ByRef(secure)});
  EXPECT_EQ(rec->transcript(), job(kSecure, "-1&", "0&", "FileToPDF2(" + q(ps) + ", " + q(out) + ", \"\", True)"));
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(vDistiller, Variant("Test Distiller Printer"));
  // Omitted arguments neither show the window nor spool jobs.
  moduleState().strAcrobatVersion = "5.0";
  rec->clear();
  call(pdf, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
  EXPECT_EQ(rec->transcript(), job(kEvent, "0&", "0&", "FileToPDF(" + q(ps) + ", " + q(out) + ", \"\")"));
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
  rec->on(kSecure, distiller::kFileToPDF2).returns(Variant(int32_t{1}));
  for (const Case& c : cases) {
    moduleState().strAcrobatVersion = c.version;
    rec->clear();
    Variant vPdf(out), vPs(ps), a(c.applySecurity);
    call(pdf, "CreatePDFfromPS",
         {ByRef(vPdf), ByRef(vPs), Variant(""), Variant(false), Variant(false), Variant(""), ByRef(a)});
    ASSERT_FALSE(rec->transcript().empty());
    EXPECT_EQ(rec->transcript()[0].rfind("create " + c.expected, 0), 0u)
        << c.version << " " << recording::Describe(c.applySecurity);
  }
}

TEST_F(DistillTest, TheTrapReleasesTheDistillerAndRaisesAgainAsTheComponent) {
  rec->on(kEvent, distiller::kFileToPDF).fails(1234, "Distiller broke");
  Variant vPdf(out), vPs(ps);
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromPS", {ByRef(vPdf), ByRef(vPs)});
            }),
            (Raised{1234, "Distiller broke", "Pressmark"}));
  EXPECT_FALSE(self().distiller());
  EXPECT_EQ(rec->transcript().back(), "release " + kEvent);
}

// ---- CreatePDFfromMultiPS ----

const std::string kHead =
    "/prun { /mysave save def\r\ndup = flush\r\nRunFile\r\nclear cleardictstack\r\nmysave restore\r\n} def\r\n\r\n";

class MultiPSTest : public DistillTest {
 protected:
  // Captures the driver file as the Distiller sees it.
  void captureDriver() {
    rec->on(kEvent, distiller::kFileToPDF).does([this](auto&, std::span<const Arg> args) {
      driverPath_ = CStr(args[0].get());
      driverText_ = readFile(driverPath_);
      driverGrant_ = distiller::WrittenDriver::entriesOf(driverPath_).value_or(Lines{"not listed"});
      return Variant(int32_t{1});
    });
  }
  std::string driverPath_, driverText_;
  Lines driverGrant_;
};

TEST_F(MultiPSTest, DriverFileEscapesNamesSkipsMissingFilesAndGrantsOnlyItsEntries) {
  std::string a = dir.file("in/a.ps"), b = dir.file("in/b (1).ps"), slash = dir.file("in/win\\dir.ps");
  std::string odd = dir.file("in/odd\\(x).ps");
  for (const std::string& f : {a, b, slash, odd}) writeFile(f, "%!PS\n");
  std::string out = dir.file("all.pdf");
  captureDriver();
  Variant vPdf(out), list(V({a, dir.file("in/missing.ps"), b, slash, odd})), vDistiller("");
  call(pdf, "CreatePDFfromMultiPS", {ByRef(vPdf), ByRef(list), ByRef(vDistiller)});

  EXPECT_EQ(driverPath_, dir.file("all.ps"));
  EXPECT_EQ(driverText_, kHead + "(" + a + ") prun\r\n" + "(" + dir.file("in/b \\(1\\).ps") + ") prun\r\n" + "(" +
                             dir.file("in/win/dir.ps") + ") prun\r\n" + "(" + dir.file("in/odd/\\(x\\).ps") +
                             ") prun\r\n");
  EXPECT_FALSE(fs::exists(dir.file("all.ps"))) << "the driver is gone after success";
  // Ghostscript may read exactly the files the driver was written with.
  EXPECT_EQ(driverGrant_, (Lines{a, b, dir.file("in/win/dir.ps"), dir.file("in/odd/(x).ps")}));
  EXPECT_FALSE(distiller::WrittenDriver::entriesOf(dir.file("in/a.ps")));
  EXPECT_EQ(rec->transcript(),
            job(kEvent, "0&", "0&", "FileToPDF(" + q(dir.file("all.ps")) + ", " + q(out) + ", \"\")"));
  EXPECT_EQ(vDistiller, Variant("Test Distiller Printer"));
}

// The driver never takes the place of a file of the caller's: an input or
// another file under its name stays as it was, and the driver goes beside
// the PDF under a fresh name; a driver never lists itself; a line break in
// a name stays inside its entry; with no file left only the head is run.
TEST_F(MultiPSTest, TheDriverNeverReplacesACallersFileNorRunsItself) {
  struct Row {
    std::string pdf;
    Lines list, untouched;  // list entries "name" are files with "%!PS\n"; untouched keep theirs
    std::string driver;     // its path when fixed, "" for a fresh name beside the PDF
    Lines entries;
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
      if (f != "none.ps" && f != "self.ps") writeFile(dir.file(f), "%!PS\n");
    for (const std::string& f : r.untouched) writeFile(dir.file(f), "the caller's " + f);
    captureDriver();
    std::vector<Variant> names;
    for (const std::string& f : r.list) names.push_back(Variant(dir.file(f)));
    Variant vPdf(dir.file(r.pdf)), list(Array::vector(names));
    call(pdf, "CreatePDFfromMultiPS", {ByRef(vPdf), ByRef(list)});
    std::string text = kHead;
    for (const std::string& e : r.entries) text += "(" + dir.file(e) + ") prun\r\n";
    EXPECT_EQ(driverText_, text);
    if (!r.driver.empty()) {
      EXPECT_EQ(driverPath_, dir.file(r.driver));
    }
    EXPECT_EQ(fs::path(driverPath_).parent_path(), fs::path(dir.path()));
    EXPECT_EQ(fs::path(driverPath_).extension(), ".ps");
    for (const std::string& f : r.untouched) EXPECT_EQ(readFile(dir.file(f)), "the caller's " + f);
    EXPECT_FALSE(fs::exists(driverPath_) && std::find(r.untouched.begin(), r.untouched.end(),
                                                      fs::path(driverPath_).filename()) == r.untouched.end());
  }
}

TEST_F(MultiPSTest, SecurityPathFailureRaisesAsTheComponentAndTakesTheDriverAlong) {
  moduleState().strAcrobatVersion = "8.0";
  std::string part = dir.file("p.ps");
  writeFile(part, "%!PS\n");
  Variant vPdf(dir.file("s.pdf")), list(V({part})), yes(true);
  rec->on(kSecure, distiller::kFileToPDF2).fails(5, "refused");
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromMultiPS",
                   {ByRef(vPdf), ByRef(list), Variant(""), Variant(false), Variant(true), Variant("o.joboptions"),
                    ByRef(yes)});
            }),
            (Raised{5, "refused", "Pressmark"}));
  EXPECT_EQ(rec->transcript(),
            job(kSecure, "0&", "-1&",
                "FileToPDF2(" + q(dir.file("s.ps")) + ", " + q(dir.file("s.pdf")) + ", \"o.joboptions\", True)"));
  EXPECT_FALSE(fs::exists(dir.file("s.ps"))) << "a failed job takes its driver file with it";
}

TEST_F(MultiPSTest, BadTargetsAndListsRaiseBeforeAnyDistillerIsMade) {
  Variant vPdf(dir.file("no/such/folder/x.pdf")), list(V({}));
  Raised r = raised([&] { call(pdf, "CreatePDFfromMultiPS", {ByRef(vPdf), ByRef(list)}); });
  EXPECT_EQ(r.number, basic::PathNotFound);
  EXPECT_EQ(r.source, "Pressmark");
  // Lists that are not one-dimensional arrays fail through the trap.
  Variant nPdf(dir.file("n.pdf")), notAList("a.ps"), tooLong{Array({Bound{0, 40000}})};
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromMultiPS", {ByRef(nPdf), ByRef(notAList)});
            }).number,
            basic::TypeMismatch);
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromMultiPS", {ByRef(nPdf), ByRef(tooLong)});
            }).number,
            basic::Overflow)
      << "the list is walked with a 16-bit index";
  EXPECT_TRUE(rec->transcript().empty());
}

}  // namespace

}  // namespace pm::test
