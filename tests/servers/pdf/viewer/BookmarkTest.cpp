// Bookmarks: the JavaScript nodes over the file's outline and
// AcroExch.PDBookmark.

#include "support/PdfRead.h"

namespace pm::test {

class Bookmarks : public JsTest {
 protected:
  void SetUp() override {
    JsTest::SetUp();
    root = objectOf(get(js, "BookMarkRoot"));
  }
  static std::vector<ObjectRef> kids(const ObjectRef& node) {
    Variant v = get(node, "Children");
    std::vector<ObjectRef> out;
    if (v.isArray())
      for (const Variant& x : v.array().data()) out.push_back(objectOf(x));
    return out;
  }
  std::vector<std::string> savedTitles() {
    call(pd, "Save", {1, path});
    std::vector<std::string> t;
    flatten(readBack(path).outline, 0, t);
    return t;
  }
  // The statement is stopped by the script time-out.
  template <class F>
  static void expectStopped(F&& f, const char* what) {
    EXPECT_THAT(raised(f).description, HasSubstr("ran longer than 1 seconds")) << what;
  }
  ObjectRef root;
};

TEST_F(Bookmarks, OpenStateComesFromTheFileAndANewParentShowsItsChild) {
  std::vector<ObjectRef> top = kids(root);
  EXPECT_TRUE(CBool(get(top[0], "open")));
  EXPECT_FALSE(CBool(get(kids(top[0])[0], "open")));
  EXPECT_TRUE(CBool(get(root, "open"))) << "the root is always open";
  ObjectRef leaf = kids(kids(top[0])[0])[0];
  call(leaf, "createChild", {"Level four", "", 0});
  EXPECT_EQ(kids(leaf).size(), 1u);
  EXPECT_TRUE(CBool(get(leaf, "open")));
}

// A document without an outline gets one with its first bookmark only
// (RealBookmarks.BuildingFromTheThreeLayouts builds under an empty root).
TEST_F(Bookmarks, ReadingAnEmptyRootAddsNoOutline) {
  std::string plain = dir.file("plain.pdf");
  makePdf(plain, textPages({{}}));
  ObjectRef d = openPDDoc(plain);
  ObjectRef r = objectOf(get(objectOf(call(d, "GetJSObject")), "bookmarkRoot"));
  EXPECT_TRUE(get(r, "children").isNull());
  call(d, "Save", {0, plain});
  EXPECT_EQ(outlineEntry(plain, {}, "Type"), "<no item>") << "reading the root adds no outline";
}

// A document's script gets a time limit, however it loops; the engine runs
// scripts again afterwards, and a failing script is a clear error.
TEST_F(Bookmarks, EndlessScriptsAreStopped) {
  ObjectRef top = kids(root)[0];
  call(top, "setAction", {"this.noSuchFunction();"});
  EXPECT_RAISES("script", call(top, "execute"));
  ScopedEnv limit("PRESSMARK_SCRIPT_SECONDS", "1");
  for (const char* loop : {"while(true){}", "for(;;){try{for(;;){}}catch(e){}finally{for(;;){}}}",
                           "function f(){try{f()}catch(e){} try{f()}catch(e){}} f();"}) {
    call(top, "setAction", {loop});
    expectStopped([&] { call(top, "execute"); }, loop);
  }
  call(top, "setAction", {"this.pageNum = 1;var s = 0; for (var i = 0; i < 1000; ++i) s += i;"});
  EXPECT_NO_THROW(call(top, "execute"));
  let(objectOf(call(js, "addField", {"sum", "text", 0, V({10, 10, 100, 30})})), "value", "1");
  call(objectOf(call(js, "getField", {"sum"})), "setAction", {"Calculate", "while(1){}"});
  expectStopped([&] { call(js, "calculateNow"); }, "calculation");
  // A document-level script runs when a later call turns scripts on, here
  // on the saved file opened again; it is stopped like any other.
  call(js, "addScript", {"spin", "while(true){}"});
  call(pd, "Save", {1, path});
  ObjectRef again = objectOf(call(openPDDoc(path), "GetJSObject"));
  expectStopped([&] { call(again, "calculateNow"); }, "document script");
}

TEST_F(Bookmarks, RemoveAndReferencesSurviveASave) {
  std::vector<ObjectRef> top = kids(root);
  ObjectRef section = kids(top[0])[1];
  call(kids(top[0])[0], "remove");
  // Saving onto the open file reopens it; kept nodes follow.
  call(pd, "Save", {1, path});
  EXPECT_EQ(CStr(get(section, "name")), "Section 1.2");
  let(section, "name", "Renamed after save");
  EXPECT_EQ(savedTitles(), (std::vector<std::string>{"Chapter 1@0", "  Renamed after save@1", "Chapter 2@2"}));
}

TEST_F(Bookmarks, PDBookmarkFindsRenamesAndPerforms) {
  ObjectRef bm = CreateObject(acrobat::kPDBookmark);
  EXPECT_FALSE(CBool(call(bm, "GetByTitle", {Variant(pd), "No such title"})));
  EXPECT_FALSE(CBool(call(bm, "IsValid")));
  EXPECT_TRUE(CBool(call(bm, "GetByTitle", {Variant(pd), "Detail 1.1.1"})));
  EXPECT_TRUE(CBool(call(bm, "SetTitle", {"Detail renamed"})));
  EXPECT_EQ(CStr(call(bm, "GetTitle")), "Detail renamed");
  ObjectRef av = objectOf(call(pd, "OpenAVDoc", {"t"}));
  EXPECT_TRUE(CBool(call(bm, "Perform", {Variant(av)})));
  EXPECT_EQ(CLng(get(js, "pageNum")), 1);
  call(av, "Close", {true});
  EXPECT_EQ(savedTitles()[2], "    Detail renamed@1");
}

}  // namespace pm::test
