// Word counts and access, annotation lists and removal, and the two
// records against the recording server.
#include "Fixture.h"
#include "component/document/TextAnnotType.h"

namespace pm::test {

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
  Raised e = raised([&] { call(d, "GetPageNthWord", {9}); });
  EXPECT_NE(e.source, "Pressmark");
}

// The record's properties as read and written on the real server:
// AnnotsOverServer.ListsRecordsAndRemoval.
TEST_F(ListsAndRecords, ALookUpFailureRaisesAndARecordHasOnlyItsFields) {
  rec->on("JSO", "GetAnnot").returnsObject("Box").times(1);
  rec->on("JSO", "GetAnnot").returns(Variant::null());
  rec->on("Box", "getProps").returnsObject("BP");
  ObjectRef d = open();
  ObjectRef box = objectOf(call(d, "GetFreeTextAnnotProperties", {"b", 1}));
  EXPECT_EQ(box->typeName(), "FreeTextAnnotType");
  for (Raised e : {raised([&] {
                     call(d, "GetFreeTextAnnotProperties", {"missing", 1});
                   }),
                   raised([&] {
                     call(d, "SetFreeTextAnnotProperties", {"missing", 1, Variant(box)});
                   })}) {
    EXPECT_EQ(e.source, "Pressmark");
    EXPECT_THAT(e.description, HasSubstr("missing"));
  }
  EXPECT_THROW(let(box, "Colour", 1), AutomationError) << "no such field";
  EXPECT_THROW(CreateObject("TextAnnotType"), AutomationError) << "records are not creatable";
}

}  // namespace pm::test
