// Document orchestration against the recording server: which members are
// called on the viewer's objects, in which order, with which arguments.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"

namespace {

using namespace pm;
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

TEST_F(DocumentFrame, OpeningAndRelease) {
  {
    ObjectRef d = createDocument();
    EXPECT_EQ(rec->transcript(), (Lines{"create AcroExch.PDDoc", "AcroExch.PDDoc call Open(\"/docs/a.pdf\")",
                                        "AcroExch.PDDoc call GetJSObject()"}));
    rec->clear();
  }
  EXPECT_EQ(rec->transcript(), (Lines{"JSO call CloseDoc(True)", "release JSO", "release AcroExch.PDDoc"}));
}

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

TEST_F(DocumentFrame, ViewerInformationReadsTheAppObject) {
  ObjectRef d = open();
  rec->on("JSO", "App").returnsObject("App");
  rec->on("App", "viewerVersion").returns(Variant(10.0));
  rec->on("App", "platform").returns(Variant("UNIX"));
  EXPECT_EQ(call(d, "AcrobatViewerVersion"), Variant("10"));
  EXPECT_EQ(call(d, "AcrobatPlatform"), Variant("UNIX"));
  call(d, "AcrobatFormsVersion");
  call(d, "AcrobatLanguage");
  call(d, "AcrobatViewerType");
  call(d, "AcrobatViewerVariation");
  EXPECT_EQ(rec->transcript(),
            (Lines{"JSO get App", "App get viewerVersion", "release App", "JSO get App", "App get platform",
                   "release App", "JSO get App", "App get formsVersion", "release App", "JSO get App",
                   "App get language", "release App", "JSO get App", "App get viewerType", "release App", "JSO get App",
                   "App get viewerVariation", "release App"}));
}

TEST_F(DocumentFrame, PropertiesPassNamesAndValues) {
  ObjectRef d = open();
  rec->on("JSO", "NumPages").returns(Variant(int16_t(3)));
  rec->on("JSO", "CreationDate").returns(Variant("1/2/2024"));
  rec->on("JSO", "FileSize").returns(Variant(1234.0));
  rec->on("AcroExch.PDDoc", "GetInfo").returns(Variant("k1, k2"));
  rec->on("AcroExch.PDDoc", "GetPageMode").returns(Variant(int32_t(3)));
  EXPECT_EQ(get(d, "NumPages"), Variant(int32_t(3))) << "converted to Long";
  EXPECT_EQ(get(d, "CreationDate"), Variant(MakeDate(2024, 1, 2)));
  EXPECT_EQ(get(d, "FileSize"), Variant(int32_t(1234)));
  let(d, "Title", Variant(int16_t(7)));
  let(d, "Author", "Me");
  EXPECT_EQ(get(d, "KeyWords"), Variant("k1, k2"));
  let(d, "KeyWords", "x, y");
  EXPECT_EQ(get(d, "PageMode"), Variant("3"));
  get(d, "InstanceID");
  get(d, "PermanentID");
  get(d, "Path");
  EXPECT_EQ(rec->transcript(),
            (Lines{"JSO get NumPages", "JSO get CreationDate", "JSO get FileSize", "JSO let Title = 7%",
                   "JSO let Author = \"Me\"", "AcroExch.PDDoc call GetInfo(\"KeyWords\")",
                   "AcroExch.PDDoc call SetInfo(\"KeyWords\", \"x, y\")", "AcroExch.PDDoc call GetPageMode()",
                   "AcroExch.PDDoc call GetInstanceID()", "AcroExch.PDDoc call GetPermanentID()", "JSO get Path"}));
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

TEST_F(DocumentFrame, SaveTypesAndTargets) {
  ObjectRef d = open();
  call(d, "Save", {1});
  call(d, "Save", {7, "  "});
  call(d, "Save", {0, " /out/x.pdf"});
  call(d, "Save", {Variant(int16_t(1)), "/out/y.pdf"});
  call(d, "Save", {-1, "/out/z.pdf"});
  EXPECT_EQ(rec->transcript(),
            (Lines{"AcroExch.PDDoc call Save(1&, \"/docs/a.pdf\")", "AcroExch.PDDoc call Save(0&, \"/docs/a.pdf\")",
                   "AcroExch.PDDoc call Save(0&, \" /out/x.pdf\")", "AcroExch.PDDoc call Save(1%, \"/out/y.pdf\")",
                   "AcroExch.PDDoc call Save(0&, \"/out/z.pdf\")"}));
}

TEST_F(DocumentFrame, SaveWithoutPathWritesTheDocumentsOwnFile) {
  ObjectRef a = createDocument();
  moduleState().strOpenDocumentPath = "/docs/b.pdf";
  ObjectRef b = createDocument();
  rec->clear();
  call(a, "Save", {1});
  call(b, "Save", {1});
  // Each document saves onto the file it was opened from, never over the
  // document opened after it.
  EXPECT_EQ(rec->transcript(), (Lines{"AcroExch.PDDoc call Save(1&, \"/docs/a.pdf\")",
                                      "AcroExch.PDDoc#2 call Save(1&, \"/docs/b.pdf\")"}));
}

TEST_F(DocumentFrame, SaveAsWithAndWithoutConversion) {
  ObjectRef d = open();
  call(d, "SaveAs", {"/out/a.rtf", 9});
  call(d, "SaveAs", {"/out/a.pdf"});
  call(d, "SaveAs", {"/out/b.pdf", 0.0});
  EXPECT_EQ(rec->transcript(), (Lines{"JSO call SaveAs(\"/out/a.rtf\", \"com.adobe.acrobat.rtf\")",
                                      "JSO call SaveAs(\"/out/a.pdf\")", "JSO call SaveAs(\"/out/b.pdf\")"}));
}

TEST_F(DocumentFrame, SetPageViewPassesTheCodeAndAnswersTheResult) {
  ObjectRef d = open();
  rec->on("AcroExch.PDDoc", "SetPageMode").returns(Variant(int16_t(-1))).returns(Variant(false));
  EXPECT_EQ(call(d, "SetPageView", {0}), Variant(true));
  EXPECT_EQ(call(d, "SetPageView", {3}), Variant(false));
  EXPECT_EQ(rec->transcript(), (Lines{"AcroExch.PDDoc call SetPageMode(0&)", "AcroExch.PDDoc call SetPageMode(3&)"}));
}

TEST_F(DocumentFrame, JavaScriptObjectAndCalculation) {
  ObjectRef d = open();
  Variant js = call(d, "CreateJavaScriptObject");
  ASSERT_TRUE(js.isObject());
  EXPECT_EQ(js.asObject()->typeName(), "JSO");
  call(d, "CalculateNow");
  EXPECT_EQ(rec->transcript(), (Lines{"JSO call CalculateNow()"}));
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
