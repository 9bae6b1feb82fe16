// The view a document opens with, kept in the file: the catalog's open
// action names the page and how it is zoomed, so the zoom set in the viewer
// is what any viewer shows when it opens the saved file.
#pragma once

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// The zoom range of the viewer, in percent; a scale outside it is brought to
// the nearer end.
inline constexpr double kMinZoom = 8.33;
inline constexpr double kMaxZoom = 6400;

double clampZoom(double percent);

// Sets the open action to show page (0-based) with the zoom type of the
// page view (0 a fixed scale in percent, 1 fit page, 2 fit width, 3 fit
// height, 4 fit visible width, 5 the viewer's preferred zoom, 6 reflowed to
// the width).
void storeOpenView(Doc& d, int page, int type, double percent);

}  // namespace pm::pdf
