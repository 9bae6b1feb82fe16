// Presentations and drawings the tests write for themselves as flat ODF:
// one text frame per slide or page, "Slide <n> marker" / "Page <n> marker".
#pragma once

#include <string>
#include <vector>

namespace pm::test {

// A presentation (28 x 15.75 cm) or a drawing (A4) with the automatic
// styles given and one page of the given frames for each entry of pages.
std::string makeDrawing(bool presentation, const std::string& styles, const std::vector<std::string>& pages);
// A presentation of count slides, 28 x 15.75 cm (wider than tall).
std::string makeFodp(int count);
// A drawing of count A4 pages (taller than wide), as a publication stands in.
std::string makeFodg(int count);

}  // namespace pm::test
