// Bookmark building over the MuPDF server, read back with qpdf: the tree
// made and every composed script byte for byte.
#include "Real.h"

namespace pm::test {
// Title and script of each bookmark, indented by level.
Lines titlesAndScripts(const Lines& lines) {
  Lines out;
  for (const std::string& l : lines) {
    size_t js = l.find("|JS=");
    out.push_back(l.substr(0, l.find('|')) + " -> " + l.substr(js + 4));
  }
  return out;
}

TEST_F(RealBookmarks, BuildingFromTheThreeLayouts) {
  const std::vector<std::tuple<const char*, Variant, bool, Lines>> cases = {
      {"CreateBookmarksFromArray",
       table({{"Intro", 1, 1}, {"Terms", 2, 2}, {"Deep", 3, 3}, {"Summary", 1, "3"}}),
       false,
       {"Intro -> this.pageNum = 0;", "  Terms -> this.pageNum = 1;", "    Deep -> this.pageNum = 2;",
        "Summary -> this.pageNum = 2;"}},
      {"CreateBookmarksFromArray",
       table({{"Écrit", 1, 1, 72, 700.25}, {"Zweig ~ Ast", 2, 2, 0.5, 10}}),
       true,
       {"Écrit -> this.pageNum = 0;this.scroll(72, 700.25);", "  Zweig ~ Ast -> this.pageNum = 1;this.scroll(0.5, 10);",
        "Intro -> ", "  Intro -> ", "  Terms ~ conditions -> ", "Введение -> ", "  Глава -> ", "    Deep -> ",
        "Summary -> "}},
      {"CreateBookmarksFromArray2",
       table({{"One", 1, 10, 20}, {"  Two", 2, 30, 40}, {"Three", 3, 50, 60}}),
       false,
       {"One -> this.pageNum = 0;this.scroll(10, 20);", "  Two -> this.pageNum = 1;this.scroll(30, 40);",
        "Three -> this.pageNum = 2;this.scroll(50, 60);"}},
      {"CreateBookmarksFromArray3",
       table({{"Script", "this.pageNum = 1;"}, {" Quoted", "app.alert(\"a ~ b\");"}}),
       false,
       {"Script -> this.pageNum = 1;", "  Quoted -> app.alert(\"a ~ b\");"}},
  };
  std::vector<std::string> paths;
  for (const auto& [member, given, existingOutline, outline] : cases) {
    std::string path =
        make("t" + std::to_string(paths.size()) + ".pdf", existingOutline ? outlinedSpec() : plainSpec());
    paths.push_back(path);
    ObjectRef d = open(path);
    Variant rows = given;
    EXPECT_EQ(call(d, member, {ByRef(rows), true}), Variant(int32_t(rows.array().ubound(1) + 1))) << member;
    call(d, "Save", {1});
  }
  std::vector<Lines> read = outlinesOf(paths);
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(titlesAndScripts(read[i]), std::get<3>(cases[i])) << std::get<0>(cases[i]);
}

TEST_F(RealBookmarks, BuildingFromPagesAndExecutingTheResult) {
  std::string path = make("plain.pdf", plainSpec());
  ObjectRef d = open(path);
  EXPECT_EQ(call(d, "CreateBookmarksFromPages"), Variant(int32_t(3)));
  ObjectRef js = objectOf(call(d, "CreateJavaScriptObject"));
  EXPECT_EQ(call(d, "ExecuteBookmark", {"page 3"}), Variant(true));
  EXPECT_EQ(CLng(get(js, "pageNum")), 2);
  call(d, "Save", {1});
  EXPECT_EQ(titlesAndScripts(outlineLines(path)),
            (Lines{"Page 1 -> this.pageNum = 0", "Page 2 -> this.pageNum = 1", "Page 3 -> this.pageNum = 2"}));
}

TEST_F(RealBookmarks, BuildingFromANumberedOutline) {
  std::string path = make("numbered.pdf", plainSpec());
  ObjectRef d = open(path);
  ObjectRef js = objectOf(call(d, "CreateJavaScriptObject"));
  // The scripts scroll to the number word's first quad point, as the
  // engine reports it.
  auto at = [&](int page, int word) {
    Variant q = call(js, "getPageNthWordQuads", {page, word});
    const Array& quad = q.array().at({0}).array();
    return "this.pageNum = " + std::to_string(page) + ";this.scroll(" + CStr(quad.at({0})) + ", " + CStr(quad.at({1})) +
           ");";
  };
  auto firstWordOfLine = [&](int page, const std::string& text) {
    int n = CLng(call(js, "getPageNumWords", {page}));
    for (int w = 0; w < n; ++w)
      if (Trim(CStr(call(js, "getPageNthWord", {page, w, false}))) == text) return w;
    ADD_FAILURE() << text;
    return 0;
  };
  Lines expected = {"1. Scope -> " + at(0, 0), "  1.1 Terms of use -> " + at(0, firstWordOfLine(0, "1.1")),
                    "2. Use -> " + at(1, 0), "  2.1 Details here -> " + at(2, 0)};
  EXPECT_EQ(call(d, "CreateBookmarksFromOutline"), Variant(int32_t(4)));
  call(d, "Save", {1});
  // Pages 2 to 2 only, on a fresh copy: one heading.
  std::string second = make("numbered2.pdf", plainSpec());
  ObjectRef d2 = open(second);
  EXPECT_EQ(call(d2, "CreateBookmarksFromOutline", {2, 2}), Variant(int32_t(1)));
  call(d2, "Save", {1});
  // No heading anywhere: nothing is made.
  DocSpec empty;
  empty.pages.resize(1);
  empty.pages[0].lines = {"No headings at all"};
  std::string none = make("none.pdf", empty);
  ObjectRef d4 = open(none);
  EXPECT_EQ(call(d4, "CreateBookmarksFromOutline"), Variant(int32_t(0)));
  call(d4, "Save", {1});
  std::vector<Lines> read = outlinesOf({path, second, none});
  EXPECT_EQ(titlesAndScripts(read[0]), expected);
  EXPECT_EQ(titlesOnly(read[1]), (Lines{"2. Use"}));
  EXPECT_TRUE(read[2].empty());
}

TEST_F(RealBookmarks, ChildBookmarks) {
  std::string path = make("outlined.pdf", outlinedSpec());
  ObjectRef d = open(path);
  Variant green = V({"RGB", 0, 1, 0});
  // Under the root, at a position past the end: last, with its colour and
  // style on itself.
  EXPECT_EQ(call(d, "CreateChildBookmark", {"Appendix", "", 3, 99, green, 2, false, true, 10, 20, true}),
            Variant(int16_t(1)));
  // Under the first match of each list of children: the top Intro only,
  // since the search of a list ends at its first match.
  EXPECT_EQ(call(d, "CreateChildBookmark", {"Note", "intro", 2, 0, green, 1}), Variant(int16_t(1)));
  EXPECT_EQ(call(d, "CreateChildBookmark", {"Detail", "ГЛАВА", 0, 5}), Variant(int16_t(1)));
  EXPECT_EQ(call(d, "CreateChildBookmark", {"None", "Nowhere"}), Variant(int16_t(0)));
  call(d, "Save", {1});
  EXPECT_EQ(
      outlineLines(path),
      (Lines{"Intro|C=|F=|Count=-3|JS=", "  Note|C=[0 1 0]|F=1|Count=|JS=this.pageNum = 1;",
             "  Intro|C=|F=|Count=|JS=", "  Terms ~ conditions|C=|F=|Count=|JS=", "Введение|C=|F=|Count=1|JS=",
             "  Глава|C=|F=|Count=-2|JS=", "    Deep|C=|F=|Count=|JS=", "    Detail|C=|F=|Count=|JS=this.pageNum = 0;",
             "Summary|C=|F=|Count=|JS=", "Appendix|C=[0 1 0]|F=2|Count=|JS=this.pageNum = 2;this.scroll(10, 20);"}));
}

}  // namespace pm::test
