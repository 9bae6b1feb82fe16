// Pages of Document: thumbnails, web links, flattening, rotations, labels,
// tab order, deleting, extracting, inserting, replacing, moving and adding
// pages, printing and fetching a web page.
#include "component/document/PageNumbers.h"

namespace pm {
namespace {

using annot::aboveZero;
using annot::isZero;
using annot::minusOne;
using namespace pages;

// No range: the call without arguments; otherwise first-or-zero to
// last-or-end.
Variant rangeCall(Document& d, Frame& f, const char* member) {
  if (isZero(f["lngStartPage"]) && isZero(f["lngEndPage"])) return call(d.objJSO, member);
  Variant first = firstOrZero(f["lngStartPage"]);
  Variant last = lastOrEnd(d, f["lngEndPage"]);
  return call(d.objJSO, member, {first, last});
}

Variant AddThumbnails(Document& d, Frame& f) {
  rangeCall(d, f, "AddThumbnails");
  return {};
}
Variant RemoveThumbnails(Document& d, Frame& f) {
  rangeCall(d, f, "RemoveThumbnails");
  return {};
}
Variant AddWebLinks(Document& d, Frame& f) {
  return Variant(CLng(rangeCall(d, f, "AddWebLinks")));
}
Variant RemoveWebLinks(Document& d, Frame& f) {
  return Variant(CLng(rangeCall(d, f, "RemoveWebLinks")));
}

Variant FlattenPages(Document& d, Frame& f) {
  Variant first, last;
  if (isZero(f["lngStartPage"]) && isZero(f["lngEndPage"])) {
    first = Variant(int16_t(0));
    last = lastPage(d);
  } else {
    first = firstOrZero(f["lngStartPage"]);
    last = lastOrEnd(d, f["lngEndPage"]);
  }
  call(d.objJSO, "FlattenPages", {first, last, Variant(int16_t(0))});
  return {};
}

Variant SetPageRotations(Document& d, Frame& f) {
  Variant first = firstOrSame(f["lngStartPage"]);
  Variant last = lastOrEnd(d, f["lngEndPage"]);
  call(d.objJSO, "SetPageRotations", {first, last, f["lngRotation"]});
  return {};
}
Variant GetPageRotation(Document& d, Frame& f) {
  return Variant(CInt(call(d.objJSO, "GetPageRotation", {firstOrSame(f["lngPage"])})));
}
Variant GetPageLabel(Document& d, Frame& f) {
  return Variant(CStr(call(d.objJSO, "GetPageLabel", {firstOrZero(f["lngPage"])})));
}

Variant SetPageLabels(Document& d, Frame& f) {
  static const char* styles[] = {"D", "R", "r", "A", "a", ""};
  std::string style = "D";
  for (int32_t i = 0; i < 6; ++i)
    if (Compare(f["lngPageNumberStyle"], Variant(i)) == 0) {
      style = styles[i];
      break;
    }
  Variant page = firstOrZero(f["lngStartPage"]);
  if (style.empty()) {
    call(d.objJSO, "SetPageLabels", {page});
  } else {
    Variant label = V({Variant(style), f["strPageNumberPrefix"], f["lngFirstPageNumber"]});
    call(d.objJSO, "SetPageLabels", {page, ByRef(label)});
  }
  return {};
}

Variant SetPageTabOrder(Document& d, Frame& f) {
  static const char* orders[] = {"rows", "columns", "structure"};
  std::string order;
  for (int32_t i = 0; i < 3; ++i)
    if (Compare(f["lngPageTabOrder"], Variant(i)) == 0) {
      order = orders[i];
      break;
    }
  Variant page = aboveZero(f["lngPage"]) ? minusOne(f["lngPage"]) : lastPage(d);
  call(d.objJSO, "SetPageTabOrder", {page, Variant(order)});
  return {};
}

// ---- Page list ----
Variant DeletePages(Document& d, Frame& f) {
  const Variant &s = f["lngStartPage"], &e = f["lngEndPage"];
  if (isZero(s) && isZero(e)) {
    call(d.objJSO, "DeletePages");
  } else if (isZero(s)) {
    call(d.objJSO, "DeletePages", {Variant(int16_t(0)), minusOne(e)});
  } else if (isZero(e)) {
    Variant first = minusOne(s);
    call(d.objJSO, "DeletePages", {first, lastPage(d)});
  } else {
    call(d.objJSO, "DeletePages", {minusOne(s), minusOne(e)});
  }
  return {};
}

Variant ExtractPages(Document& d, Frame& f) {
  const Variant &s = f["lngStartPage"], &e = f["lngEndPage"];
  // Without a path the viewer would make the new document in a window
  // nobody sees; unattended, that is work lost without a word.
  if (Trim(CStr(f["strPath"])).empty())
    raise(basic::InvalidProcedureCall, "ExtractPages needs strPath, the path of the new document; none was given");
  Variant first = isZero(s) ? Variant(int16_t(0)) : minusOne(s);
  Variant last = isZero(e) ? lastPage(d) : minusOne(e);
  call(d.objJSO, "ExtractPages", {first, last, f["strPath"]});
  return {};
}

// The source range of InsertPages and ReplacePages after the position.
void sourceCall(Document& d, const char* member, const Variant& position, Frame& f) {
  const Variant &src = f["strSourcePDF"], &s = f["lngStartPage"], &e = f["lngEndPage"];
  if (isZero(s) && isZero(e))
    call(d.objJSO, member, {position, src});
  else if (isZero(s))
    call(d.objJSO, member, {position, src, Variant::missing(), minusOne(e)});
  else if (isZero(e))
    call(d.objJSO, member, {position, src, minusOne(s)});
  else
    call(d.objJSO, member, {position, src, minusOne(s), minusOne(e)});
}

Variant InsertPages(Document& d, Frame& f) {
  Variant position = isZero(f["lngInsertAfterPage"]) ? lastPage(d) : firstOrSame(f["lngInsertAfterPage"]);
  sourceCall(d, "InsertPages", position, f);
  return {};
}
Variant ReplacePages(Document& d, Frame& f) {
  sourceCall(d, "ReplacePages", firstOrSame(f["lngReplaceStartPage"]), f);
  return {};
}

Variant MovePage(Document& d, Frame& f) {
  Variant page = firstOrZero(f["lngPage"]);
  Variant after = aboveZero(f["lngMoveAfterPage"]) ? minusOne(f["lngMoveAfterPage"])
                  : isZero(f["lngMoveAfterPage"])  ? lastPage(d)
                                                   : f["lngMoveAfterPage"];
  call(d.objJSO, "MovePage", {page, after});
  return {};
}

Variant NewPage(Document& d, Frame& f) {
  Variant box = call(d.objJSO, "getPageBox", {"Crop"});
  if (!box.isArray() || box.array().size() < 4) raise(basic::TypeMismatch, "The viewer gave no crop box");
  const Array& b = box.array();
  auto at = [&](int32_t i) { return CDbl(b.at({b.lbound() + i})); };
  // The box is left, top, right, bottom; a box away from the origin has
  // its size in the differences, not in its far edges.
  Variant width(at(2) - at(0)), height(at(1) - at(3));
  if (Compare(f["lngInsertAfterPage"], Variant(int32_t(-1))) == 0) {
    call(d.objJSO, "NewPage", {Variant(int16_t(0)), width, height});
  } else {
    Variant position = aboveZero(f["lngInsertAfterPage"]) ? f["lngInsertAfterPage"] : get(d.objJSO, "NumPages");
    call(d.objJSO, "NewPage", {position, width, height});
  }
  return {};
}

Variant PrintDocument(Document& d, Frame& f) {
  Variant first = firstOrSame(f["lngStartPage"]);
  Variant last = lastOrEnd(d, f["lngEndPage"]);
  call(d.objJSO, "Print",
       {f["blnShowWindow"], first, last, f["blnSilent"], f["blnShrinkToFit"], f["blnPrintAsImage"], f["blnReverse"],
        f["blnAnnotations"]});
  return {};
}

Variant GetURL(Document& d, Frame& f) {
  call(d.objJSO, "GetURL", {f["strURL"], f["blnAppend"]});
  return {};
}

ParamSpec opt(const char* n, Variant def) {
  return P(n).opt(std::move(def));
}
ParamSpec val(const char* n, Variant def) {
  return P(n).byVal().opt(std::move(def));
}

void describe(Members<Document>& m) {
  std::vector<ParamSpec> range{opt("lngStartPage", int32_t(0)), opt("lngEndPage", int32_t(0))};
  m.method("AddThumbnails", range, &AddThumbnails, "Creates thumbnails for the specified pages in the document.")
      .method("RemoveThumbnails", range, &RemoveThumbnails,
              "Deletes thumbnails for the specified pages in the document.")
      .method("AddWebLinks", range, &AddWebLinks,
              "Scans the specified pages looking for instances of text with an http: scheme and converts them into "
              "links with URL actions. Returns the number of links added.")
      .method("RemoveWebLinks", range, &RemoveWebLinks,
              "Scans the specified pages looking for links with URL actions and removes them. Returns the number of "
              "links removed.")
      .method("FlattenPages", range, &FlattenPages, "Converts all annotations in a page range to page contents.")
      .method("SetPageRotations",
              {opt("lngStartPage", int32_t(0)), opt("lngEndPage", int32_t(0)), opt("lngRotation", int32_t(0))},
              &SetPageRotations, "Rotates the specified pages in the document.")
      .method("GetPageRotation", {opt("lngPage", int32_t(0))}, &GetPageRotation,
              "Gets the rotation of the specified page.")
      .method("GetPageLabel", {opt("lngPage", int32_t(0))}, &GetPageLabel,
              "Gets page label information for the specified page.")
      .method("SetPageLabels",
              {opt("lngStartPage", int32_t(0)), opt("lngPageNumberStyle", int32_t(0)),
               opt("strPageNumberPrefix", std::string()), opt("lngFirstPageNumber", int32_t(1))},
              &SetPageLabels,
              "Establishes the numbering scheme for the specified page and all pages following it until the next "
              "page with an attached label is encountered.")
      .method("SetPageTabOrder", {P("lngPage"), opt("lngPageTabOrder", int32_t(0))}, &SetPageTabOrder,
              "Sets the tab order of the form fields on a page. The tab order can be set by row, by column, or by "
              "structure.")
      .method("DeletePages", {val("lngStartPage", int32_t(0)), val("lngEndPage", int32_t(0))}, &DeletePages,
              "Deletes pages in the document. If neither page of the range is specified, the first page is deleted. "
              "You cannot delete all pages in a document: there must be at least one page remaining.")
      .method("ExtractPages",
              {val("lngStartPage", int32_t(0)), val("lngEndPage", int32_t(0)), opt("strPath", std::string()).path()},
              &ExtractPages,
              "Creates a new document consisting of pages extracted from the current document. If a page range is "
              "not specified, the method extracts all pages in the document. strPath is required.")
      .method("InsertPages",
              {P("strSourcePDF").path(), val("lngInsertAfterPage", int32_t(-1)), val("lngStartPage", int32_t(0)),
               val("lngEndPage", int32_t(0))},
              &InsertPages,
              "Inserts pages from the source document into the current document. If a page range is not specified, "
              "the method gets all pages in the source document.")
      .method("ReplacePages",
              {P("strSourcePDF").path(), val("lngReplaceStartPage", int32_t(0)), val("lngStartPage", int32_t(0)),
               val("lngEndPage", int32_t(0))},
              &ReplacePages, "Replaces pages in the current document with pages from the source document.")
      .method("MovePage", {val("lngPage", int32_t(0)), val("lngMoveAfterPage", int32_t(0))}, &MovePage,
              "Moves a page within the document.")
      .method("NewPage", {val("lngInsertAfterPage", int32_t(-1))}, &NewPage,
              "Adds a new page to the document, the size of the crop box.")
      .method("PrintDocument",
              {opt("blnShowWindow", true), opt("lngStartPage", int32_t(0)), opt("lngEndPage", int32_t(0)),
               opt("blnSilent", false), opt("blnShrinkToFit", false), opt("blnPrintAsImage", false),
               opt("blnReverse", false), opt("blnAnnotations", true)},
              &PrintDocument, "Prints all or a specific number of pages of the document.")
      .method("GetURL", {P("strURL").path(), opt("blnAppend", true)}, &GetURL,
              "Gets the specified URL over the internet using a GET.");
}

const DocumentMembers::Register reg("pages", &describe);

}  // namespace
}  // namespace pm
