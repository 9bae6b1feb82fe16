// The Field object against the recording server: forwarded properties,
// item and button methods, signing and the lock script.
#include "Recording.h"
#include "component/document/Field.h"

namespace pm::test {

class FieldObject : public FieldRecording {
 protected:
  void SetUp() override {
    FieldRecording::SetUp();
    rec->on("JSO", "GetField").returnsObject("TF");
    field = objectOf(call(doc, "GetField", {"Sig"}));
    rec->clear();
  }
  void TearDown() override {
    field.reset();
    FieldRecording::TearDown();
  }
  ObjectRef field;
};

TEST_F(FieldObject, CodesOutsideTheVocabularyFallBackWithoutCallingTheViewer) {
  using Codes = std::vector<std::pair<int32_t, const char*>>;
  const std::pair<const char*, Codes> cases[] = {{"GetTrigger", {{42, "MouseUp"}, {10, "MouseUp"}, {9, "Format"}}},
                                                 {"GetHighlight", {{7, "none"}, {2, "push"}}},
                                                 {"GetFont", {{9, "Courier-Bold"}}},
                                                 {"GetGlyphStyle", {{4, "star"}}},
                                                 {"GetAlignment", {{1, "center"}}},
                                                 {"GetBorderStyle", {{4, "underline"}, {9, "solid"}}}};
  for (const auto& [method, codes] : cases)
    for (const auto& [code, name] : codes) EXPECT_EQ(call(field, method, {code}), Variant(name)) << method << code;
  EXPECT_TRUE(rec->transcript().empty());
}

TEST_F(FieldObject, ChildFieldFailuresPassOn) {
  rec->on("TF", "getArray").fails(static_cast<int32_t>(0x80004005u), "not a parent");
  Variant children;
  EXPECT_EQ(raised([&] { call(field, "GetChildFields", {ByRef(children)}); }),
            (Raised{static_cast<int32_t>(0x80004005u), "not a parent", "Pressmark"}));
}

// The lock script as installed on the field, with line ends shown.
std::string lockScript(const Lines& t) {
  for (const std::string& l : t)
    if (l.rfind("TF call setAction(\"Format\", ", 0) == 0) return l.substr(28, l.size() - 29);
  return "(none)";
}

TEST_F(FieldObject, SignatureLockScriptsQuoteOddFieldNames) {
  std::vector<std::string> names{"Name", "Sig", "it's \"odd\""};
  rec->on("JSO", "NumFields").does([&](auto&, auto) { return Variant(int32_t(names.size())); });
  rec->on("JSO", "GetNthFieldName").does([&](auto&, std::span<const Arg> a) {
    return Variant(names.at(static_cast<size_t>(CLng(a[0].get()))));
  });
  const std::string NL = "\" & vbCr & \"\" & vbLf & \"";
  struct Case {
    std::vector<Arg> args;
    std::string script;
  };
  const Case cases[] = {
      {{},
       "\"var f0 = this.getField(\"\"Name\"\");" + NL + "var f1 = this.getField(\"\"Sig\"\");" + NL +
           "var f2 = this.getField(\"\"it\\'s \\\"\"odd\\\"\"\"\");" + NL + "f0.readonly = true;" + NL +
           "f1.readonly = true;" + NL + "f2.readonly = true;" + NL + "\""},
      {{Arg(Array::vector({Variant("A"), Variant("B")}, 1)), Arg(int32_t(1))},
       "\"var f1 = this.getField(\"\"A\"\");" + NL + "var f2 = this.getField(\"\"B\"\");" + NL + "f1.readonly = true;" +
           NL + "f2.readonly = true;" + NL + "\""},
      {{Arg("x'); app.alert('y"), Arg(int32_t(1))},
       "\"var f = this.getField(\"\"x\\'); app.alert(\\'y\"\");" + NL + "f.readonly = true;" + NL + "\""},
      {{Arg("sig"), Arg(int32_t(2))},
       "\"var f0 = this.getField(\"\"Name\"\");" + NL + "f0.readonly = true;" + NL +
           "var f2 = this.getField(\"\"it\\'s \\\"\"odd\\\"\"\"\");" + NL + "f2.readonly = true;" + NL + "\""},
      {{Arg(V({"NAME", "it's \"odd\""})), Arg(int32_t(2))},
       "\"var f1 = this.getField(\"\"Sig\"\");" + NL + "f1.readonly = true;" + NL + "\""},
      {{Arg(int32_t(3)), Arg(int32_t(1))}, "\"\""},
      {{Arg(V({"A"})), Arg(int32_t(5))}, "\"\""},
  };
  for (const Case& c : cases) {
    rec->clear();
    call(field, "SetSignatureFieldLocks", std::span<const Arg>(c.args));
    EXPECT_EQ(lockScript(rec->transcript()), c.script);
  }
}

class Signing : public FieldObject {
 protected:
  void SetUp() override {
    FieldObject::SetUp();
    rec->on("JSO", "security").returnsObject("Security");
    rec->on("Security", "getHandler").returnsObject("PPK");
    rec->on("TF", "SignatureInfo").returnsObject("Info");
  }
};

TEST_F(Signing, ASigningThatDidNotHappenIsReported) {
  struct Case {
    const char* what;
    bool login;
    int32_t status;
    bool signFails;
    bool loggedOut;
  };
  const Case cases[] = {
      {"wrong password", false, 0, false, false},
      {"already signed", true, 3, false, true},
      {"the engine refused", true, 0, true, true},
  };
  const Case* now = &cases[0];
  rec->on("PPK", "login").does([&](auto&, auto) { return Variant(now->login); });
  rec->on("Info", "Status").does([&](auto&, auto) { return Variant(now->status); });
  rec->on("TF", "signatureSign").does([&](auto&, auto) {
    if (now->signFails) pm::raise(static_cast<int32_t>(0x80004005u), "no room", "AcroExch");
    return Variant();
  });
  for (const Case& c : cases) {
    now = &c;
    rec->clear();
    Raised e = raised([&] { call(field, "SignDocument", {"/certs/me.p12", "pw"}); });
    EXPECT_EQ(e.source, "Pressmark") << c.what;
    EXPECT_FALSE(e.description.empty()) << c.what;
    Lines t = rec->transcript();
    EXPECT_EQ(std::find(t.begin(), t.end(), "PPK call logout()") != t.end(), c.loggedOut) << c.what;
  }
}

}  // namespace pm::test
