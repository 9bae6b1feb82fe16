// The annotation members against the recording server: what the creators do
// when the annotation cannot be made or a later property fails, word
// access, the records' look-ups, and the phrase scan of the find methods
// (which words and quads are read, how a match is formed, where the scan goes
// on, and what each method does with a match).
#include "Fixture.h"
#include "component/document/TextAnnotType.h"

namespace pm::test {

using Creators = AnnotFixture;

TEST_F(Creators, APageOutsideTheDocumentRaisesAndMakesNothing) {
  for (int page : {0, 4, -1}) {
    SCOPED_TRACE(page);
    ObjectRef d = open();
    for (const char* member : {"CreateTextAnnot", "CreateComment"}) {
      Raised e = raised([&] { call(d, member, {page, "x"}); });
      EXPECT_EQ(e.number, basic::InvalidProcedureCall);
      EXPECT_EQ(e.source, "Pressmark");
      EXPECT_THAT(e.description, HasSubstr("3 pages")) << e.description;
    }
    EXPECT_THROW(call(d, "CreateStampAnnot", {page, V({0, 0, 1, 1}), "x"}), AutomationError);
    EXPECT_THROW(call(d, "CreateFreeTextAnnot", {page, V({0, 0, 1, 1}), "x"}), AutomationError);
    EXPECT_EQ(rec->transcript(), Lines(4, "JSO get NumPages"));
  }
}

TEST_F(Creators, AnAnnotationThatCannotBeMadeRaisesButLaterPropertyFailuresAreIgnored) {
  ObjectRef d = open();
  int calls = 0;
  rec->on("Annot", "setProps").does([&calls](recording::RecordedObject&, std::span<const Arg>) {
    if (++calls % 2 == 0) raise(5, "bad page", "viewer");
    return Variant(true);
  });
  // The first setProps makes the annotation; the second fails and is ignored.
  EXPECT_NO_THROW(call(d, "CreateTextAnnot", {1, "x"}));
  rec->on("Props", "StrokeColor").fails(13);
  EXPECT_NO_THROW(call(d, "CreateComment", {1, "x"}));

  auto r2 = recording::Recorder::create();
  recordViewerDocument(*r2);
  r2->on("JSO", "NumPages").returns(Variant(int32_t(1)));
  r2->on("JSO", "addAnnot").fails(1001, "cannot annotate");
  ObjectRef d2 = createDocument();
  Raised e = raised([&] { call(d2, "CreateFreeTextAnnot", {1, V({0, 0, 1, 1}), "x"}); });
  EXPECT_EQ(e.number, 1001);
  EXPECT_EQ(e.description, "cannot annotate");
}

using ListsAndRecords = AnnotFixture;

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

using PhraseScan = AnnotFixture;

int32_t count(ObjectRef& d, const char* member, std::vector<Variant> args) {
  std::vector<Arg> a(args.begin(), args.end());
  return CLng(call(d, member, std::span<const Arg>(a)));
}

TEST_F(PhraseScan, PhrasesMatchOnlyWholeTrimmedWordsAndNeverAcrossPages) {
  pages({{"The ", "quick ", "brown ", "fox.\r\n", "Quick ", "brown\r\n"},
         {"quick  ", "brown  "},
         {"end ", "quick "},
         {"brown ", "a ", "a ", "a "}});
  // Case, a leading space and a line end, on the real server:
  // AnnotsOverServer.MarkupOverEveryWordOfEveryMatch and MarkupOnARepairedFileLandsAsOnTheWholeOne.
  const std::tuple<const char*, bool, int32_t> cases[] = {
      {"quick brown", false, 2},   // the candidate is trimmed; "quick  brown  " does not match (two spaces)
      {"brown fox", false, 0},     // the full stop belongs to the word
      {"a", false, 3},             // three in a row: every one
      {"quick  brown", false, 0},  // two spaces: a three-word phrase
  };
  for (const auto& [find, caseSensitive, matches] : cases) {
    SCOPED_TRACE(find);
    ObjectRef d = open();
    EXPECT_EQ(count(d, "FindAndHighlightText", {find, 0, 0, caseSensitive}), matches);
  }
  // "end quick" / "brown" across pages 3 and 4 is no match.
  ObjectRef d = open();
  EXPECT_EQ(count(d, "FindAndHighlightText", {"quick brown", 3, 4}), 0);
}

TEST_F(PhraseScan, APageRangeReadsOnlyItsPagesWithoutAnOffByOne) {
  pages({{"x "}, {"x "}, {"x "}});
  const std::pair<std::vector<Variant>, Lines> cases[] = {
      {{0, 0},
       {"JSO get NumPages", "JSO call getPageNumWords(0&)", "JSO call getPageNumWords(1&)",
        "JSO call getPageNumWords(2&)"}},
      {{2, 0}, {"JSO get NumPages", "JSO call getPageNumWords(1&)", "JSO call getPageNumWords(2&)"}},
      {{-5, 1}, {"JSO call getPageNumWords(0&)"}},
      {{3, 2}, {}},
  };
  for (const auto& [range, pagesRead] : cases) {
    ObjectRef d = open();
    count(d, "FindAndStrikeoutText", {"nothing", range[0], range[1]});
    EXPECT_EQ(only({"JSO get NumPages", "JSO call getPageNumWords"}), pagesRead);
  }
}

TEST_F(PhraseScan, FailingCallsNeverHoldTheHighlightScan) {
  // Rules apply in the order given: this one answers before the page words.
  rec->on("JSO", "GetPageNthWord").fails(1001, "no words today");
  pages({{"a ", "b "}, {"a "}});
  ObjectRef d = open();
  EXPECT_EQ(count(d, "FindAndHighlightText", {"a"}), 0);
  EXPECT_EQ(only({"JSO call GetPageNthWord("}).size(), 3u) << "every word once, then done";
  // A page count beyond a 16-bit counter is scanned to its end.
  auto r2 = recording::Recorder::create();
  recordViewerDocument(*r2);
  r2->on("JSO", "NumPages").returns(Variant(int32_t(1)));
  r2->on("JSO", "getPageNumWords").returns(Variant(int32_t(40000)));
  r2->on("JSO", "GetPageNthWord").returns(Variant("z "));
  ObjectRef big = createDocument();
  EXPECT_EQ(count(big, "FindAndSquigglyText", {"y"}), 0);
  r2->clear();
  EXPECT_EQ(count(big, "GetTextCoordinates", {"y"}), -1);
  EXPECT_EQ(r2->transcript().size(), 2u + 2 * 40000u);
}

TEST_F(PhraseScan, ErrorsReachTheCallerExceptInTheHighlightFamily) {
  rec->on("JSO", "getPageNumWords").fails(1001, "broken page");
  pages({{"a "}});
  ObjectRef d = open();
  for (const char* member : {"FindAndCommentText", "FindAndOverwriteText"}) {
    EXPECT_EQ(raised([&] { call(d, member, {"a", "b"}); }), (Raised{1001, "broken page", "Pressmark"}));
  }
  EXPECT_THROW(call(d, "GetTextCoordinates", {"a"}), AutomationError);
  EXPECT_EQ(call(d, "FindAndHighlightText", {"a"}), Variant(int32_t(0))) << "the highlight family ignores errors";
}

}  // namespace pm::test
