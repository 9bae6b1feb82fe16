// A call by member name with three arguments, the way every client call and
// every call the component makes to a server goes.
#include <benchmark/benchmark.h>

#include "automation/Automation.h"

using namespace pm;

namespace {

class Target : public Dispatch {
 public:
  static const MemberTable& table() {
    static const MemberTable t = [] {
      MemberTable t("Target");
      Members<Target> m(t);
      // A realistically sized table: lookups search among many names.
      for (int i = 0; i < 150; ++i) m.method("Member" + std::to_string(i), {P("a")}, &Target::three);
      m.method("CreatePDFfromPS", {P("strPDF"), P("strPS"), P("strJobOptions").opt(Variant(""))}, &Target::three);
      m.method("ReadByName", {P("strPDF"), P("strPS"), P("strJobOptions").opt(Variant(""))}, &Target::byName);
      return t;
    }();
    return t;
  }
  const MemberTable* memberTable() const override { return &table(); }
  Variant three(Frame& f) { return Variant(static_cast<int32_t>(f.size())); }
  // Reads its arguments by the names its table declares, as member bodies do.
  Variant byName(Frame& f) {
    return Variant(static_cast<int32_t>(f["strPDF"].type()) + static_cast<int32_t>(f["strPS"].type()) +
                   static_cast<int32_t>(f["strJobOptions"].type()));
  }
};

void CallByNameThreeArguments(benchmark::State& state) {
  auto o = std::make_shared<Target>();
  Variant a("out.pdf"), b("in.ps"), c(int32_t{1});
  for (auto _ : state) {
    Variant r = call(o, "createpdffromps", {ByRef(a), ByRef(b), ByRef(c)});
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(CallByNameThreeArguments);

void CallByNameThreeValues(benchmark::State& state) {
  auto o = std::make_shared<Target>();
  for (auto _ : state) {
    Variant r = call(o, "CreatePDFfromPS", {"out.pdf", "in.ps", 1});
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(CallByNameThreeValues);

void CallReadingArgumentsByName(benchmark::State& state) {
  auto o = std::make_shared<Target>();
  Variant a("out.pdf"), b("in.ps"), c(int32_t{1});
  for (auto _ : state) {
    Variant r = call(o, "ReadByName", {ByRef(a), ByRef(b), ByRef(c)});
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(CallReadingArgumentsByName);

}  // namespace

BENCHMARK_MAIN();
