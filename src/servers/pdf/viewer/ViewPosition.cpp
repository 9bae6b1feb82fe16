// Where the view stands on its page after a bookmark moves it: the
// destination's own left and top where it names them, otherwise the top
// left corner of the page.
#include "servers/pdf/viewer/Objects.h"

namespace pm::pdf {

void moveViewToDestination(Doc& d, pdf_obj* item) {
  pdf_document* doc = d.pdf();
  int page = -1;
  // Each coordinate: a number, or absent / null ("keep the current one").
  double left = 0, top = 0;
  int hasLeft = 0, hasTop = 0, pageCorner = 0;
  mu::guard("Resolving a destination", [&](fz_context* c) {
    pdf_obj* dest = explicitDestination(c, doc, itemDestination(c, item));
    if (!dest) return;
    pdf_obj* target = pdf_array_get(c, dest, 0);
    page = pdf_is_int(c, target) ? pdf_to_int(c, target) : pdf_lookup_page_number(c, doc, target);
    pdf_obj* kind = pdf_array_get(c, dest, 1);
    auto number = [&](int i, double& out, int& has) {
      pdf_obj* o = pdf_array_get(c, dest, i);
      if (pdf_is_number(c, o)) {
        out = pdf_to_real(c, o);
        has = 1;
      }
    };
    if (pdf_name_eq(c, kind, PDF_NAME(XYZ))) {
      number(2, left, hasLeft);
      number(3, top, hasTop);
    } else if (pdf_name_eq(c, kind, PDF_NAME(FitH)) || pdf_name_eq(c, kind, PDF_NAME(FitBH))) {
      pageCorner = 1;
      number(2, top, hasTop);
    } else if (pdf_name_eq(c, kind, PDF_NAME(FitV)) || pdf_name_eq(c, kind, PDF_NAME(FitBV))) {
      pageCorner = 1;
      number(2, left, hasLeft);
    } else if (pdf_name_eq(c, kind, PDF_NAME(FitR))) {
      number(2, left, hasLeft);
      number(5, top, hasTop);
    } else {
      pageCorner = 1;
    }
  });
  if (page < 0 || page >= d.pageCount()) return;
  if (pageCorner) {
    fz_rect box = d.pageBox(page, "Crop");
    d.viewX = box.x0;
    d.viewY = box.y1;
  }
  if (hasLeft) d.viewX = left;
  if (hasTop) d.viewY = top;
}

}  // namespace pm::pdf
