// Document orchestration against the recording server: which members are
// called on the viewer's objects, in which order, with which arguments.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/document/Document.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"
#include "support/Raised.h"

namespace pm::test {
using pm::recording::Recorder;
using Lines = std::vector<std::string>;

class DocumentFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    recordViewerDocument(*rec);
    moduleState().strAcrobatVersion = "7.0";
  }
  ObjectRef open() {
    ObjectRef d = createDocument();
    rec->clear();
    return d;
  }
  std::shared_ptr<Recorder> rec;
};

// Open answering Null (were Null taken for success, the script object would
// be asked for and closed on release): NumPages raises an unset object and
// releasing the document calls nothing. An Open answering False:
// DocumentOverServer.PropertiesSaveAndClose.
TEST_F(DocumentFrame, NullOpenLeavesNothingToCloseOnRelease) {
  // A later registration shadows the fixture's.
  auto r2 = Recorder::create();
  r2->registerClass("AcroExch.PDDoc");
  r2->on("AcroExch.PDDoc", "Open").returns(Variant::null());
  r2->on("AcroExch.PDDoc", "GetJSObject").returnsObject("JSO");
  {
    ObjectRef d = createDocument();
    EXPECT_EQ(r2->transcript(),
              (Lines{"create AcroExch.PDDoc", "AcroExch.PDDoc call Open(\"/docs/a.pdf\")", "release AcroExch.PDDoc"}));
    EXPECT_EQ(raised([&] { get(d, "NumPages"); }).number, basic::ObjectVariableNotSet);
    EXPECT_NO_THROW(call(d, "CloseDoc"));
    r2->clear();
  }
  EXPECT_TRUE(r2->transcript().empty());
}

TEST_F(DocumentFrame, CloseDocTwiceIgnoresErrorsAndReleaseDoesNotCloseAgain) {
  ObjectRef d = open();
  rec->on("JSO", "CloseDoc").returns(Variant()).fails(5, "already closed");
  call(d, "CloseDoc");
  EXPECT_NO_THROW(call(d, "CloseDoc"));
  EXPECT_EQ(rec->transcript(), (Lines{"JSO call CloseDoc(True)", "JSO call CloseDoc(True)"}));
  rec->clear();
  d.reset();
  EXPECT_EQ(rec->transcript(), (Lines{"release JSO", "release AcroExch.PDDoc"}));
}

TEST_F(DocumentFrame, AnUnconvertibleAnswerIsATypeMismatchAndReadOnlyPropertiesStayRead) {
  ObjectRef d = open();
  rec->on("JSO", "NumPages").returns(Variant("many"));
  EXPECT_EQ(raised([&] { get(d, "NumPages"); }).number, basic::TypeMismatch);
  rec->clear();
  EXPECT_THROW(let(d, "NumPages", 4), AutomationError);
  EXPECT_TRUE(rec->transcript().empty());
  moduleState().strAcrobatVersion = "8.0";
  EXPECT_EQ(call(d, "GetFileType", {0}), Variant("com.callas.preflight.pdfa"));
  moduleState().strAcrobatVersion = "";
  EXPECT_EQ(call(d, "GetFileType", {0}), Variant("com.adobe.acrobat.pdf"));
}

}  // namespace pm::test
