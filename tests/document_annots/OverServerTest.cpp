// The annotation and markup members over the real PDF server, on documents
// the tests make, read back from the saved file.
#include <algorithm>

#include "pdfserver_js/Read.h"

namespace pm::test {

class AnnotsOverServer : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("doc.pdf");
    makePdf(path, textPages({{"The quick brown fox jumps over the lazy dog.", "A Quick brown cat sleeps."},
                             {"quick brown again and the lazy dog."}}));
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
  TempDir dir;
  std::string path;
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
  EXPECT_THROW(call(d, "GetTextAnnotProperties", {"nobody", 1}), AutomationError);

  std::string out = save();
  EXPECT_THAT(annots(out, 0)[0], HoldsAll({"(Me)", "(Cancelled)"}));
  EXPECT_THAT(annots(out, 1)[0], HasSubstr("(box changed)"));

  EXPECT_THROW(call(d, "RemoveAnnotations", {-1}), AutomationError);
  EXPECT_EQ(CLng(call(d, "RemoveAnnotations", {2})), 1);
  EXPECT_EQ(CLng(call(d, "RemoveAnnotations")), 1);
  EXPECT_EQ(CLng(call(d, "GetAnnotations", {ByRef(names)})), 0);
}

}  // namespace pm::test
