#include "servers/pdf/engine/PageCopy.h"

#include "servers/pdf/engine/Doc.h"

#include <cstring>
#include <vector>

namespace pm::pdf {

namespace {

// Object graphs of hostile files may nest or loop without end; a copy goes
// no deeper than this.
constexpr int kMaxDepth = 64;

// What one copy knows while it runs. Plain data only: it is used inside the
// engine's error seam, where nothing with a destructor may live.
struct CopyState {
  pdf_document* src = nullptr;
  pdf_document* dst = nullptr;
  pdf_graft_map* map = nullptr;
  // By source object number: its copy in the target, a kept reference.
  // Copied pages, annotations and fields are entered before anything is
  // copied, so references between them (a widget's field, a pop-up's parent,
  // a link's page) land on the copies, and everything else that is a page,
  // an annotation or a field is left behind.
  pdf_obj** memo = nullptr;
  int len = 0;
};

struct DropMemo {
  std::vector<pdf_obj*>& memo;
  ~DropMemo() {
    fz_context* c = mu::ctx();
    for (pdf_obj* o : memo) pdf_drop_obj(c, o);
  }
};

struct DropGraftMap {
  pdf_graft_map* map = nullptr;
  ~DropGraftMap() { pdf_drop_graft_map(mu::ctx(), map); }
};

int numberOf(fz_context* c, const CopyState* k, pdf_obj* o) {
  if (!pdf_is_indirect(c, o)) return 0;
  int num = pdf_to_num(c, o);
  return num > 0 && num < k->len ? num : 0;
}

bool isPageNode(fz_context* c, pdf_obj* d) {
  pdf_obj* type = pdf_dict_get(c, d, PDF_NAME(Type));
  return pdf_name_eq(c, type, PDF_NAME(Page)) || pdf_name_eq(c, type, PDF_NAME(Pages));
}

bool isAnnotOrField(fz_context* c, pdf_obj* d) {
  return pdf_dict_get(c, d, PDF_NAME(FT)) || pdf_dict_get(c, d, PDF_NAME(Kids)) ||
         pdf_name_eq(c, pdf_dict_get(c, d, PDF_NAME(Type)), PDF_NAME(Annot)) ||
         (pdf_dict_get(c, d, PDF_NAME(Subtype)) && pdf_dict_get(c, d, PDF_NAME(Rect)));
}

bool isGoTo(fz_context* c, pdf_obj* d) {
  return pdf_name_eq(c, pdf_dict_get(c, d, PDF_NAME(S)), PDF_NAME(GoTo));
}

// The explicit destination a /Dest or GoTo /D stands for, when it leads to
// a copied page; nullptr otherwise. Named destinations are looked up in the
// source, whose names the target does not have.
pdf_obj* destInside(fz_context* c, const CopyState* k, pdf_obj* d) {
  d = explicitDestination(c, k->src, d);
  if (!d) return nullptr;
  int num = numberOf(c, k, pdf_array_get(c, d, 0));
  if (!num || !k->memo[num] || !isPageNode(c, pdf_array_get(c, d, 0))) return nullptr;
  return d;
}

pdf_obj* remember(fz_context* c, CopyState* k, int num, pdf_obj* copy) {
  k->memo[num] = pdf_keep_obj(c, copy);
  return copy;
}

pdf_obj* copyValue(fz_context* c, CopyState* k, pdf_obj* v, int depth);

void copyEntries(fz_context* c, CopyState* k, pdf_obj* to, pdf_obj* from, int depth) {
  bool goTo = isGoTo(c, from);
  int n = pdf_dict_len(c, from);
  for (int i = 0; i < n; ++i) {
    pdf_obj* key = pdf_dict_get_key(c, from, i);
    pdf_obj* val = pdf_dict_get_val(c, from, i);
    // The source's structure tree does not come along.
    if (pdf_name_eq(c, key, PDF_NAME(StructParent))) continue;
    if (pdf_name_eq(c, key, PDF_NAME(Dest)) || (goTo && pdf_name_eq(c, key, PDF_NAME(D)))) val = destInside(c, k, val);
    pdf_obj* copy = copyValue(c, k, val, depth + 1);
    if (copy) pdf_dict_put_drop(c, to, key, copy);
  }
}

void copyItems(fz_context* c, CopyState* k, pdf_obj* to, pdf_obj* from, int depth) {
  int n = pdf_array_len(c, from);
  for (int i = 0; i < n; ++i) {
    pdf_obj* copy = copyValue(c, k, pdf_array_get(c, from, i), depth + 1);
    if (copy) pdf_array_push_drop(c, to, copy);
  }
}

// A new reference to the copy of v in the target, or nullptr when v is
// left behind.
pdf_obj* copyValue(fz_context* c, CopyState* k, pdf_obj* v, int depth) {
  if (!v || depth > kMaxDepth) return nullptr;
  if (pdf_is_indirect(c, v)) {
    int num = numberOf(c, k, v);
    if (!num) return nullptr;
    if (k->memo[num]) return pdf_keep_obj(c, k->memo[num]);
    // Streams (appearances, fonts, images) go through the page's own graft
    // map, so what the page content and its annotations share is copied once.
    if (pdf_is_stream(c, v)) return remember(c, k, num, pdf_graft_mapped_object(c, k->map, v));
    pdf_obj* r = pdf_resolve_indirect(c, v);
    if (pdf_is_dict(c, r)) {
      if (isPageNode(c, r) || isAnnotOrField(c, r)) return nullptr;
      if (isGoTo(c, r) && !destInside(c, k, pdf_dict_get(c, r, PDF_NAME(D)))) return nullptr;
      pdf_obj* made = remember(c, k, num, pdf_add_new_dict(c, k->dst, pdf_dict_len(c, r)));
      copyEntries(c, k, made, r, depth);
      return made;
    }
    if (pdf_is_array(c, r)) {
      pdf_obj* made = remember(c, k, num, pdf_add_new_array(c, k->dst, pdf_array_len(c, r)));
      copyItems(c, k, made, r, depth);
      return made;
    }
    return remember(c, k, num, pdf_add_object(c, k->dst, r));
  }
  if (pdf_is_dict(c, v)) {
    if (isGoTo(c, v) && !destInside(c, k, pdf_dict_get(c, v, PDF_NAME(D)))) return nullptr;
    pdf_obj* made = pdf_new_dict(c, k->dst, pdf_dict_len(c, v));
    copyEntries(c, k, made, v, depth);
    return made;
  }
  if (pdf_is_array(c, v)) {
    pdf_obj* made = pdf_new_array(c, k->dst, pdf_array_len(c, v));
    copyItems(c, k, made, v, depth);
    return made;
  }
  return pdf_keep_obj(c, v);
}

// Enters a copied annotation, and for a widget the fields above it, as empty
// objects of the target (filled later). fields collects the source fields
// (references borrowed from the source); roots the numbers of the top-level
// ones.
void enterAnnot(fz_context* c, CopyState* k, pdf_obj* a, pdf_obj** fields, int* nFields, int* roots, int* nRoots) {
  int num = numberOf(c, k, a);
  if (!num || k->memo[num]) return;
  k->memo[num] = pdf_add_new_dict(c, k->dst, 8);
  if (!pdf_name_eq(c, pdf_dict_get(c, a, PDF_NAME(Subtype)), PDF_NAME(Widget))) return;
  int top = num;
  pdf_obj* p = pdf_dict_get(c, a, PDF_NAME(Parent));
  for (int depth = 0; p && depth < kMaxDepth; ++depth) {
    int pn = numberOf(c, k, p);
    if (!pn || !pdf_is_dict(c, p)) break;
    if (k->memo[pn]) return;  // its field, and those above, are entered already
    k->memo[pn] = pdf_add_new_dict(c, k->dst, 8);
    fields[(*nFields)++] = p;
    top = pn;
    p = pdf_dict_get(c, p, PDF_NAME(Parent));
  }
  roots[(*nRoots)++] = top;
}

bool nameTaken(fz_context* c, pdf_obj* fields, const char* name) {
  int n = pdf_array_len(c, fields);
  for (int i = 0; i < n; ++i) {
    pdf_obj* t = pdf_dict_get(c, pdf_array_get(c, fields, i), PDF_NAME(T));
    if (t && !strcmp(pdf_to_text_string(c, t), name)) return true;
  }
  return false;
}

// Adds a copied top-level field to the target's form, renamed when the form
// has a field of that name already.
void addRoot(fz_context* c, pdf_obj* fields, pdf_obj* root, pdf_obj* formDA, pdf_obj* srcDA) {
  pdf_obj* t = pdf_dict_get(c, root, PDF_NAME(T));
  if (t) {
    char name[400];
    fz_strlcpy(name, pdf_to_text_string(c, t), sizeof name);
    if (nameTaken(c, fields, name)) {
      char renamed[420];
      for (int n = 2; n < 100000; ++n) {
        fz_snprintf(renamed, sizeof renamed, "%s_%d", name, n);
        if (!nameTaken(c, fields, renamed)) break;
      }
      pdf_dict_put_text_string(c, root, PDF_NAME(T), renamed);
    }
  }
  // A field without an appearance string of its own took the source form's;
  // it keeps that one where the target's form says otherwise.
  if (srcDA && !pdf_dict_get(c, root, PDF_NAME(DA)) && (!formDA || pdf_objcmp(c, formDA, srcDA)))
    pdf_dict_put_drop(c, root, PDF_NAME(DA), pdf_keep_obj(c, srcDA));
  pdf_array_push(c, fields, root);
}

// The source form's default resources the target's lacks, by category and
// name; names the target has keep the target's resource.
void mergeResources(fz_context* c, CopyState* k, pdf_obj* form, pdf_obj* srcDR) {
  if (!pdf_is_dict(c, srcDR)) return;
  pdf_obj* dr = pdf_dict_get(c, form, PDF_NAME(DR));
  if (!pdf_is_dict(c, dr)) {
    pdf_obj* copy = copyValue(c, k, srcDR, 0);
    if (copy) pdf_dict_put_drop(c, form, PDF_NAME(DR), copy);
    return;
  }
  int n = pdf_dict_len(c, srcDR);
  for (int i = 0; i < n; ++i) {
    pdf_obj* cat = pdf_dict_get_key(c, srcDR, i);
    pdf_obj* from = pdf_dict_get_val(c, srcDR, i);
    pdf_obj* to = pdf_dict_get(c, dr, cat);
    if (!pdf_is_dict(c, from) || (to && !pdf_is_dict(c, to))) continue;
    if (!to) to = pdf_dict_put_dict(c, dr, cat, pdf_dict_len(c, from));
    int m = pdf_dict_len(c, from);
    for (int j = 0; j < m; ++j) {
      pdf_obj* name = pdf_dict_get_key(c, from, j);
      if (pdf_dict_get(c, to, name)) continue;
      pdf_obj* copy = copyValue(c, k, pdf_dict_get_val(c, from, j), 0);
      if (copy) pdf_dict_put_drop(c, to, name, copy);
    }
  }
}

void mergeForm(fz_context* c, CopyState* k, const int* roots, int nRoots) {
  pdf_obj* srcForm = pdf_dict_getp(c, pdf_trailer(c, k->src), "Root/AcroForm");
  pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, k->dst), PDF_NAME(Root));
  pdf_obj* form = pdf_dict_get(c, root, PDF_NAME(AcroForm));
  if (!pdf_is_dict(c, form)) {
    pdf_obj* made = pdf_add_new_dict(c, k->dst, 4);
    pdf_dict_put_drop(c, root, PDF_NAME(AcroForm), made);
    form = made;
  }
  pdf_obj* fields = pdf_dict_get(c, form, PDF_NAME(Fields));
  if (!pdf_is_array(c, fields)) fields = pdf_dict_put_array(c, form, PDF_NAME(Fields), nRoots);
  pdf_obj* formDA = pdf_dict_get(c, form, PDF_NAME(DA));
  pdf_obj* srcDA = pdf_dict_get(c, srcForm, PDF_NAME(DA));
  for (int i = 0; i < nRoots; ++i) addRoot(c, fields, k->memo[roots[i]], formDA, srcDA);
  if (!formDA && srcDA) pdf_dict_put_drop(c, form, PDF_NAME(DA), pdf_keep_obj(c, srcDA));
  mergeResources(c, k, form, pdf_dict_get(c, srcForm, PDF_NAME(DR)));
  if (pdf_to_bool(c, pdf_dict_gets(c, srcForm, "NeedAppearances"))) {
    pdf_obj* key = pdf_new_name(c, "NeedAppearances");
    pdf_dict_put_drop(c, form, key, PDF_TRUE);
    pdf_drop_obj(c, key);
  }
  int sig = pdf_dict_get_int(c, srcForm, PDF_NAME(SigFlags));
  if (sig) pdf_dict_put_int(c, form, PDF_NAME(SigFlags), pdf_dict_get_int(c, form, PDF_NAME(SigFlags)) | sig);
}

// Fills the copies of the annotations of one page and gives the page the
// list of them. A link that lost its destination is not kept.
void fillAnnots(fz_context* c, CopyState* k, pdf_obj* from, pdf_obj* to, char* filled) {
  pdf_obj* annots = pdf_dict_get(c, from, PDF_NAME(Annots));
  int n = pdf_array_len(c, annots);
  if (n < 1) return;
  pdf_obj* list = pdf_dict_put_array(c, to, PDF_NAME(Annots), n);
  for (int i = 0; i < n; ++i) {
    pdf_obj* a = pdf_array_get(c, annots, i);
    if (!pdf_is_dict(c, a)) continue;
    int num = numberOf(c, k, a);
    pdf_obj* made = nullptr;
    if (num) {
      if (filled[num] || !k->memo[num]) continue;
      filled[num] = 1;
      made = k->memo[num];
      copyEntries(c, k, made, pdf_resolve_indirect(c, a), 0);
    } else {
      made = copyValue(c, k, a, 0);
      if (!made) continue;
      pdf_array_push_drop(c, list, made);
      continue;
    }
    if (pdf_name_eq(c, pdf_dict_get(c, made, PDF_NAME(Subtype)), PDF_NAME(Link)) &&
        !pdf_dict_get(c, made, PDF_NAME(Dest)) && !pdf_dict_get(c, made, PDF_NAME(A))) {
      pdf_delete_object(c, k->dst, pdf_to_num(c, made));
      continue;
    }
    pdf_array_push(c, list, made);
  }
}

// Copies a page's own entries (those a copy can carry: content, resources,
// boxes, rotation) into a new page of the target at position where, and
// answers it (a kept reference). Inherited entries are taken onto the page
// first.
pdf_obj* graftPage(fz_context* c, CopyState* k, pdf_obj* page, int where) {
  static pdf_obj* const keys[] = {PDF_NAME(Contents), PDF_NAME(Resources), PDF_NAME(MediaBox),
                                  PDF_NAME(CropBox),  PDF_NAME(BleedBox),  PDF_NAME(TrimBox),
                                  PDF_NAME(ArtBox),   PDF_NAME(Rotate),    PDF_NAME(UserUnit)};
  pdf_flatten_inheritable_page_items(c, page);
  pdf_obj* made = pdf_add_new_dict(c, k->dst, 8);
  pdf_dict_put(c, made, PDF_NAME(Type), PDF_NAME(Page));
  for (pdf_obj* key : keys) {
    pdf_obj* v = pdf_dict_get(c, page, key);
    if (v) pdf_dict_put_drop(c, made, key, pdf_graft_mapped_object(c, k->map, v));
  }
  pdf_insert_page(c, k->dst, where, made);
  return made;
}

}  // namespace

void copyPages(pdf_document* dst, int at, pdf_document* src, int first, int last) {
  int len = 0;
  DropGraftMap map;
  mu::guard("Copying pages", [&](fz_context* c) {
    len = pdf_xref_len(c, src);
    map.map = pdf_new_graft_map(c, dst);
  });
  std::vector<pdf_obj*> memo(static_cast<size_t>(len), nullptr);
  DropMemo dropMemo{memo};
  CopyState k;
  k.src = src;
  k.dst = dst;
  k.map = map.map;
  k.memo = memo.data();
  k.len = len;
  CopyState* ks = &k;
  int count = last - first + 1;
  // The pages of both sides, found once: a lookup walks the page tree.
  std::vector<pdf_obj*> pages(static_cast<size_t>(2 * count), nullptr);
  DropMemo dropPages{pages};
  pdf_obj** from = pages.data();
  pdf_obj** to = from + count;
  for (int i = 0; i < count; ++i) {
    int where = at + i, which = first + i;
    mu::guard("Copying pages", [&](fz_context* c) {
      from[i] = pdf_keep_obj(c, pdf_lookup_page_obj(c, src, which));
      to[i] = graftPage(c, ks, from[i], where);
      int num = numberOf(c, ks, from[i]);
      if (num && !ks->memo[num]) ks->memo[num] = pdf_keep_obj(c, to[i]);
    });
  }
  // Annotations and fields are entered for every page first, so links and
  // fields that cross pages find their copies.
  std::vector<pdf_obj*> fields(static_cast<size_t>(len));
  std::vector<int> roots(static_cast<size_t>(len));
  std::vector<char> filled(static_cast<size_t>(len), 0);
  int nFields = 0, nRoots = 0;
  pdf_obj** fieldsAt = fields.data();
  int* rootsAt = roots.data();
  char* filledAt = filled.data();
  mu::guard("Copying annotations", [&](fz_context* c) {
    for (int i = 0; i < count; ++i) {
      pdf_obj* annots = pdf_dict_get(c, from[i], PDF_NAME(Annots));
      int n = pdf_array_len(c, annots);
      for (int j = 0; j < n; ++j) enterAnnot(c, ks, pdf_array_get(c, annots, j), fieldsAt, &nFields, rootsAt, &nRoots);
    }
    for (int i = 0; i < count; ++i) fillAnnots(c, ks, from[i], to[i], filledAt);
    for (int i = 0; i < nFields; ++i)
      copyEntries(c, ks, ks->memo[numberOf(c, ks, fieldsAt[i])], pdf_resolve_indirect(c, fieldsAt[i]), 0);
    if (nRoots) mergeForm(c, ks, rootsAt, nRoots);
  });
}

namespace {

// Drops the entries of a field list whose widgets are all gone; answers
// whether anything is left.
bool pruneKids(fz_context* c, pdf_obj* kids, const char* onPage, int len, int depth) {
  int n = pdf_array_len(c, kids);
  for (int i = n - 1; i >= 0; --i) {
    pdf_obj* f = pdf_array_get(c, kids, i);
    pdf_obj* sub = pdf_dict_get(c, f, PDF_NAME(Kids));
    bool keep;
    if (pdf_is_array(c, sub) && pdf_array_len(c, sub) > 0 && depth < kMaxDepth) {
      keep = pruneKids(c, sub, onPage, len, depth + 1);
    } else {
      int num = pdf_is_indirect(c, f) ? pdf_to_num(c, f) : 0;
      bool widget = pdf_name_eq(c, pdf_dict_get(c, f, PDF_NAME(Subtype)), PDF_NAME(Widget));
      keep = !widget || (num > 0 && num < len && onPage[num]);
    }
    if (!keep) pdf_array_delete(c, kids, i);
  }
  return pdf_array_len(c, kids) > 0;
}

}  // namespace

void pruneFormFields(pdf_document* doc) {
  int len = 0;
  mu::guard("Reading the form", [&](fz_context* c) { len = pdf_xref_len(c, doc); });
  std::vector<char> onPage(static_cast<size_t>(len), 0);
  char* marks = onPage.data();
  mu::guard("Updating the form", [&](fz_context* c) {
    pdf_obj* fields = pdf_dict_getp(c, pdf_trailer(c, doc), "Root/AcroForm/Fields");
    if (!pdf_is_array(c, fields)) return;
    int pages = pdf_count_pages(c, doc);
    for (int p = 0; p < pages; ++p) {
      pdf_obj* annots = pdf_dict_get(c, pdf_lookup_page_obj(c, doc, p), PDF_NAME(Annots));
      int n = pdf_array_len(c, annots);
      for (int i = 0; i < n; ++i) {
        pdf_obj* a = pdf_array_get(c, annots, i);
        int num = pdf_is_indirect(c, a) ? pdf_to_num(c, a) : 0;
        if (num > 0 && num < len) marks[num] = 1;
      }
    }
    pruneKids(c, fields, marks, len, 0);
  });
}

}  // namespace pm::pdf
