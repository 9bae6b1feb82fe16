// Bookmark building against the recording server: the bookmarks each member
// makes, where it puts them, and the action scripts it composes.
#include "Model.h"

namespace bmtest {
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

TEST_F(Building, LevelsDescendOneAndAscendTheWholeDifference) {
  ObjectRef d = open();
  Variant t = table({{"Intro", 1, 1}, {"Terms", 2, 3}, {"Deep", 3, 1}, {"Next", 1, 2}});
  EXPECT_EQ(call(d, "CreateBookmarksFromArray", {t}), Variant(int32_t(4)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "Root call createChild(\"Intro\", \"this.pageNum = 0;\", 0&)",
                            "Root let Open = False", "Root get Children",
                            "Intro call createChild(\"Terms\", \"this.pageNum = 2;\", 0&)", "Intro let Open = False",
                            "Intro get Children", "Terms call createChild(\"Deep\", \"this.pageNum = 0;\", 0&)",
                            "Terms let Open = False", "Root call createChild(\"Next\", \"this.pageNum = 1;\", 1&)",
                            "Root let Open = False"}));
  EXPECT_EQ(shape(), "Intro(Terms(Deep)), Next");
}

TEST_F(Building, NewRowsGoBeforeTheOldOnesWithTheirOwnChildren) {
  ObjectRef d = open({{"O1", "Old one", {{"O1a", "Old child", {}}}}, {"O2", "Old two", {}}});
  Variant t = table({{"A", 1, 1}, {"A1", 2, 1}, {"A2", 2, 1}, {"B", 1, 2}, {"B1", 2, 2}});
  EXPECT_EQ(call(d, "CreateBookmarksFromArray", {t, true}), Variant(int32_t(5)));
  EXPECT_EQ(shape(), "A(A1, A2), B(B1), Old one(Old child), Old two");
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

// Page 0 of a scripted document: its words with their quads.
struct Word {
  const char* text;
  double x, y;
};

TEST_F(Building, HeadingsOfANumberedOutline) {
  const std::vector<Word> words = {{"1. ", 72, 700},
                                   {"Scope\r\n", 90, 700},
                                   {"1.1 ", 72, 682},
                                   {"Terms ", 95, 682},
                                   {"1.2\r\n", 130, 682},
                                   {"3.1. ", 72, 664},
                                   {"3 ", 72, 646},
                                   {"x\r\n", 80, 646},
                                   {"2. ", 72.5, 628},
                                   {"Use ", 90, 628},
                                   {"\tit", 120, 628},
                                   {"4. ", 72, 610},
                                   // on a baseline of its own, as CJK text beside a Latin number sits
                                   {"标题", 90, 606}};
  ObjectRef d = open();
  rec->on("JSO", "NumPages").returns(Variant(int32_t(1)));
  rec->on("JSO", "getPageNumWords").returns(Variant(int32_t(words.size())));
  rec->on("JSO", "GetPageNthWord").does([&](RecordedObject&, std::span<const Arg> a) {
    return Variant(words[static_cast<size_t>(CLng(a[1].get()))].text);
  });
  rec->on("JSO", "GetPageNthWordQuads").does([&](RecordedObject&, std::span<const Arg> a) {
    const Word& w = words[static_cast<size_t>(CLng(a[1].get()))];
    return V({V({w.x, w.y, w.x + 10, w.y, w.x, w.y - 12, w.x + 10, w.y - 12})});
  });
  EXPECT_EQ(call(d, "CreateBookmarksFromOutline"), Variant(int32_t(4)));
  EXPECT_EQ(made(calls()),
            (Lines{"Root call createChild(\"1. Scope\", \"this.pageNum = 0;this.scroll(72, 700);\", 0&)",
                   "1. Scope call createChild(\"1.1 Terms 1.2\", \"this.pageNum = 0;this.scroll(72, 682);\", 0&)",
                   "Root call createChild(\"2. Use it\", \"this.pageNum = 0;this.scroll(72.5, 628);\", 1&)",
                   "Root call createChild(\"4. 标题\", \"this.pageNum = 0;this.scroll(72, 610);\", 2&)"}));
  EXPECT_EQ(shape(), "1. Scope(1.1 Terms 1.2), 2. Use it, 4. 标题");
  bool collapsed = false;
  for (const std::string& l : calls())
    if (l == "Root let Open = False") collapsed = true;
  EXPECT_TRUE(collapsed);
  // A page range without headings makes nothing.
  tree = std::make_shared<Tree>();
  SetUp();
  rec->on("JSO", "getPageNumWords").returns(Variant(int32_t(0)));
  ObjectRef d2 = open();
  EXPECT_EQ(call(d2, "CreateBookmarksFromOutline", {2, 2}), Variant(int32_t(0)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "JSO call getPageNumWords(1&)"}));
}

}  // namespace
}  // namespace bmtest
