#include "servers/pdf/engine/PageWriter.h"

namespace pm::pdf {

void writePages(fz_context* c, fz_document* doc, fz_document_writer* w, int first, int last, bool reverse, RunPage run,
                const void* how) {
  fz_page* page = nullptr;
  fz_var(page);
  fz_try(c) {
    for (int k = first; k <= last; ++k) {
      int i = reverse ? last - (k - first) : k;
      page = fz_load_page(c, doc, i);
      fz_rect box = fz_bound_page(c, page);
      fz_device* dev = fz_begin_page(c, w, box);
      if (run)
        run(c, page, dev, how);
      else
        fz_run_page(c, page, dev, fz_identity, nullptr);
      fz_end_page(c, w);
      fz_drop_page(c, page);
      page = nullptr;
    }
  }
  fz_always(c) {
    fz_drop_page(c, page);
  }
  fz_catch(c) {
    fz_rethrow(c);
  }
}

}  // namespace pm::pdf
