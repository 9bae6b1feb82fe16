// Word counts and access, annotation lists and removal, and the two
// records against the recording server.
#include "Fixture.h"
#include "component/document/TextAnnotType.h"

namespace {

using namespace pm;
using pm::test::AnnotFixture;
using pm::test::Lines;

using ListsAndRecords = AnnotFixture;

TEST_F(ListsAndRecords, WordCountsOfOnePageAreNotShiftedByOnePage) {
  pages({std::vector<std::string>(10, "w "), {}, std::vector<std::string>(5, "w ")});
  ObjectRef d = open();
  Variant counts;
  EXPECT_EQ(call(d, "GetPagesWordCount", {0, ByRef(counts)}), Variant(int32_t(15)));
  EXPECT_EQ(counts, V({Variant(int16_t(10)), Variant(int16_t(0)), Variant(int16_t(5))}));
  EXPECT_EQ(call(d, "GetPagesWordCount", {3, ByRef(counts)}), Variant(int32_t(5)));
  EXPECT_EQ(counts, V({Variant(int16_t(5))}));
  EXPECT_EQ(only({"JSO"}), (Lines{"JSO get NumPages", "JSO call getPageNumWords(0&)", "JSO call getPageNumWords(1&)",
                                  "JSO call getPageNumWords(2&)", "JSO call getPageNumWords(2&)"}));
}

TEST_F(ListsAndRecords, WordAccessReadsTheFirstPageForZeroAndOne) {
  pages({{"Alpha, "}});
  ObjectRef d = open();
  EXPECT_EQ(call(d, "GetPageNthWord"), Variant("Alpha, "));
  EXPECT_EQ(call(d, "GetPageNthWord", {1, 0, true}), Variant("Alpha, "));
  call(d, "GetPageNthWordQuads", {Variant(int16_t(1))});
  EXPECT_EQ(only({"JSO"}), (Lines{"JSO call GetPageNthWord(0%, 0%, False)", "JSO call GetPageNthWord(0&, 0&, True)",
                                  "JSO call GetPageNthWordQuads(0%, 0%)"}));
  // No trap: the viewer's error reaches the caller as it is.
  try {
    call(d, "GetPageNthWord", {9});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_NE(e.source(), "Pressmark");
  }
}

TEST_F(ListsAndRecords, TextRecordKeepsTheReviewStateBothWays) {
  rec->on("JSO", "GetAnnot").returnsObject("Note");
  rec->on("Note", "getProps").returnsObject("NP");
  rec->on("NP", "Name").returns(Variant("n1"));
  rec->on("NP", "contents").returns(Variant("text"));
  rec->on("NP", "State").returns(Variant("Rejected"));
  rec->on("NP", "Page").returns(Variant(int32_t(1)));
  rec->on("NP", "Point").returns(V({10.0, 20.0}));
  rec->on("NP", "Width").returns(Variant(2.0));
  rec->on("NP", "Lock").returns(Variant("not a flag"));
  rec->on("NP", "PopupOpen").returns(Variant(true));
  ObjectRef d = open();
  Variant r = call(d, "GetTextAnnotProperties", {"n1", 2});
  ASSERT_TRUE(r.isObject());
  ObjectRef rec1 = r.asObject();
  EXPECT_EQ(rec1->typeName(), "TextAnnotType");
  EXPECT_EQ(get(rec1, "State"), Variant(int16_t(2)));
  EXPECT_EQ(get(rec1, "Page"), Variant(int16_t(1)));
  EXPECT_EQ(get(rec1, "Width"), Variant(int16_t(2)));
  EXPECT_EQ(get(rec1, "Lock"), Variant(false)) << "a value that cannot be converted leaves the field empty";
  EXPECT_EQ(get(rec1, "Author"), Variant(""));
  EXPECT_EQ(get(rec1, "Point"), V({10.0, 20.0}));
  EXPECT_EQ(get(rec1, "PopupOpen"), Variant(true));
  EXPECT_EQ(only({"JSO call GetAnnot"}), (Lines{"JSO call GetAnnot(1&, \"n1\")"}));
  let(rec1, "contents", "changed");
  EXPECT_THROW(let(rec1, "Width", "wide"), AutomationError) << "fields keep their types";
  rec->clear();
  call(d, "SetTextAnnotProperties", {"n1", 2, r});
  Lines lets;
  for (const std::string& l : rec->transcript())
    if (l.rfind("NP let", 0) == 0 || l.rfind("Note call setProps", 0) == 0) lets.push_back(l);
  EXPECT_EQ(lets, (Lines{"NP let Delay = True",
                         "NP let contents = \"changed\"",
                         "NP let Delay = False",
                         "Note call setProps(<NP>)",
                         "NP let Delay = True",
                         "NP let Name = \"n1\"",
                         "NP let State = \"Rejected\"",
                         "NP let Page = 1%",
                         "NP let Point = Array(10#, 20#)",
                         "NP let PopupRect = Empty",
                         "NP let Author = \"\"",
                         "NP let Subject = \"\"",
                         "NP let NoteIcon = \"\"",
                         "NP let StrokeColor = Empty",
                         "NP let PopupOpen = True",
                         "NP let Width = 2%",
                         "NP let Lock = False",
                         "NP let ReadOnly = False",
                         "NP let Delay = False",
                         "Note call setProps(<NP>)"}));
}

TEST_F(ListsAndRecords, FreeTextRecordReadsEveryPropertyAndALookUpFailureRaises) {
  rec->on("JSO", "GetAnnot").returnsObject("Box").times(1);
  rec->on("JSO", "GetAnnot").returns(Variant::null());
  rec->on("Box", "getProps").returnsObject("BP");
  rec->on("BP", "TextFont").returns(Variant("Courier"));
  rec->on("BP", "TextSize").returns(Variant(12.0));
  rec->on("BP", "Rotate").returns(Variant(int32_t(90)));
  rec->on("BP", "Rect").returns(V({1.0, 2.0, 3.0, 4.0}));
  ObjectRef d = open();
  ObjectRef box = objectOf(call(d, "GetFreeTextAnnotProperties", {"b", 1}));
  EXPECT_EQ(box->typeName(), "FreeTextAnnotType");
  EXPECT_EQ(get(box, "TextFont"), Variant("Courier"));
  EXPECT_EQ(get(box, "TextSize"), Variant(int16_t(12)));
  EXPECT_EQ(get(box, "Rotate"), Variant(int16_t(90)));
  EXPECT_EQ(get(box, "Rect"), V({1.0, 2.0, 3.0, 4.0}));
  for (const char* member : {"GetFreeTextAnnotProperties", "SetFreeTextAnnotProperties"}) {
    try {
      if (std::string(member)[0] == 'G')
        call(d, member, {"missing", 1});
      else
        call(d, member, {"missing", 1, Variant(box)});
      ADD_FAILURE() << member;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.source(), "Pressmark");
      EXPECT_NE(e.description().find("missing"), std::string::npos);
    }
  }
  EXPECT_THROW(let(box, "Colour", 1), AutomationError) << "no such field";
  EXPECT_THROW(CreateObject("TextAnnotType"), AutomationError) << "records are not creatable";
}

}  // namespace
