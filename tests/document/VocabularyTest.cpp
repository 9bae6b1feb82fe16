// The value vocabularies and the private text procedures.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/document/Document.h"
#include "component/document/Vocabulary.h"
#include "servers/recording/Recorder.h"

namespace pm::test {

namespace {

class Vocabulary : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = recording::Recorder::create();
    rec->registerClass("AcroExch.PDDoc");
    doc = createDocument();
  }
  std::string map(const char* member, Variant code) { return CStr(call(doc, member, {code})); }
  std::shared_ptr<recording::Recorder> rec;
  ObjectRef doc;
};

TEST_F(Vocabulary, Triggers) {
  EXPECT_EQ(map("GetTrigger", 10), "");
  EXPECT_EQ(map("GetTrigger", 11), "");
  EXPECT_EQ(map("GetTrigger", 0), "MouseUp");
  EXPECT_EQ(map("GetTrigger", 9), "Format");
  EXPECT_EQ(map("GetDocumentTrigger", 4), "DidPrint");
  EXPECT_EQ(map("GetDocumentTrigger", 5), "WillClose");
  EXPECT_EQ(map("GetPageTrigger", 1), "Close");
  EXPECT_EQ(map("GetPageTrigger", 2), "Open");
}

TEST_F(Vocabulary, FontsAlignmentsBordersGlyphs) {
  EXPECT_EQ(map("GetFont", 14), "Times-Roman");
  EXPECT_EQ(map("GetFont", 4), "Helvetica");
  EXPECT_EQ(map("GetFont", Variant(int16_t(13))), "ZapfDingbats");
  EXPECT_EQ(map("GetFont", 7.0), "Helvetica-BoldOblique") << "numeric comparison across types";
  EXPECT_EQ(map("GetFont", 7.5), "Times-Roman");
  EXPECT_EQ(map("GetAlignment", 2), "right");
  EXPECT_EQ(map("GetAlignment", 3), "left");
  EXPECT_EQ(map("GetFieldBorder", 4), "underline");
  EXPECT_EQ(map("GetFieldBorder", -1), "solid");
  EXPECT_EQ(map("GetGlyphStyle", 5), "square");
  EXPECT_EQ(map("GetGlyphStyle", 6), "check");
}

TEST_F(Vocabulary, NotesAndStamps) {
  EXPECT_EQ(map("GetNoteIcon", 14), "UpLeftArrow");
  EXPECT_EQ(map("GetNoteIcon", 15), "Note");
  EXPECT_EQ(map("GetNoteState", 3), "Cancelled");
  EXPECT_EQ(map("GetNoteState", 9), "None");
  EXPECT_EQ(map("GetStampIcon", 11), "NotForPublicRelease");
  EXPECT_EQ(map("GetStampIcon", 14), "Approved");
}

TEST_F(Vocabulary, NullCodeRaisesLikeBasic) {
  EXPECT_THROW(map("GetFont", Variant::null()), AutomationError);
}

TEST_F(Vocabulary, SetColorFillsTheCallersArray) {
  Variant a = Variant(Array::vector({Variant(), Variant(), Variant(), Variant()}));
  call(doc, "SetColor", {9, ByRef(a)});
  EXPECT_EQ(a, V({"G", 0.25, int16_t(0), int16_t(0)}));
  EXPECT_EQ(a.array().at({1}).type(), VT::Double);
  call(doc, "SetColor", {6, ByRef(a)});
  EXPECT_EQ(a, V({"CMYK", int16_t(1), int16_t(0), int16_t(0)}));
  call(doc, "SetColor", {12, ByRef(a)});
  EXPECT_EQ(a, V({"T", int16_t(0), int16_t(0), int16_t(0)}));
  call(doc, "SetColor", {5, ByRef(a)});
  EXPECT_EQ(a, V({"RGB", int16_t(0), int16_t(0), int16_t(1)}));
}

TEST_F(Vocabulary, SetColorLeavesTheBlackComponentOfCmyk) {
  Variant a = V({"x", 9, 9, 9, 0.5});
  call(doc, "SetColor", {8, ByRef(a)});
  EXPECT_EQ(a, V({"CMYK", int16_t(0), int16_t(0), int16_t(1), 0.5}));
}

TEST_F(Vocabulary, SetColorOnAShortArrayFailsAfterTheFirstStores) {
  Variant a = V({"old", 7, 7});
  try {
    call(doc, "SetColor", {3, ByRef(a)});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), basic::SubscriptOutOfRange);
  }
  EXPECT_EQ(a, V({"old", int16_t(0), int16_t(0)}));
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

}  // namespace

}  // namespace pm::test
