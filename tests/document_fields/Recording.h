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
  std::shared_ptr<recording::Recorder> rec;
  ObjectRef doc;
};

}  // namespace pm::test
