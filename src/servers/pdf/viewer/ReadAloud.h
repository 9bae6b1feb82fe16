// The viewer's read-aloud commands: the text of the current page, or of the
// current page to the end, spoken through the system's speech synthesizer.
#pragma once

#include <string>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// The text of pages first to last (0-based, inclusive) in reading order,
// words separated as on the page and lines by line breaks.
std::string readingText(Doc& d, int first, int last);

// Speaks pages first to last; a clear error when speech is not available.
void readAloud(Doc& d, int first, int last);

}  // namespace pm::pdf
