// Bookmark building, search and change against the recording server: the
// bookmarks each member makes and where, the calls each member makes on the
// bookmark objects, in order, and what it counts.
#include "Model.h"

namespace pm::test {

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
