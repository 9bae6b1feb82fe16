// The ordered collection GetFields hands out: positions, keys that ignore
// case, duplicates refused, removal.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "automation/Collection.h"
#include "support/TestSupport.h"

namespace pm::test {

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
