#include "servers/distiller/PdfPages.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <climits>
#include <exception>

namespace pm::distiller {

int32_t pdfPageCount(const std::string& path) {
  try {
    QPDF pdf;
    // The library's warnings about a repaired file would go to the
    // client's standard error; a file it cannot repair shows as 0.
    pdf.setSuppressWarnings(true);
    pdf.processFile(path.c_str());
    // The pages walked, not the /Count the file declares: a hostile count
    // would otherwise become that many page events.
    const size_t n = QPDFPageDocumentHelper(pdf).getAllPages().size();
    return n > INT32_MAX ? 0 : static_cast<int32_t>(n);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace pm::distiller
