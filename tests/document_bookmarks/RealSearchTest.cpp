// Bookmark search and change over the MuPDF server, read back with qpdf.
#include "Real.h"

namespace pm::test {
TEST_F(RealBookmarks, ListingAndMatching) {
  ObjectRef d = open(make("outlined.pdf", outlinedSpec()));
  Variant names;
  EXPECT_EQ(call(d, "GetBookmarks", {ByRef(names)}), Variant(int32_t(7)));
  EXPECT_EQ(names, V({"Intro", "Intro", "Terms ~ conditions", "Введение", "Глава", "Deep", "Summary"}));
  const std::vector<std::tuple<std::vector<Arg>, bool>> cases = {
      {{"intro"}, true},        {{"intro", true}, false},         {{"Int", false, false}, true},
      {{"~"}, false},           {{"~ cond", false, false}, true}, {{"ВВЕДЕНИЕ"}, true},
      {{"глава", true}, false}, {{"ЛАВ", false, false}, true},    {{"Deep end"}, false},
  };
  for (const auto& [args, exists] : cases)
    EXPECT_EQ(call(d, "BookmarkExists", std::span<const Arg>(args)), Variant(exists)) << CStr(args[0].get());

  ObjectRef bare = open(make("bare.pdf", plainSpec()));
  names = Variant("untouched");
  EXPECT_EQ(call(bare, "GetBookmarks", {ByRef(names)}), Variant(int32_t(0)));
  ASSERT_TRUE(names.isArray());
  EXPECT_EQ(names.array().ubound(1), -1);
  EXPECT_EQ(CStr(call(bare, "BookmarkExists", {"Intro"})) + CStr(call(bare, "RemoveBookmark")) +
                CStr(call(bare, "ExecuteBookmark", {"Intro"})),
            "False0False");
}

TEST_F(RealBookmarks, ChangesAreSavedInTheOutline) {
  std::string path = make("outlined.pdf", outlinedSpec());
  ObjectRef d = open(path);
  EXPECT_EQ(call(d, "SetBookmarkColor", {V({"RGB", 1, 0, 0}), "intro"}), Variant(int32_t(1)))
      << "the first match of the top level; its children are not searched";
  EXPECT_EQ(call(d, "SetBookmarkStyle", {2, "глава"}), Variant(int32_t(1)));
  EXPECT_EQ(call(d, "SetBookmarkStyle", {3, "Deep", true}), Variant(int32_t(1)));
  EXPECT_EQ(call(d, "SetBookmarkName", {"Overview", "Summary"}), Variant(int32_t(1)));
  EXPECT_EQ(call(d, "SetBookmarkAction", {"this.pageNum = 2;", "terms ~", false, false}), Variant(int32_t(1)));
  // Level 2: the two children of Intro and Глава, grey and italic.
  EXPECT_EQ(call(d, "SetBookmarkProperty", {V({"G", 0.5}), 1, 2}), Variant(int32_t(3)));
  EXPECT_EQ(call(d, "SetBookmarkExpanded", {false}), Variant(int32_t(7)));
  std::string first = dir.file("first.pdf");
  call(d, "Save", {1, first});
  Lines changed = {
      "Intro|C=[1 0 0]|F=|Count=-2|JS=",
      "  Intro|C=[0.5 0.5 0.5]|F=1|Count=|JS=",
      "  Terms ~ conditions|C=[0.5 0.5 0.5]|F=1|Count=|JS=this.pageNum = 2;",
      "Введение|C=|F=|Count=-1|JS=",
      "  Глава|C=[0.5 0.5 0.5]|F=1|Count=-1|JS=",
      "    Deep|C=|F=3|Count=|JS=",
      "Overview|C=|F=|Count=|JS=",
  };
  EXPECT_EQ(call(d, "SetBookmarkExpanded", {true}), Variant(int32_t(7)));
  // Style 9 is no style: it becomes normal.
  EXPECT_EQ(call(d, "SetBookmarkStyle", {9, "", false, true, true}), Variant(int32_t(7)));
  call(d, "Save", {1});
  std::vector<Lines> read = outlinesOf({first, path});
  EXPECT_EQ(read[0], changed);
  Lines after = read[1];
  ASSERT_EQ(after.size(), 7u);
  EXPECT_EQ(after[0], "Intro|C=[1 0 0]|F=|Count=2|JS=");
  EXPECT_EQ(after[4], "  Глава|C=[0.5 0.5 0.5]|F=|Count=1|JS=");
}

TEST_F(RealBookmarks, RemovingTakesChildrenAlong) {
  std::string path = make("outlined.pdf", outlinedSpec());
  ObjectRef d = open(path);
  // The top Intro goes with its children, which are not visited again.
  EXPECT_EQ(call(d, "RemoveBookmark", {"Intro", false, true, true}), Variant(int32_t(1)));
  EXPECT_EQ(call(d, "RemoveBookmark", {"deep"}), Variant(int32_t(1)));
  std::string first = dir.file("first.pdf");
  call(d, "Save", {1, first});
  EXPECT_EQ(call(d, "RemoveBookmark"), Variant(int32_t(2)));
  call(d, "Save", {1});
  std::vector<Lines> read = outlinesOf({first, path});
  EXPECT_EQ(titlesOnly(read[0]), (Lines{"Введение", "  Глава", "Summary"}));
  EXPECT_TRUE(read[1].empty());
}

TEST_F(RealBookmarks, ExecutingMovesTheView) {
  ObjectRef d = open(make("outlined.pdf", outlinedSpec()));
  ObjectRef js = objectOf(call(d, "CreateJavaScriptObject"));
  // Each bookmark executed, then the page shown: a miss leaves the view.
  std::string seen = CStr(get(js, "pageNum"));
  for (const char* name : {"summary", "ГЛАВА", "Nowhere"}) {
    seen += " " + CStr(call(d, "ExecuteBookmark", {name}));
    seen += "@" + CStr(get(js, "pageNum"));
  }
  EXPECT_EQ(seen, "0 True@1 True@2 False@2");
  // An action that fails is no executed bookmark.
  EXPECT_EQ(call(d, "SetBookmarkAction", {"this.noSuchMethod();", "Summary"}), Variant(int32_t(1)));
  EXPECT_EQ(call(d, "ExecuteBookmark", {"Summary"}), Variant(false));
}

TEST_F(RealBookmarks, AnOutlineThatLoopsBackEnds) {
  DocSpec layout = outlinedSpec();
  layout.loopOutline = true;
  ObjectRef d = open(make("loop.pdf", layout));
  Variant names;
  int32_t n = CLng(call(d, "GetBookmarks", {ByRef(names)}));
  EXPECT_GT(n, 7);
  EXPECT_LT(n, 100000);
  EXPECT_EQ(CStr(call(d, "BookmarkExists", {"Nowhere"})) + CStr(call(d, "ExecuteBookmark", {"Nowhere"})) +
                CStr(call(d, "SetBookmarkStyle", {1, "Nowhere", false, true, true})),
            "FalseFalse0");
  // Changes of a looping outline stay quick: the viewer's recount ends
  // where a list leads back to its start.
  EXPECT_EQ(CLng(call(d, "SetBookmarkExpanded", {false})), n);
  EXPECT_EQ(call(d, "CreateChildBookmark", {"Kid", "Nowhere"}), Variant(int16_t(0)));
}

// The reader's results and failures: ArrayMethods.TextFileToArrayFieldsAndQuotes.
TEST_F(RealBookmarks, TextFileToArrayOnTheDocument) {
  ObjectRef d = open(make("bare.pdf", plainSpec()));
  std::string file = dir.file("table.txt");
  writeFile(file, "a,b,c\r\nd\r\n\"e\",f\r\n");
  Variant rows;
  EXPECT_EQ(call(d, "TextFileToArray", {file, ByRef(rows), "", true}), Variant(int16_t(1)));
  EXPECT_EQ(rows, table({{"a", "b", "c"}, {"d", Variant(), Variant()}, {"e", "f", Variant()}}));
}

}  // namespace pm::test
