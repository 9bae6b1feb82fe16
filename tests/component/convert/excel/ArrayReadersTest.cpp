// ExcelToOneDArray and ExcelToTwoDArray against the recording server: the
// calls, their order, the arrays built and every result code.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

namespace pm::test {

using pm::recording::Recorder;
using Lines = std::vector<std::string>;

namespace {

// An Excel whose workbook opens on a worksheet, unless it fails to open.
std::shared_ptr<Recorder> excel(bool opens = true) {
  auto r = Recorder::create();
  r->registerClass("Excel.Application");
  r->on("Excel.Application", "Workbooks").returnsObject("Workbooks");
  if (!opens) return r;
  r->on("Workbooks", "Open").returnsObject("Workbook");
  r->on("Workbook", "Worksheets").returnsObject("Worksheet");
  return r;
}

bool has(const Lines& t, const std::string& line) {
  return std::find(t.begin(), t.end(), line) != t.end();
}

class ExcelArrays : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = excel();
    // Cells(r, c) answers with an object that knows its place.
    rec->on("Worksheet", "Cells").does([this](auto&, std::span<const Arg> a) {
      int r = CLng(a[0].get()), c = CLng(a[1].get());
      last = {r, c};
      return Variant(ObjectRef(rec->make("Cell", nullptr)));
    });
    rec->on("Cell", "text").does([this](auto&, std::span<const Arg>) {
      return Variant(" r" + std::to_string(last.first) + "c" + std::to_string(last.second) + " ");
    });
    rec->on("Cell", "Value").does([this](auto&, std::span<const Arg>) {
      return Variant(last.first * 10.0 + last.second);
    });
    writeFile(dir.file("book.xls"), "a workbook");
    registerCreatePDF();
    pdf = CreateObject(kCreatePDFProgId);
    rec->clear();
  }
  int16_t run(const char* method, Variant& sheet, Variant& array, int32_t r1, int32_t c1, int32_t r2, int32_t c2,
              Variant value = Variant(false), const char* password = "") {
    Variant book(dir.file("book.xls")), rr1(r1), cc1(c1), rr2(r2), cc2(c2), v(value), pwd(password), wpwd("w");
    return CInt(call(pdf, method,
                     {ByRef(book), ByRef(sheet), ByRef(rr1), ByRef(cc1), ByRef(rr2), ByRef(cc2), ByRef(array), ByRef(v),
                      ByRef(pwd), ByRef(wpwd)}));
  }
  Lines calls() const { return calls(*rec); }
  static Lines calls(const Recorder& r) {
    Lines out;
    // Later instances of one test are numbered ("Excel.Application#2").
    static const std::regex instance(R"( -> [^ ]+|#\d+)");
    for (const std::string& l : r.transcript())
      if (l.rfind("release Cell", 0) != 0 && l.rfind("Cell get", 0) != 0 && l.rfind("Worksheet get Cells", 0) != 0)
        out.push_back(std::regex_replace(l, instance, ""));
    return out;
  }
  TempDir dir;
  std::shared_ptr<Recorder> rec;
  ObjectRef pdf;
  std::pair<int, int> last;
};

TEST_F(ExcelArrays, OneDArrayTrimsTextsReadsRowByRowAndClosesWithoutSaving) {
  Variant sheet("Sheet1"), array;
  EXPECT_EQ(run("ExcelToOneDArray", sheet, array, 2, 3, 3, 5), 1);
  EXPECT_EQ(array,
            V({Variant("r2c3"), Variant("r2c4"), Variant("r2c5"), Variant("r3c3"), Variant("r3c4"), Variant("r3c5")}));
  // The passwords in their places, the sheet by name, rows 32-bit and
  // columns 16-bit, and the workbook closed without saving.
  for (const std::string& l :
       Lines{"Workbooks call Open(\"" + dir.file("book.xls") + "\", WriteResPassword:=\"w\", Password:=\"\")",
             "Workbook get Worksheets(\"Sheet1\")", "Worksheet get Cells(2&, 3%)", "Worksheet call Activate()",
             "Cell get text", "Workbook call Close(False)", "Excel.Application call Quit()"})
    EXPECT_TRUE(has(rec->transcript(), l)) << l;
  EXPECT_EQ(calls().back(), "release Excel.Application");
}

TEST_F(ExcelArrays, TwoDArrayKeepsTypedValuesAndABackwardBlockLeavesTheArray) {
  Variant sheet(int16_t{1}), array;
  EXPECT_EQ(run("ExcelToTwoDArray", sheet, array, 1, 1, 2, 3, true), 1);
  Array expected = Array::matrix(2, 3);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) expected.set({i, j}, Variant((i + 1) * 10.0 + (j + 1)));
  EXPECT_EQ(array, Variant(expected));
  Lines c = calls();
  EXPECT_EQ(Lines(c.end() - 5, c.end()), (Lines{"Workbook call Close()", "Excel.Application call Quit()",
                                                "release Worksheet", "release Workbook", "release Excel.Application"}))
      << "the two-dimensional reader closes without arguments";
  // A block that ends before it starts leaves the array and succeeds.
  Variant kept(V({Variant("x")}));
  EXPECT_EQ(run("ExcelToTwoDArray", sheet, kept, 3, 1, 2, 1), 1);
  EXPECT_EQ(kept, V({Variant("x")}));
}

TEST_F(ExcelArrays, BadArgumentsGiveTheirCodeAndStillCloseExcel) {
  Variant array, s("S");
  for (Variant bad : {Variant(int16_t{0}), Variant(""), Variant(1.5), Variant(int32_t{-2})}) {
    rec->clear();
    EXPECT_EQ(run("ExcelToOneDArray", bad, array, 1, 1, 1, 1), -4) << recording::Describe(bad);
    EXPECT_TRUE(has(calls(), "Workbook call Close()"));
    EXPECT_TRUE(has(calls(), "Excel.Application call Quit()"));
  }
  // A cell-value flag that is no Boolean is a failure code.
  for (const Variant& flag : {Variant("not a flag"), Variant(V({Variant(true)}))}) {
    rec->clear();
    EXPECT_EQ(run("ExcelToOneDArray", s, array, 1, 1, 1, 2, flag), -5) << recording::Describe(flag);
    EXPECT_TRUE(has(calls(), "Workbook call Close(False)"));
    EXPECT_EQ(calls().back(), "release Excel.Application");
  }
  Variant text("text"), sheet("S");
  rec->clear();
  EXPECT_EQ(run("ExcelToTwoDArray", sheet, text, 1, 1, 1, 1), -2);
  EXPECT_EQ(calls(), (Lines{"create Excel.Application", "Excel.Application call Quit()", "release Excel.Application"}));
  EXPECT_EQ(text, Variant("text"));
  // An Excel that cannot start is a code, not an error.
  ScopedClass broken("Excel.Application", "", []() -> ObjectRef { pm::raise(basic::CannotCreateObject, "no Excel"); });
  EXPECT_EQ(run("ExcelToTwoDArray", sheet, array, 1, 1, 1, 1), -1);
}

TEST_F(ExcelArrays, AFailedOpenOrCellGivesItsCodeAndKeepsWhatWasRead) {
  auto script = excel(false);
  script->on("Workbooks", "Open").fails(1004, "The password you supplied is not correct.");
  Variant sheet("S"), array;
  EXPECT_EQ(run("ExcelToOneDArray", sheet, array, 1, 1, 1, 1, false, "bad"), -3);
  EXPECT_EQ(script->transcript().back(), "release Excel.Application");
  script.reset();

  // The third cell fails: what was read stays, the result is -5.
  int n = 0;
  auto script2 = excel();
  script2->on("Worksheet", "Cells").returnsObject("Cell");
  script2->on("Cell", "text").does([&](auto&, std::span<const Arg>) -> Variant {
    if (++n == 3) raise(1004, "cannot read");
    return Variant(" v" + std::to_string(n));
  });
  EXPECT_EQ(run("ExcelToOneDArray", sheet, array, 1, 1, 2, 2), -5);
  EXPECT_EQ(array, V({Variant("v1"), Variant("v2"), Variant()}));
  EXPECT_TRUE(has(script2->transcript(), "Workbook call Close(False)"));
  EXPECT_EQ(script2->transcript().back(), "release Excel.Application");
}

TEST_F(ExcelArrays, AttachesToARunningExcelAndQuitsIt) {
  ObjectRef running = CreateObject("Excel.Application");
  uint64_t token = RegisterActiveObject("Excel.Application", running);
  rec->clear();
  Variant sheet(int32_t{2}), array;
  EXPECT_EQ(run("ExcelToOneDArray", sheet, array, 1, 1, 1, 1), 1);
  ASSERT_FALSE(calls().empty());
  EXPECT_EQ(calls().front(), "Excel.Application get Workbooks") << "no new instance";
  EXPECT_TRUE(has(calls(), "Excel.Application call Quit()")) << "quit although it was running before";
  RevokeActiveObject(token);
}

TEST_F(ExcelArrays, ABlockPastTheSheetsLastColumnOrRowIsRefused) {
  // A counter that cannot pass the end would ask for cells for ever; the
  // recorded sheet stops the program rather than let the test hang.
  int asked = 0;
  auto script = excel();
  script->on("Worksheet", "Cells").does([&](auto&, std::span<const Arg>) {
    if (++asked > 100000) {
      std::fprintf(stderr, "Cells asked for more than 100000 times: the column counter does not end\n");
      std::abort();
    }
    return Variant(ObjectRef(script->make("Cell", nullptr)));
  });
  script->on("Cell", "text").returns(Variant("t"));
  struct Case {
    const char* method;
    int32_t r1, c1, r2, c2;
    int16_t code;
  };
  for (const Case& c : std::vector<Case>{
           {"ExcelToTwoDArray", 1, 1, 1, 32767, -5},
           {"ExcelToOneDArray", 1, 32760, 1, 32767, -5},
           {"ExcelToTwoDArray", 1, 16385, 1, 16385, -5},
           {"ExcelToTwoDArray", 1048576, 1, 1048577, 1, -5},
           {"ExcelToOneDArray", 2147483646, 1, 2147483647, 1, -5},
           {"ExcelToTwoDArray", -2147483647, 1, 1, 1, -5},
           {"ExcelToTwoDArray", 1, 16383, 1, 16384, 1},  // the last column itself is read
           {"ExcelToOneDArray", 1048576, 1, 1048576, 1, 1},
       }) {
    script->clear();
    Variant sheet("S"), array;
    EXPECT_EQ(run(c.method, sheet, array, c.r1, c.c1, c.r2, c.c2), c.code) << c.method << " " << c.c2;
    Lines t = calls(*script);
    EXPECT_NE(
        std::find_if(t.begin(), t.end(), [](const std::string& l) { return l.rfind("Workbook call Close(", 0) == 0; }),
        t.end())
        << c.method;
    EXPECT_EQ(t.back(), "release Excel.Application") << c.method;
    if (c.code != 1) {
      EXPECT_TRUE(array.isEmpty()) << c.method << ": nothing is read";
    }
  }
  EXPECT_EQ(asked, 3);
}

}  // namespace

}  // namespace pm::test
