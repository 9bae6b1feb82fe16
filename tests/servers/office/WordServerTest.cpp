// The Word.Application server against a real LibreOffice: members, printing
// to PostScript, passwords, and the warm process surviving a crash or a hang.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "automation/Automation.h"
#include "servers/office/OfficeLaunch.h"
#include "support/OfficeDocs.h"
#include "support/Processes.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

ObjectRef control() {
  return CreateObject("Pressmark.OfficeControl");
}

ObjectRef openDoc(const ObjectRef& app, const std::string& path) {
  return objectOf(call(objectOf(get(app, "Documents")), "Open", {Arg(path)}));
}

void printTo(const ObjectRef& doc, const std::string& ps, const std::string& pages = {}) {
  std::vector<Arg> args = {Named("PrintToFile", true), Named("Background", false), Named("Outputfilename", ps)};
  if (!pages.empty()) args.insert(args.end(), {Named("Pages", pages), Named("Range", Variant(int16_t{4}))});
  call(doc, "PrintOut", std::span<const Arg>(args.data(), args.size()));
}

// The pipe a running office made for a second start on its profile, as the
// command line of a process of the office's group names the profile.
std::string singleInstancePipeOf(pid_t office) {
  const std::string key = "-env:UserInstallation=file://";
  for (pid_t p : processesWhere([&](pid_t p) { return ::getpgid(p) == office; })) {
    std::string args = procFile(p, "cmdline");
    size_t at = args.find(key);
    if (at != std::string::npos)
      return pm::office::officePipePath(
          pm::office::singleInstancePipe(args.substr(at + key.size(), args.find('\0', at) - at - key.size())));
  }
  return "(no office in group " + std::to_string(office) + ")";
}

// Each test needs the office and a folder for its files.
class WordServer : public ::testing::Test {
 protected:
  void SetUp() override {
    PM_REQUIRE_OR_SKIP(officeServed(), "the office server is not built (no LibreOffice SDK)");
    app = CreateObject("Word.Application");
  }
  // Writes the document and opens it in the test's application.
  ObjectRef open(const std::string& name, const std::string& rtf) {
    writeFile(dir.file(name), rtf);
    return openDoc(app, dir.file(name));
  }
  TempDir dir;
  ObjectRef app;
};

TEST_F(WordServer, PrintsPagesToPostScriptWithOrientationAndPageRange) {
  ObjectRef doc = open("five.rtf", makeRtfPages(5));
  EXPECT_EQ(CLng(call(doc, "ComputeStatistics", {Variant(int32_t{2})})), 5);
  ObjectRef setup = objectOf(get(doc, "PageSetup"));
  EXPECT_EQ(CLng(get(setup, "Orientation")), 0);
  let(setup, "Orientation", Variant(int16_t{1}));
  EXPECT_EQ(CLng(get(setup, "Orientation")), 1);
  EXPECT_GT(CDbl(get(setup, "PageWidth")), CDbl(get(setup, "PageHeight")));
  let(setup, "TopMargin", Variant(72.0f));
  EXPECT_NEAR(CDbl(get(setup, "TopMargin")), 72.0, 0.1);

  printTo(doc, dir.file("all.ps"));
  let(setup, "Orientation", Variant(int16_t{0}));
  printTo(doc, dir.file("some.ps"), "2-3, 5");
  EXPECT_EQ(fileHead(dir.file("all.ps"), 11), "%!PS-Adobe-");
  PdfFacts all = pdfFacts(psToPdf(dir.file("all.ps"), dir.file("all.pdf")));
  EXPECT_EQ(all.pages, 5);
  EXPECT_GT(all.width, all.height) << "landscape pages";
  PdfFacts some = pdfFacts(psToPdf(dir.file("some.ps"), dir.file("some.pdf")));
  EXPECT_EQ(some.pages, 3);
  EXPECT_LT(some.width, some.height) << "the whole document went back to portrait";
  call(doc, "Close", {Variant(false)});
  call(app, "Quit");
  // One warm process serves the next application.
  int32_t pid = CLng(get(control(), "ProcessId"));
  ASSERT_GT(pid, 0);
  ObjectRef next = CreateObject("Word.Application");
  call(openDoc(next, dir.file("five.rtf")), "Close", {Variant(false)});
  call(next, "Quit");
  EXPECT_EQ(CLng(get(control(), "ProcessId")), pid) << "the same office serves the next application";
}

TEST_F(WordServer, PageNumbersFontAndNonLatinText) {
  ObjectRef doc = open("intl.rtf", makeRtf({{"Ελληνικά και кириллица"}, {"日本語のテキスト"}, {"third page"}}));
  ObjectRef footer =
      objectOf(get(objectOf(get(doc, "Sections", {Variant(int16_t{1})})), "Footers", {Variant(int16_t{1})}));
  call(objectOf(get(footer, "PageNumbers")), "Add",
       {Named("PageNumberAlignment", Variant(int16_t{2})), Named("FirstPage", Variant(false))});
  ObjectRef font = objectOf(get(objectOf(get(doc, "Content")), "Font"));
  let(font, "Size", Variant(int16_t{20}));
  let(font, "Bold", Variant(true));
  let(font, "Color", Variant(int32_t{255}));  // red, as Word writes it
  EXPECT_NEAR(CDbl(get(font, "Size")), 20, 0.01);
  EXPECT_EQ(CLng(get(font, "Bold")), -1);
  EXPECT_EQ(CLng(get(font, "Color")), 255);
  printTo(doc, dir.file("intl.ps"));
  psToPdf(dir.file("intl.ps"), dir.file("intl.pdf"));
  EXPECT_EQ(pdfFacts(dir.file("intl.pdf")).pages, 3);
  // The office read the text right.
  std::string text = CStr(get(objectOf(get(doc, "Content")), "Text"));
  EXPECT_NE(text.find("Ελληνικά και кириллица"), std::string::npos) << text;
  EXPECT_NE(text.find("日本語のテキスト"), std::string::npos) << text;
  // FirstPage False: no number at the foot of page 1, numbers from page 2 on.
  std::vector<Ink> ink = pageInk(dir.file("intl.ps"));
  ASSERT_EQ(ink.size(), 3u);
  EXPECT_GT(ink[0].bottom, ink[1].bottom + 100) << "page 1 has nothing near its foot";
  EXPECT_LT(ink[1].bottom, 80) << "page 2 has its number in the footer";
  EXPECT_LT(ink[2].bottom, 80);
  call(font, "Reset");
  EXPECT_NEAR(CDbl(get(font, "Size")), 12, 0.01) << "back to the document's own size";
  // The office's own PDF/A-1, tagged (so of conformance A), when asked; the
  // plain export is neither.
  for (bool archival : {false, true}) {
    std::string pdf = dir.file(archival ? "intl-a.pdf" : "intl-export.pdf");
    call(doc, "ExportAsFixedFormat",
         {Arg(pdf), Arg(Variant(int32_t{17})), Named("UseISO19005_1", archival), Named("DocStructureTags", archival)});
    std::string info = commandOutput("pdfinfo " + shellQuote(pdf)) + commandOutput("pdfinfo -meta " + shellQuote(pdf));
    EXPECT_EQ(std::regex_search(info, std::regex(R"(Tagged:\s+yes)")), archival) << info;
    EXPECT_EQ(std::regex_search(info, std::regex(R"(pdfaid:part>1<)")), archival) << info;
    // Every font embedded: pdffonts' fifth column from the right says so.
    std::istringstream fonts(commandOutput("pdffonts " + shellQuote(pdf)));
    std::string line;
    for (int n = 0; std::getline(fonts, line); ++n) {
      std::vector<std::string> cols;
      std::istringstream words(line);
      for (std::string w; words >> w;) cols.push_back(w);
      if (n >= 2 && cols.size() >= 5) {
        EXPECT_EQ(cols[cols.size() - 5], "yes") << line;
      }
    }
  }
  call(app, "Quit");
}

TEST_F(WordServer, PasswordsAndTheErrorsOfBadArguments) {
  ObjectRef doc = open("plain.rtf", makeRtfPages(2));
  call(doc, "SaveAs", {Arg(dir.file("secret.odt")), Named("Password", "s3cret")});
  call(doc, "Close", {Variant(false)});
  ObjectRef docs = objectOf(get(app, "Documents"));
  std::string why;
  EXPECT_EQ(errorOf(
                [&] {
                  call(docs, "Open", {Arg(dir.file("secret.odt")), Named("PasswordDocument", "wrong")});
                },
                &why),
            5408)
      << why;
  ObjectRef secret = objectOf(call(docs, "Open", {Arg(dir.file("secret.odt")), Named("PasswordDocument", "s3cret")}));
  EXPECT_NE(CStr(get(objectOf(get(secret, "Content")), "Text")).find("Page 2 marker"), std::string::npos);

  EXPECT_EQ(errorOf([&] { let(app, "ActivePrinter", Variant("No Such Printer 42")); }), 5216);
  let(app, "ActivePrinter", Variant("Acrobat Distiller"));
  EXPECT_EQ(CStr(get(app, "ActivePrinter")), "Acrobat Distiller");
  EXPECT_EQ(errorOf([&] { get(secret, "Sections", {Variant(int16_t{2})}); }), 5941);
  EXPECT_EQ(errorOf([&] { printTo(secret, dir.file("x.ps"), "1-2;7"); }), 4608);
  EXPECT_EQ(errorOf([&] { printTo(secret, dir.file("x.ps"), "9"); }), 4608) << "a page list naming no page";
  EXPECT_EQ(errorOf([&] { call(secret, "PrintOut", {Named("Background", false)}); }), 4198) << "no output file";
  EXPECT_EQ(errorOf([&] { call(secret, "Close", {Variant(true)}); }), 4198) << "saving is refused, not dropped";
  EXPECT_EQ(errorOf([&] { call(secret, "Protect", {Variant(int32_t{1})}); }), basic::MemberNotSupported);
  EXPECT_EQ(errorOf([&] { call(app, "Visible"); }), basic::MemberNotSupported);
  EXPECT_FALSE(std::ifstream(dir.file("x.ps")).good()) << "a refused print leaves no file";
  call(app, "Quit");
  EXPECT_EQ(errorOf([&] { get(secret, "Content"); }), 4198) << "Quit closes what the client opened";
}

TEST_F(WordServer, AKilledOfficeLosesItsDocumentsAndTheNextCallWorks) {
  ObjectRef doc = open("k.rtf", makeRtfPages(3)), ctl = control();
  double generation = CDbl(get(ctl, "Generation"));
  int32_t pid = CLng(get(ctl, "ProcessId"));
  ASSERT_GT(pid, 0);
  std::string ipc = singleInstancePipeOf(pid);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(ipc))) << ipc;
  ::kill(-pid, SIGKILL);
  std::string why;
  int32_t n = errorOf([&] { printTo(doc, dir.file("k.ps")); }, &why);
  EXPECT_EQ(n, static_cast<int32_t>(0x80010108u)) << why;
  EXPECT_NE(why.find("lost"), std::string::npos) << why;
  EXPECT_FALSE(std::ifstream(dir.file("k.ps")).good()) << "a lost document is never reported as printed";
  // The next document opens in a fresh office.
  ObjectRef again = openDoc(app, dir.file("k.rtf"));
  EXPECT_GT(CDbl(get(ctl, "Generation")), generation);
  printTo(again, dir.file("k.ps"));
  EXPECT_EQ(pdfFacts(psToPdf(dir.file("k.ps"), dir.file("k.pdf"))).pages, 3);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ipc))) << "the killed office's pipe was left";
  call(app, "Quit");
}

TEST_F(WordServer, AHungOfficeIsEndedByTheCallTimeOut) {
  ObjectRef doc = open("h.rtf", makeRtfPages(2)), ctl = control();
  double before = CDbl(get(ctl, "CallTimeout"));
  let(ctl, "CallTimeout", Variant(3.0));
  int32_t pid = CLng(get(ctl, "ProcessId"));
  ASSERT_GT(pid, 0);
  ::kill(-pid, SIGSTOP);  // the office stops answering
  std::string why;
  int32_t n = errorOf([&] { printTo(doc, dir.file("h.ps")); }, &why);
  ::kill(-pid, SIGCONT);  // harmless when the group is gone
  let(ctl, "CallTimeout", Variant(before));
  EXPECT_EQ(n, static_cast<int32_t>(0x8001011Fu)) << why;
  EXPECT_EQ(::kill(pid, 0), -1) << "the hung office was ended";
  ObjectRef again = openDoc(app, dir.file("h.rtf"));
  printTo(again, dir.file("h.ps"));
  EXPECT_EQ(pdfFacts(psToPdf(dir.file("h.ps"), dir.file("h.pdf"))).pages, 2);
  call(app, "Quit");
}

TEST_F(WordServer, SeveralThreadsConvertAtTheSameTime) {
  writeFile(dir.file("t.rtf"), makeRtfPages(2));
  std::vector<std::thread> threads;
  std::vector<int> pages(3, 0);
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, i] {
      try {
        ObjectRef app = CreateObject("Word.Application");
        ObjectRef doc = openDoc(app, dir.file("t.rtf"));
        std::string ps = dir.file("t" + std::to_string(i) + ".ps");
        printTo(doc, ps);
        call(app, "Quit");
        pages[i] = pdfFacts(psToPdf(ps, dir.file("t" + std::to_string(i) + ".pdf"))).pages;
      } catch (const AutomationError& e) {
        pages[i] = -1;
        ADD_FAILURE() << e.description();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(pages, (std::vector<int>{2, 2, 2}));
}

TEST_F(WordServer, TextFilesAreReadInTheSystemCodePage) {
  // In a client process of its own, with its office inside it: the code page
  // is fixed once per process, and fixing it here would change every later
  // test's.
  writeFile(dir.file("latin.txt"), "caf\xE9 na\xEFve\r\nsecond line\r\n");
  CommandResult r = runPressmark({"CreatePDFfromTextFile", dir.file("latin.pdf"), dir.file("latin.txt")}, {},
                                 {"PRESSMARK_CODEPAGE=windows-1252", "PRESSMARK_OFFICE_POOL=0"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::string text = pdfText(dir.file("latin.pdf"));
  EXPECT_NE(text.find("café naïve"), std::string::npos) << text;
  EXPECT_NE(text.find("second line"), std::string::npos) << text;
  EXPECT_EQ(readFile(dir.file("latin.txt")), "caf\xE9 na\xEFve\r\nsecond line\r\n") << "the file itself is not changed";
}

}  // namespace

}  // namespace pm::test
