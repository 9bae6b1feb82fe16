// The page, template and watermark members against the recording server:
// page-number conversions, argument counts and orders.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"

namespace pm::test {

using pm::recording::Recorder;
using Lines = std::vector<std::string>;

class Pages : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    pm::test::recordViewerDocument(*rec);
    rec->on("JSO", "NumPages").returns(Variant(int32_t(3)));
    rec->on("JSO", "Color").returnsObject("Color");
    rec->on("Color", "black").returns(V({"G", 0.0}));
    moduleState().strOpenDocumentPath = "/docs/a.pdf";
    d = createDocument();
    rec->clear();
  }
  // Each case: the member, its arguments, and the transcript it leaves.
  struct Case {
    const char* member;
    std::vector<Variant> args;
    Lines calls;
  };
  void run(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.member + (" #" + std::to_string(&c - cases.data())));
      rec->clear();
      std::vector<Arg> args(c.args.begin(), c.args.end());
      call(d, c.member, std::span<const Arg>(args));
      Lines t;
      for (const std::string& l : rec->transcript())
        if (l.rfind("release", 0) != 0) t.push_back(l);
      EXPECT_EQ(t, c.calls);
    }
  }
  std::shared_ptr<Recorder> rec;
  ObjectRef d;
};

const char* kNum = "JSO get NumPages";

TEST_F(Pages, WatermarkArgumentsAreNeitherReorderedNorMisconverted) {
  run({
      {"AddWatermarkFromFile",
       {"/w.pdf"},
       {kNum,
        "JSO call AddWatermarkFromFile(\"/w.pdf\", 0%, 0%, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1!, "
        "False, 0&, 1!)"}},
      {"AddWatermarkFromFile",
       {"/w.pdf", 2, 2, 3, false, true, false, 0.5, 0.25, 0, 2, 10, 20, true, true, 90},
       {"JSO call AddWatermarkFromFile(\"/w.pdf\", 1&, 1&, 2&, False, True, False, 0&, 2&, 10&, 20&, True, 0.5#, "
        "True, 90&, 0.25#)"}},
      {"AddWatermarkFromText",
       {"DRAFT"},
       {kNum, "JSO get Color", "Color get black",
        "JSO call AddWatermarkFromText(\"DRAFT\", 0&, \"Times-Roman\", 24%, Array(\"G\", 0#), 0%, 2&, True, True, "
        "True, 1%, 1%, 0%, 0%, False, 1!, False, 0&, 1!)"}},
  });
}

}  // namespace pm::test
