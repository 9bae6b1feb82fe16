// The data-source methods against the recording test server: the ADO calls
// of each method in order, the property values they set, and every code.
#include <gtest/gtest.h>

#include <memory>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

using namespace pm;
using pm::recording::Recorder;
using pm::test::readFile;
using pm::test::TempDir;
using Lines = std::vector<std::string>;

namespace {

const Variant k1(int16_t{1}), kM1(int16_t{-1}), kM2(int16_t{-2}), kM3(int16_t{-3}), kM4(int16_t{-4});

// A scripted recordset: fields with names and types, rows of values, and a
// cursor the scripted MoveFirst / MoveNext / EOF / Value calls share.
struct Table {
  std::vector<std::string> names;
  std::vector<int32_t> types;
  std::vector<std::vector<Variant>> rows;
  int32_t recordCount = -2;  // -2: the number of rows
};

class AdoScript : public ::testing::Test {
 protected:
  void SetUp() override {
    rec->registerClass("ADODB.Connection");
    rec->registerClass("ADODB.Recordset");
  }

  // Scripts the members of "ADODB.Recordset" (or another object name).
  void script(const Table& t, const std::string& object = "ADODB.Recordset") {
    auto table = std::make_shared<Table>(t);
    auto pos = std::make_shared<size_t>(0);
    rec->on(object, "EOF").does([=](auto&, auto) { return Variant(*pos >= table->rows.size()); });
    rec->on(object, "MoveNext").does([=](auto&, auto) { ++*pos; return Variant(); });
    rec->on(object, "MoveFirst").does([=](auto&, auto) { *pos = 0; return Variant(); });
    rec->on(object, "RecordCount").does([=](auto&, auto) {
      return Variant(table->recordCount == -2 ? static_cast<int32_t>(table->rows.size()) : table->recordCount);
    });
    rec->on(object, "Fields").returnsObject("Fields");
    rec->on("Fields", "Count").returns(Variant(static_cast<int32_t>(t.names.size())));
    rec->on("Fields", "Item").does([this](auto&, std::span<const Arg> args) {
      return Variant(ObjectRef(rec->make("Field" + std::to_string(CLng(args[0].get())), nullptr)));
    });
    for (size_t i = 0; i < t.names.size(); ++i) {
      std::string f = "Field" + std::to_string(i);
      rec->on(f, "Name").returns(Variant(t.names[i]));
      rec->on(f, "Type").returns(Variant(t.types.empty() ? int32_t{200} : t.types[i]));
      rec->on(f, "Value").does([=](auto&, auto) { return table->rows.at(*pos).at(i); });
    }
  }

  std::shared_ptr<Recorder> rec = Recorder::create();
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  TempDir dir;
};

const Lines kOpen = {
    "create ADODB.Connection",
    "ADODB.Connection call Open(\"DSN=Sales;UID=ann;PWD=secret;\")",
    "create ADODB.Recordset",
    "ADODB.Recordset let CursorLocation = 3&",
    "ADODB.Recordset let CacheSize = 20%",
    "ADODB.Recordset call Open(\"SELECT a, b FROM t\", <ADODB.Connection>, 0&, 1&)",
};

Lines concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(AdoScript, DatabaseTableToTextFileCallsAndFile) {
  script({{"a", "b"}, {}, {{Variant("x"), Variant(int32_t{1})}, {Variant("y"), Variant(2.5)}}});
  std::string path = dir.file("out.txt");
  Variant r = call(pdf, "DatabaseTableToTextFile",
                   {"Sales", "SELECT a, b FROM t", Variant(path), "ann", "secret", Variant(true), Variant(";"), Variant(true)});
  EXPECT_EQ(r, k1);
  EXPECT_EQ(readFile(path), "\"a\";\"b\"\r\n\"x\";\"1\"\r\n\"y\";\"2.5\"\r\n");
  EXPECT_EQ(rec->transcript(), concat(kOpen, {
                                                 "ADODB.Recordset get Fields",
                                                 "Fields get Count",
                                                 "Fields get Item(0&)",
                                                 "Fields get Item(1&)",
                                                 "release Fields",
                                                 "Field0 get Name",
                                                 "Field1 get Name",
                                                 "ADODB.Recordset get EOF",
                                                 "Field0 get Value",
                                                 "Field1 get Value",
                                                 "ADODB.Recordset call MoveNext()",
                                                 "ADODB.Recordset get EOF",
                                                 "Field0 get Value",
                                                 "Field1 get Value",
                                                 "ADODB.Recordset call MoveNext()",
                                                 "ADODB.Recordset get EOF",
                                                 "release Field0",
                                                 "release Field1",
                                                 "ADODB.Recordset call Close()",
                                                 "ADODB.Connection call Close()",
                                                 "release ADODB.Recordset",
                                                 "release ADODB.Connection",
                                             }));
}

TEST_F(AdoScript, DatabaseTableToTextFileDefaultsAndCodes) {
  script({{"a", "b"}, {}, {{Variant("x"), Variant(int32_t{1})}, {Variant("y"), Variant::null()}}});
  std::string path = dir.file("out.txt");
  // Default delimiter: none; no headings; a Null value is an empty field.
  EXPECT_EQ(call(pdf, "DatabaseTableToTextFile", {"Sales", "SELECT a, b FROM t", Variant(path)}), k1);
  EXPECT_EQ(readFile(path), "x1\r\ny\r\n");
  EXPECT_EQ(rec->transcript()[1], "ADODB.Connection call Open(\"DSN=Sales;UID=;PWD=;\")");

  rec->clear();
  rec->on("ADODB.Connection", "Open").fails(static_cast<int32_t>(0x80004005u), "Data source name not found").times(1);
  EXPECT_EQ(call(pdf, "DatabaseTableToTextFile", {"Nope", "SELECT 1", Variant(path)}), kM1);
  EXPECT_EQ(rec->transcript(), (Lines{"create ADODB.Connection -> ADODB.Connection#2",
                                      "ADODB.Connection#2 call Open(\"DSN=Nope;UID=;PWD=;\")",
                                      "release ADODB.Connection#2"}));

  rec->clear();
  rec->on("ADODB.Recordset", "Open").fails(static_cast<int32_t>(0x80004005u), "syntax error").times(1);
  EXPECT_EQ(call(pdf, "DatabaseTableToTextFile", {"Sales", "SELEKT", Variant(path)}), kM2);
  EXPECT_EQ(rec->transcript(), (Lines{"create ADODB.Connection -> ADODB.Connection#3",
                                      "ADODB.Connection#3 call Open(\"DSN=Sales;UID=;PWD=;\")",
                                      "create ADODB.Recordset -> ADODB.Recordset#2",
                                      "ADODB.Recordset#2 let CursorLocation = 3&",
                                      "ADODB.Recordset#2 let CacheSize = 20%",
                                      "ADODB.Recordset#2 call Open(\"SELEKT\", <ADODB.Connection#3>, 0&, 1&)",
                                      "release ADODB.Recordset#2",
                                      "ADODB.Connection#3 call Close()",
                                      "release ADODB.Connection#3"}));

}

TEST_F(AdoScript, DatabaseTableToTextFileOneColumnNoDelimiter) {
  script({{"only"}, {}, {{Variant("v1")}, {Variant("v2")}}});
  std::string path = dir.file("one.txt");
  EXPECT_EQ(call(pdf, "DatabaseTableToTextFile", {"Sales", "SELECT only", Variant(path), "", "", Variant(true)}), k1);
  EXPECT_EQ(readFile(path), "only\r\nv1\r\nv2\r\n");
}

TEST_F(AdoScript, TextWritersFailOnARecordSourceWithoutFields) {
  script({{}, {}, {{}}});
  std::string path = dir.file("none.txt");
  EXPECT_EQ(call(pdf, "DatabaseTableToTextFile", {"Sales", "SELECT", Variant(path)}), kM3);
  EXPECT_THROW(readFile(path), std::exception);
}

TEST_F(AdoScript, RecordsetToTextFileRewindsTheCallersRecordset) {
  script({{"A", "B"}, {}, {{Variant("A1"), Variant("B1")}, {Variant("A2"), Variant("B2")}}}, "Caller");
  ObjectRef rs = rec->make("Caller", nullptr);
  std::string path = dir.file("rs.txt");
  call(rs, "MoveNext");
  rec->clear();
  EXPECT_EQ(call(pdf, "RecordsetToTextFile", {Variant(rs), Variant(path), Variant(false), Variant(","), Variant(true)}), k1);
  EXPECT_EQ(readFile(path), "\"A1\",\"B1\"\r\n\"A2\",\"B2\"\r\n");
  Lines t = rec->transcript();
  EXPECT_EQ(t.front(), "Caller call MoveFirst()");
  EXPECT_EQ(t.back(), "Caller call MoveFirst()");
  EXPECT_EQ(std::count(t.begin(), t.end(), "Caller call Close()"), 0);  // the caller's recordset stays open

  Variant notObject("x");
  EXPECT_EQ(call(pdf, "RecordsetToTextFile", {ByRef(notObject), Variant(path)}), kM1);
  ObjectRef broken = rec->make("Broken", nullptr);
  rec->on("Broken", "Fields").fails(3704, "closed");
  rec->clear();
  EXPECT_EQ(call(pdf, "RecordsetToTextFile", {Variant(broken), Variant(dir.file("fail.txt"))}), kM1);
  EXPECT_EQ(rec->transcript().back(), "Broken call MoveFirst()");
  EXPECT_THROW(readFile(dir.file("fail.txt")), std::exception);
}

TEST_F(AdoScript, DatabaseTableToArrayWithAndWithoutHeadings) {
  script({{"a", "b"}, {}, {{Variant("x"), Variant::null()}, {Variant(int32_t{3}), Variant(true)}}});
  Variant empty;
  EXPECT_EQ(call(pdf, "DatabaseTableToArray", {"Sales", "SELECT a, b FROM t", ByRef(empty)}), kM1);
  EXPECT_TRUE(rec->transcript().empty());  // nothing is opened for an Empty variable

  Variant arr(Array({Bound{0, 1}}));
  EXPECT_EQ(call(pdf, "DatabaseTableToArray", {"Sales", "SELECT a, b FROM t", ByRef(arr), "ann", "secret", Variant(true)}), k1);
  Array expected = Array::matrix(3, 2);
  expected.set({0, 0}, Variant("a"));
  expected.set({0, 1}, Variant("b"));
  expected.set({1, 0}, Variant("x"));
  expected.set({1, 1}, Variant::null());
  expected.set({2, 0}, Variant(int32_t{3}));
  expected.set({2, 1}, Variant(true));
  EXPECT_EQ(arr, Variant(expected));
  Lines t = rec->transcript();
  EXPECT_EQ(Lines(t.begin(), t.begin() + 6), kOpen);
  EXPECT_NE(std::find(t.begin(), t.end(), "ADODB.Recordset get RecordCount"), t.end());
  EXPECT_EQ(t[t.size() - 4], "ADODB.Recordset call Close()");
  EXPECT_EQ(t[t.size() - 3], "ADODB.Connection call Close()");

  rec->clear();
  script({{"a"}, {}, {{Variant("x")}}, -1}, "ADODB.Recordset#2");
  EXPECT_EQ(call(pdf, "DatabaseTableToArray", {"Sales", "SELECT a", ByRef(arr)}), kM4);  // count not available
  rec->on("ADODB.Connection", "Open").fails(static_cast<int32_t>(0x80004005u), "no").times(1);
  EXPECT_EQ(call(pdf, "DatabaseTableToArray", {"Sales", "SELECT a", ByRef(arr)}), kM2);
  rec->on("ADODB.Recordset", "Open").fails(static_cast<int32_t>(0x80004005u), "no").times(1);
  EXPECT_EQ(call(pdf, "DatabaseTableToArray", {"Sales", "SELECT a", ByRef(arr)}), kM3);
}

TEST_F(AdoScript, RecordsetToArrayOneFieldIsOneDimensional) {
  script({{"n"}, {}, {{Variant("a")}, {Variant("b")}, {Variant("c")}}}, "Caller");
  ObjectRef rs = rec->make("Caller", nullptr);
  Variant arr;
  EXPECT_EQ(call(pdf, "RecordsetToArray", {Variant(rs), ByRef(arr), Variant(true)}), k1);
  EXPECT_EQ(arr, V({"n", "a", "b", "c"}));
  EXPECT_EQ(call(pdf, "RecordsetToArray", {Variant(rs), ByRef(arr)}), k1);
  EXPECT_EQ(arr, V({"a", "b", "c"}));
  Lines t = rec->transcript();
  EXPECT_EQ(t.back(), "Caller call MoveFirst()");

  Variant str("s");
  EXPECT_EQ(call(pdf, "RecordsetToArray", {Variant(rs), ByRef(str)}), kM1);
  Variant none;
  EXPECT_EQ(call(pdf, "RecordsetToArray", {Variant("not a recordset"), ByRef(none)}), kM2);
}

TEST_F(AdoScript, XMLFileToRecordsetTriesEachProvider) {
  ObjectRef rs = rec->make("Caller", nullptr);
  rec->on("Caller", "ActiveConnection").fails(3706, "Provider cannot be found").times(2);
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant(rs)}), k1);
  EXPECT_EQ(rec->transcript(), (Lines{
                                   "Caller let ActiveConnection = \"Provider=MSDAOSP; Data Source=MSXML2.DSOControl;\"",
                                   "Caller let ActiveConnection = \"Provider=MSDAOSP; Data Source=MSXML2.DSOControl.2.6;\"",
                                   "Caller let ActiveConnection = \"Provider=MSDAOSP; Data Source=MSXML2.DSOControl.3.0;\"",
                                   "Caller call Open(\"/data/x.xml\")",
                               }));
  rec->on("Caller", "ActiveConnection").fails(3706, "Provider cannot be found");
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant(rs)}), kM1);
  ObjectRef rs2 = rec->make("Other", nullptr);
  rec->on("Other", "Open").fails(static_cast<int32_t>(0x80004005u), "not well-formed");
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant(rs2)}), kM2);
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant("no object")}), kM1);
}

TEST_F(AdoScript, XMLFileToArraySkipsTextAndKeepsColumnsUnderTheirHeadings) {
  script({{"a", "kids", "b", "$Text"},
          {202, 136, 202, 202},
          {{Variant("a1"), Variant(), Variant("b1"), Variant("t1")}, {Variant("a2"), Variant(), Variant("b2"), Variant("t2")}}});
  Variant arr(Array({Bound{0, 1}}));
  EXPECT_EQ(call(pdf, "XMLFileToArray", {"/data/x.xml", ByRef(arr), Variant(true)}), k1);
  Array expected = Array::matrix(3, 3);
  expected.set({0, 0}, Variant("a"));
  expected.set({0, 1}, Variant("kids"));
  expected.set({0, 2}, Variant("b"));
  expected.set({1, 0}, Variant("a1"));
  expected.set({1, 2}, Variant("b1"));
  expected.set({2, 0}, Variant("a2"));
  expected.set({2, 2}, Variant("b2"));
  EXPECT_EQ(arr, Variant(expected));
  Lines t = rec->transcript();
  EXPECT_EQ(Lines(t.begin(), t.begin() + 3), (Lines{"create ADODB.Recordset",
                                                    "ADODB.Recordset let ActiveConnection = \"Provider=MSDAOSP; Data Source=MSXML2.DSOControl;\"",
                                                    "ADODB.Recordset call Open(\"/data/x.xml\")"}));
  EXPECT_EQ(std::count(t.begin(), t.end(), "Field1 get Value"), 0);  // chapters are not copied
  EXPECT_EQ(std::count(t.begin(), t.end(), "Field3 get Value"), 0);  // nor the element text
  EXPECT_EQ(t.back(), "release ADODB.Recordset");

  Variant empty;
  EXPECT_EQ(call(pdf, "XMLFileToArray", {"/data/x.xml", ByRef(empty)}), kM1);
  rec->on("ADODB.Recordset", "ActiveConnection").fails(3706, "no provider").times(3);
  EXPECT_EQ(call(pdf, "XMLFileToArray", {"/data/x.xml", ByRef(arr)}), kM2);
  rec->on("ADODB.Recordset", "Open").fails(static_cast<int32_t>(0x80004005u), "bad file").times(1);
  EXPECT_EQ(call(pdf, "XMLFileToArray", {"/data/x.xml", ByRef(arr)}), kM3);
}

TEST_F(AdoScript, XMLFileToArrayWithoutACountFails) {
  script({{"a", "$Text"}, {202, 202}, {{Variant("a1"), Variant("")}}, -1});
  Variant arr(Array({Bound{0, 1}}));
  EXPECT_EQ(call(pdf, "XMLFileToArray", {"/data/x.xml", ByRef(arr)}), kM4);
  EXPECT_EQ(rec->transcript().back(), "release ADODB.Recordset");
}

}  // namespace
