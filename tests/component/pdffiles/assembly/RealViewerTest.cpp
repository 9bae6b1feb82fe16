// The viewer members through the MuPDF viewer: OpenPDF lands on the
// bookmark or page asked for and reads aloud through espeak-ng (or says
// clearly that it cannot); SetPageZoom stores the zoom in the file; the
// window members see the viewer's main window; printing sends real jobs to
// the test cupsd's file queue and the old default printer is back after
// every call, also when printing fails.

#include <chrono>
#include <filesystem>
#include <thread>

#include "Real.h"
#include "automation/surfaces/Acrobat.h"
#include "system/Printers.h"
#include "system/Speech.h"
#include "support/OfficeDocs.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace fs = std::filesystem;

namespace {

// The page the viewer shows for the document in front (0-based).
int32_t frontPage() {
  ObjectRef app = CreateObject(acrobat::kApp);
  ObjectRef av = objectOf(call(app, "GetActiveDoc"));
  ObjectRef view = objectOf(call(av, "GetAVPageView"));
  return CLng(call(view, "GetPageNum"));
}

class ViewerOverServer : public RealTest {
 protected:
  ViewerOverServer() {
    path_ = dir_.file("doc.pdf");
    DocSpec s = pagesSpec("P", 3);
    s.outline = {{"Intro", 0, {{"Chapter Two", 1, {}}}}, {"Appendix", 2, {}}};
    makePdf(path_, s);
  }
  ~ViewerOverServer() override {
    ignoreErrors([] { call(CreateObject(acrobat::kApp), "Exit"); });
  }
  std::string path_;
};

}  // namespace

TEST_F(ViewerOverServer, OpenPDFGoesToTheBookmarkAndThePageWins) {
  run("OpenPDF", {path_, "chapter two"});
  EXPECT_EQ(frontPage(), 1) << "found without regard to case, below the top level";
  run("OpenPDF", {path_, "Appendix", 1});
  EXPECT_EQ(frontPage(), 0) << "the page step runs after the bookmark";
  run("OpenPDF", {path_, "Chapter", 4});
  EXPECT_EQ(frontPage(), 0) << "a part of a title and a page past the end change nothing";
  EXPECT_TRUE(CBool(call(pdf_, "IsAcrobatHidden"))) << "the viewer's main window exists";
}

TEST_F(ViewerOverServer, CloseAcrobatEndsTheViewer) {
  moduleState().strAcrobatVersion = "8.0";
  run("OpenPDF", {path_});
  EXPECT_TRUE(CBool(call(pdf_, "CloseAcrobat")));
  EXPECT_FALSE(CBool(call(pdf_, "IsAcrobatHidden")));
  EXPECT_FALSE(CBool(call(pdf_, "CloseAcrobat", {Variant(false)}))) << "a second close finds no window";
  // A new application object starts the viewer again, without documents.
  ObjectRef app = CreateObject(acrobat::kApp);
  EXPECT_EQ(CLng(call(app, "GetNumAVDocs")), 0) << "its documents were closed with it";
}

TEST_F(ViewerOverServer, SetPageZoomStoresTheZoomInTheFile) {
  std::string before = readFile(path_);
  EXPECT_TRUE(CBool(run("SetPageZoom", {path_, 2})));
  std::string after = readFile(path_);
  ASSERT_GT(after.size(), before.size());
  EXPECT_EQ(after.compare(0, before.size(), before), 0) << "an incremental save appends to the file";
  EXPECT_THAT(after, HasSubstr("/FitH"));
  EXPECT_TRUE(CBool(run("SetPageZoom", {path_, 0, Variant(float{250})})));
  EXPECT_THAT(readFile(path_), HasSubstr("/XYZ null null 2.5"));
  EXPECT_TRUE(CBool(run("SetPageZoom", {path_, 0, Variant(float{100000})})));
  EXPECT_THAT(readFile(path_), HasSubstr("/XYZ null null 64")) << "brought into the viewer's range";
  EXPECT_EQ(readBack(path_).pages, 3);
  // A zoom type the viewer does not have is its False, and the file stays.
  std::string kept = readFile(path_);
  EXPECT_FALSE(CBool(run("SetPageZoom", {path_, 9})));
  EXPECT_EQ(readFile(path_), kept);
}

TEST_F(ViewerOverServer, ReadingAloudSpeaksThePageWithEspeakOrSaysClearlyThatItCannot) {
  {
    TempDir empty;
    pm::test::ScopedEnv path("PATH", empty.path());
    Raised e = raised([&] { run("OpenPDF", {path_, "", 0, 2}); });
    EXPECT_EQ(e.number, basic::CannotCreateObject);
    EXPECT_EQ(e.source, kComponentTitle);
    EXPECT_THAT(e.description, HasSubstr("espeak-ng"));
  }
  PM_REQUIRE_OR_SKIP(SpeechAvailable(), "espeak-ng is not installed");
  std::string wav = dir_.file("speech.wav");
  pm::test::ScopedEnv out("PRESSMARK_SPEECH_WAV", wav);
  run("OpenPDF", {path_, "", 2, 1});
  std::string audio = readFile(wav);
  ASSERT_GT(audio.size(), 1000u);
  EXPECT_EQ(audio.substr(0, 4), "RIFF");
  // Reading to the end speaks more than the one page.
  run("OpenPDF", {path_, "", 1, 2});
  EXPECT_GT(readFile(wav).size(), audio.size());
}

// ---- Printing through the test cupsd ----

namespace {

std::string output(const std::string& command) {
  return commandOutput("timeout 30 " + command + " 2>&1");
}

class RealPrinting : public ViewerOverServer {
 protected:
  void SetUp() override {
    PM_REQUIRE_OR_SKIP(pm::test::haveTestCups(),
                       "PRESSMARK_TEST_CUPS is not set: no test cupsd (scripts/services/cups.sh)");
    pm::test::resetTestCupsDefault();
    ASSERT_EQ(CurrentDefaultPrinter(currentSpooler()), "Pressmark_PS");
    queue_ = pm::test::testCupsDir() + "/out/office.prn";
    fs::remove(queue_);
    completed_ = countOf(output("lpstat -W completed -o Pressmark_Office"), "Pressmark_Office-");
  }
  // Waits for the scheduler to finish the jobs sent so far and returns what
  // the office queue's file holds.
  std::string printed(int jobs) {
    for (int i = 0; i < 600; ++i) {
      if (countOf(output("lpstat -W completed -o Pressmark_Office"), "Pressmark_Office-") >= completed_ + jobs &&
          output("lpstat -o Pressmark_Office").empty())
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    completed_ += jobs;
    return fs::exists(queue_) ? readFile(queue_) : "";
  }
  std::string queue_;
  int completed_ = 0;
};

}  // namespace

TEST_F(RealPrinting, APageRangeReachesTheChosenPrinterAndTheDefaultComesBack) {
  Raised e = raised([&] { run("PrintPDF", {path_, "Pressmark Office", false, 5}); });
  EXPECT_EQ(e.source, kComponentTitle);
  EXPECT_THAT(e.description, HasSubstr("Cannot print pages 4 to 2")) << e.description;
  EXPECT_EQ(CurrentDefaultPrinter(currentSpooler()), "Pressmark_PS");
  run("PrintPDF", {path_, "Pressmark Office", true, 2, 3});
  EXPECT_EQ(CurrentDefaultPrinter(currentSpooler()), "Pressmark_PS");
  std::string job = printed(1);
  ASSERT_FALSE(job.empty()) << "nothing reached " << queue_;
  EXPECT_EQ(job.substr(0, 4), "%!PS");
  EXPECT_EQ(countOf(job, "%%Page: "), 2) << "pages 2 and 3 only";
}

TEST_F(RealPrinting, EveryFileOfAFolderIsAJobOnTheChosenPrinter) {
  fs::create_directory(dir_.file("in"));
  make("in/a.pdf", "A", 2);
  make("in/b.pdf", "B", 1);
  run("PrintPDFinDir", {dir_.file("in"), "*.pdf", "Pressmark_Office", true});
  EXPECT_EQ(CurrentDefaultPrinter(currentSpooler()), "Pressmark_PS");
  std::string last = printed(2);
  EXPECT_FALSE(last.empty());
  // Without a printer named, the default printer takes the job.
  std::string ps = pm::test::testCupsDir() + "/out/ps-queue.prn";
  fs::remove(ps);
  run("PrintPDF", {path_});
  for (int i = 0; i < 600 && !(fs::exists(ps) && fs::file_size(ps) > 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(fs::exists(ps));
  EXPECT_EQ(countOf(readFile(ps), "%%Page: "), 3);
}

}  // namespace pm::test
