// The shell contract of the pressmark command, run in-process against extra
// CreatePDF members that only this test program adds.
#include <gtest/gtest.h>

#include <sstream>

#include "Command.h"
#include "component/frame/CreatePDF.h"

namespace pm::test {

namespace {

class Thing : public Dispatch {
 public:
  static const MemberTable& table() {
    static const MemberTable t = [] {
      MemberTable t("Thing");
      Members<Thing>(t)
          .get("Name", {}, &Thing::getName)
          .let("Name", {P("v").byVal()}, &Thing::letName)
          .method("Fire", {}, &Thing::fire)
          .event("Fired", 1, {P("what")});
      return t;
    }();
    return t;
  }
  Thing() : cp(table().events()) {}
  const MemberTable* memberTable() const override { return &table(); }
  ConnectionPoint* connectionPoint() override { return &cp; }
  Variant getName(Frame&) { return Variant(name); }
  Variant letName(Frame& f) {
    name = CStr(f[0]);
    return {};
  }
  Variant fire(Frame&) {
    Variant w("boom");
    cp.raise("Fired", {&w});
    return {};
  }
  std::string name = "thing";
  ConnectionPoint cp;
};

// The real relay path: as if the held Distiller raised its events.
Variant Progress(CreatePDF& self, Frame&) {
  Variant in("in.ps"), out("out.pdf"), pct(int32_t{50});
  Variant* a[] = {&in, &out};
  self.relayEvent(EventCall{EventSpec{"OnJobStart", 1, {}}, a});
  Variant* b[] = {&pct};
  self.relayEvent(EventCall{EventSpec{"OnPercentDone", 5, {}}, b});
  return Variant(true);
}

void describe(Members<CreatePDF>& m) {
  m.method("TestEcho", {P("a"), P("b").opt(), P("c").opt(Variant(int32_t{3}))},
           [](CreatePDF&, Frame& f) {
             return Variant(Array::vector({f[0], f[1], f[2]}));
           })
      .method("TestTypeOf", {P("v")}, [](CreatePDF&, Frame& f) { return Variant(int32_t{f[0].vartype()}); })
      .method("TestKinds", {},
              [](CreatePDF&, Frame&) {
                return Variant(
                    Array::vector({Variant(0.1f), Variant(int16_t{-1}), Variant(true), Variant::null(), Variant(),
                                   Variant(Currency{15000}), Variant(MakeDate(2026, 1, 2)), Variant("tab\there")}));
              })
      .method("TestFill", {P("arr"), P("text").opt()},
              [](CreatePDF&, Frame& f) {
                Array a = Array::matrix(2, 2);
                a.set({0, 0}, Variant("a"));
                a.set({1, 1}, Variant(int32_t{4}));
                f[0] = Variant(std::move(a));
                if (f[1].isEmpty()) f[1] = Variant("default written back");
                return Variant();
              })
      .method("TestMakeThing", {}, [](CreatePDF&, Frame&) { return Variant(ObjectRef(std::make_shared<Thing>())); })
      .method("TestSame", {P("v")}, [](CreatePDF&, Frame& f) { return f[0]; })
      .method("TestProgress", {}, &Progress);
}
const CreatePDFMembers::Register reg("+test probes", &describe);

std::string shell(const std::string& script, int* rc = nullptr) {
  std::istringstream in(script);
  std::ostringstream out;
  int r = cli::runShell(in, out);
  if (rc) *rc = r;
  return out.str();
}

}  // namespace

TEST(Shell, ArgumentsAreJsonOrTextAndResultsPrintAsJson) {
  EXPECT_EQ(shell("TestEcho 1 2.5 true\n"), "[1,2.5,true]\n");
  EXPECT_EQ(shell("TestEcho \"a b\" plain null\n"), "[\"a b\",\"plain\",null]\n");
  EXPECT_EQ(shell("TestEcho 'a  b' [1, 2] x\n"), "[\"a  b\",[1,2],\"x\"]\n");
  EXPECT_EQ(shell("TestEcho \"q\\\"uote\"\n"), "[\"q\\\"uote\",null,3]\n");
  EXPECT_EQ(shell("TestEcho x c:=9 b:=\"named b\"\n"), "[\"x\",\"named b\",9]\n");
  EXPECT_EQ(shell("TestTypeOf 5\nTestTypeOf 5.5\nTestTypeOf 3000000000\nTestTypeOf text\nTestTypeOf [[1,2],[3,4]]\n"),
            "3\n5\n5\n8\n8204\n");
  EXPECT_EQ(shell("TestKinds\n"), "[0.1,-1,true,null,null,1.5,\"1/2/2026\",\"tab\\there\"]\n");
}

TEST(Shell, ObjectsAreNumberedInTheOrderFirstReturned) {
  EXPECT_EQ(shell("TestMakeThing\nTestMakeThing\n$1.Name\n$2.Name = other\n$2.Name\n$1.Name\nTestSame $2\n$3.Name\n"),
            "\"$1\"\n\"$2\"\n\"thing\"\nok\n\"other\"\n\"thing\"\n\"$2\"\n"
            "error 424 (Pressmark): No object $3\n");
}

TEST(Shell, VariablesAreByReference) {
  EXPECT_EQ(shell("@v\nTestFill @v @t\n@v\n@t\n@t = 12\n@t\nTestEcho @t\n"),
            "null\nok\n[[\"a\",null],[null,4]]\n\"default written back\"\nok\n12\n[12,null,3]\n");
  EXPECT_EQ(shell("@e = []\n@e\nTestTypeOf @e\n"), "ok\n[]\n8204\n");
}

TEST(Shell, EventLinesComeBeforeTheResult) {
  EXPECT_EQ(shell("TestMakeThing\n$1.Fire\nTestProgress\n"),
            "\"$1\"\nevent Fired \"boom\"\nok\nevent JobStart \"in.ps\" \"out.pdf\"\nevent PercentDone 50\ntrue\n");
}

TEST(Shell, ErrorsPrintOneLineAndTheShellGoesOn) {
  int rc = 0;
  std::string out = shell("# a comment\n\nNoSuchMember 1\n   \nTestEcho\nTestEcho 1 2 3 4\nTestEcho ok\n", &rc);
  EXPECT_EQ(out,
            "error 438 (Pressmark): Object doesn't support this property or method: CreatePDF.NoSuchMember\n"
            "error 449 (Pressmark): Argument not optional: a\n"
            "error 450 (Pressmark): Wrong number of arguments or invalid property assignment\n"
            "[\"ok\",null,3]\n");
  EXPECT_EQ(rc, 1);
  shell("TestEcho 1\n", &rc);
  EXPECT_EQ(rc, 0);
}

TEST(Shell, HostileJsonGivesAnErrorOrValidText) {
  // Nesting past the bound is refused at once, with the stack to spare.
  std::string deep = std::string(50000, '[') + std::string(50000, ']');
  std::string out = shell("TestSame " + deep + "\nTestSame " + std::string(256, '[') + std::string(256, ']') + "\n");
  size_t line = out.find('\n') + 1;
  EXPECT_EQ(out.substr(0, line), "error 5 (Pressmark): JSON nested more than 256 levels deep\n");
  EXPECT_EQ(out.substr(line), std::string(256, '[') + std::string(256, ']') + "\n");
  // Bytes that are not UTF-8 print as U+FFFD; a lone surrogate escape reads as one.
  EXPECT_EQ(shell("TestSame 'a\xff\xc3('\nTestSame \"\\udc00\\u00e9\"\n"), "\"a\uFFFD\uFFFD(\"\n\"\uFFFD\u00e9\"\n");
}

TEST(Shell, SplitsWordsByTheShellRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(cli::Session::splitArguments(R"( a "b c" [1, [2, 3]] 'd e' n:="x y" m:=[1, 2] )"),
            (V{"a", "\"b c\"", "[1, [2, 3]]", "'d e'", "n:=\"x y\"", "m:=[1, 2]"}));
  EXPECT_EQ(cli::Session::splitArguments("\"unterminated text"), (V{"\"unterminated", "text"}));
}

}  // namespace pm::test
