// What the PDF-file methods derive from the viewer's version and from the
// paths they are given.
#pragma once

#include <string>

namespace pm::pdffiles {

// The leading number of the viewer version read at creation.
double acrobatVersion();

// The viewer window title for a file: its name after the last "/" when
// the viewer is newer than version 5, else the empty text.
std::string viewerWindowTitle(const std::string& path);

}  // namespace pm::pdffiles
