// The page count of a PDF file, read in this process by the qpdf library:
// a PDF input that the job does not change is passed through whole, and its
// pages are reported as Ghostscript would report them.
#pragma once

#include <cstdint>
#include <string>

namespace pm::distiller {

// The pages the file's page tree really holds (not the count it declares),
// 0 when the file cannot be read without a password or its pages cannot be
// found. Never throws.
int32_t pdfPageCount(const std::string& path);

}  // namespace pm::distiller
