// Fuzz target: XFDF files imported into a form (fields and annotations).
#include "Fuzz.h"
#include "FuzzForm.h"

std::vector<std::string> pmFuzzTokens() {
  return {"<?xml version=\"1.0\"?>",
          "<xfdf xmlns=\"http://ns.adobe.com/xfdf/\">",
          "</xfdf>",
          "<fields>",
          "</fields>",
          "<field name=\"a\">",
          "</field>",
          "<value>",
          "</value>",
          "<annots>",
          "</annots>",
          "<text page=\"0\" rect=\"0,0,9,9\">",
          "</text>",
          "&amp;",
          "<![CDATA["};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmfuzz::importInto("importAnXFDF", pmfuzz::writeScratch(data, size, ".xfdf"));
  return 0;
}
