// The annotations of a document carried with its form data: written into
// FDF (/Annots) and XFDF (<annots>) exports and read back on import.
#pragma once

#include <string>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf::annotdata {

// Whether the viewer lists annotations of a subtype: every one but
// widgets, pop-ups and links, and none without a subtype.
bool isListed(const std::string& subtype);

// Every annotation of every page but widgets, pop-ups and links.
// fdfEntry: " /Annots [ ... ]" for the FDF dictionary ("" when there is none).
std::string fdfEntry(Doc& d);
// "<annots>...</annots>\n" for the XFDF document.
std::string xfdfElement(Doc& d);

// Adds the annotations of an FDF file's /Annots array (an object of the
// FDF document) or of an XFDF <annots> element to the document's pages.
// An annotation with the name (NM) of one already on its page replaces it.
void importFdf(Doc& d, pdf_obj* annots);
void importXfdf(Doc& d, fz_xml* annots);

}  // namespace pm::pdf::annotdata
