// The viewer members against the recording server: OpenPDF's bookmark walk,
// page and read-aloud steps by version; the 1-based to 0-based page
// conversion of printing; the default-printer switch and its restoring on
// every path; SetPageZoom's sequence and its False after a failure; and the
// window lookups of CloseAcrobat and IsAcrobatHidden.
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "Real.h"
#include "automation/surfaces/Acrobat.h"
#include "support/Expect.h"
#include "system/Printers.h"
#include "system/WindowTable.h"

namespace pm::test {

const std::string kApp = acrobat::kApp, kAV = acrobat::kAVDoc, kMark = acrobat::kPDBookmark;

class Viewer : public RecordedTest {
 protected:
  Viewer() : RecordedTest({acrobat::kApp, acrobat::kPDDoc, acrobat::kAVDoc, acrobat::kPDBookmark}), scoped_(spooler_) {
    rec_->on("*", "Open").returns(true);
    rec_->on(kApp, "GetActiveDoc").returnsObject("ActiveDoc");
    rec_->on("*", "GetPDDoc").returnsObject("ViewDoc");
    rec_->on("*", "GetJSObject").returnsObject("JS");
    rec_->on("JS", "NumPages").returns(int32_t{2});
    spooler_.queues = {{"Office", "Office printer", "Generic", "file:/o"},
                       {"Proof", "Proof printer", "Generic", "file:/p"}};
    spooler_.defaultName = "Office";
    writeFile(path_, "%PDF-1.4");
  }
  MemorySpooler spooler_;
  ScopedSpooler scoped_;
  std::string path_ = dir_.file("doc.pdf");
};

TEST_F(Viewer, OpenPDFBelowVersion5UsesTheBookmarkObject) {
  moduleState().strAcrobatVersion = "4.0";
  run("OpenPDF", {path_, " Chapter ", 0, 1});
  Lines t = rec_->transcript();
  Lines mark(t.begin() + 10, t.end() - 4);
  EXPECT_EQ(mark, (Lines{"create " + kMark, kMark + " call GetByTitle(<ViewDoc>, \" Chapter \")",
                         kMark + " call Perform(<ActiveDoc>)", "release " + kMark}))
      << "and no reading aloud below version 5";
}

TEST_F(Viewer, OpenPDFReadsAloudAboveVersion5Only) {
  struct Case {
    std::string version;
    int32_t read;
    std::string command;
  } cases[] = {{"7.1", 1, "ADBE:ReadAloudStart"},
               {"7.1", 2, "ADBE:ReadAloudToEnd"},
               {"7.1", 7, ""},
               {"7.1", -1, ""},
               {"7.1", 0, ""},
               {"5.0", 2, ""},
               {"5.05", 1, "ADBE:ReadAloudStart"}};
  for (const Case& c : cases) {
    moduleState().strAcrobatVersion = c.version;
    rec_->clear();
    run("OpenPDF", {path_, "", 0, c.read});
    Lines menu;
    for (const std::string& l : rec_->transcript())
      if (size_t at = l.find("call MenuItemExecute"); at != std::string::npos) menu.push_back(l.substr(at));
    EXPECT_EQ(menu, c.command.empty() ? Lines{} : Lines{"call MenuItemExecute(" + q(c.command) + ")"})
        << c.version << " " << c.read;
  }
}

TEST_F(Viewer, MissingFilesAreReportedBeforeAnyViewerObject) {
  for (const char* member : {"OpenPDF", "PrintPDF", "SetPageZoom"}) {
    rec_->clear();
    EXPECT_EQ(raised([&] { run(member, {Variant(dir_.file("none.pdf"))}); }),
              (Raised{kErrComponent, "File " + dir_.file("none.pdf") + " does not exist.", kComponentTitle}));
    EXPECT_TRUE(rec_->transcript().empty()) << member;
  }
}

TEST_F(Viewer, PrintPDFinDirRestoresThePrinterWhenAFileCannotBeOpened) {
  std::string sub = dir_.file("in");
  std::filesystem::create_directory(sub);
  writeFile(sub + "/a.pdf", "%PDF-a");
  rec_->on(kAV, "Open").returns(false);
  EXPECT_THROW(run("PrintPDFinDir", {sub, "*.pdf", "Proof"}), AutomationError);
  EXPECT_EQ(CurrentDefaultPrinter(spooler_), "Office");
  EXPECT_NE(std::find(spooler_.calls.begin(), spooler_.calls.end(), "default Proof"), spooler_.calls.end())
      << "the printer was switched before the failure";
}

// A stand-in main window of the viewer under one of the names it is looked
// up by, recording the messages it receives.
class FakeViewerWindow {
 public:
  FakeViewerWindow(const std::string& cls, const std::string& title, bool closes, int64_t destroyAnswer = 0) {
    handle_ = windows::create(cls, title, false, [this, closes, destroyAnswer](uint32_t m) {
      messages.push_back(m);
      if (closes && m == windows::kMsgDestroy) windows::destroy(handle_);
      return m == windows::kMsgDestroy ? destroyAnswer : int64_t{0};
    });
  }
  ~FakeViewerWindow() { windows::destroy(handle_); }
  std::vector<uint32_t> messages;

 private:
  windows::Handle handle_ = 0;
};

class ViewerWindow : public ::testing::Test {
 protected:
  ViewerWindow() {
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
    // No viewer of an earlier test in this process may answer.
    for (const char* cls : {"AdobeAcrobat", "AcrobatSDIWindow"})
      while (windows::Handle h = windows::find(cls, "")) windows::destroy(h);
  }
  bool closeAcrobat(bool wait, int16_t timeout) {
    return CBool(call(pdf_, "CloseAcrobat", {Variant(wait), Variant(timeout)}));
  }
  bool hidden() { return CBool(call(pdf_, "IsAcrobatHidden")); }
  ObjectRef pdf_;
};

// Above version 7 the close request goes first; version 7 sends only the
// destroy message.
TEST_F(ViewerWindow, TheCloseRequestGoesFirstAboveVersion7) {
  for (bool above : {true, false}) {
    moduleState().strAcrobatVersion = above ? "8.0" : "7.0";
    FakeViewerWindow w(above ? "AcrobatSDIWindow" : "AdobeAcrobat", above ? "Adobe Acrobat Professional" : "", true);
    EXPECT_TRUE(hidden());
    EXPECT_TRUE(closeAcrobat(true, 10));
    const std::vector<uint32_t> sent = {windows::kMsgClose, windows::kMsgDestroy};
    EXPECT_EQ(w.messages, std::vector<uint32_t>(sent.begin() + (above ? 0 : 1), sent.end()));
    EXPECT_FALSE(hidden());
  }
}

TEST_F(ViewerWindow, AWindowThatStaysGivesFalseOnceTheTimeOutHasPassedOrTheDestroyResultWithoutWaiting) {
  moduleState().strAcrobatVersion = "7.0";
  for (int64_t destroyAnswer : {0, 1}) {
    FakeViewerWindow w("AdobeAcrobat", "", false, destroyAnswer);
    EXPECT_EQ(closeAcrobat(false, 10), destroyAnswer == 0);
  }
  FakeViewerWindow w("AdobeAcrobat", "", false);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(closeAcrobat(true, 0));
  EXPECT_FALSE(closeAcrobat(true, 1));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(w.messages.size(), 2u);
}

TEST_F(ViewerWindow, TheWaitWatchesTheWindowTheViewerShowsWhateverTheVersion) {
  // The stand-in viewer registers one class for every version; a wait
  // that looks for another one would answer "closed" at once.
  for (const char* version : {"6.0", "7.0", "7.1", "8.0"}) {
    moduleState().strAcrobatVersion = version;
    FakeViewerWindow w(acrobat::kMainWindowClass, acrobat::kMainWindowTitle, false);
    EXPECT_FALSE(closeAcrobat(true, 0)) << version << ": the window is still there";
    EXPECT_TRUE(hidden()) << version;
  }
}

}  // namespace pm::test
