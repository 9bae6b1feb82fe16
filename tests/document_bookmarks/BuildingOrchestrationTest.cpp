// Bookmark building against the recording server: the bookmarks each member
// makes, where it puts them, and the action scripts it composes.
#include "Model.h"

namespace pm::test {
namespace {

using Building = BookmarkModel;

Variant table(std::initializer_list<std::vector<Variant>> rows) {
  int32_t n = static_cast<int32_t>(rows.size());
  int32_t cols = n ? static_cast<int32_t>(rows.begin()->size()) : 0;
  Array a = Array::matrix(n, cols);
  int32_t r = 0;
  for (const auto& row : rows) {
    for (int32_t c = 0; c < cols; ++c) a.set({r, c}, row[static_cast<size_t>(c)]);
    ++r;
  }
  return Variant(std::move(a));
}

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
  expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {"Intro"}); }, basic::TypeMismatch, "a text");
  expectPassedOn(
      [&] {
        call(d, "CreateBookmarksFromArray", {V({"Intro", 1, 1})});
      },
      basic::SubscriptOutOfRange, "one dimension");
  // A cell meant as a coordinate that would be code is refused before
  // anything is made from its row.
  Variant evil = table({{"Fine", 1, 1, 0, 0}, {"Evil", 1, 1, "0);app.launchURL('http://x.test');//", 5}});
  expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {evil}); }, basic::TypeMismatch, "script in a cell");
  EXPECT_EQ(made(calls()), (Lines{"Root call createChild(\"Fine\", \"this.pageNum = 0;this.scroll(0, 0);\", 0&)"}));
  expectPassedOn(
      [&] {
        call(d, "CreateBookmarksFromArray", {table({{"P", 1, "one"}})});
      },
      basic::TypeMismatch, "a page that is no number");
  expectPassedOn(
      [&] {
        call(d, "CreateBookmarksFromArray", {table({{"P", "top", 1}, {"Q", 1, 1}})});
      },
      basic::TypeMismatch, "a level that is no number");
  tree->failing = {"Root|createChild"};
  try {
    call(d, "CreateBookmarksFromArray", {table({{"P", 1, 1}})});
    ADD_FAILURE();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.description(), "cannot create");
    EXPECT_EQ(e.source(), "Pressmark");
  }
}

}  // namespace
}  // namespace pm::test
