// Bookmark search and change against the recording server: the calls each
// member makes on the bookmark objects, in order, and what it counts.
#include "Model.h"

namespace bmtest {
namespace {

// A (A1 "Intro" (A1a), A2), B "Intro" (B1)
std::vector<Item> sample() {
  return {{"A", "Alpha", {{"A1", "Intro", {{"A1a", "Intro detail", {}}}}, {"A2", "Scope", {}}}},
          {"B", "Intro", {{"B1", "Intro", {}}}}};
}

using Search = BookmarkModel;

TEST_F(Search, StyleByNameStopsPerListOfChildren) {
  ObjectRef d = open(sample());
  EXPECT_EQ(call(d, "SetBookmarkStyle", {2, "Intro"}), Variant(int32_t(2)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "Root get Children", "A get Name", "A get Children", "A1 get Name",
                            "A1 let Style = 2%", "B get Name", "B let Style = 2%"}));
  rec->clear();
  // Every match, the children of a match searched as well.
  EXPECT_EQ(call(d, "SetBookmarkStyle", {7, "intro", false, false, true}), Variant(int32_t(4)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "Root get Children", "A get Name", "A get Children", "A1 get Name",
                            "A1 let Style = 0%", "A1 get Children", "A1a get Name", "A1a let Style = 0%",
                            "A1a get Children", "A2 get Name", "A2 get Children", "B get Name", "B let Style = 0%",
                            "B get Children", "B1 get Name", "B1 let Style = 0%", "B1 get Children"}))
      << "style 7 becomes 0; part of the name, case ignored";
}

TEST_F(Search, EmptySearchTextTakesBookmarksInOrder) {
  struct Case {
    const char* member;
    std::vector<Arg> args;
    int32_t result;
    Lines changes;
  };
  const std::vector<Case> cases = {
      {"SetBookmarkName", {"New"}, 1, {"A let Name = \"New\""}},
      {"SetBookmarkName",
       {"New", "  ", false, true, true},
       5,
       {"A let Name = \"New\"", "A1 let Name = \"New\"", "A1a let Name = \"New\"", "A2 let Name = \"New\"",
        "B let Name = \"New\"", "B1 let Name = \"New\""}},
      {"SetBookmarkAction", {"this.pageNum = 1;"}, 1, {"A call setAction(\"this.pageNum = 1;\")"}},
      {"SetBookmarkColor", {V({"RGB", 1, 0, 0})}, 1, {"A let Color = Array(\"RGB\", 1&, 0&, 0&)"}},
      // A bare triple is RGB.
      {"SetBookmarkColor", {V({1, 0, 0})}, 1, {"A let Color = Array(\"RGB\", 1&, 0&, 0&)"}},
  };
  for (const Case& c : cases) {
    tree = std::make_shared<Tree>();
    SetUp();
    ObjectRef d = open(sample());
    // Counts only what succeeded: A1a refuses every change.
    tree->failing = {"A1a|Name", "A1a|Color"};
    EXPECT_EQ(call(d, c.member, std::span<const Arg>(c.args)), Variant(c.result)) << c.member;
    Lines changes;
    for (const std::string& l : calls())
      if (l.find(" let ") != std::string::npos || l.find(" call ") != std::string::npos) changes.push_back(l);
    EXPECT_EQ(changes, c.changes) << c.member;
  }
}

TEST_F(Search, RemovingNeverEntersARemovedBookmark) {
  ObjectRef d = open(sample());
  EXPECT_EQ(call(d, "RemoveBookmark"), Variant(int32_t(2)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "Root get Children", "A call Remove()", "B call Remove()"}));
  EXPECT_EQ(shape(), "");

  tree = std::make_shared<Tree>();
  SetUp();
  d = open(sample());
  // A bookmark that stays is searched further; its removed children count.
  tree->failing = {"A|Remove"};
  EXPECT_EQ(call(d, "RemoveBookmark"), Variant(int32_t(3)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "Root get Children", "A call Remove()", "A get Children",
                            "A1 call Remove()", "A2 call Remove()", "B call Remove()"}));
  EXPECT_EQ(shape(), "Alpha");

  tree = std::make_shared<Tree>();
  SetUp();
  d = open(sample());
  EXPECT_EQ(call(d, "RemoveBookmark", {"intro", false, true, true}), Variant(int32_t(2)));
  EXPECT_EQ(shape(), "Alpha(Scope)");
}

TEST_F(Search, NamesAreListedWhole) {
  std::vector<Item> items = sample();
  items.push_back({"C", "Terms ~ conditions", {}});
  items.push_back({"D", "Введение", {}});
  ObjectRef d = open(items);
  Variant names;
  EXPECT_EQ(call(d, "GetBookmarks", {ByRef(names)}), Variant(int32_t(8)));
  EXPECT_EQ(names, V({"Alpha", "Intro", "Intro detail", "Scope", "Intro", "Intro", "Terms ~ conditions", "Введение"}));
  struct Case {
    std::vector<Arg> args;
    bool exists;
  };
  const std::vector<Case> cases = {
      {{"intro"}, true},
      {{"intro", true}, false},
      {{"Int", false, false}, true},
      {{"Terms "}, false},
      {{"~"}, false},
      {{"~", false, false}, true},
      {{"ВВЕДЕНИЕ"}, true},
      {{"введение", true}, false},
      {{"веден", false, false}, true},
      {{"Intro detail"}, true},
      {{"conditions", true, false}, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(call(d, "BookmarkExists", std::span<const Arg>(c.args)), Variant(c.exists))
        << recording::Describe(c.args[0].get());
}

TEST_F(Search, NoBookmarksListNothing) {
  ObjectRef d = open();
  Variant names = V({"stale"});
  EXPECT_EQ(call(d, "GetBookmarks", {ByRef(names)}), Variant(int32_t(0)));
  ASSERT_TRUE(names.isArray());
  EXPECT_EQ(names.array().ubound(1), -1);
  EXPECT_EQ(call(d, "BookmarkExists", {"x"}), Variant(false));
  EXPECT_EQ(call(d, "BookmarkExists", {"", false, false}), Variant(false));
  EXPECT_EQ(call(d, "RemoveBookmark"), Variant(int32_t(0)));
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
  expectPassedOn([&] { call(d, "BookmarkExists", {"x", "perhaps"}); }, basic::TypeMismatch, "case option");
  expectPassedOn([&] { call(d, "SetBookmarkStyle", {"bold", "x"}); }, basic::TypeMismatch, "style");
  expectPassedOn([&] { call(d, "RemoveBookmark", {"x", false, true, "all"}); }, basic::TypeMismatch, "all option");
  EXPECT_TRUE(calls().empty()) << "options are converted before the root is read";
  tree->failing = {"JSO|BookMarkRoot"};
  struct Case {
    const char* member;
    std::vector<Arg> args;
  };
  Variant v;
  Variant red = V({"RGB", 1, 0, 0});
  Array rows = Array::matrix(1, 3);
  rows.set({0, 0}, " x");
  rows.set({0, 1}, 1);
  rows.set({0, 2}, 1);
  Variant table(rows);
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
                                   {"CreateBookmarksFromArray", {table}},
                                   {"CreateBookmarksFromArray2", {table}},
                                   {"CreateBookmarksFromArray3", {table}},
                                   {"CreateBookmarksFromPages", {}},
                                   {"CreateBookmarksFromOutline", {}},
                                   {"CreateChildBookmark", {"x"}},
                                   {"CreateChildBookmark", {"x", "parent"}}};
  for (const Case& c : cases) {
    try {
      call(d, c.member, std::span<const Arg>(c.args));
      ADD_FAILURE() << c.member;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), 1234) << c.member;
      EXPECT_EQ(e.description(), "no outline") << c.member;
      EXPECT_EQ(e.source(), "Pressmark") << c.member;
    }
  }
}

}  // namespace
}  // namespace bmtest
