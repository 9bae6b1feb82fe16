// What the member groups of the document's JavaScript object share: the
// registration hook, errors, colours, page arguments and name trees.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/Automation.h"
#include "servers/pdf/viewer/Objects.h"
#include "servers/pdf/engine/NameTree.h"
#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf::js {

// Member groups of the JavaScript object register themselves here and are
// added to its member table after its own members.
using Groups = MemberGroups<DocHolder>;

[[noreturn]] void fail(const std::string& description);
// A member this engine cannot carry out: a clear error instead of a result.
[[noreturn]] void notSupported(const std::string& what);

// Writes bytes to path through a fresh file beside it, renamed over the
// target when complete; a failure leaves no part file and the old file.
void writeFileSafely(const std::string& path, std::string_view bytes);

// The document of a member call.
Doc& docOf(DocHolder& self);

// A page index argument; missing gives def. Raises for a page outside.
int pageArg(Doc& d, const Variant& v, int def);
// A range [first, last] of pages; missing first gives 0, missing last gives
// lastDef (-1: the last page). Raises unless 0 <= first <= last < count.
std::pair<int, int> pageRange(Doc& d, const Variant& first, const Variant& last, int lastDef = -1);

// Colours of the JavaScript object (["RGB", r, g, b], ["G", g],
// ["CMYK", c, m, y, k], ["T"]) and their PDF form (an array of 0, 1, 3
// or 4 numbers).
struct Colour {
  std::vector<double> comps;  // empty: transparent
};
Colour colourArg(const Variant& v);
Variant colourValue(const std::vector<double>& comps);
using po::numbers;

// A rectangle argument [x0, y0, x1, y1] in any corner order, normalised.
fz_rect rectArg(const Variant& v);
// A rectangle as the JavaScript object gives it: [left, top, right, bottom].
Variant rectValue(fz_rect r);
std::vector<Variant> items(const Variant& v);  // array elements, or the one value

// The text of a variant that may be missing.
std::string textArg(const Variant& v, const std::string& def = {});
bool boolArg(const Variant& v, bool def);

}  // namespace pm::pdf::js
