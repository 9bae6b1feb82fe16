// The annotation and markup members over the real PDF server, on documents
// the tests make, read back from the saved file; and against the recording
// server: what the creators do when the annotation cannot be made or a later
// property fails, word access, the records' look-ups, and the phrase scan of
// the find methods (which words and quads are read, how a match is formed,
// where the scan goes on, and what each method does with a match).
#include <algorithm>

#include "Fixture.h"
#include "component/document/TextAnnotType.h"
#include "support/PdfRead.h"

namespace pm::test {

class AnnotsOverServer : public PdfTest {
 protected:
  DocSpec layout() override {
    return textPages({{"The quick brown fox jumps over the lazy dog.", "A Quick brown cat sleeps."},
                      {"quick brown again and the lazy dog."}});
  }
  void SetUp() override {
    PdfTest::SetUp();
    d = openDocument(path);
  }
  std::string save() {
    std::string out = dir.file("out.pdf");
    call(d, "Save", {1, out});
    expectClean(out);
    return out;
  }
  // How many annotations of the first and the second page hold each part:
  // "/Highlight=4/2".
  std::string counts(const std::vector<std::string>& parts) {
    std::vector<std::string> pages[] = {annots(save(), 0), annots(dir.file("out.pdf"), 1)};
    return eachOf(parts, [&](const std::string& part) {
      std::string n;
      for (const auto& page : pages)
        n += (n.empty() ? "" : "/") + std::to_string(std::count_if(page.begin(), page.end(), [&](const std::string& a) {
               return a.find(part) != std::string::npos;
             }));
      return n;
    });
  }
  ObjectRef d;
};

TEST_F(AnnotsOverServer, MarkupOverEveryWordOfEveryMatch) {
  EXPECT_EQ(CLng(call(d, "FindAndHighlightText", {"quick brown"})), 3);
  EXPECT_EQ(CLng(call(d, "FindAndUnderlineText", {"lazy dog.", 2, 2})), 1);
  EXPECT_EQ(CLng(call(d, "FindAndStrikeoutText", {"FOX", 0, 0, true})), 0);
  EXPECT_EQ(CLng(call(d, "FindAndSquigglyText", {"fox"})), 1);
  EXPECT_EQ(CLng(call(d, "FindAndStrikeoutText", {"jumps over"})), 1);
  EXPECT_EQ(CLng(call(d, "FindAndHighlightText", {" quick"})), 0);
  EXPECT_EQ(counts({"/Highlight", "/Underline", "/Squiggly", "/StrikeOut", "/QuadPoints"}),
            "/Highlight=4/2 /Underline=0/2 /Squiggly=1/0 /StrikeOut=2/0 /QuadPoints=7/4");
}

TEST_F(AnnotsOverServer, MarkupOnARepairedFileLandsAsOnTheWholeOne) {
  // Damaged bytes in the cross-reference table: the file opens repaired.
  std::string bytes = test::readFile(path), damaged = dir.file("damaged.pdf");
  size_t xref = bytes.rfind("\nxref\n");
  ASSERT_NE(xref, std::string::npos);
  for (size_t i = xref + 12; i < std::min(bytes.size(), xref + 72); ++i) bytes[i] = '#';
  test::writeFile(damaged, bytes);
  d = openDocument(damaged);
  Variant perPage;
  int32_t words = CLng(call(d, "GetPagesWordCount", {0, ByRef(perPage)}));
  EXPECT_EQ(CLng(call(d, "FindAndHighlightText", {"quick brown"})), 3);
  EXPECT_EQ(CLng(call(d, "FindAndStrikeoutText", {"jumps over"})), 1);
  // The marks draw no words: the pages read the same afterwards.
  EXPECT_EQ(CLng(call(d, "GetPagesWordCount", {0, ByRef(perPage)})), words);
  EXPECT_EQ(CLng(call(d, "FindAndSquigglyText", {"the lazy dog."})), 2);
  EXPECT_EQ(counts({"/Highlight", "/StrikeOut", "/Squiggly"}), "/Highlight=4/2 /StrikeOut=2/0 /Squiggly=3/3");
}

TEST_F(AnnotsOverServer, NotesStampsFreeTextAndComments) {
  call(d, "CreateTextAnnot",
       {1, "A note", Variant::nothing(), "Ann", "Subj", Variant(int16_t(50)), Variant(int16_t(100)), 4, "note1", false,
        false, true, 2});
  call(d, "CreateStampAnnot", {2, V({100, 100, 300, 200}), "Stamped", Variant::nothing(), "", "", 0, 0, 4, "st"});
  call(d, "CreateFreeTextAnnot", {1, V({300, 500, 500, 540}), "Free words", Variant::nothing(), "", "", "ft"});
  EXPECT_EQ(CLng(call(d, "FindAndCommentText", {"lazy dog.", "Sleepy"})), 2);
  std::string out = save();
  std::vector<std::string> p1 = annots(out, 0), p2 = annots(out, 1);
  ASSERT_EQ(p1.size(), 3u);
  EXPECT_THAT(p1[0], HoldsAll({"/Subtype/Text", "(A note)", "/Name/Help", "/Rect[50 672 70 692]", "(Rejected)"}));
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Annots/0/Popup/Rect"), "[0 692 200 792]");
  EXPECT_THAT(p1[1], HoldsAll({"/FreeText", "(Free words)"}));
  EXPECT_THAT(p1[2], HoldsAll({"(Comment1)", "/CA .5"}));
  ASSERT_EQ(p2.size(), 2u);
  EXPECT_THAT(p2[0], HoldsAll({"/Stamp", "/Name/Draft"}));
  EXPECT_THAT(p2[1], HasSubstr("(Comment2)"));
}

TEST_F(AnnotsOverServer, OverwriteWordsCoordinatesAndCounts) {
  Variant width(int16_t(0));
  std::vector<Arg> args{Arg("lazy"), Arg("busy"), Arg(1), Arg(1), Arg(false), Arg(4), ByRef(width)};
  EXPECT_EQ(CLng(call(d, "FindAndOverwriteText", std::span<const Arg>(args))), 1);
  EXPECT_EQ(width, Variant(int16_t(24)));
  Variant counts;
  EXPECT_EQ(CLng(call(d, "GetPagesWordCount", {0, ByRef(counts)})), 14 + 7);
  EXPECT_EQ(counts, V({Variant(int16_t(14)), Variant(int16_t(7))}));
  EXPECT_EQ(CLng(call(d, "GetPagesWordCount", {2, ByRef(counts)})), 7) << "the second page alone";
  EXPECT_EQ(counts, V({Variant(int16_t(7))}));
  EXPECT_EQ(CStr(call(d, "GetPageNthWord", {1, 1, true})), "quick");
  Variant q = call(d, "GetTextCoordinates", {"lazy dog."});
  ASSERT_TRUE(q.isArray());
  EXPECT_EQ(q.array().size(), 8u);
  Variant quads = call(d, "GetPageNthWordQuads", {1, 7});
  EXPECT_EQ(quads.array().at({0}), q);
  std::string out = save();
  std::vector<std::string> p1 = annots(out, 0);
  ASSERT_EQ(p1.size(), 1u);
  EXPECT_THAT(p1[0], HoldsAll({"(busy)", "/F 196"})) << "locked, read-only, printed";
}

TEST_F(AnnotsOverServer, ListsRecordsAndRemoval) {
  Variant names;
  EXPECT_EQ(CLng(call(d, "GetAnnotations", {ByRef(names)})), 0);
  EXPECT_EQ(names.array().ubound(), -1);
  EXPECT_EQ(CLng(call(d, "RemoveAnnotations", {2})), 0);
  call(d, "CreateTextAnnot", {1, "one", Variant::nothing(), "", "", 0, 0, 8, "n1", false, false, false, 3});
  call(d, "CreateFreeTextAnnot",
       {2, V({10, 10, 200, 40}), "two", Variant::nothing(), "", "", "f1", false, false, 1, Variant::nothing(), 8,
        Variant(int16_t(14))});
  EXPECT_EQ(CLng(call(d, "GetAnnotations", {ByRef(names)})), 2);
  EXPECT_EQ(names, V({"n1", "f1"}));

  ObjectRef note = objectOf(call(d, "GetTextAnnotProperties", {"n1", 1}));
  EXPECT_EQ(get(note, "State"), Variant(int16_t(3)));
  EXPECT_EQ(get(note, "Page"), Variant(int16_t(0)));
  let(note, "contents", "changed");
  let(note, "Author", "Me");
  call(d, "SetTextAnnotProperties", {"n1", 1, Variant(note)});
  ObjectRef again = objectOf(call(d, "GetTextAnnotProperties", {"n1", 1}));
  EXPECT_EQ(get(again, "State"), Variant(int16_t(3))) << "the state survives Get then Set";
  EXPECT_EQ(get(again, "contents"), Variant("changed"));

  ObjectRef box = objectOf(call(d, "GetFreeTextAnnotProperties", {"f1", 2}));
  EXPECT_EQ(propsOf(box, {"TextFont", "TextSize", "Alignment"}), "TextFont=Courier TextSize=14 Alignment=1");
  let(box, "contents", "box changed");
  call(d, "SetFreeTextAnnotProperties", {"f1", 2, Variant(box)});
  // A name on no annotation: ListsAndRecords.ALookUpFailureRaisesAndARecordHasOnlyItsFields.

  std::string out = save();
  EXPECT_THAT(annots(out, 0)[0], HoldsAll({"(Me)", "(Cancelled)"}));
  EXPECT_THAT(annots(out, 1)[0], HasSubstr("(box changed)"));

  EXPECT_THROW(call(d, "RemoveAnnotations", {-1}), AutomationError);
  EXPECT_EQ(CLng(call(d, "RemoveAnnotations", {2})), 1);
  EXPECT_EQ(CLng(call(d, "RemoveAnnotations")), 1);
  EXPECT_EQ(CLng(call(d, "GetAnnotations", {ByRef(names)})), 0);
}

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
