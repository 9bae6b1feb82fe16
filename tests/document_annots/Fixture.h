// The recording-server fixture of the annotation tests: an opened Document
// whose viewer answers page sizes, colours, new annotations with property
// objects, and the words of pages the test gives.
#pragma once

#include <gtest/gtest.h>

#include <map>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/Expect.h"

namespace pm::test {

using Lines = std::vector<std::string>;

class AnnotFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  ObjectRef open();
  // Words of each page as GetPageNthWord answers them (unstripped), and a
  // quad list per word built from the page and word index.
  void pages(std::vector<std::vector<std::string>> words);
  static Variant quadsOf(int32_t page, int32_t word);
  // The transcript lines that start with one of the prefixes.
  Lines only(std::initializer_list<std::string> prefixes) const;

  std::shared_ptr<recording::Recorder> rec;
  std::vector<std::vector<std::string>> words_;
  int32_t numPages = 3;
  int propsMade = 0;
};

}  // namespace pm::test
