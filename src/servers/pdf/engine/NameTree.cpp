#include "servers/pdf/engine/NameTree.h"

#include <algorithm>

#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf {

NameList readNameTree(Doc& d, const char* tree) {
  pdf_document* doc = d.pdf();
  pdf_obj* dict = nullptr;
  mu::guard("Reading the document's names", [&](fz_context* c) {
    pdf_obj* which = pdf_new_name(c, tree);
    fz_try(c) {
      dict = pdf_load_name_tree(c, doc, which);
    }
    fz_always(c) {
      pdf_drop_obj(c, which);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
  mu::ObjPtr hold(dict);
  NameList out;
  int n = 0;
  mu::guard("Reading the document's names", [&](fz_context* c) { n = pdf_dict_len(c, dict); });
  for (int i = 0; i < n; ++i) {
    pdf_obj* k = nullptr;
    pdf_obj* v = nullptr;
    mu::guard("Reading the document's names", [&](fz_context* c) {
      k = pdf_dict_get_key(c, dict, i);
      v = pdf_dict_get_val(c, dict, i);
    });
    out.emplace_back(po::name(k), mu::keep(v));
  }
  return out;
}

void writeNameTree(Doc& d, const char* tree, const NameList& entries) {
  pdf_document* doc = d.pdf();
  NameList sorted;
  for (auto& [k, v] : entries) sorted.emplace_back(k, mu::keep(v.get()));
  std::stable_sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.first < b.first; });
  pdf_obj* root = po::catalog(doc);
  pdf_obj* names = po::putDict(root, PDF_NAME(Names));
  if (sorted.empty()) {
    mu::guard("Changing the document's names", [&](fz_context* c) { pdf_dict_dels(c, names, tree); });
    return;
  }
  mu::ObjPtr node = po::newDict(doc);
  mu::ObjPtr arr = po::newArray(doc);
  for (auto& [k, v] : sorted) {
    // Keys are byte strings; names were read back as PDF names.
    const char* key = k.c_str();
    size_t kl = k.size();
    pdf_obj* val = v.get();
    pdf_obj* a = arr.get();
    mu::guard("Changing the document's names", [&](fz_context* c) {
      pdf_array_push_drop(c, a, pdf_new_string(c, key, kl));
      pdf_array_push(c, a, val);
    });
  }
  pdf_obj* n = node.get();
  pdf_obj* a = arr.get();
  mu::guard("Changing the document's names", [&](fz_context* c) {
    pdf_dict_put(c, n, PDF_NAME(Names), a);
    pdf_dict_puts(c, names, tree, n);
  });
}

pdf_obj* findName(const NameList& l, const std::string& name) {
  for (auto& [k, v] : l)
    if (k == name) return v.get();
  return nullptr;
}
void putName(NameList& l, const std::string& name, pdf_obj* value) {
  for (auto& [k, v] : l)
    if (k == name) {
      v = mu::keep(value);
      return;
    }
  l.emplace_back(name, mu::keep(value));
}
bool dropName(NameList& l, const std::string& name) {
  auto n = l.size();
  std::erase_if(l, [&](auto& e) { return e.first == name; });
  return l.size() != n;
}

}  // namespace pm::pdf
