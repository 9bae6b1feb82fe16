// The phrase scan of the find methods against the recording server: which
// words and quads are read, how a match is formed, where the scan goes on,
// and what each method does with a match.
#include "Fixture.h"
#include "support/RecordedDocument.h"

namespace pm::test {

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
  const std::tuple<const char*, bool, int32_t> cases[] = {
      {"quick brown", false, 2},   // the candidate is trimmed; "quick  brown  " does not match (two spaces)
      {"quick brown", true, 1},    // "Quick" differs in case
      {" quick", false, 0},        // a leading (or trailing) space never matches
      {"brown fox", false, 0},     // the full stop belongs to the word
      {"fox.", false, 1},          // the line end is removed
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
