// Linearized ("fast web view") files. The engine's own linearizer can drop
// objects from what it writes (a page's content stream, for one), so a file
// is written whole first and then linearized by qpdf, which rewrites it
// without losing anything.
#pragma once

#include <string>

namespace pm::pdf {

inline constexpr const char* kLinearizer = "qpdf";

// Rewrites the PDF file at path as a linearized file with the same content,
// through a temporary file beside it that replaces it only when complete.
// Raises a clear error when qpdf is missing or fails; the file is then left
// as it was (complete, not linearized).
void linearizeFile(const std::string& path);

}  // namespace pm::pdf
