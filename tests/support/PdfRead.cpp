#include "support/PdfRead.h"

#include <sstream>
#include <stdexcept>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace pm::test {

namespace {

struct Reader {
  fz_context* c = nullptr;
  pdf_document* d = nullptr;
  explicit Reader(const std::string& file) {
    c = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    fz_register_document_handlers(c);
    fz_try(c) {
      d = pdf_open_document(c, file.c_str());
    }
    fz_catch(c) {
      d = nullptr;
    }
  }
  ~Reader() {
    if (d) pdf_drop_document(c, d);
    fz_drop_context(c);
  }
  std::string print(pdf_obj* o) {
    if (!o) return "";
    std::string out;
    fz_try(c) {
      size_t len = 0;
      char* s = pdf_sprint_obj(c, nullptr, 0, &len, pdf_resolve_indirect(c, o), 1, 1);
      out.assign(s, len);
      fz_free(c, s);
    }
    fz_catch(c) {
      out = "<error>";
    }
    return out;
  }
  pdf_obj* walk(const std::string& path, pdf_obj* from = nullptr) {
    if (!d) return nullptr;
    pdf_obj* o = from ? from : pdf_trailer(c, d);
    std::stringstream ss(path);
    std::string part;
    while (o && std::getline(ss, part, '/')) {
      if (!part.empty() && std::isdigit(static_cast<unsigned char>(part[0])) && pdf_is_array(c, o))
        o = pdf_array_get(c, o, std::stoi(part));
      else
        o = pdf_dict_gets(c, o, part.c_str());
    }
    return o;
  }
  void fields(pdf_obj* arr, const std::string& prefix, std::vector<std::pair<std::string, pdf_obj*>>& out, int depth) {
    for (int i = 0; i < pdf_array_len(c, arr); ++i) {
      pdf_obj* f = pdf_array_get(c, arr, i);
      pdf_obj* t = pdf_dict_get(c, f, PDF_NAME(T));
      std::string n = t ? (prefix.empty() ? "" : prefix + ".") + pdf_to_text_string(c, t) : prefix;
      pdf_obj* kids = pdf_dict_get(c, f, PDF_NAME(Kids));
      bool named = false;
      for (int k = 0; k < pdf_array_len(c, kids); ++k)
        if (pdf_dict_get(c, pdf_array_get(c, kids, k), PDF_NAME(T))) named = true;
      if (named && depth < 16)
        fields(kids, n, out, depth + 1);
      else
        out.emplace_back(n, f);
    }
  }
};

}  // namespace

std::string at(const std::string& file, const std::string& path) {
  Reader r(file);
  return r.print(r.walk(path));
}

std::string fieldEntry(const std::string& file, const std::string& name, const std::string& key) {
  Reader r(file);
  std::vector<std::pair<std::string, pdf_obj*>> all;
  r.fields(r.walk("Root/AcroForm/Fields"), "", all, 0);
  for (auto& [n, f] : all)
    if (n == name) return r.print(r.walk(key, f));
  return "<none>";
}

std::vector<std::string> fieldNames(const std::string& file) {
  Reader r(file);
  std::vector<std::pair<std::string, pdf_obj*>> all;
  r.fields(r.walk("Root/AcroForm/Fields"), "", all, 0);
  std::vector<std::string> out;
  for (auto& [n, f] : all) out.push_back(n);
  return out;
}

std::vector<std::string> annots(const std::string& file, int page) {
  Reader r(file);
  std::vector<std::string> out;
  if (!r.d) return out;
  pdf_obj* a = pdf_dict_get(r.c, pdf_lookup_page_obj(r.c, r.d, page), PDF_NAME(Annots));
  for (int i = 0; i < pdf_array_len(r.c, a); ++i) {
    pdf_obj* x = pdf_array_get(r.c, a, i);
    std::string st = pdf_to_name(r.c, pdf_dict_get(r.c, x, PDF_NAME(Subtype)));
    if (st == "Widget" || st == "Popup") continue;
    out.push_back(r.print(x));
  }
  return out;
}

std::string outlineEntry(const std::string& path, const std::vector<std::string>& titles, const std::string& key) {
  Reader r(path);
  if (!r.d) return "<error>";
  pdf_obj* node = r.walk("Root/Outlines");
  for (const std::string& t : titles) {
    pdf_obj* ch = pdf_dict_get(r.c, node, PDF_NAME(First));
    while (ch && t != pdf_to_text_string(r.c, pdf_dict_get(r.c, ch, PDF_NAME(Title))))
      ch = pdf_dict_get(r.c, ch, PDF_NAME(Next));
    node = ch;
  }
  if (!node) return "<no item>";
  pdf_obj* v = pdf_dict_gets(r.c, node, key.c_str());
  return v ? r.print(v) : "<none>";
}

std::vector<std::string> annotSummary(const std::string& path, int page) {
  Reader r(path);
  if (!r.d) throw std::runtime_error("annotSummary: cannot open " + path);
  fz_context* c = r.c;
  std::vector<std::string> out;
  pdf_obj* annots = pdf_dict_get(c, pdf_lookup_page_obj(c, r.d, page), PDF_NAME(Annots));
  for (int i = 0; i < pdf_array_len(c, annots); ++i) {
    pdf_obj* a = pdf_array_get(c, annots, i);
    std::string s = pdf_to_name(c, pdf_dict_get(c, a, PDF_NAME(Subtype)));
    pdf_obj* action = pdf_dict_get(c, a, PDF_NAME(A));
    pdf_obj* dest = pdf_dict_get(c, a, PDF_NAME(Dest));
    if (!dest && pdf_name_eq(c, pdf_dict_get(c, action, PDF_NAME(S)), PDF_NAME(GoTo)))
      dest = pdf_dict_get(c, action, PDF_NAME(D));
    if (pdf_is_string(c, dest) || pdf_is_name(c, dest)) dest = pdf_lookup_dest(c, r.d, dest);
    if (dest) s += ">" + std::to_string(pdf_lookup_page_number(c, r.d, pdf_array_get(c, dest, 0)));
    if (pdf_dict_get(c, action, PDF_NAME(URI)))
      s += std::string(":") + pdf_to_str_buf(c, pdf_dict_get(c, action, PDF_NAME(URI)));
    if (s == "Popup") s += std::string("<") + pdf_to_name(c, pdf_dict_getp(c, a, "Parent/Subtype"));
    out.push_back(s);
  }
  return out;
}

ObjectRef addAnnot(const ObjectRef& js, std::initializer_list<std::vector<Variant>> passes) {
  ObjectRef a = objectOf(call(js, "addAnnot"));
  for (const std::vector<Variant>& pass : passes) {
    ObjectRef p = objectOf(call(a, "getProps"));
    let(p, "Delay", true);
    for (size_t i = 0; i + 1 < pass.size(); i += 2) let(p, CStr(pass[i]), pass[i + 1]);
    let(p, "Delay", false);
    call(a, "setProps", {Variant(p)});
  }
  return a;
}

std::string pageText(const std::string& file, int page) {
  ReadBack r = readBack(file);
  return page >= 0 && page < r.pages ? r.pageText[static_cast<size_t>(page)] : "<error>";
}

}  // namespace pm::test
