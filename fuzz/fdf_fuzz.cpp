// Fuzz target: FDF files imported into a form (fields and annotations).
#include "Fuzz.h"
#include "FuzzForm.h"

std::vector<std::string> pmFuzzTokens() {
  return {"%FDF-1.2\n",
          "1 0 obj",
          "endobj\n",
          "<<",
          ">>",
          "/FDF",
          "/Fields [",
          "]",
          "/Kids [",
          "/T (a)",
          "/V (x)",
          "/V /Yes",
          "2 0 R",
          "trailer\n<< /Root 1 0 R >>\n",
          "%%EOF\n",
          "/Annots [",
          "/Subtype /Text",
          "/Rect [0 0 9 9]"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmfuzz::importInto("importAnFDF", pmfuzz::writeScratch(data, size, ".fdf"));
  return 0;
}
