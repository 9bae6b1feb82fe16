// The names of the bitmap files the thumbnail methods write.
#pragma once

#include <cstdint>
#include <string>

#include "automation/Variant.h"

namespace pm::pdffiles {

// The extension given, or "bmp" when it is blank; otherwise used as it
// is (case kept, a leading dot gives two dots).
std::string thumbnailExtension(const Variant& strFileExtention);

// The file given, or when it is blank the PDF's path up to and including
// its last "." followed by the extension (the extension alone when the
// path has no ".").
std::string thumbnailFile(const std::string& strPDF, const Variant& strFile, const std::string& extension);

// The folder of the page images: strDir with "/" appended when it lacks
// one, or when it is omitted or blank the folder of the PDF (up to and
// including its last "/").
std::string thumbnailFolder(const std::string& strPDF, const Variant& strDir);

// The file name of the PDF after its last "/", up to its first "."; error 5
// when the name has no ".".
std::string thumbnailBaseName(const std::string& strPDF);

// folder & base & "_" & page & "." & extension, pages from 1.
std::string pageImageFile(const std::string& folder, const std::string& base, int32_t page,
                          const std::string& extension);

}  // namespace pm::pdffiles
