#include "servers/pdf/js/JSSupport.h"

#include <algorithm>

#include "system/AtomicFile.h"

namespace pm::pdf::js {

void fail(const std::string& description) {
  mu::fail(description);
}

void notSupported(const std::string& what) {
  fail(what + " is not supported by this PDF viewer");
}

void writeFileSafely(const std::string& path, std::string_view bytes) {
  if (path.empty()) fail("Writing a file needs its path");
  try {
    AtomicFile out(path);
    out.write(bytes);
    out.commit();
  } catch (const AtomicFileError& e) {
    fail(e.what());
  }
}

Doc& docOf(DocHolder& self) {
  auto d = self.docState();
  if (!d) fail("The document is not open");
  d->pdf();
  return *d;
}

std::string textArg(const Variant& v, const std::string& def) {
  if (v.isMissing() || v.isEmpty()) return def;
  return CStr(v);
}
bool boolArg(const Variant& v, bool def) {
  if (v.isMissing() || v.isEmpty()) return def;
  return CBool(v);
}

int pageArg(Doc& d, const Variant& v, int def) {
  int p = v.isMissing() || v.isEmpty() ? def : CLng(v);
  d.checkPage(p);
  return p;
}

std::pair<int, int> pageRange(Doc& d, const Variant& first, const Variant& last, int lastDef) {
  int n = d.pageCount();
  int a = first.isMissing() || first.isEmpty() ? 0 : CLng(first);
  int b = last.isMissing() || last.isEmpty() ? (lastDef < 0 ? n - 1 : lastDef) : CLng(last);
  if (a < 0 || b < a || b >= n)
    fail("Pages " + std::to_string(a) + " to " + std::to_string(b) + " do not exist: the document has " +
         std::to_string(n) + (n == 1 ? " page" : " pages") + " (page numbers start at 0)");
  return {a, b};
}

std::vector<Variant> items(const Variant& v) {
  if (v.isArray()) return v.array().data();
  if (v.isMissing() || v.isEmpty() || v.isNull()) return {};
  return {v};
}

Colour colourArg(const Variant& v) {
  if (!v.isArray()) fail("A colour is an array such as [\"RGB\", 1, 0, 0]");
  std::vector<Variant> it = v.array().data();
  if (it.empty()) fail("A colour array names its colour space first");
  std::string space = UCase(CStr(it[0]));
  size_t n = space == "T" ? 0 : space == "G" ? 1 : space == "RGB" ? 3 : space == "CMYK" ? 4 : 99;
  if (n == 99) fail("Unknown colour space \"" + CStr(it[0]) + "\" (T, G, RGB or CMYK)");
  Colour c;
  for (size_t i = 1; i <= n; ++i) c.comps.push_back(std::clamp(i < it.size() ? CDbl(it[i]) : 0.0, 0.0, 1.0));
  return c;
}

Variant colourValue(const std::vector<double>& c) {
  std::vector<Variant> out;
  switch (c.size()) {
    case 1:
      out = {Variant("G"), Variant(c[0])};
      break;
    case 3:
      out = {Variant("RGB"), Variant(c[0]), Variant(c[1]), Variant(c[2])};
      break;
    case 4:
      out = {Variant("CMYK"), Variant(c[0]), Variant(c[1]), Variant(c[2]), Variant(c[3])};
      break;
    default:
      out = {Variant("T")};
      break;
  }
  return Variant(Array::vector(std::move(out)));
}

fz_rect rectArg(const Variant& v) {
  std::vector<Variant> it = v.isArray() ? v.array().data() : std::vector<Variant>{};
  if (it.size() < 4) fail("A rectangle is an array of four numbers");
  double x0 = CDbl(it[0]), y0 = CDbl(it[1]), x1 = CDbl(it[2]), y1 = CDbl(it[3]);
  for (double x : {x0, y0, x1, y1})
    if (!(x > -1e6 && x < 1e6)) fail("A rectangle's coordinates lie within a million points");
  return fz_make_rect(static_cast<float>(std::min(x0, x1)), static_cast<float>(std::min(y0, y1)),
                      static_cast<float>(std::max(x0, x1)), static_cast<float>(std::max(y0, y1)));
}

Variant rectValue(fz_rect r) {
  return V({double(r.x0), double(r.y1), double(r.x1), double(r.y0)});
}

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

}  // namespace pm::pdf::js
