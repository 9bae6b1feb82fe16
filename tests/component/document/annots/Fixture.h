// The recording-server fixture of the annotation tests: an opened Document
// whose viewer answers page sizes, colours, new annotations with property
// objects, and the words of pages the test gives.
#pragma once

#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/Expect.h"
#include "support/RecordedDocument.h"

namespace pm::test {

using Lines = std::vector<std::string>;

class AnnotFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = recording::Recorder::create();
    recordViewerDocument(*rec);
    rec->on("AcroExch.PDDoc", "AcquirePage").returnsObject("Page");
    rec->on("Page", "GetSize").returnsObject("Size");
    rec->on("Size", "y").returns(Variant(792.0));
    rec->on("JSO", "NumPages").does([this](recording::RecordedObject&, std::span<const Arg>) {
      return Variant(numPages);
    });
    rec->on("JSO", "Color").returnsObject("Color");
    rec->on("Color", "yellow").returns(V({"RGB", 1.0, 1.0, 0.0}));
    rec->on("Color", "red").returns(V({"RGB", 1.0, 0.0, 0.0}));
    rec->on("Color", "black").returns(V({"G", 0.0}));
    rec->on("Color", "white").returns(V({"G", 1.0}));
    rec->on("JSO", "addAnnot").returnsObject("Annot");
    // Each property object gets its own name: Props, Props#2, ...
    rec->on("Annot", "getProps").does([this](recording::RecordedObject&, std::span<const Arg>) {
      ++propsMade;
      std::string name = propsMade == 1 ? "Props" : "Props#" + std::to_string(propsMade);
      return Variant(ObjectRef(rec->make(name, nullptr)));
    });
    moduleState().strOpenDocumentPath = "/docs/a.pdf";
  }
  ObjectRef open() {
    ObjectRef d = createDocument();
    rec->clear();
    propsMade = 0;
    return d;
  }
  // Words of each page as GetPageNthWord answers them (unstripped), and a
  // quad list per word built from the page and word index.
  void pages(std::vector<std::vector<std::string>> words) {
    words_ = std::move(words);
    numPages = int32_t(words_.size());
    rec->on("JSO", "getPageNumWords").does([this](recording::RecordedObject&, std::span<const Arg> a) {
      return Variant(int32_t(words_.at(static_cast<size_t>(CLng(a[0].get()))).size()));
    });
    rec->on("JSO", "GetPageNthWord").does([this](recording::RecordedObject&, std::span<const Arg> a) {
      size_t p = static_cast<size_t>(CLng(a[0].get())), w = static_cast<size_t>(CLng(a[1].get()));
      if (p >= words_.size() || w >= words_[p].size()) raise(1002, "No such word", "viewer");
      return Variant(words_[p][w]);
    });
    rec->on("JSO", "GetPageNthWordQuads").does([](recording::RecordedObject&, std::span<const Arg> a) {
      return quadsOf(CLng(a[0].get()), CLng(a[1].get()));
    });
  }
  static Variant quadsOf(int32_t page, int32_t word) {
    double x = 10.0 * word, y = 700.0 - 100 * page;
    return V({V({x, y, x + 8, y, x, y - 10, x + 8, y - 10})});
  }
  // The transcript lines that start with one of the prefixes.
  Lines only(std::initializer_list<std::string> prefixes) const {
    Lines out;
    for (const std::string& l : rec->transcript())
      for (const std::string& p : prefixes)
        if (l.rfind(p, 0) == 0) {
          out.push_back(l);
          break;
        }
    return out;
  }

  std::shared_ptr<recording::Recorder> rec;
  std::vector<std::vector<std::string>> words_;
  int32_t numPages = 3;
  int propsMade = 0;
};

}  // namespace pm::test
