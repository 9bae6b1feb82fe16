// Field sets of Document against the recording server: the Field hand-off,
// the name lists, reset, and the read-only and required switches; and the
// ordered collection GetFields hands out: positions, keys that ignore case,
// duplicates refused, removal.
#include "Recording.h"
#include "component/document/Field.h"
#include "automation/Collection.h"
#include "support/TestSupport.h"

namespace pm::test {

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
