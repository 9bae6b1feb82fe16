// The viewer played by the recording server, for the orchestration tests of
// the PDF-file methods.
#pragma once

#include <map>

#include "component/pdffiles/assembly/Real.h"
#include "automation/surfaces/Acrobat.h"
#include "support/Expect.h"

namespace pm::test {

class ViewerScript : public RecordedTest {
 protected:
  ViewerScript()
      : RecordedTest({acrobat::kApp, acrobat::kPDDoc, acrobat::kAVDoc, acrobat::kRect, acrobat::kPDBookmark}) {
    test::writeFile(path_, "%PDF-1.4\n");
  }
  CreatePDF& self() { return static_cast<CreatePDF&>(*pdf_); }
  // A recorded object that lives as long as the test, so its release does
  // not show in the transcript; one per name.
  Variant object(const std::string& name) {
    auto& o = kept_[name];
    if (!o) o = rec_->make(name, nullptr);
    return Variant(o);
  }
  Variant objects(const std::vector<std::string>& names) {
    std::vector<Variant> v;
    for (const std::string& n : names) v.push_back(object(n));
    return Variant(Array::vector(std::move(v)));
  }
  // Scripts a member to answer those objects. They are made when asked
  // for: a rule that held them would keep the recorder alive through them.
  recording::Rule& answer(const std::string& obj, const std::string& member, std::string name) {
    return rec_->on(obj, member).does([this, name](auto&, auto) { return object(name); });
  }
  recording::Rule& answerArray(const std::string& obj, const std::string& member, std::vector<std::string> names) {
    return rec_->on(obj, member).does([this, names](auto&, auto) { return objects(names); });
  }

  std::string path_ = dir_.file("report.pdf");
  std::map<std::string, ObjectRef> kept_;
};

}  // namespace pm::test
