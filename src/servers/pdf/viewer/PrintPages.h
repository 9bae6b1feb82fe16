// Printing a page range of a document: the pages are rendered into a
// PostScript file and sent as one job to the user's default printer.
#pragma once

#include <string>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// Resolution of the rendered pages, in dots per inch.
inline constexpr int kPrintResolution = 300;

// How the pages go to paper: last page first, and with or without their
// annotations. Content meant only for print (optional content whose usage
// says so) is drawn, content meant only for the screen is not.
struct PrintOptions {
  bool reverse = false;
  bool annotations = true;
};

// Renders pages first to last (0-based, inclusive) of d into a PostScript
// file at path, each page at its own size.
void renderPostScript(Doc& d, int first, int last, const std::string& path, const PrintOptions& options = {});

// Prints pages first to last (0-based, inclusive) on the default printer as
// a job named title; returns the job id. Raises when the range does not
// exist, when there is no default printer or the job is refused.
int printPages(Doc& d, int first, int last, const std::string& title, const PrintOptions& options = {});

}  // namespace pm::pdf
