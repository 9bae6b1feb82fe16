#include "Fixtures.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace fixture {

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
      fz_buffer* buf = fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(content.data()),
                                                      content.size());
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
  fz_catch(c) { err = fz_caught_message(c); }
  if (!err.empty()) throw std::runtime_error("makePdf: " + err);
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
    pdf_document* pdf = pdf_specifics(c, doc);
    for (int i = 0; i < r.pages; ++i) {
      fz_page* page = fz_load_page(c, doc, i);
      fz_stext_page* st = fz_new_stext_page_from_page(c, page, nullptr);
      fz_buffer* b = fz_new_buffer_from_stext_page(c, st);
      r.pageText.push_back(fz_string_from_buffer(c, b));
      fz_drop_buffer(c, b);
      fz_drop_stext_page(c, st);
      fz_drop_page(c, page);
      if (pdf)
        r.rotation.push_back(pdf_to_int(c, pdf_dict_get_inheritable(c, pdf_lookup_page_obj(c, pdf, i), PDF_NAME(Rotate))));
    }
    r.ok = true;
  }
  fz_always(c) { fz_drop_document(c, doc); }
  fz_catch(c) { r.ok = false; }
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
      while (ch && t != pdf_to_text_string(c, pdf_dict_get(c, ch, PDF_NAME(Title)))) ch = pdf_dict_get(c, ch, PDF_NAME(Next));
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
  fz_always(c) { pdf_drop_document(c, doc); }
  fz_catch(c) { out = std::string("<error ") + fz_caught_message(c) + ">"; }
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int run(const std::vector<std::string>& argv, std::string* out, int timeoutSeconds) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> a;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execvp(a[0], a.data());
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  bool killed = false;
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    int r = poll(&p, 1, left);
    if (r <= 0) continue;
    char buf[4096];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (out) *out = text;
  if (killed) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace fixture
