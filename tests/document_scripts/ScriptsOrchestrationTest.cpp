// Scripts, actions, named objects, form data, mail, submission and spelling
// of Document against the recording server: the forwarded calls with their
// arguments in order, and the spelling loop.
#include "document_annots/Fixture.h"

namespace pm::test {

using pm::recording::Recorder;
using ScriptsOrchestration = AnnotFixture;

// AttachFile's answer: OverServer.AFileAttachedIsExportedBackIdentical.
TEST_F(ScriptsOrchestration, ForwardedFailuresReachTheCaller) {
  ObjectRef d = open();
  rec->on("JSO", "ImportAnFDF").fails(1001, "File /i/f.fdf does not exist");
  Raised e = raised([&] { call(d, "ImportAnFDF", {"/i/f.fdf"}); });
  EXPECT_EQ(std::make_pair(e.number, e.description), std::make_pair(1001, std::string("File /i/f.fdf does not exist")));
}

TEST_F(ScriptsOrchestration, SubmitFormToURLTakesThirteenOrFourteenArgumentsByVersion) {
  const std::string all = "False, True, Array(\"a\"), True, True, True, True, True, True, True, True, \"pw\"";
  const std::string none = "True, False, \"\", False, False, False, False, False, False, False, False, \"\"";
  const std::vector<Variant> given = {"http://h/s", false, true, V({"a"}), true, true, true,
                                      true,         true,  true, true,     true, "pw", true};
  // Version, arguments, what the viewer's submitForm gets after the address.
  const std::tuple<const char*, std::vector<Variant>, std::string> cases[] = {
      {"7.1", {"http://h/s"}, none + ", False"},
      {"6.0", given, all + ", True"},
      {"5.0", given, all},
      {"", {"http://h/s"}, none},
      {"5.1", {"http://h/s", true, false, "a"}, none + ", False"},
  };
  ObjectRef d = open();
  for (const auto& [version, given, line] : cases) {
    moduleState().strAcrobatVersion = version;
    rec->clear();
    std::vector<Arg> args(given.begin(), given.end());
    call(d, "SubmitFormToURL", std::span<const Arg>(args));
    EXPECT_EQ(rec->transcript(), Lines{"JSO call submitForm(\"http://h/s\", " + line + ")"}) << "version " << version;
  }
}

using SpellCheck = ScriptsOrchestration;

TEST_F(SpellCheck, FailuresOfSingleWordsAndPagesArePassedOver) {
  // A second recorder shadows the fixture's for a document of its own.
  auto r2 = Recorder::create();
  recordViewerDocument(*r2);
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

// The shell's --help and the Python docstrings show these texts.
TEST(DocumentTable, EveryMemberHasAHelpText) {
  for (const MemberSpec& m : Document::table().members()) EXPECT_FALSE(m.help.empty()) << m.name;
}

}  // namespace pm::test
