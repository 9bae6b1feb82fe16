#include "servers/pdf/viewer/PrintPages.h"

#include <cstdio>

#include "automation/Error.h"
#include "servers/pdf/engine/PageWriter.h"

#include "system/Files.h"
#include "system/PrintJob.h"
#include "system/SystemServices.h"

namespace pm::pdf {

namespace {

// A printed page: its print-usage content, with its annotations when asked.
void runForPrint(fz_context* c, fz_page* page, fz_device* dev, const void* options) {
  const PrintOptions& how = *static_cast<const PrintOptions*>(options);
  pdf_page* pp = pdf_page_from_fz_page(c, page);
  if (pp && how.annotations)
    pdf_run_page_with_usage(c, pp, dev, fz_identity, "Print", nullptr);
  else if (pp)
    pdf_run_page_contents_with_usage(c, pp, dev, fz_identity, "Print", nullptr);
  else if (how.annotations)
    fz_run_page(c, page, dev, fz_identity, nullptr);
  else
    fz_run_page_contents(c, page, dev, fz_identity, nullptr);
}

}  // namespace

void renderPostScript(Doc& d, int first, int last, const std::string& path, const PrintOptions& how) {
  fz_document* doc = d.fz();
  const char* out = path.c_str();
  char options[64];
  std::snprintf(options, sizeof options, "resolution=%d", kPrintResolution);
  mu::guard("Rendering the pages for printing", [&](fz_context* c) {
    fz_document_writer* w = nullptr;
    fz_var(w);
    fz_try(c) {
      w = fz_new_ps_writer(c, out, options);
      writePages(c, doc, w, first, last, how.reverse, &runForPrint, &how);
      fz_close_document_writer(c, w);
    }
    fz_always(c) {
      fz_drop_document_writer(c, w);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
}

int printPages(Doc& d, int first, int last, const std::string& title, const PrintOptions& options) {
  int n = d.pageCount();
  if (first < 0 || last < first || last >= n)
    throw AutomationError(mu::kErrEngine, mu::kEngineSource,
                          "Cannot print pages " + std::to_string(first) + " to " + std::to_string(last) +
                              " of a document of " + std::to_string(n) + (n == 1 ? " page" : " pages") +
                              " (page numbers start at 0)");
  // The rendered job lives in the user's private folder until the
  // scheduler has taken it.
  ExclusiveTempFile ps(privateTempDir(), ".ps");
  renderPostScript(d, first, last, ps.path(), options);
  return PrintFileToDefault(ps.path(), title, "application/postscript");
}

}  // namespace pm::pdf
