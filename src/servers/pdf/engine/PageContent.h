// Adding to what a page draws: resources under fresh names and content
// streams above or below the page's own, which keeps its graphics state to
// itself.
#pragma once

#include <string>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf::content {

// The page's own content as one string of operators.
std::string bytes(pdf_obj* page);
// The page's resources (inherited ones become the page's own first).
pdf_obj* resources(Doc& d, pdf_obj* page);
// Puts value under a new name of the kind (XObject, ExtGState, Font) in
// the page's resources and answers the name.
std::string addResource(Doc& d, pdf_obj* page, const char* kind, pdf_obj* value, const std::string& prefix);
// Draws ops above (onTop) or below the page's content.
void add(Doc& d, pdf_obj* page, const std::string& ops, bool onTop);
// A graphics state with the given fill and stroke opacity.
mu::ObjPtr opacityState(Doc& d, double opacity);
// The page's crop box (the media box when it has none).
fz_rect cropBox(pdf_obj* page);
// Text of a number for a content stream.
std::string num(double v);

}  // namespace pm::pdf::content
