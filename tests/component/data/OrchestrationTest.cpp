// The data-source methods against the recording test server, for what a real
// provider hides: the XML providers tried in order, and the codes of sources
// no real database gives.
#include <gtest/gtest.h>

#include <memory>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

namespace pm::test {

using pm::recording::Recorder;
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
    rec->on(object, "MoveNext").does([=](auto&, auto) { return ++*pos, Variant(); });
    rec->on(object, "MoveFirst").does([=](auto&, auto) { return *pos = 0, Variant(); });
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

TEST_F(AdoScript, TextWriterGivesMinus3AndWritesNoFileForASourceWithoutFields) {
  script({{}, {}, {{}}});
  std::string path = dir.file("none.txt");
  EXPECT_EQ(call(pdf, "DatabaseTableToTextFile", {"Sales", "SELECT", Variant(path)}), kM3);
  EXPECT_THROW(readFile(path), std::exception);
}

TEST_F(AdoScript, XMLFileToRecordsetFallsBackThroughTheProvidersInOrderAndFailsOnlyWhenAllDo) {
  ObjectRef rs = rec->make("Caller", nullptr);
  rec->on("Caller", "ActiveConnection").fails(3706, "Provider cannot be found").times(2);
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant(rs)}), k1);
  EXPECT_EQ(rec->transcript(),
            (Lines({"Caller let ActiveConnection = \"Provider=MSDAOSP; Data Source=MSXML2.DSOControl;\"",
                    "Caller let ActiveConnection = \"Provider=MSDAOSP; Data Source=MSXML2.DSOControl.2.6;\"",
                    "Caller let ActiveConnection = \"Provider=MSDAOSP; Data Source=MSXML2.DSOControl.3.0;\"",
                    "Caller call Open(\"/data/x.xml\")"})));
  rec->on("Caller", "ActiveConnection").fails(3706, "Provider cannot be found");
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant(rs)}), kM1);
  ObjectRef rs2 = rec->make("Other", nullptr);
  rec->on("Other", "Open").fails(static_cast<int32_t>(0x80004005u), "not well-formed");
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant(rs2)}), kM2);
  EXPECT_EQ(call(pdf, "XMLFileToRecordset", {"/data/x.xml", Variant("no object")}), kM1);
}

TEST_F(AdoScript, XMLFileToArrayWithoutARecordCountFailsAndStillReleasesTheRecordset) {
  script({{"a", "$Text"}, {202, 202}, {{Variant("a1"), Variant("")}}, -1});
  Variant arr(Array({Bound{0, 1}}));
  EXPECT_EQ(call(pdf, "XMLFileToArray", {"/data/x.xml", ByRef(arr)}), kM4);
  EXPECT_EQ(rec->transcript().back(), "release ADODB.Recordset");
}

}  // namespace

}  // namespace pm::test
