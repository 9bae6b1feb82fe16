#include "servers/pdf/engine/PdfObj.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "automation/Error.h"

namespace pm::pdf::po {

namespace {
constexpr int kMaxAncestors = 64;
}

pdf_obj* key(const char* n) {
  static std::mutex m;
  // Never destroyed: the names stay reachable until the process ends, so
  // exit-time destructors cannot free them from under a late user.
  static auto* made = new std::map<std::string, pdf_obj*>;
  std::lock_guard<std::mutex> lock(m);
  auto it = made->find(n);
  if (it != made->end()) return it->second;
  pdf_obj* o = nullptr;
  mu::guard("Making a name", [&](fz_context* c) { o = pdf_new_name(c, n); });
  made->emplace(n, o);
  return o;
}

pdf_obj* get(pdf_obj* d, pdf_obj* key) {
  pdf_obj* r = nullptr;
  mu::guard("Reading the document", [&](fz_context* c) { r = pdf_dict_get(c, d, key); });
  return r;
}
pdf_obj* get(pdf_obj* d, const char* key) {
  pdf_obj* r = nullptr;
  mu::guard("Reading the document", [&](fz_context* c) { r = pdf_dict_gets(c, d, key); });
  return r;
}
pdf_obj* path(pdf_obj* d, const char* keys) {
  pdf_obj* r = nullptr;
  mu::guard("Reading the document", [&](fz_context* c) { r = pdf_dict_getp(c, d, keys); });
  return r;
}
pdf_obj* inherited(pdf_obj* d, pdf_obj* key) {
  pdf_obj* r = nullptr;
  mu::guard("Reading a form field", [&](fz_context* c) {
    pdf_obj* o = d;
    for (int i = 0; o && i < kMaxAncestors; ++i) {
      r = pdf_dict_get(c, o, key);
      if (r) return;
      o = pdf_dict_get(c, o, PDF_NAME(Parent));
    }
  });
  if (!r && key != PDF_NAME(FT) && key != PDF_NAME(Ff) && key != PDF_NAME(V)) {
    // Text appearance entries fall back to the form's defaults.
    if (key == PDF_NAME(DA) || key == PDF_NAME(Q)) {
      mu::guard("Reading a form field", [&](fz_context* c) {
        pdf_obj* form = pdf_dict_getp(c, pdf_trailer(c, pdf_get_bound_document(c, d)), "Root/AcroForm");
        r = pdf_dict_get(c, form, key);
      });
    }
  }
  return r;
}
int len(pdf_obj* a) {
  int n = 0;
  mu::guard("Reading the document", [&](fz_context* c) { n = pdf_is_array(c, a) ? pdf_array_len(c, a) : 0; });
  return n;
}
pdf_obj* at(pdf_obj* a, int i) {
  pdf_obj* r = nullptr;
  mu::guard("Reading the document", [&](fz_context* c) { r = pdf_array_get(c, a, i); });
  return r;
}
#define PM_IS(fn, call)                                                        \
  bool fn(pdf_obj* o) {                                                        \
    int r = 0;                                                                 \
    mu::guard("Reading the document", [&](fz_context* c) { r = call(c, o); }); \
    return r != 0;                                                             \
  }
PM_IS(isDict, pdf_is_dict)
PM_IS(isArray, pdf_is_array)
PM_IS(isName, pdf_is_name)
PM_IS(isString, pdf_is_string)
PM_IS(isNumber, pdf_is_number)
PM_IS(isStream, pdf_is_stream)
PM_IS(isNull, pdf_is_null)
#undef PM_IS

std::string text(pdf_obj* o) {
  return mu::text(o);
}
std::string name(pdf_obj* o) {
  const char* s = nullptr;
  mu::guard("Reading the document", [&](fz_context* c) {
    if (pdf_is_name(c, o)) s = pdf_to_name(c, o);
  });
  return s ? std::string(s) : std::string();
}
double num(pdf_obj* o, double def) {
  double r = def;
  mu::guard("Reading the document", [&](fz_context* c) {
    if (pdf_is_number(c, o)) r = pdf_to_real(c, o);
  });
  return r;
}
int integer(pdf_obj* o, int def) {
  int r = def;
  mu::guard("Reading the document", [&](fz_context* c) {
    if (pdf_is_number(c, o)) r = pdf_to_int(c, o);
  });
  return r;
}
bool nameIs(pdf_obj* o, const char* n) {
  return name(o) == n;
}
bool same(pdf_obj* a, pdf_obj* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  int r = 0;
  mu::guard("Reading the document", [&](fz_context* c) {
    if (pdf_is_indirect(c, a) && pdf_is_indirect(c, b))
      r = pdf_to_num(c, a) == pdf_to_num(c, b);
    else
      r = pdf_resolve_indirect(c, a) == pdf_resolve_indirect(c, b);
  });
  return r != 0;
}
int number(pdf_obj* o) {
  int r = 0;
  mu::guard("Reading the document", [&](fz_context* c) { r = pdf_is_indirect(c, o) ? pdf_to_num(c, o) : 0; });
  return r;
}
pdf_obj* catalog(pdf_document* d) {
  pdf_obj* r = nullptr;
  mu::guard("Reading the document", [&](fz_context* c) { r = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root)); });
  return r;
}
pdf_obj* pageObj(pdf_document* d, int page) {
  pdf_obj* r = nullptr;
  mu::guard("Finding the page", [&](fz_context* c) { r = pdf_lookup_page_obj(c, d, page); });
  return r;
}
int pageNumberOf(pdf_document* d, pdf_obj* page) {
  int r = -1;
  if (!page) return r;
  try {
    mu::guard("Finding the page", [&](fz_context* c) { r = pdf_lookup_page_number(c, d, page); });
  } catch (const AutomationError&) {
    r = -1;
  }
  return r;
}
std::string streamText(pdf_obj* stream) {
  fz_buffer* b = nullptr;
  mu::guard("Reading a stream", [&](fz_context* c) {
    if (pdf_is_stream(c, stream)) b = pdf_load_stream(c, stream);
  });
  if (!b) return {};
  mu::BufferPtr hold(b);
  unsigned char* data = nullptr;
  size_t n = fz_buffer_storage(mu::ctx(), b, &data);
  return std::string(reinterpret_cast<const char*>(data), n);
}

void put(pdf_obj* d, pdf_obj* key, pdf_obj* value) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_put(c, d, key, value); });
}
void putName(pdf_obj* d, pdf_obj* key, const std::string& v) {
  const char* s = v.c_str();
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_put_name(c, d, key, s); });
}
void putText(pdf_obj* d, pdf_obj* key, const std::string& v) {
  const char* s = v.c_str();
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_put_text_string(c, d, key, s); });
}
void putInt(pdf_obj* d, pdf_obj* key, int v) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_put_int(c, d, key, v); });
}
void putReal(pdf_obj* d, pdf_obj* key, double v) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_put_real(c, d, key, v); });
}
void putBool(pdf_obj* d, pdf_obj* key, bool v) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_put_bool(c, d, key, v); });
}
void putRect(pdf_obj* d, pdf_obj* key, fz_rect r) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_put_rect(c, d, key, r); });
}
void putReals(pdf_obj* d, pdf_obj* key, const std::vector<double>& v) {
  const double* p = v.data();
  int n = static_cast<int>(v.size());
  mu::guard("Changing the document", [&](fz_context* c) {
    pdf_obj* a = pdf_dict_put_array(c, d, key, n);
    for (int i = 0; i < n; ++i) pdf_array_push_real(c, a, p[i]);
  });
}
void del(pdf_obj* d, pdf_obj* key) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_dict_del(c, d, key); });
}
pdf_obj* putDict(pdf_obj* d, pdf_obj* key) {
  pdf_obj* r = nullptr;
  mu::guard("Changing the document", [&](fz_context* c) {
    r = pdf_dict_get(c, d, key);
    if (!pdf_is_dict(c, r)) r = pdf_dict_put_dict(c, d, key, 4);
  });
  return r;
}
pdf_obj* putArray(pdf_obj* d, pdf_obj* key) {
  pdf_obj* r = nullptr;
  mu::guard("Changing the document", [&](fz_context* c) {
    r = pdf_dict_get(c, d, key);
    if (!pdf_is_array(c, r)) r = pdf_dict_put_array(c, d, key, 4);
  });
  return r;
}
mu::ObjPtr newDict(pdf_document* d) {
  pdf_obj* r = nullptr;
  mu::guard("Changing the document", [&](fz_context* c) { r = pdf_add_new_dict(c, d, 8); });
  return mu::ObjPtr(r);
}
mu::ObjPtr newArray(pdf_document* d) {
  pdf_obj* r = nullptr;
  mu::guard("Changing the document", [&](fz_context* c) { r = pdf_new_array(c, d, 4); });
  return mu::ObjPtr(r);
}
mu::ObjPtr newText(const std::string& s) {
  pdf_obj* r = nullptr;
  const char* p = s.c_str();
  mu::guard("Changing the document", [&](fz_context* c) { r = pdf_new_text_string(c, p); });
  return mu::ObjPtr(r);
}
mu::ObjPtr newName(const std::string& s) {
  pdf_obj* r = nullptr;
  const char* p = s.c_str();
  mu::guard("Changing the document", [&](fz_context* c) { r = pdf_new_name(c, p); });
  return mu::ObjPtr(r);
}
mu::ObjPtr newStream(pdf_document* d, const std::string& bytes, pdf_obj* dict) {
  pdf_obj* r = nullptr;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  mu::guard("Changing the document", [&](fz_context* c) {
    fz_buffer* b = fz_new_buffer_from_copied_data(c, p, n);
    fz_try(c) {
      r = pdf_add_stream(c, d, b, dict, 0);
    }
    fz_always(c) {
      fz_drop_buffer(c, b);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
  return mu::ObjPtr(r);
}
void push(pdf_obj* a, pdf_obj* v) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_array_push(c, a, v); });
}
void insert(pdf_obj* a, pdf_obj* v, int at) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_array_insert(c, a, v, at); });
}
void remove(pdf_obj* a, int at) {
  mu::guard("Changing the document", [&](fz_context* c) { pdf_array_delete(c, a, at); });
}
int removeAll(pdf_obj* a, pdf_obj* o) {
  int n = 0;
  for (int i = len(a) - 1; i >= 0; --i)
    if (same(at(a, i), o)) {
      remove(a, i);
      ++n;
    }
  return n;
}
mu::ObjPtr newScriptAction(pdf_document* d, const std::string& script) {
  mu::ObjPtr a = newDict(d);
  pdf_obj* o = a.get();
  const char* s = script.c_str();
  mu::guard("Changing the document", [&](fz_context* c) {
    pdf_dict_put(c, o, PDF_NAME(Type), PDF_NAME(Action));
    pdf_dict_put(c, o, PDF_NAME(S), PDF_NAME(JavaScript));
    pdf_dict_put_text_string(c, o, PDF_NAME(JS), s);
  });
  return a;
}

std::vector<double> numbers(pdf_obj* arr) {
  std::vector<double> out;
  int n = len(arr);
  for (int i = 0; i < n && i < 64; ++i) out.push_back(num(at(arr, i)));
  return out;
}

}  // namespace pm::pdf::po
