// Bookmark building against the recording server: the bookmarks each member
// makes, where it puts them, and the action scripts it composes.
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

}  // namespace pm::test
