#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "support/TestSupport.h"

namespace pm::test {

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

TEST(Events, EverySinkInOrderByNameOrId) {
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
}

TEST(Events, SinkWritesBackThroughReferences) {
  auto src = std::make_shared<Source>();
  EventConnection c(src, std::make_shared<FunctionSink>([](const EventCall& e) { *e.args[0] = Variant("changed"); }));
  Variant v("original");
  src->cp.raise("Named", {&v});
  EXPECT_EQ(v, Variant("changed"));
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
