// Document's form-field members against the recording server, a Document
// opened over a recorded viewer whose JavaScript object is "JSO", whose new
// fields are "F" and whose colour table is "Color": the order of the field
// creators' property assignments, their conditional steps, colour defaults and
// error styles; the Field object's forwarded properties, item and button
// methods, signing and the lock script; the field sets (the Field hand-off,
// the name lists, reset, the read-only and required switches); and the
// ordered collection GetFields hands out.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"
#include "support/Expect.h"
#include "component/document/Field.h"
#include "automation/Collection.h"
#include "support/TestSupport.h"

namespace pm::test {

using Lines = std::vector<std::string>;

class FieldRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = recording::Recorder::create();
    recordViewerDocument(*rec);
    rec->on("JSO", "addField").returnsObject("F");
    rec->on("JSO", "Color").returnsObject("Color");
    rec->on("Color", "white").returns(V({"G", int16_t(1)}));
    rec->on("Color", "black").returns(V({"G", int16_t(0)}));
    moduleState().strOpenDocumentPath = "/docs/form.pdf";
    doc = createDocument();
    rec->clear();
  }
  void TearDown() override {
    doc.reset();
    moduleState().objFieldRequestJS.reset();
  }
  std::shared_ptr<recording::Recorder> rec;
  ObjectRef doc;
};

Variant coords() {
  return V({72.0, 700.0, 272.0, 680.0});
}

// The member names the creator touched on the new field, in order, with
// "call " before methods; the colour-table reads are left out.
Lines fieldSteps(const Lines& t) {
  Lines out;
  for (const std::string& l : t) {
    if (l.rfind("F let ", 0) == 0)
      out.push_back(l.substr(6, l.find(" = ") - 6));
    else if (l.rfind("F call ", 0) == 0)
      out.push_back("call " + l.substr(7, l.find('(') - 7));
  }
  return out;
}

using FieldCreation = FieldRecording;

TEST_F(FieldCreation, TextFieldConditionalStepsAndConversions) {
  // The steps each set of named arguments must (+) or must not (-) cause:
  // trigger 10 sets no action; a char limit and a rotation above 0 are set,
  // 0 or negative ones are not; texts of spaces are not assigned, others are
  // assigned untrimmed.
  const std::pair<std::vector<Arg>, Lines> cases[] = {
      {{Named("lngTrigger", int32_t(10))}, {"-call setAction"}},
      {{Named("intCharLimit", Variant(int16_t(5))), Named("lngRotation", int32_t(90))}, {"+CharLimit", "+Rotation"}},
      {{Named("intCharLimit", Variant(int16_t(-1))), Named("lngRotation", int32_t(0))}, {"-CharLimit", "-Rotation"}},
      {{Named("strDefaultValue", "  "), Named("strSubmitName", " "), Named("strToolTipText", "   ")},
       {"-DefaultValue", "-SubmitName", "-UserName"}},
      {{Named("strDefaultValue", " x "), Named("strToolTipText", "tip")}, {"+DefaultValue", "+UserName"}}};
  for (const auto& [named, want] : cases) {
    rec->clear();
    std::vector<Arg> args{Arg("f"), Arg(int32_t(1)), Arg(coords())};
    args.insert(args.end(), named.begin(), named.end());
    call(doc, "CreateTextField", std::span<const Arg>(args));
    Lines steps = fieldSteps(rec->transcript());
    for (const std::string& w : want)
      EXPECT_EQ(std::find(steps.begin(), steps.end(), w.substr(1)) != steps.end(), w[0] == '+') << w;
  }
  rec->clear();
  call(doc, "CreateTextField",
       {"f", int32_t(3), coords(), Named("strDefaultValue", " x "), Named("varBorderColor", Variant(int32_t(3)))});
  Lines t = rec->transcript();
  // A colour code (not an array) is replaced by the default. The page less
  // one, a colour array used as given and the alignment, font and trigger
  // codes, on the real server: PdfForm.EverySevenKindsWithTheirProperties
  // and PdfForm.FieldPropertiesAcrossSessions.
  for (const char* line : {"F let DefaultValue = \" x \"", "F let StrokeColor = Array(\"G\", 0%)"})
    EXPECT_NE(std::find(t.begin(), t.end(), line), t.end()) << line;
}

TEST_F(FieldCreation, AFailedAddRaisesAndALaterFailedStepDoesNot) {
  // A second recorder shadows the fixture's, with an add that fails.
  auto r2 = recording::Recorder::create();
  recordViewerDocument(*r2);
  r2->on("JSO", "addField").fails(static_cast<int32_t>(0x80004005u), "Page 9 does not exist");
  ObjectRef d2 = createDocument();
  r2->clear();
  Raised e = raised([&] { call(d2, "CreateTextField", {"x", int32_t(10), coords()}); });
  EXPECT_EQ(e.number, static_cast<int32_t>(0x80004005u));
  EXPECT_EQ(e.source, "Pressmark");
  EXPECT_EQ(e.description, "Page 10 does not exist") << "the caller's page number, not the viewer's";
  EXPECT_EQ(r2->transcript(), (Lines{"JSO call addField(\"x\", \"text\", 9&, Array(72#, 700#, 272#, 680#))"}))
      << "nothing after the failed add";

  rec->on("F", "Alignment").fails(5, "refused");
  rec->on("F", "setAction").fails(5, "refused");
  EXPECT_NO_THROW(call(doc, "CreateTextField", {"y", int32_t(1), coords()}));
  Lines steps = fieldSteps(rec->transcript());
  ASSERT_GE(steps.size(), 5u);
  EXPECT_EQ((Lines{steps[0], steps[1], steps[2], steps[3]}),
            (Lines{"call setAction", "Delay", "Alignment", "BorderStyle"}))
      << "the steps after a refused one still run";
  EXPECT_EQ(steps.back(), "Delay");
}

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

class FieldSets : public FieldRecording {
 protected:
  void withFields(std::vector<std::string> names) {
    names_ = std::move(names);
    rec->on("JSO", "NumFields").does([this](auto&, auto) { return Variant(int32_t(names_.size())); });
    rec->on("JSO", "GetNthFieldName").does([this](auto&, std::span<const Arg> a) {
      return Variant(names_.at(static_cast<size_t>(CLng(a[0].get()))));
    });
    rec->on("JSO", "GetField").returnsObject("G");
  }
  std::vector<std::string> names_;
};

TEST_F(FieldSets, AnUnknownNameStillGivesAFieldThatSaysSo) {
  rec->on("JSO", "GetField").returns(Variant::null());
  ObjectRef f = objectOf(call(doc, "GetField", {int32_t(12)}));
  EXPECT_EQ(moduleState().strFieldRequestName, "12");
  EXPECT_EQ(raised([&] { get(f, "Name"); }), (Raised{kErrComponent, "Invalid field name.", "Pressmark"}));
  EXPECT_EQ(raised([&] { get(f, "Value"); }).number, basic::ObjectVariableNotSet);
}

TEST_F(FieldSets, FieldNamesAreNotOffByOneInCollectionArrayOrNth) {
  withFields({"a", "b", "c"});
  ObjectRef c = objectOf(call(doc, "GetFields"));
  EXPECT_EQ(c->typeName(), "Collection");
  EXPECT_EQ(get(c, "Count"), Variant(int32_t(3)));
  EXPECT_EQ(call(c, "Item", {"2"}), Variant("b")) << "keyed by the 1-based position as text";
  EXPECT_EQ(call(c, "Item", {int32_t(3)}), Variant("c"));
  EXPECT_THROW(call(c, "Item", {"4"}), AutomationError);
  Lines t = rec->transcript();
  EXPECT_EQ(t[1], "JSO call GetNthFieldName(0&)") << "a 32-bit counter";

  Variant a = call(doc, "GetFieldsArray");
  EXPECT_EQ(a.vartype(), 8192 + 8) << "a String array";
  EXPECT_EQ(a.array().ubound(1), 2);
  EXPECT_EQ(a.array().at({1}), Variant("b"));
  EXPECT_EQ(call(doc, "GetNthFieldName", {Variant(int16_t(2))}), Variant("c"));

  withFields({});
  Variant none = call(doc, "GetFieldsArray");
  EXPECT_EQ(none.vartype(), 8192 + 8);
  EXPECT_THROW(none.array().ubound(1), AutomationError) << "never dimensioned";
  EXPECT_EQ(get(objectOf(call(doc, "GetFields")), "Count"), Variant(int32_t(0)));
}

TEST_F(FieldSets, RemoveAndResetPassFailuresOn) {
  const std::tuple<Variant, std::string> cases[] = {
      {V({"a", "b"}), "JSO call resetForm(Array(\"a\", \"b\"))"},
      {Variant("a"), "JSO call resetForm(Array(\"a\"))"},  // one name: that field only
      {Variant::null(), "JSO call resetForm()"},
  };
  for (const auto& [fields, line] : cases) {
    rec->clear();
    call(doc, "ResetFormFields", {fields});
    EXPECT_EQ(rec->transcript(), (Lines{line})) << recording::Describe(fields);
  }
  rec->on("JSO", "RemoveField").fails(5, "no such field");
  EXPECT_THROW(call(doc, "RemoveField", {"zz"}), AutomationError);
}

TEST(Collection, PositionsKeysAndRemoval) {
  auto c = std::make_shared<Collection>();
  ObjectRef o = c;
  call(o, "Add", {"first", "1"});
  call(o, "Add", {"Straße", "Größe"});
  call(o, "Add", {Variant(int32_t(3))});
  EXPECT_EQ(get(o, "Count"), Variant(int32_t(3)));
  const std::tuple<Variant, Variant> found[] = {{Variant(int32_t(1)), Variant("first")},
                                                {Variant("1"), Variant("first")},
                                                {Variant("GRÖßE"), Variant("Straße")},
                                                {Variant(2.0), Variant("Straße")},
                                                {Variant(int16_t(3)), Variant(int32_t(3))}};
  for (const auto& [index, item] : found) EXPECT_EQ(call(o, "Item", {index}), item) << CStr(index);
  for (const Variant& bad : {Variant(int32_t(0)), Variant(int32_t(4)), Variant("2"), Variant("")})
    EXPECT_EQ(errorOf([&] { call(o, "Item", {bad}); }), basic::InvalidProcedureCall);
  EXPECT_EQ(errorOf([&] { call(o, "Add", {"again", "größe"}); }), 457) << "a key is used once, whatever its case";
  EXPECT_EQ(errorOf([&] { call(o, "Add", {"x", int32_t(5)}); }), basic::TypeMismatch) << "a key is text";
  call(o, "Remove", {"1"});
  EXPECT_EQ(get(o, "Count"), Variant(int32_t(2)));
  EXPECT_EQ(call(o, "Item", {int32_t(1)}), Variant("Straße"));
  call(o, "Remove", {int32_t(2)});
  EXPECT_EQ(c->Count(), 1);
  EXPECT_FALSE(ClassRegistry::instance().has("Collection")) << "clients cannot create one";
}

}  // namespace pm::test
