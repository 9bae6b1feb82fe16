// The recording fixture of the form-field tests: a Document opened over a
// recorded viewer whose JavaScript object is "JSO", whose new fields are
// "F" and whose colour table is "Color".
#pragma once

#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/RecordedDocument.h"
#include "support/Expect.h"

namespace pm::test {

using Lines = std::vector<std::string>;

class FieldRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = recording::Recorder::create();
    recordViewerDocument(*rec);
    rec->on("JSO", "addField").returnsObject("F");
    rec->on("JSO", "Color").returnsObject("Color");
    rec->on("Color", "white").returns(V({"G", int16_t(1)}));
    rec->on("Color", "black").returns(V({"G", int16_t(0)}));
    moduleState().strOpenDocumentPath = "/docs/form.pdf";
    doc = createDocument();
    rec->clear();
  }
  void TearDown() override {
    doc.reset();
    moduleState().objFieldRequestJS.reset();
  }
  // The lines of a default colour read from the colour table.
  static Lines colour(const std::string& prop, const std::string& name, const std::string& value) {
    return {"JSO get Color", "Color get " + name, "F let " + prop + " = " + value, "release Color"};
  }
  std::shared_ptr<recording::Recorder> rec;
  ObjectRef doc;
};

inline Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace pm::test
