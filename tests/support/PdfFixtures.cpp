#include "support/PdfFixtures.h"

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

// A form XObject of 20 by 20 points drawn by ops, made indirect.
pdf_obj* appearance(fz_context* c, pdf_document* doc, const char* ops) {
  fz_buffer* b = fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(ops), strlen(ops));
  pdf_obj* x = pdf_new_xobject(c, doc, fz_make_rect(0, 0, 20, 20), fz_identity, nullptr, b);
  fz_drop_buffer(c, b);
  return x;
}

// An object written in PDF syntax.
pdf_obj* parsed(fz_context* c, pdf_document* doc, const std::string& text) {
  fz_stream* s = fz_open_memory(c, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  pdf_lexbuf lb;
  pdf_lexbuf_init(c, &lb, PDF_LEXBUF_SMALL);
  pdf_obj* o = pdf_parse_stm_obj(c, doc, s, &lb);
  pdf_lexbuf_fin(c, &lb);
  fz_drop_stream(c, s);
  return o;
}

pdf_obj* added(fz_context* c, pdf_document* doc, const std::string& text) {
  return pdf_add_object_drop(c, doc, parsed(c, doc, text));
}

// A reference to an indirect object in PDF syntax.
std::string ref(fz_context* c, pdf_obj* o) {
  return " " + std::to_string(pdf_to_num(c, o)) + " 0 R";
}

// An annotation on the first page, at y (a widget left, others right),
// entered in the page's list. body: its entries in PDF syntax.
pdf_obj* annotation(fz_context* c, pdf_document* doc, const std::string& body, int y) {
  pdf_obj* page = pdf_lookup_page_obj(c, doc, 0);
  bool widget = body.rfind("/Subtype/Widget", 0) == 0;
  pdf_obj* a = added(c, doc,
                     "<<" + body + "/Type/Annot/P" + ref(c, page) + (widget ? "/F 4/Rect[72 " : "/Rect[300 ") +
                         std::to_string(y) + (widget ? " 272 " : " 400 ") + std::to_string(y + 20) + "]>>");
  pdf_obj* annots = pdf_dict_get(c, page, PDF_NAME(Annots));
  if (!annots) annots = pdf_dict_put_array(c, page, PDF_NAME(Annots), 8);
  pdf_array_push(c, annots, a);
  return a;
}

void addForm(fz_context* c, pdf_document* doc, const DocSpec& plan) {
  std::vector<pdf_obj*> made;  // dropped at the end
  auto keep = [&](pdf_obj* o) { return made.push_back(o), o; };
  std::string on = ref(c, keep(appearance(c, doc, "0 0 1 rg 4 4 12 12 re f"))),
              off = ref(c, keep(appearance(c, doc, "0 g 0 0 20 20 re S"))),
              text = ref(c, keep(appearance(c, doc, "BT /Helv 10 Tf 2 6 Td (value) Tj ET")));
  auto field = [&](const std::string& body, int y) { return keep(annotation(c, doc, "/Subtype/Widget" + body, y)); };
  auto button = [&](const std::string& state, bool set) {
    return "/AS/" + (set ? state : "Off") + "/AP<</N<</" + state + on + "/Off" + off + ">>>>";
  };
  pdf_obj* name = field("/FT/Tx/T(name)/AP<</N" + text + ">>", 700);
  pdf_dict_put_text_string(c, name, PDF_NAME(V), plan.formValue.c_str());
  // One statement each: the widgets enter the page in this order.
  std::string fields = ref(c, name);
  fields += ref(c, field("/FT/Ch/Ff 131072/T(choice)/Opt[(Red)(Green)(Blue)]/V(Green)", 660));
  fields += ref(c, field("/FT/Btn/T(agree)/V/Yes" + button("Yes", true), 620));
  fields += ref(c, field("/FT/Btn/T(news)/V/Off" + button("Yes", false), 580));
  pdf_obj* radio = keep(added(c, doc, "<</FT/Btn/Ff 49152/T(size)/V/M>>"));
  std::string kids = ref(c, field("/Parent" + ref(c, radio) + button("S", false), 540));
  kids += ref(c, field("/Parent" + ref(c, radio) + button("M", true), 500));
  pdf_dict_put_drop(c, radio, PDF_NAME(Kids), parsed(c, doc, "[" + kids + "]"));
  pdf_dict_put_drop(c, pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root)), PDF_NAME(AcroForm),
                    parsed(c, doc,
                           "<</Fields[" + fields + ref(c, radio) +
                               "]/DA(/Helv 0 Tf 0 g)/NeedAppearances true"
                               "/DR<</Font<</Helv<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>>>>>>>"));
  for (pdf_obj* o : made) pdf_drop_obj(c, o);
}

// Links to the last page by explicit and by named destination ("end"), a
// web link, and a note with its pop-up.
void addAnnotations(fz_context* c, pdf_document* doc) {
  std::string last = ref(c, pdf_lookup_page_obj(c, doc, pdf_count_pages(c, doc) - 1));
  pdf_dict_put_drop(c, pdf_dict_get(c, pdf_trailer(c, doc), PDF_NAME(Root)), PDF_NAME(Names),
                    parsed(c, doc, "<</Dests<</Names[(end)[" + last + "/Fit]]>>>>"));
  pdf_drop_obj(c, annotation(c, doc, "/Subtype/Link/Dest[" + last + "/Fit]", 700));
  pdf_drop_obj(c, annotation(c, doc, "/Subtype/Link/A<</S/GoTo/D(end)>>", 660));
  pdf_drop_obj(c, annotation(c, doc, "/Subtype/Link/A<</S/URI/URI(http://example.invalid/)>>", 620));
  pdf_obj* note = annotation(c, doc, "/Subtype/Text/Contents(A note)", 580);
  pdf_obj* popup = annotation(c, doc, "/Subtype/Popup/Parent" + ref(c, note), 540);
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
      std::string content = cs.str();
      pdf_obj* res = pdf_new_dict(c, doc, 1);
      pdf_obj* fonts = pdf_dict_put_dict(c, res, PDF_NAME(Font), 2);
      pdf_dict_puts(c, fonts, "F1", f1);
      pdf_dict_puts(c, fonts, "F2", f2);
      fz_buffer* buf =
          fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(content.data()), content.size());
      pdf_obj* page = pdf_add_page(c, doc, fz_make_rect(0, 0, p.width, p.height), p.rotate, res, buf);
      if (p.cropInset > 0)
        pdf_dict_put_rect(c, page, PDF_NAME(CropBox),
                          fz_make_rect(p.cropInset, p.cropInset, p.width - p.cropInset, p.height - p.cropInset));
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

DocSpec textPages(const std::vector<std::vector<std::string>>& pages) {
  DocSpec s;
  for (const auto& lines : pages) s.pages.emplace_back().lines = lines;
  return s;
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

std::string eachOf(const std::vector<std::string>& keys, const std::function<std::string(const std::string&)>& read) {
  std::string out;
  for (const std::string& k : keys) out += (out.empty() ? "" : " ") + k + "=" + read(k);
  return out;
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
