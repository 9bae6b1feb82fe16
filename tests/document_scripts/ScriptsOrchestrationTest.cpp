// Scripts, actions, named objects, form data, mail, submission and spelling
// of Document against the recording server: the forwarded calls with their
// arguments in order, and the spelling loop.
#include <gtest/gtest.h>

#include <map>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"

namespace {

using namespace pm;
using pm::recording::Recorder;
using Lines = std::vector<std::string>;

class ScriptsOrchestration : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    pm::test::recordViewerDocument(*rec);
    moduleState().strAcrobatVersion = "7.1";
    d = createDocument();
    rec->clear();
  }
  void TearDown() override { d.reset(); }
  std::shared_ptr<Recorder> rec;
  ObjectRef d;
};

TEST_F(ScriptsOrchestration, ScriptsActionsAndNamedObjectsForwardTheirArguments) {
  struct Case {
    const char* member;
    std::vector<Variant> args;
    const char* line;
  };
  const Case cases[] = {
      {"AddScript", {"init", "var x = 1;"}, "JSO call AddScript(\"init\", \"var x = 1;\")"},
      {"RemoveScript", {"init"}, "JSO call RemoveScript(\"init\")"},
      {"SetDocumentAction", {3, "app.alert(1);"}, "JSO call setAction(\"WillPrint\", \"app.alert(1);\")"},
      {"SetDocumentAction", {9, "x"}, "JSO call setAction(\"WillClose\", \"x\")"},
      {"SetDocumentAction", {Variant(int16_t(2)), ""}, "JSO call setAction(\"DidSave\", \"\")"},
      {"SetPageAction", {1, 1, "a"}, "JSO call SetPageAction(0&, \"Close\", \"a\")"},
      {"SetPageAction", {0, 0, "b"}, "JSO call SetPageAction(0&, \"Open\", \"b\")"},
      {"SetPageAction", {-2, 7, "c"}, "JSO call SetPageAction(-2&, \"Open\", \"c\")"},
      {"SetPageAction", {Variant(int16_t(3)), 0, "d"}, "JSO call SetPageAction(2%, \"Open\", \"d\")"},
      {"SetPageAction", {2.5, 0, "e"}, "JSO call SetPageAction(1.5#, \"Open\", \"e\")"},
      {"ExportDataObject", {"notes"}, "JSO call ExportDataObject(\"notes\", \"\", False, 0%)"},
      {"ExportDataObject",
       {"notes", "/out/n.txt", true},
       "JSO call ExportDataObject(\"notes\", \"/out/n.txt\", True, 0%)"},
      {"RemoveDataObject", {"notes"}, "JSO call RemoveDataObject(\"notes\")"},
      {"DeleteSound", {"beep"}, "JSO call DeleteSound(\"beep\")"},
      {"RemoveIcon", {"pic"}, "JSO call RemoveIcon(\"pic\")"},
  };
  for (const Case& c : cases) {
    rec->clear();
    std::vector<Arg> args(c.args.begin(), c.args.end());
    EXPECT_TRUE(call(d, c.member, std::span<const Arg>(args)).isEmpty()) << c.member;
    EXPECT_EQ(rec->transcript(), Lines{c.line}) << c.member;
  }
}

TEST_F(ScriptsOrchestration, AttachFileAnswersTheEmbeddingResultAsBoolean) {
  rec->on("JSO", "importDataObject").returns(Variant(int16_t(-1))).returns(Variant(false));
  EXPECT_EQ(call(d, "AttachFile", {"data", "/path/notes.txt"}), Variant(true));
  EXPECT_EQ(call(d, "AttachFile", {"data", "/path/other.txt"}), Variant(false));
  EXPECT_EQ(rec->transcript(), (Lines{"JSO call importDataObject(\"data\", \"/path/notes.txt\")",
                                      "JSO call importDataObject(\"data\", \"/path/other.txt\")"}));
}

TEST_F(ScriptsOrchestration, FormDataMembersPassEveryParameterWithItsDefault) {
  struct Case {
    const char* member;
    std::vector<Variant> args;
    const char* line;
  };
  const Variant fields = V({"a", "b"});
  const Case cases[] = {
      {"ExportAsFDF", {}, "JSO call ExportAsFDF(False, True, Nothing, False, \"\", False)"},
      {"ExportAsFDF",
       {true, false, fields, true, "/o/f.fdf", true},
       "JSO call ExportAsFDF(True, False, Array(\"a\", \"b\"), True, \"/o/f.fdf\", True)"},
      {"ExportAsXFDF", {}, "JSO call ExportAsXFDF(False, True, Nothing, \"\", False)"},
      {"ExportAsXFDF",
       {true, true, Variant::missing(), "/tmp/f.xfdf"},
       "JSO call ExportAsXFDF(True, True, Nothing, \"/tmp/f.xfdf\", False)"},
      {"ExportAsText", {}, "JSO call ExportAsText(True, Nothing, \"\")"},
      {"ExportAsText", {false, fields, "/o/t.txt"}, "JSO call ExportAsText(False, Array(\"a\", \"b\"), \"/o/t.txt\")"},
      {"ExportXFAData", {}, "JSO call ExportXFAData(\"\", True)"},
      {"ExportXFAData", {"/o/x.xdp", false}, "JSO call ExportXFAData(\"/o/x.xdp\", False)"},
      {"ImportAnFDF", {}, "JSO call ImportAnFDF(\"\")"},
      {"ImportAnFDF", {"/i/f.fdf"}, "JSO call ImportAnFDF(\"/i/f.fdf\")"},
      {"ImportAnXFDF", {"/i/f.xfdf"}, "JSO call ImportAnXFDF(\"/i/f.xfdf\")"},
      {"ImportTextData", {}, "JSO call ImportTextData(\"\", 0&)"},
      {"ImportTextData", {"/i/t.txt", Variant(int16_t(3))}, "JSO call ImportTextData(\"/i/t.txt\", 3%)"},
      {"ImportTextData", {"/i/t.txt", "2"}, "JSO call ImportTextData(\"/i/t.txt\", \"2\")"},
      {"ImportXFAData", {"/i/x.xml"}, "JSO call ImportXFAData(\"/i/x.xml\")"},
  };
  for (const Case& c : cases) {
    rec->clear();
    std::vector<Arg> args(c.args.begin(), c.args.end());
    call(d, c.member, std::span<const Arg>(args));
    EXPECT_EQ(rec->transcript(), Lines{c.line}) << c.member;
  }
}

TEST_F(ScriptsOrchestration, MailMembersPassTheirSixParameters) {
  call(d, "EmailDocument");
  call(d, "EmailForm", {false, "a@x.org", "b@x.org", "c@x.org", "Subject", "Body"});
  call(d, "EmailDocument", {Named("strTo", "z@x.org"), Named("blnShowWindow", false)});
  EXPECT_EQ(rec->transcript(),
            (Lines{"JSO call MailDoc(True, \"\", \"\", \"\", \"\", \"\")",
                   "JSO call MailForm(False, \"a@x.org\", \"b@x.org\", \"c@x.org\", \"Subject\", \"Body\")",
                   "JSO call MailDoc(False, \"z@x.org\", \"\", \"\", \"\", \"\")"}));
}

TEST_F(ScriptsOrchestration, SubmitFormToURLTakesThirteenOrFourteenArgumentsByVersion) {
  struct Case {
    const char* version;
    std::vector<Variant> args;
    const char* line;
  };
  const Case cases[] = {
      {"7.1",
       {"http://h/s"},
       "JSO call submitForm(\"http://h/s\", True, False, \"\", False, False, False, False, False, False, False, "
       "False, \"\", False)"},
      {"6.0",
       {"http://h/s", false, true, V({"a"}), true, true, true, true, true, true, true, true, "pw", true},
       "JSO call submitForm(\"http://h/s\", False, True, Array(\"a\"), True, True, True, True, True, True, True, "
       "True, \"pw\", True)"},
      {"5.0",
       {"http://h/s", false, true, V({"a"}), true, true, true, true, true, true, true, true, "pw", true},
       "JSO call submitForm(\"http://h/s\", False, True, Array(\"a\"), True, True, True, True, True, True, True, "
       "True, \"pw\")"},
      {"",
       {"http://h/s"},
       "JSO call submitForm(\"http://h/s\", True, False, \"\", False, False, False, False, False, False, False, "
       "False, \"\")"},
      {"5.1",
       {"http://h/s", true, false, "a"},
       "JSO call submitForm(\"http://h/s\", True, False, \"\", False, False, False, False, False, False, False, "
       "False, \"\", False)"},
  };
  for (const Case& c : cases) {
    moduleState().strAcrobatVersion = c.version;
    rec->clear();
    std::vector<Arg> args(c.args.begin(), c.args.end());
    call(d, "SubmitFormToURL", std::span<const Arg>(args));
    EXPECT_EQ(rec->transcript(), Lines{c.line}) << "version " << c.version;
  }
}

TEST_F(ScriptsOrchestration, ForwardedFailuresReachTheCaller) {
  rec->on("JSO", "ImportAnFDF").fails(1001, "File /i/f.fdf does not exist");
  try {
    call(d, "ImportAnFDF", {"/i/f.fdf"});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 1001);
    EXPECT_EQ(e.description(), "File /i/f.fdf does not exist");
  }
}

// ---- SpellCheckPDF ----

class SpellCheck : public ScriptsOrchestration {
 protected:
  // Pages of words; the words in questioned are answered with their
  // suggestions, the others with Null.
  void script(const std::vector<std::vector<std::string>>& pages,
              const std::map<std::string, std::vector<std::string>>& questioned) {
    rec->on("JSO", "NumPages").returns(Variant(int32_t(pages.size())));
    rec->on("JSO", "getPageNumWords").does([pages](auto&, std::span<const Arg> a) {
      return Variant(int32_t(pages.at(static_cast<size_t>(CLng(a[0].get()))).size()));
    });
    rec->on("JSO", "GetPageNthWord").does([pages](auto&, std::span<const Arg> a) {
      return Variant(pages.at(static_cast<size_t>(CLng(a[0].get()))).at(static_cast<size_t>(CLng(a[1].get()))));
    });
    rec->on("JSO", "spell").returnsObject("spell");
    rec->on("spell", "checkWord").does([questioned](auto&, std::span<const Arg> a) {
      auto it = questioned.find(CStr(a[0].get()));
      if (it == questioned.end()) return Variant::null();
      std::vector<Variant> s(it->second.begin(), it->second.end());
      return Variant(Array::vector(std::move(s)));
    });
  }
};

TEST_F(SpellCheck, WalksEveryPageAndWordAndJoinsTheSuggestions) {
  script({{"Hello", "wrld"}, {"tset"}}, {{"wrld", {"world", "weld"}}, {"tset", {}}});
  Variant r = call(d, "SpellCheckPDF");
  ASSERT_TRUE(r.isArray());
  EXPECT_EQ(r.array().elementType(), VT::String);
  EXPECT_EQ(r.array().data(), (std::vector<Variant>{Variant("wrld^world^weld"), Variant("tset")}));
  EXPECT_EQ(
      rec->transcript(),
      (Lines{"JSO get NumPages", "JSO call getPageNumWords(0&)", "JSO call GetPageNthWord(0&, 0&)", "JSO get spell",
             "spell call checkWord(\"Hello\")", "release spell", "JSO call GetPageNthWord(0&, 1&)", "JSO get spell",
             "spell call checkWord(\"wrld\")", "release spell", "JSO call getPageNumWords(1&)",
             "JSO call GetPageNthWord(1&, 0&)", "JSO get spell", "spell call checkWord(\"tset\")", "release spell"}));
}

TEST_F(SpellCheck, DelimiterPageChoiceAndNothingQuestioned) {
  script({{"one"}, {"tow", "three"}, {"for"}}, {{"tow", {"two", "tow"}}, {"for", {"four"}}});
  Variant r = call(d, "SpellCheckPDF", {";", 2});
  ASSERT_TRUE(r.isArray());
  EXPECT_EQ(r.array().data(), (std::vector<Variant>{Variant("tow;two;tow")}));
  Lines t = rec->transcript();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.front(), "JSO call getPageNumWords(1&)") << "page 2 is index 1; NumPages is not read";
  rec->clear();
  EXPECT_EQ(call(d, "SpellCheckPDF", {"^", 1}), Variant(int16_t(-1)));
  rec->clear();
  Variant all = call(d, "SpellCheckPDF", {"^", Variant::null()});
  ASSERT_TRUE(all.isArray());
  EXPECT_EQ(all.array().size(), 2u) << "a Null page checks every page";
  EXPECT_EQ(rec->transcript().front(), "JSO get NumPages");
}

TEST_F(SpellCheck, FailuresOfSingleWordsAndPagesArePassedOver) {
  // A second recorder shadows the fixture's for a document of its own.
  auto r2 = Recorder::create();
  pm::test::recordViewerDocument(*r2);
  r2->on("JSO", "NumPages").returns(Variant(int32_t(3)));
  // The second page's words cannot be counted; on the first page the second
  // word is no text and the check of the third fails after the checker has
  // answered once.
  r2->on("JSO", "getPageNumWords").does([](auto&, std::span<const Arg> a) {
    int32_t p = CLng(a[0].get());
    if (p == 1) raise(5, "no words here");
    return Variant(int32_t(p == 0 ? 3 : 1));
  });
  r2->on("JSO", "GetPageNthWord").does([](auto&, std::span<const Arg> a) {
    int32_t p = CLng(a[0].get()), w = CLng(a[1].get());
    if (p == 0 && w == 1) return Variant(int32_t(5));
    return Variant(p == 0 ? (w == 0 ? "good" : "bad") : "worse");
  });
  r2->on("JSO", "spell").returnsObject("spell");
  int calls = 0;
  r2->on("spell", "checkWord").does([&calls](auto&, std::span<const Arg> a) {
    ++calls;
    if (CStr(a[0].get()) == "bad") raise(5, "the checker stumbled");
    if (CStr(a[0].get()) == "worse") return V({"worst"});
    return Variant::null();
  });
  ObjectRef d2 = createDocument();
  Variant r = call(d2, "SpellCheckPDF", {"|"});
  EXPECT_EQ(calls, 3);
  ASSERT_TRUE(r.isArray());
  EXPECT_EQ(r.array().data(), (std::vector<Variant>{Variant("worse|worst")}));
}

TEST_F(SpellCheck, AMissingCheckerIsAnErrorNotACleanDocument) {
  struct Case {
    const char* what;
    bool spellFails;
  };
  for (const Case c : {Case{"reading spell fails", true}, Case{"the first checkWord fails", false}}) {
    auto r2 = Recorder::create();
    pm::test::recordViewerDocument(*r2);
    r2->on("JSO", "NumPages").returns(Variant(int32_t(1)));
    r2->on("JSO", "getPageNumWords").returns(Variant(int32_t(2)));
    r2->on("JSO", "GetPageNthWord").returns(Variant("word"));
    if (c.spellFails) {
      r2->on("JSO", "spell").fails(1001, "No spelling dictionary for en_US");
    } else {
      r2->on("JSO", "spell").returnsObject("spell");
      r2->on("spell", "checkWord").fails(1001, "No spelling dictionary for en_US");
    }
    ObjectRef d2 = createDocument();
    try {
      call(d2, "SpellCheckPDF");
      ADD_FAILURE() << c.what << ": no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), 1001) << c.what;
      EXPECT_EQ(e.source(), "Pressmark") << c.what;
      EXPECT_EQ(e.description(), "No spelling dictionary for en_US") << c.what;
    }
  }
}

TEST_F(ScriptsOrchestration, EveryMemberIsInTheTableWithItsHelpText) {
  const MemberTable& t = Document::table();
  for (const char* n : {"AddScript",        "RemoveScript",     "SetDocumentAction", "SetPageAction", "AttachFile",
                        "ExportDataObject", "RemoveDataObject", "DeleteSound",       "RemoveIcon",    "ExportAsFDF",
                        "ExportAsXFDF",     "ExportAsText",     "ExportXFAData",     "ImportAnFDF",   "ImportAnXFDF",
                        "ImportTextData",   "ImportXFAData",    "EmailDocument",     "EmailForm",     "SubmitFormToURL",
                        "SpellCheckPDF"}) {
    const MemberSpec* m = t.find(n, Invoke::Method);
    ASSERT_NE(m, nullptr) << n;
    EXPECT_FALSE(m->help.empty()) << n;
  }
}

}  // namespace
