// Bookmark search and change against the recording server: the calls each
// member makes on the bookmark objects, in order, and what it counts.
#include "Model.h"

namespace pm::test {
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
