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

TEST_F(Pages, RangesOfThumbnailsLinksAndFlattening) {
  run({
      {"AddThumbnails", {}, {"JSO call AddThumbnails()"}},
      {"AddThumbnails", {2}, {kNum, "JSO call AddThumbnails(1&, 2&)"}},
      {"RemoveThumbnails", {0, 2}, {"JSO call RemoveThumbnails(0%, 1&)"}},
      {"AddWebLinks", {-3, 1}, {"JSO call AddWebLinks(0%, 0&)"}},
      {"RemoveWebLinks", {}, {"JSO call RemoveWebLinks()"}},
      {"FlattenPages", {}, {kNum, "JSO call FlattenPages(0%, 2&, 0%)"}},
      {"FlattenPages", {2, 3}, {"JSO call FlattenPages(1&, 2&, 0%)"}},
  });
  rec->on("JSO", "AddWebLinks").returns(Variant(4.0));
  EXPECT_EQ(call(d, "AddWebLinks"), Variant(int32_t(4)));
}

TEST_F(Pages, RotationsLabelsAndTabOrder) {
  rec->on("JSO", "GetPageRotation").returns(Variant(int32_t(90)));
  EXPECT_EQ(call(d, "GetPageRotation", {-1}), Variant(int16_t(90)));
  run({
      {"GetPageRotation", {-1}, {"JSO call GetPageRotation(-1&)"}},
      {"GetPageRotation", {}, {"JSO call GetPageRotation(0&)"}},
      {"GetPageLabel", {-1}, {"JSO call GetPageLabel(0%)"}},
      {"GetPageLabel", {2}, {"JSO call GetPageLabel(1&)"}},
      {"SetPageRotations", {0, 0, 90}, {kNum, "JSO call SetPageRotations(0&, 2&, 90&)"}},
      {"SetPageRotations", {-1, 2, 180}, {"JSO call SetPageRotations(-1&, 1&, 180&)"}},
      {"SetPageLabels", {1, 5}, {"JSO call SetPageLabels(0&)"}},
      {"SetPageLabels", {3, 1, "A-", 1}, {"JSO call SetPageLabels(2&, Array(\"R\", \"A-\", 1&))"}},
      {"SetPageLabels", {0, 9}, {"JSO call SetPageLabels(0%, Array(\"D\", \"\", 1&))"}},
      {"SetPageLabels", {2, 4, "x", 7}, {"JSO call SetPageLabels(1&, Array(\"a\", \"x\", 7&))"}},
      {"SetPageTabOrder", {0, 1}, {kNum, "JSO call SetPageTabOrder(2&, \"columns\")"}},
      {"SetPageTabOrder", {2, 2}, {"JSO call SetPageTabOrder(1&, \"structure\")"}},
      {"SetPageTabOrder", {1, 7}, {"JSO call SetPageTabOrder(0&, \"\")"}},
  });
}

TEST_F(Pages, DeletingAndExtracting) {
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

TEST_F(Pages, InsertingReplacingMovingAndNewPages) {
  rec->on("JSO", "getPageBox").returns(V({10.0, 800.0, 622.0, 8.0}));
  run({
      {"InsertPages", {"/s.pdf"}, {"JSO call InsertPages(-1&, \"/s.pdf\")"}},
      {"InsertPages", {"/s.pdf", 0}, {kNum, "JSO call InsertPages(2&, \"/s.pdf\")"}},
      {"InsertPages", {"/s.pdf", 2, 0, 3}, {"JSO call InsertPages(1&, \"/s.pdf\", Missing, 2&)"}},
      {"InsertPages", {"/s.pdf", -1, 2}, {"JSO call InsertPages(-1&, \"/s.pdf\", 1&)"}},
      {"InsertPages", {"/s.pdf", 1, 2, 4}, {"JSO call InsertPages(0&, \"/s.pdf\", 1&, 3&)"}},
      {"ReplacePages", {"/s.pdf"}, {"JSO call ReplacePages(0&, \"/s.pdf\")"}},
      {"ReplacePages", {"/s.pdf", 2, 1, 1}, {"JSO call ReplacePages(1&, \"/s.pdf\", 0&, 0&)"}},
      {"MovePage", {2}, {kNum, "JSO call MovePage(1&, 2&)"}},
      {"MovePage", {2, -1}, {"JSO call MovePage(1&, -1&)"}},
      {"MovePage", {0, 3}, {"JSO call MovePage(0%, 2&)"}},
      {"NewPage", {}, {"JSO call getPageBox(\"Crop\")", "JSO call NewPage(0%, 612#, 792#)"}},
      {"NewPage", {0}, {"JSO call getPageBox(\"Crop\")", kNum, "JSO call NewPage(3&, 612#, 792#)"}},
      {"NewPage", {2}, {"JSO call getPageBox(\"Crop\")", "JSO call NewPage(2&, 612#, 792#)"}},
  });
}

TEST_F(Pages, InsertPagesDefaultIsBeforeTheFirstPage) {
  // The default position -1 passes through unchanged.
  run({{"InsertPages", {"/s.pdf", Variant::missing()}, {"JSO call InsertPages(-1&, \"/s.pdf\")"}}});
}

TEST_F(Pages, PrintingFetchingAndTemplates) {
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

TEST_F(Pages, WatermarkArgumentOrders) {
  run({
      {"AddWatermarkFromFile",
       {"/w.pdf"},
       {kNum, "JSO call AddWatermarkFromFile(\"/w.pdf\", 0%, 0%, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1!, "
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
  EXPECT_EQ(numbers(base), (Lines{"JSO call AddWatermarkFromText(\"Page 1\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, 0#, 0#), 0&, 0&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)",
                                  "JSO call AddWatermarkFromText(\"Page 2\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, 0#, 0#), 1&, 1&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)",
                                  "JSO call AddWatermarkFromText(\"Page 3\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, 0#, 0#), 2&, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)"}));
  base.push_back(10);
  EXPECT_EQ(numbers(base), (Lines{"JSO call AddWatermarkFromText(\"Page 10\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, 0#, 0#), 0&, 0&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)", "JSO call AddWatermarkFromText(\"Page 11\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, 0#, 0#), 1&, 1&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)", "JSO call AddWatermarkFromText(\"Page 12\", 0&, \"Courier\", 12&, Array(\"RGB\", 1#, 0#, 0#), 2&, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1#, False, 0&, 1#)"}));
  // A failure on one page stops there.
  rec->on("JSO", "AddWatermarkFromText").returns(Variant()).times(1);
  rec->on("JSO", "AddWatermarkFromText").fails(1001, "no room");
  EXPECT_THROW(call(d, "AddWatermarkFromText", {"P", 0, 0, 24, Variant::nothing(), 2, 3, true, true, true, 1.0, 1.0, true}),
               AutomationError);
}

}  // namespace
