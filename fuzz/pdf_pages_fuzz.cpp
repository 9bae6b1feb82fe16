// Fuzz target: a PDF given to the Distiller, whose pages are counted in
// process before it is passed through whole.
#include "Fuzz.h"
#include "servers/distiller/PdfPages.h"

std::vector<std::string> pmFuzzTokens() {
  return {"%PDF-1.7\n",
          " 0 obj\n",
          "endobj\n",
          "<< /Type /Pages /Kids [",
          "/Count 999999999 ",
          " 0 R ",
          "] >>",
          "<< /Type /Page /Parent ",
          "trailer\n<< /Root 1 0 R /Size 9 >>\n",
          "startxref\n",
          "%%EOF\n",
          "xref\n0 9\n",
          "/Type /ObjStm /N 3 /First 12"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pm::distiller::pdfPageCount(pmfuzz::writeScratch(data, size, ".pdf"));
  return 0;
}
