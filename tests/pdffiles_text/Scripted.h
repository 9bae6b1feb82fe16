// The viewer played by the recording server, for the orchestration tests of
// the PDF-file methods.
#pragma once

#include <gtest/gtest.h>

#include "automation/surfaces/Acrobat.h"
#include "component/CreatePDF.h"
#include "component/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

namespace scripted {

using namespace pm;
using Lines = std::vector<std::string>;

inline std::string q(const std::string& s) { return recording::Describe(Variant(s)); }

class ViewerScript : public ::testing::Test {
 protected:
  ViewerScript() : registry_("PRESSMARK_REGISTRY", registryDir_.path()) {
    for (const char* c : {acrobat::kApp, acrobat::kPDDoc, acrobat::kAVDoc, acrobat::kRect, acrobat::kPDBookmark})
      rec_->registerClass(c);
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
    moduleState().strAcrobatVersion = "7.1";
    path_ = dir_.file("report.pdf");
    test::writeFile(path_, "%PDF-1.4\n");
  }
  CreatePDF& self() { return static_cast<CreatePDF&>(*pdf_); }
  // A recorded object that lives as long as the test, so its release does
  // not show in the transcript.
  Variant object(const std::string& name) {
    auto o = rec_->make(name, nullptr);
    kept_.push_back(o);
    return Variant(ObjectRef(o));
  }
  Variant objects(std::initializer_list<const char*> names) {
    std::vector<Variant> v;
    for (const char* n : names) v.push_back(object(n));
    return Variant(Array::vector(std::move(v)));
  }

  test::TempDir registryDir_;
  test::ScopedEnv registry_;
  test::TempDir dir_;
  std::shared_ptr<recording::Recorder> rec_ = recording::Recorder::create();
  ObjectRef pdf_;
  std::string path_;
  std::vector<ObjectRef> kept_;
};

}  // namespace scripted
