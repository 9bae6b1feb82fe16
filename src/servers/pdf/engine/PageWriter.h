// Pages through one of MuPDF's document writers: the loop that PDF, HTML,
// PostScript and the other one-file exports, printing and the web page
// import share.
#pragma once

#include <mupdf/fitz.h>

namespace pm::pdf {

// How one page is drawn into the writer's device; nullptr draws the whole
// page with its annotations.
using RunPage = void (*)(fz_context*, fz_page*, fz_device*, const void* how);

// Pages first to last of doc (last to first when reverse) into w, each
// bounded, begun, drawn and ended. Throws MuPDF's own errors, so it runs
// inside mu::guard; a page being written is dropped on every path.
void writePages(fz_context* c, fz_document* doc, fz_document_writer* w, int first, int last, bool reverse = false,
                RunPage run = nullptr, const void* how = nullptr);

}  // namespace pm::pdf
