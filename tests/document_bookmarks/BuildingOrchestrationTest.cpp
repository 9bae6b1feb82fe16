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

TEST_F(Building, TablesOfEachLayout) {
  struct Case {
    const char* member;
    Variant rows;
    bool expand;
    std::string shape;
    Lines made;
  };
  const std::vector<Case> cases = {
      {"CreateBookmarksFromArray",
       table({{"A", 1, 1, 72, 700.5}, {"B", 3, "2", 0, -10}, {"C", 1, 3, 1e20, 0.125}}),
       true,
       "A(B), C",
       {"Root call createChild(\"A\", \"this.pageNum = 0;this.scroll(72, 700.5);\", 0&)",
        "A call createChild(\"B\", \"this.pageNum = 1;this.scroll(0, -10);\", 0&)",
        "Root call createChild(\"C\", \"this.pageNum = 2;this.scroll(1E+20, 0.125);\", 1&)"}},
      // Levels are numbers: 10 is deeper than 9.
      {"CreateBookmarksFromArray",
       table({{"Nine", "9", 1}, {"Ten", "10", 1}}),
       true,
       "Nine(Ten)",
       {"Root call createChild(\"Nine\", \"this.pageNum = 0;\", 0&)",
        "Nine call createChild(\"Ten\", \"this.pageNum = 0;\", 0&)"}},
      // A first row deeper than the later ones never climbs above the root.
      {"CreateBookmarksFromArray",
       table({{"X", 3, 1}, {"Y", 1, 1}, {"Z", 1, 1}}),
       true,
       "X, Y, Z",
       {"Root call createChild(\"X\", \"this.pageNum = 0;\", 0&)",
        "Root call createChild(\"Y\", \"this.pageNum = 0;\", 1&)",
        "Root call createChild(\"Z\", \"this.pageNum = 0;\", 2&)"}},
      {"CreateBookmarksFromArray2",
       table({{"Intro", 1, 72, 700}, {"  Terms", 2, 10.5, 20}, {"    Deep", 3, 1, 2}, {"  Back", 1, 0, 0},
              {"Next", 2, 5, 5}}),
       true,
       "Intro(Terms(Deep)), Back, Next",
       {"Root call createChild(\"Intro\", \"this.pageNum = 0;this.scroll(72, 700);\", 0&)",
        "Intro call createChild(\"Terms\", \"this.pageNum = 1;this.scroll(10.5, 20);\", 0&)",
        "Terms call createChild(\"Deep\", \"this.pageNum = 2;this.scroll(1, 2);\", 0&)",
        "Root call createChild(\"Back\", \"this.pageNum = 0;this.scroll(0, 0);\", 1&)",
        "Root call createChild(\"Next\", \"this.pageNum = 1;this.scroll(5, 5);\", 2&)"}},
      {"CreateBookmarksFromArray2",
       table({{"Intro", 1}, {" Terms", "2"}}),
       false,
       "Intro(Terms)",
       {"Root call createChild(\"Intro\", \"this.pageNum = 0;\", 0&)",
        "Intro call createChild(\"Terms\", \"this.pageNum = 1;\", 0&)"}},
      {"CreateBookmarksFromArray3",
       table({{"Home", "app.alert(1);"}, {" Sub", "this.pageNum = 2;"}}),
       true,
       "Home(Sub)",
       {"Root call createChild(\"Home\", \"app.alert(1);\", 0&)",
        "Home call createChild(\"Sub\", \"this.pageNum = 2;\", 0&)"}},
  };
  for (const Case& c : cases) {
    tree = std::make_shared<Tree>();
    SetUp();
    ObjectRef d = open();
    Variant rows = c.rows;
    EXPECT_EQ(call(d, c.member, {ByRef(rows), c.expand}), Variant(int32_t(rows.array().ubound(1) + 1))) << c.member;
    EXPECT_EQ(made(calls()), c.made) << c.member;
    EXPECT_EQ(shape(), c.shape) << c.member;
    bool collapsed = false;
    for (const std::string& l : calls())
      if (l.find("let Open = False") != std::string::npos) collapsed = true;
    EXPECT_EQ(collapsed, !c.expand) << c.member;
  }
}

TEST_F(Building, NewRowsGoBeforeTheOldOnesWithTheirOwnChildren) {
  ObjectRef d = open({{"O1", "Old one", {{"O1a", "Old child", {}}}}, {"O2", "Old two", {}}});
  Variant t = table({{"A", 1, 1}, {"A1", 2, 1}, {"A2", 2, 1}, {"B", 1, 2}, {"B1", 2, 2}});
  EXPECT_EQ(call(d, "CreateBookmarksFromArray", {t, true}), Variant(int32_t(5)));
  EXPECT_EQ(shape(), "A(A1, A2), B(B1), Old one(Old child), Old two");
}

TEST_F(Building, EmptyAndWrongTables) {
  ObjectRef d = open();
  Variant empty;
  EXPECT_EQ(call(d, "CreateBookmarksFromArray", {ByRef(empty)}), Variant(int32_t(0)));
  EXPECT_EQ(call(d, "CreateBookmarksFromArray2", {Variant(Array::matrix(0, 2))}), Variant(int32_t(0)));
  EXPECT_EQ(call(d, "CreateBookmarksFromArray3", {Variant(Array::matrix(0, 2))}), Variant(int32_t(0)));
  EXPECT_TRUE(made(calls()).empty());
  expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {"Intro"}); }, basic::TypeMismatch, "a text");
  expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {V({"Intro", 1, 1})}); }, basic::SubscriptOutOfRange,
                 "one dimension");
  // A cell meant as a coordinate that would be code is refused before
  // anything is made from its row.
  Variant evil = table({{"Fine", 1, 1, 0, 0}, {"Evil", 1, 1, "0);app.launchURL('http://x.test');//", 5}});
  expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {evil}); }, basic::TypeMismatch, "script in a cell");
  EXPECT_EQ(made(calls()), (Lines{"Root call createChild(\"Fine\", \"this.pageNum = 0;this.scroll(0, 0);\", 0&)"}));
  expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {table({{"P", 1, "one"}})}); }, basic::TypeMismatch,
                 "a page that is no number");
  expectPassedOn([&] { call(d, "CreateBookmarksFromArray", {table({{"P", "top", 1}, {"Q", 1, 1}})}); },
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

TEST_F(Building, OneBookmarkPerPage) {
  ObjectRef d = open();
  rec->on("JSO", "NumPages").returns(Variant(int32_t(3)));
  EXPECT_EQ(call(d, "CreateBookmarksFromPages"), Variant(int32_t(3)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "JSO get NumPages",
                            "Root call createChild(\"Page 1\", \"this.pageNum = 0\", 0&)",
                            "Root call createChild(\"Page 2\", \"this.pageNum = 1\", 1&)",
                            "Root call createChild(\"Page 3\", \"this.pageNum = 2\", 2&)"}));
  rec->clear();
  EXPECT_EQ(call(d, "CreateBookmarksFromPages", {"Seite "}), Variant(int32_t(3)));
  EXPECT_EQ(made(calls())[2], "Root call createChild(\"Seite 3\", \"this.pageNum = 2\", 2&)");
}

TEST_F(Building, ChildOfTheRoot) {
  struct Case {
    std::vector<Arg> args;
    Lines calls;
  };
  Variant red = V({"RGB", 1, 0, 0});
  const std::vector<Case> cases = {
      {{"N"},
       {"JSO get BookMarkRoot", "Root call createChild(\"N\", \"this.pageNum++;\", 0%)", "Root let Open = False",
        "Root get Children"}},
      {{"N", "", 5}, {"Root call createChild(\"N\", \"this.pageNum = 4;\", 0%)"}},
      {{"N", " ", 5, 0, Variant::nothing(), 0, false, true, 10, 20},
       {"Root call createChild(\"N\", \"this.pageNum = 4;this.scroll(10, 20);\", 0%)"}},
      {{"N", "", 0, 0, Variant::nothing(), 0, false, true, 10.5, "20"},
       {"Root call createChild(\"N\", \"this.pageNum++;this.scroll(10.5, 20);\", 0%)"}},
      {{"N", "", 2, 0, Variant::nothing(), 0, false, true, 10, 20, false, "app.alert(\"hi\");"},
       {"Root call createChild(\"N\", \"app.alert(\"\"hi\"\");\", 0%)"}},
      // Colour and style go to the bookmark just made, wherever the viewer
      // put it; expanded: nothing is collapsed.
      {{"N", "", 1, 9, red, 2, false, true, 0, 0, true},
       {"JSO get BookMarkRoot", "Root call createChild(\"N\", \"this.pageNum = 0;\", 9%)", "Root get Children",
        "N let Color = Array(\"RGB\", 1&, 0&, 0&)", "N let Style = 2&"}},
      {{"N", "", 1, 0, red, 7}, {"N let Color = Array(\"RGB\", 1&, 0&, 0&)"}},
  };
  for (const Case& c : cases) {
    tree = std::make_shared<Tree>();
    SetUp();
    ObjectRef d = open({{"O1", "Old", {}}});
    EXPECT_EQ(call(d, "CreateChildBookmark", std::span<const Arg>(c.args)), Variant(int16_t(1)));
    Lines all = calls();
    if (c.calls.size() == 1) {
      Lines picked;
      for (const std::string& l : all)
        if (l.find(" let ") != std::string::npos && l.find("Open") == std::string::npos) picked.push_back(l);
      if (c.calls[0].find("createChild") != std::string::npos) picked = made(all);
      EXPECT_EQ(picked, c.calls);
    } else {
      EXPECT_EQ(all, c.calls);
    }
  }
}

TEST_F(Building, ChildUnderEveryMatch) {
  std::vector<Item> items = {{"A", "Alpha", {{"A1", "Intro", {}}, {"A2", "Intro", {}}}}, {"B", "intro", {}}};
  ObjectRef d = open(items);
  Variant red = V({"RGB", 1, 0, 0});
  EXPECT_EQ(call(d, "CreateChildBookmark", {"Kid", "Intro", 0, 3, red, 1}), Variant(int16_t(2)));
  EXPECT_EQ(calls(), (Lines{"JSO get BookMarkRoot", "Root get Children", "A get Name", "A get Children",
                            "A1 get Name", "A1 call createChild(\"Kid\", \"this.pageNum = 0;\", 3%)",
                            "A1 let Open = False", "A1 get Children", "Kid let Color = Array(\"RGB\", 1&, 0&, 0&)",
                            "Kid let Style = 1&", "B get Name",
                            "B call createChild(\"Kid\", \"this.pageNum = 0;\", 3%)", "B let Open = False",
                            "B get Children", "Kid' let Color = Array(\"RGB\", 1&, 0&, 0&)", "Kid' let Style = 1&"}));
  EXPECT_EQ(shape(), "Alpha(Intro(Kid), Intro), intro(Kid)");

  struct Case {
    std::vector<Arg> args;
    int16_t result;
    Lines made;
  };
  const std::vector<Case> cases = {
      {{"K", "Intro", 3, 0, Variant::nothing(), 0, true, true, 10, 20},
       1,
       {"A1 call createChild(\"K\", \"this.pageNum = 2;this.scroll(10, 20);\", 0%)"}},
      {{"K", "Nowhere"}, 0, {}},
      {{"K", "intro", 1, 0, Variant::nothing(), 0, false, true, 0, 0, true, "app.beep(0);"},
       2,
       {"A1 call createChild(\"K\", \"app.beep(0);\", 0%)", "B call createChild(\"K\", \"app.beep(0);\", 0%)"}},
  };
  for (const Case& c : cases) {
    tree = std::make_shared<Tree>();
    SetUp();
    ObjectRef d2 = open(items);
    EXPECT_EQ(call(d2, "CreateChildBookmark", std::span<const Arg>(c.args)), Variant(c.result));
    EXPECT_EQ(made(calls()), c.made);
  }
  // Only a child that was made counts; the walk goes on after a failure.
  tree = std::make_shared<Tree>();
  SetUp();
  d = open(items);
  tree->failing = {"A1|createChild"};
  EXPECT_EQ(call(d, "CreateChildBookmark", {"K", "intro"}), Variant(int16_t(1)));
  EXPECT_EQ(shape(), "Alpha(Intro, Intro), intro(K)");
  expectPassedOn([&] { call(d, "CreateChildBookmark", {"K", "intro", 0, 0, Variant::nothing(), 0, false, true, "x"}); },
                 basic::TypeMismatch, "x that is no number");
  expectPassedOn([&] { call(d, "CreateChildBookmark", {"K", "", "first"}); }, basic::TypeMismatch,
                 "page that is no number");
}

// Page 0 of a scripted document: its words with their quads.
struct Word {
  const char* text;
  double x, y;
};

TEST_F(Building, HeadingsOfANumberedOutline) {
  const std::vector<Word> words = {{"1. ", 72, 700},     {"Scope\r\n", 90, 700}, {"1.1 ", 72, 682},
                                   {"Terms ", 95, 682},  {"1.2\r\n", 130, 682},  {"3.1. ", 72, 664},
                                   {"3 ", 72, 646},      {"x\r\n", 80, 646},     {"2. ", 72.5, 628},
                                   {"Use ", 90, 628},    {"\tit", 120, 628},     {"4. ", 72, 610},
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
