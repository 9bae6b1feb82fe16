// Bookmark building, search and change over the MuPDF server, read back with
// qpdf (the tree made and every composed script byte for byte), and against
// the recording server (the bookmarks each member makes and where, the calls
// each member makes on the bookmark objects, in order, and what it counts).
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

// Executing a bookmark: RealBookmarks.ExecutingMovesTheView.
TEST_F(RealBookmarks, BuildingFromPages) {
  std::string path = make("plain.pdf", plainSpec());
  ObjectRef d = open(path);
  EXPECT_EQ(call(d, "CreateBookmarksFromPages"), Variant(int32_t(3)));
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
  ASSERT_EQ(Trim(CStr(call(js, "getPageNthWord", {0, 2, false}))), "1.1");
  Lines expected = {"1. Scope -> " + at(0, 0), "  1.1 Terms of use -> " + at(0, 2), "2. Use -> " + at(1, 0),
                    "  2.1 Details here -> " + at(2, 0)};
  EXPECT_EQ(call(d, "CreateBookmarksFromOutline"), Variant(int32_t(4)));
  call(d, "Save", {1});
  // Pages 2 to 2 only, on a fresh copy: one heading.
  std::string second = make("numbered2.pdf", plainSpec());
  ObjectRef d2 = open(second);
  EXPECT_EQ(call(d2, "CreateBookmarksFromOutline", {2, 2}), Variant(int32_t(1)));
  call(d2, "Save", {1});
  // No heading anywhere: nothing is made.
  std::string none = make("none.pdf", textPages({{"No headings at all"}}));
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

using Building = BookmarkModel;

// Only the lines that make bookmarks.
Lines made(const Lines& all) {
  Lines out;
  for (const std::string& l : all)
    if (l.find("createChild") != std::string::npos) out.push_back(l);
  return out;
}

TEST_F(Building, EmptyTablesMakeNothingAndWrongOnesOrScriptInACellAreRefused) {
  ObjectRef d = open();
  Variant empty;
  EXPECT_EQ(call(d, "CreateBookmarksFromArray", {ByRef(empty)}), Variant(int32_t(0)));
  EXPECT_EQ(call(d, "CreateBookmarksFromArray2", {Variant(Array::matrix(0, 2))}), Variant(int32_t(0)));
  EXPECT_EQ(call(d, "CreateBookmarksFromArray3", {Variant(Array::matrix(0, 2))}), Variant(int32_t(0)));
  EXPECT_TRUE(made(calls()).empty());
  // A cell meant as a coordinate that would be code is refused before
  // anything is made from its row.
  const std::tuple<Variant, int32_t, const char*> bad[] = {
      {Variant("Intro"), basic::TypeMismatch, "a text"},
      {V({"Intro", 1, 1}), basic::SubscriptOutOfRange, "one dimension"},
      {table({{"Fine", 1, 1, 0, 0}, {"Evil", 1, 1, "0);app.launchURL('http://x.test');//", 5}}), basic::TypeMismatch,
       "script in a cell"},
      {table({{"P", 1, "one"}}), basic::TypeMismatch, "a page that is no number"},
      {table({{"P", "top", 1}, {"Q", 1, 1}}), basic::TypeMismatch, "a level that is no number"},
  };
  for (const auto& [rows, number, what] : bad) {
    expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {rows}); }, number, what);
    if (what == std::string("script in a cell")) {
      EXPECT_EQ(made(calls()), (Lines{"Root call createChild(\"Fine\", \"this.pageNum = 0;this.scroll(0, 0);\", 0&)"}));
    }
  }
  tree->failing = {"Root|createChild"};
  EXPECT_EQ(raised([&] {
              call(d, "CreateBookmarksFromArray", {table({{"P", 1, 1}})});
            }),
            (Raised{5, "cannot create", "Pressmark"}));
}

// A (A1 "Intro" (A1a), A2), B "Intro" (B1)
std::vector<Item> sample() {
  return {{"A", "Alpha", {{"A1", "Intro", {{"A1a", "Intro detail", {}}}}, {"A2", "Scope", {}}}},
          {"B", "Intro", {{"B1", "Intro", {}}}}};
}

using Search = BookmarkModel;

TEST_F(Search, EmptySearchTextTakesBookmarksInOrder) {
  const std::vector<std::tuple<const char*, std::vector<Arg>, int32_t, Lines>> cases = {
      {"SetBookmarkName", {"New"}, 1, {"A let Name = \"New\""}},
      {"SetBookmarkName",
       {"New", "  ", false, true, true},
       5,
       {"A let Name = \"New\"", "A1 let Name = \"New\"", "A1a let Name = \"New\"", "A2 let Name = \"New\"",
        "B let Name = \"New\"", "B1 let Name = \"New\""}},
      // A bare triple is RGB.
      {"SetBookmarkColor", {V({1, 0, 0})}, 1, {"A let Color = Array(\"RGB\", 1&, 0&, 0&)"}},
  };
  for (const auto& [member, args, result, want] : cases) {
    tree = std::make_shared<Tree>();
    SetUp();
    ObjectRef d = open(sample());
    // Counts only what succeeded: A1a refuses every change.
    tree->failing = {"A1a|Name", "A1a|Color"};
    EXPECT_EQ(call(d, member, std::span<const Arg>(args)), Variant(result)) << member;
    Lines changes;
    for (const std::string& l : calls())
      if (l.find(" let ") != std::string::npos || l.find(" call ") != std::string::npos) changes.push_back(l);
    EXPECT_EQ(changes, want) << member;
  }
}

TEST_F(Search, FailingStepsAreSkipped) {
  ObjectRef d = open(sample());
  // A's name and children cannot be read: it is neither matched nor
  // entered, and the walk goes on with B.
  tree->failing = {"A|Name", "A|Children", "B|Style"};
  EXPECT_EQ(call(d, "SetBookmarkStyle", {1, "Intro", false, true, true}), Variant(int32_t(1)));
  EXPECT_EQ(calls(),
            (Lines{"JSO get BookMarkRoot", "Root get Children", "A get Name", "A get Children", "B get Name",
                   "B let Style = 1%", "B get Children", "B1 get Name", "B1 let Style = 1%", "B1 get Children"}));
}

TEST_F(Search, ErrorsOfTheMethodArePassedOn) {
  ObjectRef d = open(sample());
  for (auto [member, args] :
       std::vector<std::pair<const char*, std::vector<Arg>>>{{"BookmarkExists", {"x", "perhaps"}},
                                                             {"SetBookmarkStyle", {"bold", "x"}},
                                                             {"RemoveBookmark", {"x", false, true, "all"}}})
    expectPassedOn([&] { call(d, member, std::span<const Arg>(args)); }, basic::TypeMismatch, member);
  EXPECT_TRUE(calls().empty()) << "options are converted before the root is read";
  tree->failing = {"JSO|BookMarkRoot"};
  using Case = std::pair<const char*, std::vector<Arg>>;
  Variant v;
  Variant red = V({"RGB", 1, 0, 0});
  Variant rows = table({{" x", 1, 1}});
  const std::vector<Case> cases = {{"GetBookmarks", {ByRef(v)}},
                                   {"BookmarkExists", {"x"}},
                                   {"ExecuteBookmark", {"x"}},
                                   {"RemoveBookmark", {}},
                                   {"SetBookmarkName", {"x"}},
                                   {"SetBookmarkAction", {"x"}},
                                   {"SetBookmarkColor", {red}},
                                   {"SetBookmarkStyle", {1}},
                                   {"SetBookmarkExpanded", {true}},
                                   {"SetBookmarkProperty", {red, 1, 1}},
                                   {"CreateBookmarksFromArray", {rows}},
                                   {"CreateBookmarksFromArray2", {rows}},
                                   {"CreateBookmarksFromArray3", {rows}},
                                   {"CreateBookmarksFromPages", {}},
                                   {"CreateBookmarksFromOutline", {}},
                                   {"CreateChildBookmark", {"x"}},
                                   {"CreateChildBookmark", {"x", "parent"}}};
  for (const auto& [member, args] : cases)
    EXPECT_EQ(raised([&] { call(d, member, std::span<const Arg>(args)); }), (Raised{1234, "no outline", "Pressmark"}))
        << member;
}

}  // namespace pm::test
