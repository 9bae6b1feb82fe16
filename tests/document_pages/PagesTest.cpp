// The page, template and watermark members against the recording server:
// page-number conversions, argument counts and orders.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"

namespace {

using namespace pm;
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

TEST_F(Pages, DeletedAndExtractedPagesAreNotOffByOne) {
  run({
      {"DeletePages", {}, {"JSO call DeletePages()"}},
      {"DeletePages", {3}, {kNum, "JSO call DeletePages(2&, 2&)"}},
      {"DeletePages", {0, 3}, {"JSO call DeletePages(0%, 2&)"}},
      {"DeletePages", {2, 3}, {"JSO call DeletePages(1&, 2&)"}},
      {"ExtractPages", {0, 0, "/o/x.pdf"}, {kNum, "JSO call ExtractPages(0%, 2&, \"/o/x.pdf\")"}},
      {"ExtractPages", {2, 0, "/o/x.pdf"}, {kNum, "JSO call ExtractPages(1&, 2&, \"/o/x.pdf\")"}},
      {"ExtractPages", {0, 2, "/o/x.pdf"}, {"JSO call ExtractPages(0%, 1&, \"/o/x.pdf\")"}},
  });
  rec->clear();
  try {
    call(d, "ExtractPages", {1, 2, "  "});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), basic::InvalidProcedureCall);
    EXPECT_NE(e.description().find("strPath"), std::string::npos);
  }
  EXPECT_TRUE(rec->transcript().empty());
}

TEST_F(Pages, InsertPagesDefaultIsBeforeTheFirstPage) {
  // The default position -1 passes through unchanged.
  run({{"InsertPages", {"/s.pdf", Variant::missing()}, {"JSO call InsertPages(-1&, \"/s.pdf\")"}}});
}

TEST_F(Pages, PrintedAndTemplatePagesAreNotOffByOne) {
  run({
      {"PrintDocument", {}, {kNum, "JSO call Print(True, 0&, 2&, False, False, False, False, True)"}},
      {"PrintDocument", {false, 2, 3, true}, {"JSO call Print(False, 1&, 2&, True, False, False, False, True)"}},
      {"GetURL", {"http://x/"}, {"JSO call GetURL(\"http://x/\", True)"}},
      {"CreateTemplate", {}, {"JSO call CreateTemplate(0%)"}},
      {"CreateTemplate", {2}, {"JSO call CreateTemplate(1&)"}},
      {"GetNthTemplate", {Variant(int16_t(0))}, {"JSO call GetNthTemplate(0%)"}},
      {"RemoveTemplate", {"t"}, {"JSO call RemoveTemplate(\"t\")"}},
      {"SpawnPageFromTemplate", {"t"}, {"JSO call SpawnPageFromTemplate(\"t\", 0&, True, True)"}},
      {"SpawnPageFromTemplate", {"t", 2, false, false}, {"JSO call SpawnPageFromTemplate(\"t\", 1&, False, False)"}},
  });
}

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

TEST_F(Pages, NumberedTextWatermarksOneCallPerPage) {
  auto numbers = [&](std::vector<Variant> args) {
    rec->clear();
    std::vector<Arg> a(args.begin(), args.end());
    call(d, "AddWatermarkFromText", std::span<const Arg>(a));
    Lines out;
    for (const std::string& l : rec->transcript())
      if (l.rfind("JSO call", 0) == 0) out.push_back(l);
    return out;
  };
  std::vector<Variant> base{"Page ", 0, 8, 12, V({"RGB", 1.0, 0.0, 0.0}), 0, 0, true, true, true, 1.0, 1.0, true};
  EXPECT_EQ(numbers(base), (Lines{"JSO call AddWatermarkFromText(\"Page 1\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, "
                                  "0#, 0#), 0&, 0&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)",
                                  "JSO call AddWatermarkFromText(\"Page 2\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, "
                                  "0#, 0#), 1&, 1&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)",
                                  "JSO call AddWatermarkFromText(\"Page 3\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, "
                                  "0#, 0#), 2&, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)"}));
  base.push_back(10);
  EXPECT_EQ(numbers(base), (Lines{"JSO call AddWatermarkFromText(\"Page 10\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, "
                                  "0#, 0#), 0&, 0&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)",
                                  "JSO call AddWatermarkFromText(\"Page 11\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, "
                                  "0#, 0#), 1&, 1&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)",
                                  "JSO call AddWatermarkFromText(\"Page 12\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, "
                                  "0#, 0#), 2&, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)"}));
  // A failure on one page stops there.
  rec->on("JSO", "AddWatermarkFromText").returns(Variant()).times(1);
  rec->on("JSO", "AddWatermarkFromText").fails(1001, "no room");
  EXPECT_THROW(
      call(d, "AddWatermarkFromText", {"P", 0, 0, 24, Variant::nothing(), 2, 3, true, true, true, 1.0, 1.0, true}),
      AutomationError);
}

}  // namespace
