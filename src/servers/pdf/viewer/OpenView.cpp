#include "servers/pdf/viewer/OpenView.h"

#include <algorithm>

namespace pm::pdf {

double clampZoom(double percent) {
  return std::clamp(percent, kMinZoom, kMaxZoom);
}

void storeOpenView(Doc& d, int page, int type, double percent) {
  pdf_document* doc = d.pdf();
  float scale = static_cast<float>(clampZoom(percent) / 100.0);
  mu::guard("Storing the opening view", [&](fz_context* c) {
    pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root));
    pdf_obj* dest = pdf_new_array(c, doc, 5);
    pdf_dict_puts_drop(c, root, "OpenAction", dest);
    pdf_array_push(c, dest, pdf_lookup_page_obj(c, doc, page));
    switch (type) {
      case 0:  // a fixed scale, the position left as it is
        pdf_array_push_name(c, dest, "XYZ");
        pdf_array_push(c, dest, PDF_NULL);
        pdf_array_push(c, dest, PDF_NULL);
        pdf_array_push_real(c, dest, scale);
        break;
      case 1:
        pdf_array_push_name(c, dest, "Fit");
        break;
      case 2:
      case 6:  // reflowed text fills the width
        pdf_array_push_name(c, dest, "FitH");
        pdf_array_push(c, dest, PDF_NULL);
        break;
      case 3:
        pdf_array_push_name(c, dest, "FitV");
        pdf_array_push(c, dest, PDF_NULL);
        break;
      case 4:
        pdf_array_push_name(c, dest, "FitBH");
        pdf_array_push(c, dest, PDF_NULL);
        break;
      default:  // the preferred zoom: position and zoom as the viewer keeps them
        pdf_array_push_name(c, dest, "XYZ");
        pdf_array_push(c, dest, PDF_NULL);
        pdf_array_push(c, dest, PDF_NULL);
        pdf_array_push(c, dest, PDF_NULL);
        break;
    }
  });
  d.changed();
}

}  // namespace pm::pdf
