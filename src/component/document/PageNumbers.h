// The page-number conversions of the page members: the interface counts
// pages from 1 and uses 0 for "no page given"; the JavaScript object
// counts from 0.
#pragma once

#include "component/document/AnnotWriter.h"
#include "component/document/Document.h"

namespace pm::pages {

// n - 1 when n > 0, else the Integer 0.
inline Variant firstOrZero(const Variant& n) {
  return annot::aboveZero(n) ? annot::minusOne(n) : Variant(int16_t(0));
}
// n - 1 when n > 0, else n unchanged.
inline Variant firstOrSame(const Variant& n) {
  return annot::aboveZero(n) ? annot::minusOne(n) : n;
}
// "NumPages" - 1, read at the time of the call.
inline Variant lastPage(Document& d) {
  return annot::minusOne(get(d.objJSO, "NumPages"));
}
// n - 1 when n > 0, else the last page.
inline Variant lastOrEnd(Document& d, const Variant& n) {
  return annot::aboveZero(n) ? annot::minusOne(n) : lastPage(d);
}

}  // namespace pm::pages
