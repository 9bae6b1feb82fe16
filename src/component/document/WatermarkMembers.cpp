// Watermarks of Document: a page of another PDF or a text stamped on a
// range of pages, the text optionally numbered page by page.
#include "component/document/PageNumbers.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

using annot::isZero;
using namespace pages;

// Both 0: every page; otherwise first-or-zero to last-or-end.
std::pair<Variant, Variant> range(Document& d, const Variant& start, const Variant& end) {
  if (isZero(start) && isZero(end)) return {Variant(int16_t(0)), lastPage(d)};
  Variant first = firstOrZero(start);
  return {first, lastOrEnd(d, end)};
}

Variant AddWatermarkFromFile(Document& d, Frame& f) {
  Variant source = firstOrZero(f["lngSourcePage"]);
  auto [first, last] = range(d, f["lngStartPage"], f["lngEndPage"]);
  call(d.objJSO, "AddWatermarkFromFile",
       {f["strSourcePDF"], source, first, last, f["blnOnTop"], f["blnOnScreen"], f["blnOnPrint"], f["intHorizAlign"],
        f["intVertAlign"], f["intHorizValue"], f["intVertValue"], f["blnPercentage"], f["sngScale"], f["blnFixedPrint"],
        f["lngRotation"], f["sngOpacity"]});
  return {};
}

Variant AddWatermarkFromText(Document& d, Frame& f) {
  auto [first, last] = range(d, f["lngStartPage"], f["lngEndPage"]);
  auto stamp = [&](const Variant& text, const Variant& from, const Variant& to) {
    Variant font(vocab::Font(f["lngFont"]));
    Variant colour = f["varColor"].isArray() ? f["varColor"] : get(objectOf(get(d.objJSO, "Color")), "black");
    call(d.objJSO, "AddWatermarkFromText",
         {text, f["lngAlignment"], font, f["intTextSize"], colour, from, to, f["blnOnTop"], f["blnOnScreen"],
          f["blnOnPrint"], f["intHorizAlign"], f["intVertAlign"], f["intHorizValue"], f["intVertValue"],
          f["blnPercentage"], f["sngScale"], f["blnFixedPrint"], f["lngRotation"], f["sngOpacity"]});
  };
  if (!CBool(f["blnIncludePageNo"])) {
    stamp(f["strText"], first, last);
    return {};
  }
  int32_t seed = isZero(f["lngPageNoSeed"]) ? 0 : CLng(f["lngPageNoSeed"]);
  std::string text = CStr(f["strText"]);
  for (int32_t i = CLng(first), end = CLng(last); i <= end; ++i) {
    int32_t number = seed != 0 ? seed : i + 1;
    stamp(Variant(text + std::to_string(number)), Variant(i), Variant(i));
    if (seed != 0) ++seed;
  }
  return {};
}

ParamSpec opt(const char* n, Variant def) {
  return P(n).opt(std::move(def));
}

void describe(Members<Document>& m) {
  m.method("AddWatermarkFromFile",
           {P("strSourcePDF").path(), opt("lngSourcePage", int32_t(0)), opt("lngStartPage", int32_t(0)),
            opt("lngEndPage", int32_t(0)), opt("blnOnTop", true), opt("blnOnScreen", true), opt("blnOnPrint", true),
            opt("sngScale", 1.0f), opt("sngOpacity", 1.0f), opt("intHorizAlign", int16_t(1)),
            opt("intVertAlign", int16_t(1)), opt("intHorizValue", int16_t(0)), opt("intVertValue", int16_t(0)),
            opt("blnPercentage", false), opt("blnFixedPrint", false), opt("lngRotation", int32_t(0))},
           &AddWatermarkFromFile,
           "Adds a page as a watermark to the specified pages in the document. Requires Acrobat 7 or greater.")
      .method("AddWatermarkFromText",
              {P("strText"),
               opt("lngAlignment", int32_t(0)),
               opt("lngFont", int32_t(0)),
               opt("intTextSize", int16_t(24)),
               opt("varColor", Variant::nothing()),
               opt("lngStartPage", int32_t(0)),
               opt("lngEndPage", int32_t(0)),
               opt("blnOnTop", true),
               opt("blnOnScreen", true),
               opt("blnOnPrint", true),
               opt("sngScale", 1.0f),
               opt("sngOpacity", 1.0f),
               opt("blnIncludePageNo", false),
               opt("lngPageNoSeed", int32_t(0)),
               opt("intHorizAlign", int16_t(1)),
               opt("intVertAlign", int16_t(1)),
               opt("intHorizValue", int16_t(0)),
               opt("intVertValue", int16_t(0)),
               opt("blnPercentage", false),
               opt("blnFixedPrint", false),
               opt("lngRotation", int32_t(0))},
              &AddWatermarkFromText,
              "Adds the given text as a watermark to the specified pages in the document. Requires Acrobat 7 or "
              "greater.");
}

const DocumentMembers::Register reg("watermarks", &describe);

}  // namespace
}  // namespace pm
