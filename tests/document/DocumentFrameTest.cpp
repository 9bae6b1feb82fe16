// Document orchestration against the recording server: which members are
// called on the viewer's objects, in which order, with which arguments.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"

namespace pm::test {

namespace {

using pm::recording::Recorder;
using Lines = std::vector<std::string>;

class DocumentFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    pm::test::recordViewerDocument(*rec);
    moduleState().strAcrobatVersion = "7.0";
  }
  ObjectRef open() {
    ObjectRef d = createDocument();
    rec->clear();
    return d;
  }
  std::shared_ptr<Recorder> rec;
};

TEST_F(DocumentFrame, FailedOpenLeavesNothingAndNumPagesRaisesUnsetObject) {
  // A later registration shadows the fixture's, so Open answers False.
  auto r2 = Recorder::create();
  r2->registerClass("AcroExch.PDDoc");
  r2->on("AcroExch.PDDoc", "Open").returns(Variant(false));
  {
    ObjectRef d = createDocument();
    EXPECT_EQ(r2->transcript(),
              (Lines{"create AcroExch.PDDoc", "AcroExch.PDDoc call Open(\"/docs/a.pdf\")", "release AcroExch.PDDoc"}));
    try {
      get(d, "NumPages");
      FAIL();
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), basic::ObjectVariableNotSet);
    }
    EXPECT_NO_THROW(call(d, "CloseDoc"));
    r2->clear();
  }
  EXPECT_TRUE(r2->transcript().empty()) << "releasing a failed document does nothing";
}

TEST_F(DocumentFrame, NullOpenResultCountsAsFailure) {
  auto r2 = Recorder::create();
  r2->registerClass("AcroExch.PDDoc");
  r2->on("AcroExch.PDDoc", "Open").returns(Variant::null());
  // Were Null taken for success, the script object would be asked for and
  // closed on release.
  r2->on("AcroExch.PDDoc", "GetJSObject").returnsObject("JSO");
  {
    ObjectRef d = createDocument();
    EXPECT_EQ(r2->transcript(),
              (Lines{"create AcroExch.PDDoc", "AcroExch.PDDoc call Open(\"/docs/a.pdf\")", "release AcroExch.PDDoc"}));
    r2->clear();
  }
  EXPECT_TRUE(r2->transcript().empty()) << "releasing a failed document does nothing";
}

TEST_F(DocumentFrame, CloseDocTwiceIgnoresErrors) {
  ObjectRef d = open();
  rec->on("JSO", "CloseDoc").returns(Variant()).fails(5, "already closed");
  call(d, "CloseDoc");
  EXPECT_NO_THROW(call(d, "CloseDoc"));
  EXPECT_EQ(rec->transcript(), (Lines{"JSO call CloseDoc(True)", "JSO call CloseDoc(True)"}));
  rec->clear();
  d.reset();
  EXPECT_EQ(rec->transcript(), (Lines{"release JSO", "release AcroExch.PDDoc"})) << "closed: no second close";
}

TEST_F(DocumentFrame, ConversionFailureIsATypeMismatch) {
  ObjectRef d = open();
  rec->on("JSO", "NumPages").returns(Variant("many"));
  try {
    get(d, "NumPages");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), basic::TypeMismatch);
  }
}

TEST_F(DocumentFrame, ReadOnlyPropertiesCannotBeAssigned) {
  ObjectRef d = open();
  EXPECT_THROW(let(d, "NumPages", 4), AutomationError);
  EXPECT_TRUE(rec->transcript().empty());
}

TEST_F(DocumentFrame, FileTypesFollowTheViewerVersion) {
  ObjectRef d = open();
  EXPECT_EQ(call(d, "GetFileType", {0}), Variant("com.adobe.acrobat.pdf"));
  moduleState().strAcrobatVersion = "8.0";
  EXPECT_EQ(call(d, "GetFileType", {0}), Variant("com.callas.preflight.pdfa"));
  moduleState().strAcrobatVersion = "";
  EXPECT_EQ(call(d, "GetFileType", {0}), Variant("com.adobe.acrobat.pdf"));
  EXPECT_EQ(call(d, "GetFileType", {15}), Variant("com.adobe.acrobat.pdf"));
  EXPECT_EQ(call(d, "GetFileType", {-1}), Variant("com.adobe.acrobat.pdf"));
  EXPECT_EQ(call(d, "GetFileType", {Variant(int16_t(3))}), Variant("com.adobe.acrobat.html-4-01-css-1-00"));
  EXPECT_EQ(call(d, "GetFileType", {11.0}), Variant("com.adobe.acrobat.plain-text"));
  EXPECT_EQ(call(d, "GetLayout", {6}), Variant("SinglePage"));
  EXPECT_EQ(call(d, "GetLayout", {3}), Variant("TwoColumnRight"));
  EXPECT_TRUE(rec->transcript().empty()) << "the mappings touch no viewer object";
}

}  // namespace

}  // namespace pm::test
