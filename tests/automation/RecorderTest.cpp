#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"

namespace pm::test {

using pm::recording::Recorder;

TEST(Recorder, TranscriptOfCallsInOrderWithTypedArguments) {
  auto rec = Recorder::create();
  rec->registerClass("Word.Application");
  rec->on("Word.Application", "Documents").returnsObject();
  rec->on("Word.Application", "ActivePrinter").returns(Variant("Old Printer"));
  {
    ObjectRef app = CreateObject("Word.Application");
    let(app, "DisplayAlerts", Variant(false));
    EXPECT_EQ(get(app, "ActivePrinter"), Variant("Old Printer"));
    ObjectRef docs = objectOf(get(app, "Documents"));
    call(docs, "Open", {"c:/a \"b\".doc", Named("PasswordDocument", ""), Named("Flag", Variant(int16_t{-1}))});
    call(app, "Quit");
  }
  EXPECT_EQ(rec->transcript(),
            (std::vector<std::string>(
                {"create Word.Application", "Word.Application let DisplayAlerts = False",
                 "Word.Application get ActivePrinter", "Word.Application get Documents",
                 "Word.Application.Documents call Open(\"c:/a \"\"b\"\".doc\", PasswordDocument:=\"\", Flag:=-1%)",
                 "Word.Application call Quit()", "release Word.Application.Documents", "release Word.Application"})));
}

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

TEST(Recorder, RaisesEventsOnCue) {
  auto rec = Recorder::create();
  rec->registerClass("Distiller", {EventSpec{"OnPageNumber", 5, {P("n")}}});
  rec->on("Distiller", "Convert")
      .raises("OnPageNumber", {Variant(int32_t{1})})
      .raises("OnPageNumber", {Variant(int32_t{2})});
  ObjectRef d = CreateObject("Distiller");
  std::vector<std::string> pages;
  EventConnection c(d, std::make_shared<FunctionSink>([&](const EventCall& e) { pages.push_back(CStr(*e.args[0])); }));
  call(d, "Convert", {"in.ps"});
  EXPECT_EQ(pages, (std::vector<std::string>{"1", "2"}));
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

}  // namespace pm::test
