// Page members of the JavaScript object: pages from other files inserted,
// replaced, extracted and moved, labels, tab order, thumbnails, web link
// removal and flattening of annotations into the page content.
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "servers/pdf/forms/Form.h"
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/engine/PageContent.h"
#include "servers/pdf/engine/PageCopy.h"
#include "servers/pdf/viewer/PrintPages.h"
#include "servers/pdf/external/WebPage.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm::pdf {

namespace {

using namespace js;

// Another PDF to take pages from, opened on its own.
struct Source {
  mu::DocumentPtr holder;
  pdf_document* pdf = nullptr;
  int pages = 0;
};
Source openSource(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) fail("File " + path + " does not exist");
  Source s;
  pdf_document* d = nullptr;
  int needs = 0;
  try {
    mu::guard(("Opening " + path).c_str(), [&](fz_context* c) {
      d = pdf_open_document(c, path.c_str());
      needs = pdf_needs_password(c, d);
      if (!needs) s.pages = pdf_count_pages(c, d);
    });
  } catch (const AutomationError&) {
    mu::DocumentPtr drop(d ? &d->super : nullptr);
    fail("File " + path + " is not a PDF this viewer can read");
  }
  s.holder.reset(&d->super);
  s.pdf = d;
  if (needs) fail("File " + path + " needs a password");
  if (s.pages < 1) fail("File " + path + " has no pages");
  return s;
}

// The source pages [first, last]: none given is every page, only a first
// is that page, only a last starts at the first page.
std::pair<int, int> sourceRange(const Source& s, const Variant& a, const Variant& b) {
  bool hasA = !(a.isMissing() || a.isEmpty()), hasB = !(b.isMissing() || b.isEmpty());
  int first = hasA ? CLng(a) : 0;
  int last = hasB ? CLng(b) : hasA ? first : s.pages - 1;
  if (first < 0 || last < first || last >= s.pages)
    fail("Pages " + std::to_string(first) + " to " + std::to_string(last) + " do not exist in the source, which has " +
         std::to_string(s.pages) + " pages");
  return {first, last};
}

// Copies source pages, with their annotations and fields, into doc at
// position at (pages after it move on).
void graft(pdf_document* doc, int at, const Source& s, int first, int last) {
  copyPages(doc, at, s.pdf, first, last);
}

Variant insertPages(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int after = f["nPage"].isMissing() ? 0 : CLng(f["nPage"]);
  int n = d.pageCount();
  if (after < -1 || after >= n)
    fail("Pages can go after page " + std::to_string(after) + " only when it exists (-1: before the first page)");
  Source s = openSource(CStr(f["cPath"]));
  auto [first, last] = sourceRange(s, f["nStart"], f["nEnd"]);
  graft(d.pdf(), after + 1, s, first, last);
  d.changed();
  return {};
}

Variant replacePages(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int at = f["nPage"].isMissing() ? 0 : CLng(f["nPage"]);
  Source s = openSource(CStr(f["cPath"]));
  auto [first, last] = sourceRange(s, f["nStart"], f["nEnd"]);
  int count = last - first + 1;
  int n = d.pageCount();
  if (at < 0 || at + count > n)
    fail("Replacing " + std::to_string(count) + " pages from page " + std::to_string(at) +
         " needs pages the document does not have (it has " + std::to_string(n) + ")");
  // The replaced pages go first, and their fields with them, so fields of
  // the new pages that have the old ones' names keep them.
  pdf_document* doc = d.pdf();
  mu::guard("Removing the replaced pages", [&](fz_context* c) { pdf_delete_page_range(c, doc, at, at + count); });
  pruneFormFields(doc);
  graft(doc, at, s, first, last);
  d.changed();
  return {};
}

Variant extractPages(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int n = d.pageCount();
  bool hasA = !f["nStart"].isMissing(), hasB = !f["nEnd"].isMissing();
  int first = hasA ? CLng(f["nStart"]) : 0;
  int last = hasB ? CLng(f["nEnd"]) : hasA ? first : n - 1;
  auto range = pageRange(d, Variant(int32_t(first)), Variant(int32_t(last)));
  std::string target = f["cPath"].isMissing() ? std::string() : CStr(f["cPath"]);
  auto out = std::make_shared<Doc>();
  out->create();
  Source self_;
  self_.pdf = d.pdf();
  self_.pages = n;
  graft(out->pdf(), 0, self_, range.first, range.second);
  out->changed();
  if (target.empty()) return Variant(makeJSDoc(out));
  out->save(target, true, false, true, false);
  return {};
}

Variant movePage(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int n = d.pageCount();
  int page = pageArg(d, f["nPage"], 0);
  int after = f["nAfter"].isMissing() ? n - 1 : CLng(f["nAfter"]);
  if (after < -1 || after >= n) fail("A page can move after page " + std::to_string(after) + " only when it exists");
  if (after == page) return {};
  int to = after < page ? after + 1 : after;
  pdf_document* doc = d.pdf();
  mu::ObjPtr keep = mu::keep(po::pageObj(doc, page));
  pdf_obj* p = keep.get();
  mu::guard("Moving the page", [&](fz_context* c) {
    pdf_delete_page(c, doc, page);
    pdf_insert_page(c, doc, to, p);
  });
  d.changed();
  return {};
}

// ---- Page labels ----

std::map<int, mu::ObjPtr> readLabels(Doc& d) {
  std::map<int, mu::ObjPtr> out;
  pdf_obj* nums = po::get(po::get(po::catalog(d.pdf()), "PageLabels"), PDF_NAME(Nums));
  for (int i = 0; i + 1 < po::len(nums); i += 2) out[po::integer(po::at(nums, i))] = mu::keep(po::at(nums, i + 1));
  return out;
}

void writeLabels(Doc& d, const std::map<int, mu::ObjPtr>& labels) {
  pdf_document* doc = d.pdf();
  pdf_obj* root = po::catalog(doc);
  if (labels.empty()) {
    po::del(root, po::key("PageLabels"));
    return;
  }
  mu::ObjPtr tree = po::newDict(doc);
  mu::ObjPtr nums = po::newArray(doc);
  pdf_obj* a = nums.get();
  for (auto& [k, v] : labels) {
    int key = k;
    pdf_obj* val = v.get();
    mu::guard("Writing the page labels", [&](fz_context* c) {
      pdf_array_push_int(c, a, key);
      pdf_array_push(c, a, val);
    });
  }
  po::put(tree.get(), PDF_NAME(Nums), a);
  po::put(root, po::key("PageLabels"), tree.get());
}

std::string roman(int n, bool upper) {
  static const std::pair<int, const char*> t[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                                                  {90, "xc"},  {50, "l"},   {40, "xl"}, {10, "x"},   {9, "ix"},
                                                  {5, "v"},    {4, "iv"},   {1, "i"}};
  std::string s;
  for (auto& [v, r] : t)
    while (n >= v && s.size() < 64) {
      s += r;
      n -= v;
    }
  return upper ? UCase(s) : s;
}

std::string letters(int n, bool upper) {
  // a..z, then aa..zz, and so on.
  if (n < 1) return "";
  int k = (n - 1) / 26 + 1;
  char ch = static_cast<char>((upper ? 'A' : 'a') + (n - 1) % 26);
  return std::string(static_cast<size_t>(std::min(k, 64)), ch);
}

// The numbering styles of page labels, by their names in the document:
// decimal, Roman and letters, each upper or lower case.
struct LabelStyle {
  const char* name;
  std::string (*number)(int);
};
const LabelStyle kLabelStyles[] = {
    {"D", [](int n) { return std::to_string(n); }}, {"R", [](int n) { return roman(n, true); }},
    {"r", [](int n) { return roman(n, false); }},   {"A", [](int n) { return letters(n, true); }},
    {"a", [](int n) { return letters(n, false); }},
};

const LabelStyle* labelStyle(const std::string& name) {
  for (const LabelStyle& s : kLabelStyles)
    if (name == s.name) return &s;
  return nullptr;
}

Variant getPageLabel(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int page = pageArg(d, f["nPage"], 0);
  auto labels = readLabels(d);
  auto it = labels.upper_bound(page);
  if (it == labels.begin()) return Variant(std::to_string(page + 1));
  --it;
  pdf_obj* dict = it->second.get();
  std::string style = po::name(po::get(dict, PDF_NAME(S)));
  std::string prefix = po::text(po::get(dict, PDF_NAME(P)));
  int start = po::integer(po::get(dict, po::key("St")), 1);
  int number = start + (page - it->first);
  const LabelStyle* numbering = labelStyle(style);
  return Variant(prefix + (numbering ? numbering->number(number) : std::string()));
}

Variant setPageLabels(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int page = pageArg(d, f["nPage"], 0);
  auto labels = readLabels(d);
  if (f["aLabel"].isMissing() || f["aLabel"].isEmpty() || f["aLabel"].isNull()) {
    labels.erase(page);
  } else {
    std::vector<Variant> a = items(f["aLabel"]);
    std::string style = a.size() > 0 ? CStr(a[0]) : "D";
    std::string prefix = a.size() > 1 ? CStr(a[1]) : "";
    int start = a.size() > 2 ? CLng(a[2]) : 1;
    if (!style.empty() && !labelStyle(style))
      fail("\"" + style + "\" is not a page number style (D, R, r, A, a or empty)");
    if (start < 1) fail("Page labels start at 1 or more");
    mu::ObjPtr dict = po::newDict(d.pdf());
    po::put(dict.get(), PDF_NAME(Type), po::key("PageLabel"));
    if (!style.empty()) po::putName(dict.get(), PDF_NAME(S), style);
    if (!prefix.empty()) po::putText(dict.get(), PDF_NAME(P), prefix);
    if (start != 1) po::putInt(dict.get(), po::key("St"), start);
    labels[page] = std::move(dict);
  }
  // A numbering tree starts with page 0.
  if (!labels.empty() && labels.begin()->first != 0) {
    mu::ObjPtr dict = po::newDict(d.pdf());
    po::putName(dict.get(), PDF_NAME(S), "D");
    labels[0] = std::move(dict);
  }
  writeLabels(d, labels);
  d.changed();
  return {};
}

Variant setPageTabOrder(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int page = pageArg(d, f["nPage"], 0);
  std::string order = LCase(CStr(f["cOrder"]));
  const char* key = order == "rows" ? "R" : order == "columns" ? "C" : order == "structure" ? "S" : nullptr;
  if (!key) fail("\"" + CStr(f["cOrder"]) + "\" is not a tab order (rows, columns or structure)");
  po::putName(po::pageObj(d.pdf(), page), po::key("Tabs"), key);
  d.changed();
  return {};
}

// ---- Thumbnails ----

// A first page alone is that one page; nothing given is every page.
const Variant& onlyFirst(Frame& f) {
  return f["nEnd"].isMissing() && !f["nStart"].isMissing() ? f["nStart"] : f["nEnd"];
}

Variant addThumbnails(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  auto [a, b] = pageRange(d, f["nStart"], onlyFirst(f));
  pdf_document* doc = d.pdf();
  for (int p = a; p <= b; ++p) {
    fz_rect bounds = d.bounds(p);
    float side = std::max(bounds.x1 - bounds.x0, bounds.y1 - bounds.y0);
    // Thumbnails as viewers show them: about 106 pixels on the long side.
    float scale = side > 0 ? 106.0f / side : 1.0f;
    mu::PagePtr page = d.loadPage(p);
    fz_page* pg = page.get();
    pdf_obj* img = nullptr;
    mu::guard("Making a thumbnail", [&](fz_context* c) {
      fz_pixmap* pix = fz_new_pixmap_from_page(c, pg, fz_scale(scale, scale), fz_device_rgb(c), 0);
      fz_image* im = nullptr;
      fz_var(im);
      fz_try(c) {
        im = fz_new_image_from_pixmap(c, pix, nullptr);
        img = pdf_add_image(c, doc, im);
      }
      fz_always(c) {
        fz_drop_image(c, im);
        fz_drop_pixmap(c, pix);
      }
      fz_catch(c) {
        fz_rethrow(c);
      }
    });
    mu::ObjPtr hold(img);
    po::put(po::pageObj(doc, p), po::key("Thumb"), img);
  }
  d.changed();
  return {};
}

Variant removeThumbnails(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  auto [a, b] = pageRange(d, f["nStart"], onlyFirst(f));
  for (int p = a; p <= b; ++p) po::del(po::pageObj(d.pdf(), p), po::key("Thumb"));
  d.changed();
  return {};
}

// ---- Web links ----

Variant removeWebLinks(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  auto [a, b] = pageRange(d, f["nStart"], onlyFirst(f));
  int removed = 0;
  for (int p = a; p <= b; ++p) {
    pdf_obj* annots = po::get(po::pageObj(d.pdf(), p), PDF_NAME(Annots));
    for (int i = po::len(annots) - 1; i >= 0; --i) {
      pdf_obj* x = po::at(annots, i);
      if (po::nameIs(po::get(x, PDF_NAME(Subtype)), "Link") && po::nameIs(po::path(x, "A/S"), "URI")) {
        po::remove(annots, i);
        ++removed;
      }
    }
  }
  if (removed) d.changed();
  return Variant(int32_t(removed));
}

// ---- Flattening ----

// The appearance an annotation shows now (its state's, for buttons).
pdf_obj* shownAppearance(pdf_obj* annot) {
  pdf_obj* n = po::path(annot, "AP/N");
  if (po::isStream(n)) return n;
  if (po::isDict(n)) {
    std::string as = po::name(po::get(annot, PDF_NAME(AS)));
    pdf_obj* s = as.empty() ? nullptr : po::get(n, as.c_str());
    return po::isStream(s) ? s : nullptr;
  }
  return nullptr;
}

Variant flattenPages(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  auto [a, b] = pageRange(d, f["nStart"], onlyFirst(f));
  int nonPrint = f["nNonPrint"].isMissing() ? 0 : CLng(f["nNonPrint"]);
  if (nonPrint < 0 || nonPrint > 2)
    fail("nNonPrint is 0 (keep), 1 (remove) or 2 (flatten) for annotations that do not print");
  pdf_document* doc = d.pdf();
  std::set<int> flattenedWidgets;
  for (int p = a; p <= b; ++p) {
    // Drawing every annotation first gives each one an appearance to keep.
    {
      mu::PagePtr page = d.loadPage(p);
      fz_page* pg = page.get();
      mu::guard("Drawing the annotations", [&](fz_context* c) {
        pdf_page* pp = pdf_page_from_fz_page(c, pg);
        for (pdf_annot* x = pdf_first_annot(c, pp); x; x = pdf_next_annot(c, x)) {
          pdf_dirty_annot(c, x);
          pdf_update_annot(c, x);
        }
      });
    }
    pdf_obj* pageObj = po::pageObj(doc, p);
    pdf_obj* annots = po::get(pageObj, PDF_NAME(Annots));
    // Fields keep the appearances drawn from their values (in fonts that
    // show them); a widget without one gets it drawn now.
    for (int i = 0; i < po::len(annots); ++i) {
      pdf_obj* x = po::at(annots, i);
      if (!po::nameIs(po::get(x, PDF_NAME(Subtype)), "Widget") || shownAppearance(x)) continue;
      pdf_obj* fld = po::get(x, PDF_NAME(T)) || !po::get(x, PDF_NAME(Parent)) ? x : po::get(x, PDF_NAME(Parent));
      if (!form::kind(fld).empty() && form::kind(fld) != "signature") form::redraw(d, fld);
    }
    pdf_obj* dr = po::get(form::acroForm(d, false), PDF_NAME(DR));
    std::string ops;
    std::vector<int> gone;
    for (int i = 0; i < po::len(annots); ++i) {
      pdf_obj* x = po::at(annots, i);
      std::string sub = po::name(po::get(x, PDF_NAME(Subtype)));
      if (sub == "Popup" || sub == "Link") continue;
      int flags = po::integer(po::get(x, PDF_NAME(F)));
      bool prints = (flags & form::af::Print) && !(flags & form::af::Hidden);
      if (!prints && nonPrint == 0) continue;
      gone.push_back(i);
      if (sub == "Widget") flattenedWidgets.insert(po::number(x));
      if (!prints && nonPrint == 1) continue;
      pdf_obj* ap = shownAppearance(x);
      if (!ap) continue;
      // A field's appearance made elsewhere may name the form's fonts
      // without carrying them; on the page it needs them itself.
      if (sub == "Widget" && dr && !po::get(ap, PDF_NAME(Resources))) po::put(ap, PDF_NAME(Resources), dr);
      fz_rect rect{}, bbox{};
      fz_matrix m = fz_identity;
      pdf_obj* ro = po::get(x, PDF_NAME(Rect));
      mu::guard("Placing the appearance", [&](fz_context* c) {
        rect = pdf_to_rect(c, ro);
        bbox = pdf_to_rect(c, pdf_dict_get(c, ap, PDF_NAME(BBox)));
        m = pdf_to_matrix(c, pdf_dict_get(c, ap, PDF_NAME(Matrix)));
      });
      fz_rect tb = fz_transform_rect(bbox, m);
      float w = tb.x1 - tb.x0, h = tb.y1 - tb.y0;
      if (w <= 0 || h <= 0) continue;
      // The appearance's box, after its own matrix, is fitted to the rectangle.
      float sx = (rect.x1 - rect.x0) / w, sy = (rect.y1 - rect.y0) / h;
      std::string name = content::addResource(d, pageObj, "XObject", ap, "Fl");
      ops += "q " + content::num(sx) + " 0 0 " + content::num(sy) + " " + content::num(rect.x0 - tb.x0 * sx) + " " +
             content::num(rect.y0 - tb.y0 * sy) + " cm /" + name + " Do Q\n";
    }
    if (!ops.empty()) content::add(d, pageObj, ops, true);
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
      pdf_obj* x = po::at(annots, *it);
      pdf_obj* popup = po::get(x, PDF_NAME(Popup));
      po::remove(annots, *it);
      if (popup) po::removeAll(annots, popup);
    }
  }
  // Fields whose widgets are all flattened leave the form.
  for (auto& fld : form::terminalFields(d)) {
    std::vector<pdf_obj*> ws = form::widgets(fld.obj);
    bool all = !ws.empty();
    for (pdf_obj* w : ws) all = all && flattenedWidgets.count(po::number(w));
    if (all) {
      pdf_obj* parent = po::get(fld.obj, PDF_NAME(Parent));
      pdf_obj* arr = parent ? po::get(parent, PDF_NAME(Kids)) : po::get(form::acroForm(d, false), PDF_NAME(Fields));
      po::removeAll(arr, fld.obj);
    }
  }
  d.changed();
  return {};
}

// Printing goes to the default printer as the viewer's PrintPages does:
// there is no dialog to show, so the silent and the interactive form print
// alike, pages at their own size (the queue fits them to its paper) and as
// rendered images.
Variant print(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int n = d.pageCount();
  int first = f["nStart"].isMissing() ? 0 : CLng(f["nStart"]);
  int last = f["nEnd"].isMissing() ? n - 1 : CLng(f["nEnd"]);
  boolArg(f["bUI"], true);
  boolArg(f["bSilent"], false);
  boolArg(f["bShrinkToFit"], false);
  boolArg(f["bPrintAsImage"], false);
  PrintOptions o;
  o.reverse = boolArg(f["bReverse"], false);
  o.annotations = boolArg(f["bAnnotations"], true);
  printPages(d, first, last, d.path(), o);
  return {};
}

// The fetched page is laid out as pages of its own and goes after the last
// page, or takes the place of all pages when bAppend is false.
Variant getURL(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string url = CStr(f["cURL"]);
  bool append = boolArg(f["bAppend"], true);
  Fetched page = fetchUrl(url);
  ExclusiveTempFile laidOut(privateTempDir(), ".pdf");
  if (layOutAsPdf(page, laidOut.path()) < 1) fail("The page fetched from " + url + " has nothing to show");
  Source s = openSource(laidOut.path());
  int old = d.pageCount();
  if (append) {
    graft(d.pdf(), old, s, 0, s.pages - 1);
  } else {
    graft(d.pdf(), 0, s, 0, s.pages - 1);
    pdf_document* doc = d.pdf();
    int from = s.pages;
    mu::guard("Removing the replaced pages", [&](fz_context* c) { pdf_delete_page_range(c, doc, from, from + old); });
  }
  d.changed();
  return {};
}

void describe(Members<DocHolder>& m) {
  m.method("insertPages", {P("nPage").opt(), P("cPath").path(), P("nStart").opt(), P("nEnd").opt()}, &insertPages);
  m.method("replacePages", {P("nPage").opt(), P("cPath").path(), P("nStart").opt(), P("nEnd").opt()}, &replacePages);
  m.method("extractPages", {P("nStart").opt(), P("nEnd").opt(), P("cPath").path().opt()}, &extractPages);
  m.method("movePage", {P("nPage").opt(), P("nAfter").opt()}, &movePage);
  m.method("getPageLabel", {P("nPage").opt()}, &getPageLabel);
  m.method("setPageLabels", {P("nPage").opt(), P("aLabel").opt()}, &setPageLabels);
  m.method("setPageTabOrder", {P("nPage"), P("cOrder")}, &setPageTabOrder);
  m.method("addThumbnails", {P("nStart").opt(), P("nEnd").opt()}, &addThumbnails);
  m.method("removeThumbnails", {P("nStart").opt(), P("nEnd").opt()}, &removeThumbnails);
  m.method("removeWebLinks", {P("nStart").opt(), P("nEnd").opt()}, &removeWebLinks);
  m.method("flattenPages", {P("nStart").opt(), P("nEnd").opt(), P("nNonPrint").opt()}, &flattenPages);
  m.method("print",
           {P("bUI").opt(), P("nStart").opt(), P("nEnd").opt(), P("bSilent").opt(), P("bShrinkToFit").opt(),
            P("bPrintAsImage").opt(), P("bReverse").opt(), P("bAnnotations").opt()},
           &print);
  m.method("getURL", {P("cURL").path(), P("bAppend").opt()}, &getURL);
}

const Groups::Register reg("pages", &describe);

}  // namespace

}  // namespace pm::pdf
