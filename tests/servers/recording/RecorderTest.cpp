#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"
#include "support/TestSupport.h"

namespace pm::test {

using pm::recording::Recorder;

TEST(Recorder, ScriptedErrorsWriteBacksAndSequences) {
  auto rec = Recorder::create();
  rec->registerClass("{11111111-2222-3333-4444-555555555555}");
  rec->on("*", "Next").returns(Variant(int32_t{1})).returns(Variant(int32_t{2}));
  rec->on("*", "Fail").fails(53, "File not found");
  rec->on("*", "Fill").writes(0, Variant("filled"));
  ObjectRef o = CreateObject("{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(call(o, "Next"), Variant(int32_t{1}));
  EXPECT_EQ(call(o, "Next"), Variant(int32_t{2}));
  EXPECT_EQ(call(o, "Next"), Variant(int32_t{2}));
  EXPECT_EQ(pm::test::raised([&] { call(o, "Fail"); }),
            (pm::test::Raised{53, "File not found", "{11111111-2222-3333-4444-555555555555}"}));
  Variant v;
  call(o, "Fill", {ByRef(v)});
  EXPECT_EQ(v, Variant("filled"));
  EXPECT_THROW(call(o, "Fill", {"literal"}), AutomationError);
}

TEST(Recorder, DescribeShowsTypes) {
  using pm::recording::Describe;
  EXPECT_EQ(Describe(Variant(int32_t{5})), "5&");
  EXPECT_EQ(Describe(Variant(int16_t{5})), "5%");
  EXPECT_EQ(Describe(Variant(2.5)), "2.5#");
  EXPECT_EQ(Describe(Variant::missing()), "Missing");
  EXPECT_EQ(Describe(Variant::nothing()), "Nothing");
  EXPECT_EQ(Describe(Variant::null()), "Null");
  EXPECT_EQ(Describe(V({1, "a"})), "Array(1&, \"a\")");
  EXPECT_EQ(Describe(Variant(Array::matrix(1, 2))), "Array[0 To 0, 0 To 1](Empty, Empty)");
}

namespace {

class Source : public Dispatch {
 public:
  static const MemberTable& table() {
    static const MemberTable t = [] {
      MemberTable t("Source");
      Members<Source>(t).event("Progress", 7, {P("percent").as(VT::Long)}).event("Named", 8, {P("text")});
      return t;
    }();
    return t;
  }
  Source() : cp(table().events()) {}
  const MemberTable* memberTable() const override { return &table(); }
  ConnectionPoint* connectionPoint() override { return &cp; }
  ConnectionPoint cp;
};

}  // namespace

TEST(Events, EverySinkInOrderByNameOrIdAndWritesBackThroughReferences) {
  auto src = std::make_shared<Source>();
  std::vector<std::string> seen;
  auto a = std::make_shared<FunctionSink>(
      [&](const EventCall& e) { seen.push_back("a:" + e.event.name + ":" + CStr(*e.args[0])); });
  auto b = std::make_shared<FunctionSink>([&](const EventCall& e) { seen.push_back("b:" + e.event.name); });
  EventConnection ca(src, a), cb(src, b);
  Variant pct(int32_t{50});
  src->cp.raise("progress", {&pct});
  src->cp.raise(int32_t{8}, std::vector<Variant*>{&pct});
  EXPECT_EQ(seen, (std::vector<std::string>{"a:Progress:50", "b:Progress", "a:Named:50", "b:Named"}));
  // A sink writes back through the references.
  EventConnection c(src, std::make_shared<FunctionSink>([](const EventCall& e) { *e.args[0] = Variant("changed"); }));
  src->cp.raise("Named", {&pct});
  EXPECT_EQ(pct, Variant("changed"));
}

TEST(Events, DisconnectEndsDeliveryEvenDuringAnEvent) {
  auto src = std::make_shared<Source>();
  int count = 0;
  EventConnection c;
  c = EventConnection(src, std::make_shared<FunctionSink>([&](const EventCall&) {
                        ++count;
                        c.reset();
                      }));
  Variant v;
  src->cp.raise("Named", {&v});
  src->cp.raise("Named", {&v});
  EXPECT_EQ(count, 1);
  EXPECT_EQ(src->cp.sinkCount(), 0u);
}

TEST(Events, UnknownEventsAndSilentObjects) {
  auto src = std::make_shared<Source>();
  Variant v;
  EXPECT_THROW(src->cp.raise("Nope", {&v}), AutomationError);
  class Quiet : public Dispatch {};
  auto q = std::make_shared<Quiet>();
  EXPECT_EQ(pm::test::errorOf([&] { EventConnection c(q, std::make_shared<FunctionSink>([](const EventCall&) {})); }),
            basic::MemberNotSupported);
}

}  // namespace pm::test
