// The PageSetup of a Word document: orientation, margins and page size of
// the page styles the body text uses.
#include <com/sun/star/lang/XComponent.hpp>

#include "servers/office/WordObjects.h"

namespace pm::office::word {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

class WordPageSetup : public Dispatch {
 public:
  explicit WordPageSetup(DocRef doc) : doc_(std::move(doc)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "PageSetup"; }

  Variant GetOrientation(Frame&) {
    bool landscape = false;
    doc_->with("reading the orientation", [&](const Reference<css::lang::XComponent>& m, Session&) {
      landscape = getProp<sal_Bool>(WordDocument::firstPageStyle(m), "IsLandscape");
    });
    return Variant(int32_t{landscape ? 1 : 0});
  }
  Variant LetOrientation(Frame& f) {
    int32_t o = CLng(f["value"]);
    if (o != 0 && o != 1)
      fail(kErrOutOfRange, "Value out of range: Orientation must be 0 (portrait) or 1 (landscape).");
    doc_->with("setting the orientation", [&](const Reference<css::lang::XComponent>& m, Session&) {
      for (const Reference<XPropSet>& st : WordDocument::usedPageStyles(m)) {
        sal_Int32 w = getProp<sal_Int32>(st, "Width"), h = getProp<sal_Int32>(st, "Height");
        bool wantLandscape = o == 1;
        const bool turned = (wantLandscape && w < h) || (!wantLandscape && w > h);
        // A page style the office is given again, even unchanged, has every
        // page laid out anew before the next print or export: a style that
        // already has this orientation is left alone.
        if (!turned && bool(getProp<sal_Bool>(st, "IsLandscape")) == wantLandscape) continue;
        if (turned) std::swap(w, h);
        setProp(st, "IsLandscape", sal_Bool(wantLandscape));
        setProp(st, "Width", w);
        setProp(st, "Height", h);
      }
    });
    return {};
  }
  Variant margin(const char* property) {
    double pt = 0;
    doc_->with(std::string("reading ") + property, [&](const Reference<css::lang::XComponent>& m, Session&) {
      pt = hundredthMmToPoints(getProp<sal_Int32>(WordDocument::firstPageStyle(m), property));
    });
    return Variant(static_cast<float>(pt));
  }
  Variant setMargin(const char* property, Frame& f) {
    double pt = CDbl(f["value"]);
    // Word takes margins from 0 up to the page size (22 inches at most).
    if (pt < 0 || pt > 1584)
      fail(kErrOutOfRange, std::string("Value out of range: ") + property + " " + DoubleToText(pt) + ".");
    doc_->with(std::string("setting ") + property, [&](const Reference<css::lang::XComponent>& m, Session&) {
      for (const Reference<XPropSet>& st : WordDocument::usedPageStyles(m)) setProp(st, property, pointsTo100thMm(pt));
    });
    return {};
  }
  Variant GetTop(Frame&) { return margin("TopMargin"); }
  Variant GetLeft(Frame&) { return margin("LeftMargin"); }
  Variant GetRight(Frame&) { return margin("RightMargin"); }
  Variant GetBottom(Frame&) { return margin("BottomMargin"); }
  Variant LetTop(Frame& f) { return setMargin("TopMargin", f); }
  Variant LetLeft(Frame& f) { return setMargin("LeftMargin", f); }
  Variant LetRight(Frame& f) { return setMargin("RightMargin", f); }
  Variant LetBottom(Frame& f) { return setMargin("BottomMargin", f); }
  Variant PageWidth(Frame&) {
    double pt = 0;
    doc_->with("reading the page width", [&](const Reference<css::lang::XComponent>& m, Session&) {
      pt = hundredthMmToPoints(getProp<sal_Int32>(WordDocument::firstPageStyle(m), "Width"));
    });
    return Variant(static_cast<float>(pt));
  }
  Variant PageHeight(Frame&) {
    double pt = 0;
    doc_->with("reading the page height", [&](const Reference<css::lang::XComponent>& m, Session&) {
      pt = hundredthMmToPoints(getProp<sal_Int32>(WordDocument::firstPageStyle(m), "Height"));
    });
    return Variant(static_cast<float>(pt));
  }

 private:
  DocRef doc_;
};

}  // namespace

Variant WordDocument::PageSetup(Frame&) {
  requireOpen();
  return Variant(
      ObjectRef(std::make_shared<WordPageSetup>(std::static_pointer_cast<WordDocument>(shared_from_this()))));
}

const MemberTable* WordPageSetup::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("PageSetup");
    Members<WordPageSetup> m(table);
    m.get("Orientation", {}, &WordPageSetup::GetOrientation)
        .let("Orientation", {P("value").byVal()}, &WordPageSetup::LetOrientation)
        .get("TopMargin", {}, &WordPageSetup::GetTop)
        .let("TopMargin", {P("value").byVal()}, &WordPageSetup::LetTop)
        .get("LeftMargin", {}, &WordPageSetup::GetLeft)
        .let("LeftMargin", {P("value").byVal()}, &WordPageSetup::LetLeft)
        .get("RightMargin", {}, &WordPageSetup::GetRight)
        .let("RightMargin", {P("value").byVal()}, &WordPageSetup::LetRight)
        .get("BottomMargin", {}, &WordPageSetup::GetBottom)
        .let("BottomMargin", {P("value").byVal()}, &WordPageSetup::LetBottom)
        .get("PageWidth", {}, &WordPageSetup::PageWidth)
        .get("PageHeight", {}, &WordPageSetup::PageHeight);
    return table;
  }();
  return &t;
}
}  // namespace pm::office::word
