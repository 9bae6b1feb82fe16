#include "Fixtures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "system/Process.h"

namespace pm::test {

namespace {

// A private context for the fixtures, so what the tests make and read back
// never goes through the server under test.
struct Ctx {
  fz_context* c;
  Ctx() {
    c = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    fz_register_document_handlers(c);
  }
  ~Ctx() { fz_drop_context(c); }
};

std::string escapePdf(const std::string& s) {
  std::string o;
  for (char ch : s) {
    if (ch == '(' || ch == ')' || ch == '\\') o += '\\';
    o += ch;
  }
  return o;
}

std::string utf16Hex(const std::string& utf8) {
  std::string o;
  const char* p = utf8.c_str();
  char buf[8];
  while (*p) {
    int r;
    p += fz_chartorune(&r, p);
    std::snprintf(buf, sizeof buf, "%04X", r & 0xFFFF);
    o += buf;
  }
  return o;
}

void addOutline(fz_context* c, pdf_document* doc, pdf_obj* parent, const std::vector<Outline>& items) {
  pdf_obj* prev = nullptr;
  for (const Outline& o : items) {
    pdf_obj* item = pdf_add_new_dict(c, doc, 6);
    pdf_dict_put_text_string(c, item, PDF_NAME(Title), o.title.c_str());
    pdf_dict_put(c, item, PDF_NAME(Parent), parent);
    pdf_obj* dest = pdf_dict_put_array(c, item, PDF_NAME(Dest), 2);
    pdf_array_push(c, dest, pdf_lookup_page_obj(c, doc, o.page));
    pdf_array_push(c, dest, PDF_NAME(Fit));
    if (prev) {
      pdf_dict_put(c, prev, PDF_NAME(Next), item);
      pdf_dict_put(c, item, PDF_NAME(Prev), prev);
    } else {
      pdf_dict_put(c, parent, PDF_NAME(First), item);
    }
    pdf_dict_put(c, parent, PDF_NAME(Last), item);
    if (!o.children.empty()) {
      addOutline(c, doc, item, o.children);
      int n = static_cast<int>(o.children.size());
      pdf_dict_put_int(c, item, PDF_NAME(Count), o.open ? n : -n);
    }
    if (prev) pdf_drop_obj(c, prev);
    prev = item;
  }
  if (prev) pdf_drop_obj(c, prev);
}

void readOutline(fz_context* c, fz_document* doc, fz_outline* o, std::vector<ReadOutline>& out) {
  for (; o; o = o->next) {
    ReadOutline r;
    r.title = o->title ? o->title : "";
    r.page = o->uri ? fz_page_number_from_location(c, doc, fz_resolve_link(c, doc, o->uri, nullptr, nullptr)) : -1;
    r.open = o->is_open;
    readOutline(c, doc, o->down, r.children);
    out.push_back(std::move(r));
  }
}

pdf_obj* appearance(fz_context* c, pdf_document* doc, const char* ops) {
  fz_buffer* b = fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(ops), strlen(ops));
  pdf_obj* x = pdf_new_xobject(c, doc, fz_make_rect(0, 0, 20, 20), fz_identity, nullptr, b);
  fz_drop_buffer(c, b);
  return x;
}

// A widget (or a field with its widget) on page, entered in the page's list.
pdf_obj* widget(fz_context* c, pdf_document* doc, pdf_obj* page, float y) {
  pdf_obj* w = pdf_add_new_dict(c, doc, 8);
  pdf_dict_put(c, w, PDF_NAME(Type), PDF_NAME(Annot));
  pdf_dict_put(c, w, PDF_NAME(Subtype), PDF_NAME(Widget));
  pdf_dict_put_rect(c, w, PDF_NAME(Rect), fz_make_rect(72, y, 272, y + 20));
  pdf_dict_put_int(c, w, PDF_NAME(F), 4);
  pdf_dict_put(c, w, PDF_NAME(P), page);
  pdf_obj* annots = pdf_dict_get(c, page, PDF_NAME(Annots));
  if (!annots) annots = pdf_dict_put_array(c, page, PDF_NAME(Annots), 8);
  pdf_array_push(c, annots, w);
  return w;
}

void onOff(fz_context* c, pdf_document* doc, pdf_obj* w, const char* on, bool set) {
  pdf_obj* n = pdf_dict_put_dict(c, pdf_dict_put_dict(c, w, PDF_NAME(AP), 1), PDF_NAME(N), 2);
  pdf_dict_puts_drop(c, n, on, appearance(c, doc, "0 0 1 rg 4 4 12 12 re f"));
  pdf_dict_put_drop(c, n, PDF_NAME(Off), appearance(c, doc, "0 g 0 0 20 20 re S"));
  pdf_dict_put_name(c, w, PDF_NAME(AS), set ? on : "Off");
}

void addForm(fz_context* c, pdf_document* doc, const DocSpec& plan) {
  pdf_obj* page = pdf_lookup_page_obj(c, doc, 0);
  pdf_obj* fields = pdf_new_array(c, doc, 5);
  pdf_obj* name = widget(c, doc, page, 700);
  pdf_dict_put(c, name, PDF_NAME(FT), PDF_NAME(Tx));
  pdf_dict_put_text_string(c, name, PDF_NAME(T), "name");
  pdf_dict_put_text_string(c, name, PDF_NAME(V), plan.formValue.c_str());
  pdf_dict_put_drop(c, pdf_dict_put_dict(c, name, PDF_NAME(AP), 1), PDF_NAME(N),
                    appearance(c, doc, "BT /Helv 10 Tf 2 6 Td (value) Tj ET"));
  pdf_obj* choice = widget(c, doc, page, 660);
  pdf_dict_put(c, choice, PDF_NAME(FT), PDF_NAME(Ch));
  pdf_dict_put_int(c, choice, PDF_NAME(Ff), 131072);
  pdf_dict_put_text_string(c, choice, PDF_NAME(T), "choice");
  pdf_obj* opt = pdf_dict_put_array(c, choice, PDF_NAME(Opt), 3);
  for (const char* o : {"Red", "Green", "Blue"}) pdf_array_push_text_string(c, opt, o);
  pdf_dict_put_text_string(c, choice, PDF_NAME(V), "Green");
  pdf_obj* all[] = {name, choice, nullptr, nullptr, nullptr};
  const char* boxes[] = {"agree", "news"};
  for (int i = 0; i < 2; ++i) {
    pdf_obj* b = widget(c, doc, page, 620 - 40 * i);
    pdf_dict_put(c, b, PDF_NAME(FT), PDF_NAME(Btn));
    pdf_dict_put_text_string(c, b, PDF_NAME(T), boxes[i]);
    pdf_dict_put_name(c, b, PDF_NAME(V), i == 0 ? "Yes" : "Off");
    onOff(c, doc, b, "Yes", i == 0);
    all[2 + i] = b;
  }
  pdf_obj* radio = pdf_add_new_dict(c, doc, 5);
  pdf_dict_put(c, radio, PDF_NAME(FT), PDF_NAME(Btn));
  pdf_dict_put_int(c, radio, PDF_NAME(Ff), 49152);
  pdf_dict_put_text_string(c, radio, PDF_NAME(T), "size");
  pdf_dict_put_name(c, radio, PDF_NAME(V), "M");
  pdf_obj* kids = pdf_dict_put_array(c, radio, PDF_NAME(Kids), 2);
  const char* states[] = {"S", "M"};
  for (int i = 0; i < 2; ++i) {
    pdf_obj* k = widget(c, doc, page, 540 - 40 * i);
    pdf_dict_put(c, k, PDF_NAME(Parent), radio);
    onOff(c, doc, k, states[i], i == 1);
    pdf_array_push(c, kids, k);
    pdf_drop_obj(c, k);
  }
  all[4] = radio;
  for (pdf_obj* f : all) {
    pdf_array_push(c, fields, f);
    pdf_drop_obj(c, f);
  }
  pdf_obj* form = pdf_dict_put_dict(c, pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root)), PDF_NAME(AcroForm), 4);
  pdf_dict_put_drop(c, form, PDF_NAME(Fields), fields);
  pdf_dict_put_text_string(c, form, PDF_NAME(DA), "/Helv 0 Tf 0 g");
  pdf_dict_puts_drop(c, form, "NeedAppearances", PDF_TRUE);
  pdf_obj* helv = pdf_dict_put_dict(
      c, pdf_dict_put_dict(c, pdf_dict_put_dict(c, form, PDF_NAME(DR), 1), PDF_NAME(Font), 1), PDF_NAME(Helv), 3);
  pdf_dict_put(c, helv, PDF_NAME(Type), PDF_NAME(Font));
  pdf_dict_put(c, helv, PDF_NAME(Subtype), PDF_NAME(Type1));
  pdf_dict_put_name(c, helv, PDF_NAME(BaseFont), "Helvetica");
}

void addAnnotations(fz_context* c, pdf_document* doc) {
  pdf_obj* page = pdf_lookup_page_obj(c, doc, 0);
  pdf_obj* last = pdf_lookup_page_obj(c, doc, pdf_count_pages(c, doc) - 1);
  pdf_obj* annots = pdf_dict_get(c, page, PDF_NAME(Annots));
  if (!annots) annots = pdf_dict_put_array(c, page, PDF_NAME(Annots), 5);
  auto add = [&](const char* subtype, float y) {
    pdf_obj* a = pdf_add_new_dict(c, doc, 6);
    pdf_dict_put(c, a, PDF_NAME(Type), PDF_NAME(Annot));
    pdf_dict_put_name(c, a, PDF_NAME(Subtype), subtype);
    pdf_dict_put_rect(c, a, PDF_NAME(Rect), fz_make_rect(300, y, 400, y + 20));
    pdf_dict_put(c, a, PDF_NAME(P), page);
    pdf_array_push(c, annots, a);
    return a;
  };
  pdf_obj* dest = pdf_new_array(c, doc, 2);
  pdf_array_push(c, dest, last);
  pdf_array_push(c, dest, PDF_NAME(Fit));
  pdf_obj* link = add("Link", 700);
  pdf_dict_put(c, link, PDF_NAME(Dest), dest);
  pdf_drop_obj(c, link);
  pdf_obj* names = pdf_dict_put_array(
      c,
      pdf_dict_put_dict(c,
                        pdf_dict_put_dict(c, pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root)), PDF_NAME(Names), 1),
                        PDF_NAME(Dests), 1),
      PDF_NAME(Names), 2);
  pdf_array_push_text_string(c, names, "end");
  pdf_array_push(c, names, dest);
  pdf_drop_obj(c, dest);
  link = add("Link", 660);
  pdf_obj* go = pdf_dict_put_dict(c, link, PDF_NAME(A), 2);
  pdf_dict_put(c, go, PDF_NAME(S), PDF_NAME(GoTo));
  pdf_dict_put_text_string(c, go, PDF_NAME(D), "end");
  pdf_drop_obj(c, link);
  link = add("Link", 620);
  pdf_obj* uri = pdf_dict_put_dict(c, link, PDF_NAME(A), 2);
  pdf_dict_put(c, uri, PDF_NAME(S), PDF_NAME(URI));
  pdf_dict_put_string(c, uri, PDF_NAME(URI), "http://example.invalid/", 23);
  pdf_drop_obj(c, link);
  pdf_obj* note = add("Text", 580);
  pdf_dict_put_text_string(c, note, PDF_NAME(Contents), "A note");
  pdf_obj* popup = add("Popup", 540);
  pdf_dict_put(c, popup, PDF_NAME(Parent), note);
  pdf_dict_put(c, note, PDF_NAME(Popup), popup);
  pdf_drop_obj(c, popup);
  pdf_drop_obj(c, note);
}

}  // namespace

void makePdf(const std::string& path, const DocSpec& plan) {
  Ctx x;
  fz_context* c = x.c;
  std::string err;
  fz_try(c) {
    pdf_document* doc = pdf_create_document(c);
    fz_font* helv = fz_new_base14_font(c, "Helvetica");
    pdf_obj* f1 = pdf_add_simple_font(c, doc, helv, PDF_SIMPLE_ENCODING_LATIN);
    fz_font* cjk = fz_new_cjk_font(c, FZ_ADOBE_JAPAN);
    pdf_obj* f2 = pdf_add_cjk_font(c, doc, cjk, FZ_ADOBE_JAPAN, 0, 1);
    for (const PageSpec& p : plan.pages) {
      std::ostringstream cs;
      float y = p.height - 72;
      for (const std::string& line : p.lines) {
        cs << "BT /F1 12 Tf 72 " << y << " Td (" << escapePdf(line) << ") Tj ET\n";
        y -= 18;
      }
      if (!p.cjk.empty()) cs << "BT /F2 14 Tf 72 " << y << " Td <" << utf16Hex(p.cjk) << "> Tj ET\n";
      cs << p.raw;
      std::string content = cs.str();
      pdf_obj* res = pdf_new_dict(c, doc, 1);
      pdf_obj* fonts = pdf_dict_put_dict(c, res, PDF_NAME(Font), 2);
      pdf_dict_puts(c, fonts, "F1", f1);
      pdf_dict_puts(c, fonts, "F2", f2);
      fz_buffer* buf =
          fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(content.data()), content.size());
      pdf_obj* page = pdf_add_page(c, doc, fz_make_rect(0, 0, p.width, p.height), p.rotate, res, buf);
      if (p.cropInset > 0) {
        pdf_obj* crop = pdf_dict_put_array(c, page, PDF_NAME(CropBox), 4);
        pdf_array_push_real(c, crop, p.cropInset);
        pdf_array_push_real(c, crop, p.cropInset);
        pdf_array_push_real(c, crop, p.width - p.cropInset);
        pdf_array_push_real(c, crop, p.height - p.cropInset);
      }
      pdf_insert_page(c, doc, -1, page);
      pdf_drop_obj(c, page);
      fz_drop_buffer(c, buf);
      pdf_drop_obj(c, res);
    }
    if (!plan.outline.empty()) {
      pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root));
      pdf_obj* outlines = pdf_add_new_dict(c, doc, 4);
      pdf_dict_put(c, outlines, PDF_NAME(Type), PDF_NAME(Outlines));
      pdf_dict_put(c, root, PDF_NAME(Outlines), outlines);
      addOutline(c, doc, outlines, plan.outline);
      if (plan.loopOutline) {
        pdf_obj* last = pdf_dict_get(c, outlines, PDF_NAME(Last));
        pdf_dict_put(c, last, PDF_NAME(Next), pdf_dict_get(c, outlines, PDF_NAME(First)));
        pdf_obj* firstKid = pdf_dict_getp(c, outlines, "First/First");
        if (firstKid) pdf_dict_put(c, firstKid, PDF_NAME(First), pdf_dict_get(c, outlines, PDF_NAME(First)));
      }
      pdf_drop_obj(c, outlines);
    }
    if (plan.form) addForm(c, doc, plan);
    if (!plan.xmp.empty()) {
      fz_buffer* b =
          fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(plan.xmp.data()), plan.xmp.size());
      pdf_obj* md = pdf_add_stream(c, doc, b, nullptr, 0);
      pdf_dict_put(c, md, PDF_NAME(Type), PDF_NAME(Metadata));
      pdf_dict_put(c, md, PDF_NAME(Subtype), PDF_NAME(XML));
      pdf_dict_put_drop(c, pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root)), PDF_NAME(Metadata), md);
      fz_drop_buffer(c, b);
    }
    if (plan.annotated) addAnnotations(c, doc);
    if (!plan.title.empty() || !plan.author.empty()) {
      pdf_obj* info = pdf_add_new_dict(c, doc, 2);
      if (!plan.title.empty()) pdf_dict_put_text_string(c, info, PDF_NAME(Title), plan.title.c_str());
      if (!plan.author.empty()) pdf_dict_put_text_string(c, info, PDF_NAME(Author), plan.author.c_str());
      pdf_dict_put_drop(c, pdf_trailer(c, doc), PDF_NAME(Info), info);
    }
    pdf_write_options opts = pdf_default_write_options;
    if (!plan.userPassword.empty()) {
      opts.do_encrypt = PDF_ENCRYPT_AES_256;
      fz_strlcpy(opts.upwd_utf8, plan.userPassword.c_str(), sizeof opts.upwd_utf8);
      fz_strlcpy(opts.opwd_utf8, (plan.userPassword + "-owner").c_str(), sizeof opts.opwd_utf8);
      opts.permissions = -1;
    }
    pdf_save_document(c, doc, path.c_str(), &opts);
    pdf_drop_obj(c, f1);
    pdf_drop_obj(c, f2);
    fz_drop_font(c, helv);
    fz_drop_font(c, cjk);
    pdf_drop_document(c, doc);
  }
  fz_catch(c) {
    err = fz_caught_message(c);
  }
  if (!err.empty()) throw std::runtime_error("makePdf: " + err);
}

std::vector<std::string> qpdfFields(const std::string& path) {
  std::string json;
  if (run({"qpdf", "--json", "--json-key=acroform", path}, &json) != 0) throw std::runtime_error("qpdf --json " + path);
  auto valueAt = [&](size_t from, const std::string& key) {
    size_t at = json.find("\"" + key + "\": ", from);
    if (at == std::string::npos) return std::string();
    at += key.size() + 4;
    std::string v = json.substr(at, json.find('\n', at) - at);
    if (!v.empty() && v.back() == ',') v.pop_back();
    if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
    return v;
  };
  std::vector<std::string> out;
  for (size_t at = json.find("\"fullname\": "); at != std::string::npos; at = json.find("\"fullname\": ", at + 1))
    out.push_back(valueAt(at, "fullname") + "=" + valueAt(at, "value") + "@" + valueAt(at, "pageposfrom1"));
  return out;
}

std::vector<std::string> annotSummary(const std::string& path, int page) {
  Ctx x;
  fz_context* c = x.c;
  std::vector<std::string> out;
  pdf_document* doc = nullptr;
  std::string err;
  fz_try(c) {
    doc = pdf_open_document(c, path.c_str());
    pdf_obj* annots = pdf_dict_get(c, pdf_lookup_page_obj(c, doc, page), PDF_NAME(Annots));
    for (int i = 0; i < pdf_array_len(c, annots); ++i) {
      pdf_obj* a = pdf_array_get(c, annots, i);
      std::string s = pdf_to_name(c, pdf_dict_get(c, a, PDF_NAME(Subtype)));
      pdf_obj* action = pdf_dict_get(c, a, PDF_NAME(A));
      pdf_obj* dest = pdf_dict_get(c, a, PDF_NAME(Dest));
      if (!dest && pdf_name_eq(c, pdf_dict_get(c, action, PDF_NAME(S)), PDF_NAME(GoTo)))
        dest = pdf_dict_get(c, action, PDF_NAME(D));
      if (pdf_is_string(c, dest) || pdf_is_name(c, dest)) dest = pdf_lookup_dest(c, doc, dest);
      if (dest) s += ">" + std::to_string(pdf_lookup_page_number(c, doc, pdf_array_get(c, dest, 0)));
      if (pdf_dict_get(c, action, PDF_NAME(URI)))
        s += std::string(":") + pdf_to_str_buf(c, pdf_dict_get(c, action, PDF_NAME(URI)));
      if (pdf_name_eq(c, pdf_dict_get(c, a, PDF_NAME(Subtype)), PDF_NAME(Popup)))
        s += std::string("<") + pdf_to_name(c, pdf_dict_getp(c, a, "Parent/Subtype"));
      out.push_back(s);
    }
  }
  fz_always(c) {
    pdf_drop_document(c, doc);
  }
  fz_catch(c) {
    err = fz_caught_message(c);
  }
  if (!err.empty()) throw std::runtime_error("annotSummary: " + err);
  return out;
}

ReadBack readBack(const std::string& path) {
  Ctx x;
  fz_context* c = x.c;
  ReadBack r;
  fz_document* doc = nullptr;
  fz_try(c) {
    doc = fz_open_document(c, path.c_str());
    r.pages = fz_count_pages(c, doc);
    char buf[1024];
    if (fz_lookup_metadata(c, doc, "info:Title", buf, sizeof buf) > 0) r.title = buf;
    if (fz_lookup_metadata(c, doc, "info:Author", buf, sizeof buf) > 0) r.author = buf;
    if (fz_lookup_metadata(c, doc, "info:Keywords", buf, sizeof buf) > 0) r.keywords = buf;
    fz_outline* o = fz_load_outline(c, doc);
    readOutline(c, doc, o, r.outline);
    fz_drop_outline(c, o);
    if (fz_lookup_metadata(c, doc, "info:ModDate", buf, sizeof buf) > 0) r.modDate = buf;
    pdf_document* pdf = pdf_specifics(c, doc);
    pdf_obj* md = pdf ? pdf_dict_getp(c, pdf_trailer(c, pdf), "Root/Metadata") : nullptr;
    if (pdf_is_stream(c, md)) {
      fz_buffer* b = pdf_load_stream(c, md);
      r.xmp = fz_string_from_buffer(c, b);
      fz_drop_buffer(c, b);
    }
    for (int i = 0; i < r.pages; ++i) {
      fz_page* page = fz_load_page(c, doc, i);
      fz_stext_page* st = fz_new_stext_page_from_page(c, page, nullptr);
      fz_buffer* b = fz_new_buffer_from_stext_page(c, st);
      r.pageText.push_back(fz_string_from_buffer(c, b));
      fz_drop_buffer(c, b);
      fz_drop_stext_page(c, st);
      fz_drop_page(c, page);
      if (pdf)
        r.rotation.push_back(
            pdf_to_int(c, pdf_dict_get_inheritable(c, pdf_lookup_page_obj(c, pdf, i), PDF_NAME(Rotate))));
    }
    r.ok = true;
  }
  fz_always(c) {
    fz_drop_document(c, doc);
  }
  fz_catch(c) {
    r.ok = false;
  }
  return r;
}

std::string outlineEntry(const std::string& path, const std::vector<std::string>& titles, const std::string& key) {
  Ctx x;
  fz_context* c = x.c;
  std::string out = "<none>";
  pdf_document* doc = nullptr;
  fz_try(c) {
    doc = pdf_open_document(c, path.c_str());
    pdf_obj* node = pdf_dict_getp(c, pdf_trailer(c, doc), "Root/Outlines");
    for (const std::string& t : titles) {
      pdf_obj* ch = pdf_dict_get(c, node, PDF_NAME(First));
      while (ch && t != pdf_to_text_string(c, pdf_dict_get(c, ch, PDF_NAME(Title))))
        ch = pdf_dict_get(c, ch, PDF_NAME(Next));
      node = ch;
    }
    if (node) {
      pdf_obj* v = pdf_dict_gets(c, node, key.c_str());
      if (v) {
        fz_buffer* b = fz_new_buffer(c, 64);
        fz_output* o = fz_new_output_with_buffer(c, b);
        pdf_print_obj(c, o, pdf_resolve_indirect(c, v), 1, 0);
        fz_close_output(c, o);
        fz_drop_output(c, o);
        out = fz_string_from_buffer(c, b);
        fz_drop_buffer(c, b);
      }
    } else {
      out = "<no item>";
    }
  }
  fz_always(c) {
    pdf_drop_document(c, doc);
  }
  fz_catch(c) {
    out = std::string("<error ") + fz_caught_message(c) + ">";
  }
  return out;
}

void expectClean(const std::string& file) {
  std::string report;
  EXPECT_EQ(run({"qpdf", "--check", file}, &report), 0) << file << ": " << report;
}

std::pair<std::string, std::string> shownText(const std::string& file, int page) {
  std::string poppler, mupdf, pg = std::to_string(page);
  EXPECT_EQ(run({"pdftotext", "-f", pg, "-l", pg, file, "-"}, &poppler), 0);
  EXPECT_EQ(run({"mutool", "draw", "-F", "txt", file, pg}, &mupdf), 0);
  // The engine's note that it has no colour management is not page text.
  for (size_t at = mupdf.find("warning:"); at != std::string::npos; at = mupdf.find("warning:"))
    mupdf.erase(at, mupdf.find('\n', at) - at);
  return {poppler, mupdf};
}

void expectShown(const std::string& file, int page, const std::vector<std::string>& parts) {
  auto [poppler, mupdf] = shownText(file, page);
  for (const std::string& part : parts) {
    EXPECT_THAT(poppler, HasSubstr(part)) << "pdftotext, page " << page;
    EXPECT_THAT(mupdf, HasSubstr(part)) << "mutool, page " << page;
  }
}

bool exists(const std::string& path) {
  return std::filesystem::exists(path);
}

int run(const std::vector<std::string>& argv, std::string* out, int timeoutSeconds) {
  std::string text;
  pm::ProcessOptions o;
  o.argv = argv;
  o.timeout = std::chrono::seconds(timeoutSeconds);
  o.onLine = [&](pm::OutputStream, std::string_view line) { text.append(line).push_back('\n'); };
  pm::ProcessResult r = pm::runProcess(std::move(o));
  if (out) *out = text;
  if (r.timedOut) return -2;
  return r.exited ? r.exitCode : -1;
}

}  // namespace pm::test
