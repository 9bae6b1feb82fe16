// The watermark members against the recording server: page-number
// conversions, defaults and the order of the arguments the viewer gets.
#include "document_annots/Fixture.h"

namespace pm::test {

using Pages = AnnotFixture;

TEST_F(Pages, WatermarkArgumentsAreNeitherReorderedNorMisconverted) {
  const std::tuple<const char*, std::vector<Variant>, Lines> cases[] = {
      {"AddWatermarkFromFile",
       {"/w.pdf"},
       {"JSO get NumPages",
        "JSO call AddWatermarkFromFile(\"/w.pdf\", 0%, 0%, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1!, "
        "False, 0&, 1!)"}},
      {"AddWatermarkFromFile",
       {"/w.pdf", 2, 2, 3, false, true, false, 0.5, 0.25, 0, 2, 10, 20, true, true, 90},
       {"JSO call AddWatermarkFromFile(\"/w.pdf\", 1&, 1&, 2&, False, True, False, 0&, 2&, 10&, 20&, True, 0.5#, "
        "True, 90&, 0.25#)"}},
      {"AddWatermarkFromText",
       {"DRAFT"},
       {"JSO get NumPages", "JSO get Color", "Color get black",
        "JSO call AddWatermarkFromText(\"DRAFT\", 0&, \"Times-Roman\", 24%, Array(\"G\", 0#), 0%, 2&, True, True, "
        "True, 1%, 1%, 0%, 0%, False, 1!, False, 0&, 1!)"}}};
  ObjectRef d = open();
  for (const auto& [member, given, calls] : cases) {
    rec->clear();
    std::vector<Arg> args(given.begin(), given.end());
    call(d, member, std::span<const Arg>(args));
    EXPECT_EQ(only({"JSO", "Color"}), calls) << member << " " << given.size();
  }
}

}  // namespace pm::test
