// Document against the recording server: which members are called on the
// viewer's objects, in which order, with which arguments; the value
// vocabularies; numbers and quoted text as script text; and the private text
// procedures.
#include <gtest/gtest.h>

#include <clocale>

#include "automation/Automation.h"
#include "component/document/Document.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"
#include "support/Raised.h"
#include "component/document/Vocabulary.h"
#include "component/document/ScriptText.h"

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
// PagesOverServer.ErrorsNameTheFileAndSpeakTheCallersPages.
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

class Vocabulary : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = recording::Recorder::create();
    rec->registerClass("AcroExch.PDDoc");
    moduleState().strAcrobatVersion = "7.0";
    doc = createDocument();
  }
  std::shared_ptr<recording::Recorder> rec;
  ObjectRef doc;
};

// Codes of any numeric type map by value; codes outside a table give its
// default. The mappings touch no viewer object.
TEST_F(Vocabulary, CodesMapToTheViewersNames) {
  using Codes = std::vector<std::pair<Variant, const char*>>;
  const std::pair<const char*, Codes> rows[] = {
      {"GetTrigger", {{10, ""}, {11, ""}, {0, "MouseUp"}, {9, "Format"}}},
      {"GetDocumentTrigger", {{4, "DidPrint"}, {5, "WillClose"}}},
      {"GetPageTrigger", {{1, "Close"}, {2, "Open"}}},
      {"GetFont", {{14, "Times-Roman"}, {4, "Helvetica"}, {int16_t(13), "ZapfDingbats"}}},
      {"GetFont", {{7.0, "Helvetica-BoldOblique"}, {7.5, "Times-Roman"}}},
      {"GetAlignment", {{2, "right"}, {3, "left"}}},
      {"GetFieldBorder", {{4, "underline"}, {-1, "solid"}}},
      {"GetGlyphStyle", {{5, "square"}, {6, "check"}}},
      {"GetNoteIcon", {{14, "UpLeftArrow"}, {15, "Note"}}},
      {"GetNoteState", {{3, "Cancelled"}, {9, "None"}}},
      {"GetStampIcon", {{11, "NotForPublicRelease"}, {14, "Approved"}}},
      {"GetLayout", {{6, "SinglePage"}, {3, "TwoColumnRight"}}},
      {"GetFileType", {{0, "com.adobe.acrobat.pdf"}, {15, "com.adobe.acrobat.pdf"}, {-1, "com.adobe.acrobat.pdf"}}},
      {"GetFileType", {{int16_t(3), "com.adobe.acrobat.html-4-01-css-1-00"}, {11.0, "com.adobe.acrobat.plain-text"}}}};
  rec->clear();
  for (const auto& [member, codes] : rows)
    for (const auto& [code, name] : codes)
      EXPECT_EQ(CStr(call(doc, member, {code})), name) << member << " " << CStr(code);
  EXPECT_TRUE(rec->transcript().empty());
  EXPECT_THROW(call(doc, "GetFont", {Variant::null()}), AutomationError) << "a Null code raises as in Basic";
}

TEST_F(Vocabulary, SetColorFillsTheCallersArray) {
  Variant a = Variant(Array::vector({Variant(), Variant(), Variant(), Variant()}));
  const std::pair<int, Variant> rows[] = {{9, V({"G", 0.25, int16_t(0), int16_t(0)})},
                                          {6, V({"CMYK", int16_t(1), int16_t(0), int16_t(0)})},
                                          {12, V({"T", int16_t(0), int16_t(0), int16_t(0)})},
                                          {5, V({"RGB", int16_t(0), int16_t(0), int16_t(1)})}};
  for (const auto& [code, want] : rows) {
    call(doc, "SetColor", {code, ByRef(a)});
    EXPECT_EQ(a, want) << code;
    EXPECT_TRUE(code != 9 || a.array().at({1}).type() == VT::Double) << "a double stays a double";
  }
  // The black component of a CMYK array is left as it was.
  Variant cmyk = V({"x", 9, 9, 9, 0.5});
  call(doc, "SetColor", {8, ByRef(cmyk)});
  EXPECT_EQ(cmyk, V({"CMYK", int16_t(0), int16_t(0), int16_t(1), 0.5}));
  // A short array fails after the first stores.
  Variant shortArray = V({"old", 7, 7});
  EXPECT_EQ(raised([&] { call(doc, "SetColor", {3, ByRef(shortArray)}); }).number, basic::SubscriptOutOfRange);
  EXPECT_EQ(shortArray, V({"old", int16_t(0), int16_t(0)}));
  Variant notArray(5);
  EXPECT_THROW(call(doc, "SetColor", {3, ByRef(notArray)}), AutomationError);
}

TEST(TextProcedures, CountsAndDigits) {
  std::string s = "   a b";
  EXPECT_EQ(Document::CountLeadingSpaces(s), 3);
  EXPECT_EQ(Document::CountSpaces(s), 4);
  EXPECT_EQ(Document::CountLeadingSpaces("    "), 4);
  EXPECT_EQ(Document::CountLeadingSpaces(""), 0);
  EXPECT_EQ(Document::CountPeriods("1.2.3 Word"), 2);
  EXPECT_FALSE(Document::StartsWithDigit("Word"));
  EXPECT_FALSE(Document::StartsWithDigit(""));
  EXPECT_TRUE(Document::StartsWithDigit("9 lives"));
  EXPECT_THROW(Document::CountSpaces(std::string(40000, ' ')), AutomationError);
}

TEST(ScriptText, NumbersAreScriptTextInAnyLocale) {
  // A locale with a decimal comma must not change the script.
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  std::string got;
  for (const Variant& v : {Variant(int32_t(12)), Variant(-3.0), Variant(0.5), Variant(-0.0), Variant("72"),
                           Variant(1.25e20), Variant(2.0 / 3.0), Variant(true)})
    got += script::Number(v) + " ";
  EXPECT_EQ(got, "12 -3 0.5 0 72 1.25E+20 0.666666666666667 -1 ");
  std::setlocale(LC_NUMERIC, "C");
  // A caller's text that is not a number never reaches the script.
  EXPECT_EQ(raised([] { script::Number(Variant("0);app.launchURL('x')")); }).number, 13);
}

TEST(ScriptText, QuoteEscapesEverythingThatEndsALiteral) {
  EXPECT_EQ(script::Quote("plain"), "\"plain\"");
  EXPECT_EQ(script::Quote("a\"b'c\\d"), "\"a\\\"b\\'c\\\\d\"");
  EXPECT_EQ(script::Quote("l1\r\nl2\tx"), "\"l1\\r\\nl2\\tx\"");
  EXPECT_EQ(script::Quote(std::string("\x01\x7F", 2)), "\"\\u0001\\u007F\"");
  EXPECT_EQ(script::Quote("Ж\u2028z\u2029"), "\"Ж\\u2028z\\u2029\"");
  EXPECT_EQ(script::Quote("\");app.alert(1);//"), "\"\\\");app.alert(1);//\"");
}

}  // namespace pm::test
