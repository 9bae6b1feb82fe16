// Printing a page range of a document: the pages are rendered into a
// PostScript file and sent as one job to the user's default printer.
#pragma once

#include <string>

#include "servers/pdf/Doc.h"

namespace pm::pdf {

// Resolution of the rendered pages, in dots per inch.
inline constexpr int kPrintResolution = 300;

// Renders pages first to last (0-based, inclusive) of d into a PostScript
// file at path, each page at its own size.
void renderPostScript(Doc& d, int first, int last, const std::string& path);

// Prints pages first to last (0-based, inclusive) on the default printer as
// a job named title; returns the job id. Raises when the range does not
// exist, when there is no default printer or the job is refused.
int printPages(Doc& d, int first, int last, const std::string& title);

}  // namespace pm::pdf
