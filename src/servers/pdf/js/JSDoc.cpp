// The document's JavaScript object, its app object and colour table,
// implemented natively over the same document the PDDoc holds.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "automation/surfaces/Acrobat.h"
#include "servers/pdf/engine/Export.h"
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/viewer/Objects.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

// "D:YYYYMMDDHHmmSS..." as a date; Null when there is none.
Variant pdfDate(const std::string& s) {
  std::string t = s;
  if (t.rfind("D:", 0) == 0) t = t.substr(2);
  auto num = [&](size_t pos, size_t len, int def) {
    if (t.size() < pos + len) return def;
    int v = 0;
    for (size_t i = pos; i < pos + len; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(t[i]))) return def;
      v = v * 10 + (t[i] - '0');
    }
    return v;
  };
  if (t.size() < 4 || num(0, 4, -1) < 0) return Variant::null();
  return Variant(MakeDate(num(0, 4, 1), num(4, 2, 1), num(6, 2, 1), num(8, 2, 0), num(10, 2, 0), num(12, 2, 0)));
}

int countFields(fz_context* c, pdf_obj* arr, int depth, int* budget) {
  int n = 0;
  int len = pdf_array_len(c, arr);
  for (int i = 0; i < len && (*budget)-- > 0; ++i) {
    pdf_obj* f = pdf_array_get(c, arr, i);
    pdf_obj* kids = pdf_dict_get(c, f, PDF_NAME(Kids));
    int named = 0;
    int klen = pdf_array_len(c, kids);
    for (int k = 0; k < klen; ++k)
      if (pdf_dict_get(c, pdf_array_get(c, kids, k), PDF_NAME(T))) named = 1;
    if (named && depth < 32)
      n += countFields(c, kids, depth + 1, budget);
    else if (pdf_dict_get(c, f, PDF_NAME(T)))
      n += 1;
  }
  return n;
}

// ---- The colour table ("color") ----
class ColorTable : public Dispatch {
  // The colours by name: the colour space and its components; whole
  // components are handed out as integers, as the viewer's colour table
  // holds them.
  struct Colour {
    const char* name;
    const char* space;
    int count;
    double comps[4];
  };
  static constexpr Colour kColours[] = {{"transparent", "T", 0, {}},
                                        {"black", "G", 1, {0}},
                                        {"white", "G", 1, {1}},
                                        {"red", "RGB", 3, {1, 0, 0}},
                                        {"green", "RGB", 3, {0, 1, 0}},
                                        {"blue", "RGB", 3, {0, 0, 1}},
                                        {"cyan", "CMYK", 4, {1, 0, 0, 0}},
                                        {"magenta", "CMYK", 4, {0, 1, 0, 0}},
                                        {"yellow", "CMYK", 4, {0, 0, 1, 0}},
                                        {"dkgray", "G", 1, {0.25}},
                                        {"gray", "G", 1, {0.5}},
                                        {"ltgray", "G", 1, {0.75}}};
  static Variant value(const Colour& c) {
    std::vector<Variant> items{Variant(c.space)};
    for (int i = 0; i < c.count; ++i) {
      double x = c.comps[i];
      items.push_back(x == std::floor(x) ? Variant(int16_t(x)) : Variant(x));
    }
    return Variant(Array::vector(std::move(items)));
  }

 public:
  Variant invoke(std::string_view name, Invoke kind, std::span<const Arg> args) override {
    std::string n = LCase(name);
    if (kind == Invoke::Get || kind == Invoke::Method) {
      if (args.empty()) {
        for (const Colour& c : kColours)
          if (n == c.name) return value(c);
      }
    }
    raise(basic::MemberNotSupported,
          std::string(basicDescription(basic::MemberNotSupported)) + ": color." + std::string(name));
  }
  std::string typeName() const override { return "color"; }
};

// An entry of a document name tree: its name.
class NamedEntry : public Dispatch {
 public:
  explicit NamedEntry(std::string n) : name_(std::move(n)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("NamedEntry");
      Members<NamedEntry> m(t);
      m.get("name", {}, &NamedEntry::getName);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "NamedEntry"; }

 private:
  Variant getName(Frame&) { return Variant(name_); }
  std::string name_;
};

// ---- app ----
class JSApp : public Dispatch {
 public:
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("app");
      Members<JSApp> m(t);
      m.get("viewerVersion", {}, &JSApp::viewerVersion);
      m.get("formsVersion", {}, &JSApp::viewerVersion);
      m.get("viewerType", {}, &JSApp::viewerType);
      m.get("viewerVariation", {}, &JSApp::viewerVariation);
      m.get("language", {}, &JSApp::language);
      m.get("platform", {}, &JSApp::platform);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "app"; }

 private:
  Variant viewerVersion(Frame&) { return Variant(acrobat::kViewerVersion); }
  Variant viewerType(Frame&) { return Variant("Exchange-Pro"); }
  Variant viewerVariation(Frame&) { return Variant("Full"); }
  Variant language(Frame&) { return Variant("ENU"); }
  Variant platform(Frame&) { return Variant("UNIX"); }
};

// ---- The document object ----
class JSDoc : public DocHolder {
 public:
  explicit JSDoc(std::shared_ptr<Doc> d) : doc_(std::move(d)) {}
  std::shared_ptr<Doc> docState() const override { return doc_; }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("Doc");
      Members<JSDoc> m(t);
      for (const char* k : {"title", "author", "subject", "keywords", "creator", "producer"}) {
        m.get(k, {}, &JSDoc::getInfo);
        m.let(k, {P("v")}, &JSDoc::letInfo);
      }
      m.get("creationDate", {}, &JSDoc::getDate);
      m.get("modDate", {}, &JSDoc::getDate);
      m.get("numPages", {}, &JSDoc::numPages);
      m.get("pageNum", {}, &JSDoc::getPageNum).let("pageNum", {P("v")}, &JSDoc::letPageNum);
      // No pointer here: the mouse stands where the view does.
      m.get(
          "mouseX", {}, +[](JSDoc& j, Frame&) { return Variant(j.docState()->viewX); });
      m.get(
          "mouseY", {}, +[](JSDoc& j, Frame&) { return Variant(j.docState()->viewY); });
      m.get("path", {}, &JSDoc::path);
      m.get("documentFileName", {}, &JSDoc::documentFileName);
      m.get("fileSize", {}, &JSDoc::fileSize);
      m.get("URL", {}, &JSDoc::url);
      m.get("dirty", {}, &JSDoc::getDirty).let("dirty", {P("v")}, &JSDoc::letDirty);
      m.get("bookmarkRoot", {}, &JSDoc::bookmarkRoot);
      m.get("layout", {}, &JSDoc::getLayout).let("layout", {P("v")}, &JSDoc::letLayout);
      m.get("numFields", {}, &JSDoc::numFields);
      m.get("numTemplates", {}, &JSDoc::numTemplates);
      m.get("securityHandler", {}, &JSDoc::securityHandler);
      m.get("permStatusReady", {}, &JSDoc::permStatusReady);
      m.get("metadata", {}, &JSDoc::getMetadata).let("metadata", {P("v")}, &JSDoc::letMetadata);
      m.get("baseURL", {}, &JSDoc::getBaseURL).let("baseURL", {P("v")}, &JSDoc::letBaseURL);
      for (const char* k : {"calculate", "disclosed", "noAutoComplete", "noCache"}) {
        m.get(k, {}, &JSDoc::getSetting);
        m.let(k, {P("v")}, &JSDoc::letSetting);
      }
      m.get("dynamicXFAForm", {}, &JSDoc::dynamicXFAForm);
      m.get("dataObjects", {}, &JSDoc::dataObjects);
      m.get("templates", {}, &JSDoc::templates);
      m.get("icons", {}, &JSDoc::icons);
      m.get("sounds", {}, &JSDoc::sounds);
      m.method("addWebLinks", {P("nStart").opt(int32_t(0)), P("nEnd").opt()}, &JSDoc::addWebLinks);
      m.get("app", {}, &JSDoc::app);
      m.get("color", {}, &JSDoc::color);
      m.method("getPageBox", {P("cBox").opt(std::string("Crop")), P("nPage").opt(int32_t(0))}, &JSDoc::getPageBox);
      m.method("getPageNumWords", {P("nPage").opt(int32_t(0))}, &JSDoc::getPageNumWords);
      m.method("getPageNthWord", {P("nPage").opt(int32_t(0)), P("nWord").opt(int32_t(0)), P("bStrip").opt(true)},
               &JSDoc::getPageNthWord);
      m.method("getPageNthWordQuads", {P("nPage").opt(int32_t(0)), P("nWord").opt(int32_t(0))},
               &JSDoc::getPageNthWordQuads);
      m.method("getPageRotation", {P("nPage").opt(int32_t(0))}, &JSDoc::getPageRotation);
      m.method("setPageRotations", {P("nStart").opt(int32_t(0)), P("nEnd").opt(), P("nRotate").opt(int32_t(0))},
               &JSDoc::setPageRotations);
      m.method("saveAs", {P("cPath").path(), P("cConvID").opt()}, &JSDoc::saveAs);
      m.method("closeDoc", {P("bNoSave").opt(false)}, &JSDoc::closeDoc);
      m.method("calculateNow", {}, &JSDoc::calculateNow);
      m.method("deletePages", {P("nStart").opt(int32_t(0)), P("nEnd").opt()}, &JSDoc::deletePages);
      m.method("newPage", {P("nPage").opt(int32_t(0)), P("nWidth").opt(612.0), P("nHeight").opt(792.0)},
               &JSDoc::newPage);
      // Fields, annotations, pages, templates, scripts and form data come
      // from the member groups in their own files.
      js::Groups::applyAll(
          t, {"fields", "annots", "pages", "templates", "watermarks", "scripts", "formdata", "send", "security"});
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "Doc"; }

 private:
  Variant getInfo(Frame& f) {
    std::string key = f.member().name;
    if (!doc_->hasInfo(key)) return Variant("");
    return Variant(doc_->info(key));
  }
  Variant letInfo(Frame& f) {
    doc_->setInfo(f.member().name, CStr(f["v"]));
    return {};
  }
  Variant getDate(Frame& f) {
    std::string key = LCase(f.member().name) == "creationdate" ? "CreationDate" : "ModDate";
    return pdfDate(doc_->info(key));
  }
  Variant numPages(Frame&) { return Variant(int32_t(doc_->pageCount())); }
  Variant getPageNum(Frame&) {
    doc_->pdf();
    return Variant(int32_t(doc_->currentPage));
  }
  Variant letPageNum(Frame& f) {
    int32_t p = CLng(f["v"]);
    // Like the viewer, a page number outside the document is ignored.
    if (p >= 0 && p < doc_->pageCount()) doc_->currentPage = p;
    return {};
  }
  std::string absolutePath() {
    doc_->pdf();
    std::string p = doc_->path();
    if (p.empty()) return p;
    char* r = realpath(p.c_str(), nullptr);
    if (!r) return p;
    std::string out(r);
    std::free(r);
    return out;
  }
  Variant path(Frame&) { return Variant(absolutePath()); }
  Variant documentFileName(Frame&) {
    std::string p = absolutePath();
    auto s = p.rfind('/');
    return Variant(s == std::string::npos ? p : p.substr(s + 1));
  }
  Variant fileSize(Frame&) {
    doc_->pdf();
    struct stat st;
    if (doc_->path().empty() || stat(doc_->path().c_str(), &st) != 0) return Variant(int32_t(0));
    return Variant(static_cast<double>(st.st_size));
  }
  Variant url(Frame&) {
    std::string p = absolutePath();
    std::string out = "file://";
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char ch : p) {
      if (std::isalnum(ch) || std::strchr("/-._~", ch)) {
        out += static_cast<char>(ch);
      } else {
        out += '%';
        out += hex[ch >> 4];
        out += hex[ch & 15];
      }
    }
    return Variant(out);
  }
  Variant getDirty(Frame&) {
    doc_->pdf();
    return Variant(doc_->dirty());
  }
  Variant letDirty(Frame& f) {
    doc_->pdf();
    doc_->setDirty(CBool(f["v"]));
    return {};
  }
  Variant bookmarkRoot(Frame&) { return Variant(makeBookmarkNode(doc_->outlineRoot())); }
  Variant getLayout(Frame&) {
    pdf_document* d = doc_->pdf();
    const char* n = nullptr;
    mu::guard("Reading the layout", [&](fz_context* c) {
      n = pdf_to_name(c, pdf_dict_gets(c, pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root)), "PageLayout"));
    });
    return Variant(n && *n ? std::string(n) : std::string("SinglePage"));
  }
  Variant letLayout(Frame& f) {
    std::string v = CStr(f["v"]);
    static const char* names[] = {"SinglePage",     "OneColumn",   "TwoColumnLeft",
                                  "TwoColumnRight", "TwoPageLeft", "TwoPageRight"};
    const char* found = nullptr;
    for (const char* n : names)
      if (strcasecmp(n, v.c_str()) == 0) found = n;
    if (!found) fail("Unknown layout \"" + v + "\"");
    pdf_document* d = doc_->pdf();
    mu::guard("Setting the layout", [&](fz_context* c) {
      pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root));
      pdf_dict_puts_drop(c, root, "PageLayout", pdf_new_name(c, found));
    });
    doc_->changed();
    return {};
  }
  Variant numFields(Frame&) {
    pdf_document* d = doc_->pdf();
    int n = 0;
    mu::guard("Counting fields", [&](fz_context* c) {
      pdf_obj* fields = pdf_dict_getp(c, pdf_trailer(c, d), "Root/AcroForm/Fields");
      int budget = 100000;
      n = countFields(c, fields, 0, &budget);
    });
    return Variant(int32_t(n));
  }
  Variant numTemplates(Frame&) { return Variant(int32_t(readNameTree(*doc_, "Templates").size())); }
  Variant securityHandler(Frame&) {
    pdf_document* d = doc_->pdf();
    const char* n = nullptr;
    mu::guard("Reading the security handler", [&](fz_context* c) {
      pdf_obj* enc = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Encrypt));
      if (enc) n = pdf_to_name(c, pdf_dict_get(c, enc, PDF_NAME(Filter)));
    });
    if (!n || !*n) return Variant::null();
    return Variant(std::string(n));
  }
  Variant permStatusReady(Frame&) {
    doc_->pdf();
    return Variant(true);
  }
  Variant getMetadata(Frame&) {
    pdf_document* d = doc_->pdf();
    fz_buffer* buf = nullptr;
    mu::guard("Reading the metadata", [&](fz_context* c) {
      pdf_obj* md = pdf_dict_getp(c, pdf_trailer(c, d), "Root/Metadata");
      if (pdf_is_stream(c, md)) buf = pdf_load_stream(c, md);
    });
    if (!buf) return Variant("");
    mu::BufferPtr b(buf);
    unsigned char* data = nullptr;
    size_t len = fz_buffer_storage(mu::ctx(), buf, &data);
    return Variant(std::string(reinterpret_cast<const char*>(data), len));
  }
  Variant letMetadata(Frame& f) {
    std::string xml = CStr(f["v"]);
    pdf_document* d = doc_->pdf();
    const char* data = xml.data();
    size_t len = xml.size();
    mu::guard("Writing the metadata", [&](fz_context* c) {
      pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root));
      fz_buffer* buf = fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(data), len);
      pdf_obj* md = nullptr;
      fz_var(md);
      fz_try(c) {
        md = pdf_add_new_dict(c, d, 2);
        pdf_dict_put(c, md, PDF_NAME(Type), PDF_NAME(Metadata));
        pdf_dict_put(c, md, PDF_NAME(Subtype), PDF_NAME(XML));
        pdf_update_stream(c, d, md, buf, 0);
        pdf_dict_put(c, root, PDF_NAME(Metadata), md);
      }
      fz_always(c) {
        pdf_drop_obj(c, md);
        fz_drop_buffer(c, buf);
      }
      fz_catch(c) {
        fz_rethrow(c);
      }
    });
    doc_->changed();
    return {};
  }
  Variant getBaseURL(Frame&) {
    pdf_document* d = doc_->pdf();
    pdf_obj* o = nullptr;
    mu::guard("Reading the base URL", [&](fz_context* c) { o = pdf_dict_getp(c, pdf_trailer(c, d), "Root/URI/Base"); });
    return Variant(mu::text(o));
  }
  Variant letBaseURL(Frame& f) {
    std::string v = CStr(f["v"]);
    pdf_document* d = doc_->pdf();
    const char* s = v.c_str();
    mu::guard("Setting the base URL", [&](fz_context* c) {
      pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root));
      pdf_obj* uri = pdf_dict_get(c, root, PDF_NAME(URI));
      if (!pdf_is_dict(c, uri)) uri = pdf_dict_put_dict(c, root, PDF_NAME(URI), 1);
      pdf_dict_puts_drop(c, uri, "Base", pdf_new_string(c, s, strlen(s)));
    });
    doc_->changed();
    return {};
  }
  Variant getSetting(Frame& f) {
    doc_->pdf();
    std::string k = LCase(f.member().name);
    auto it = doc_->settings.find(k);
    if (it != doc_->settings.end()) return it->second;
    // Calculations run unless switched off; the other settings are off.
    return Variant(k == "calculate");
  }
  Variant letSetting(Frame& f) {
    doc_->pdf();
    doc_->settings[LCase(f.member().name)] = Variant(CBool(f["v"]));
    return {};
  }
  Variant dynamicXFAForm(Frame&) {
    pdf_document* d = doc_->pdf();
    int dyn = 0;
    mu::guard("Reading the form", [&](fz_context* c) {
      pdf_obj* form = pdf_dict_getp(c, pdf_trailer(c, d), "Root/AcroForm");
      dyn = pdf_dict_gets(c, form, "XFA") != nullptr &&
            pdf_to_bool(c, pdf_dict_getp(c, pdf_trailer(c, d), "Root/NeedsRendering"));
    });
    return Variant(dyn != 0);
  }
  // The entries of one of the catalog's name trees as objects with a name;
  // null when the tree is empty, as the driven viewer answers.
  Variant namedEntries(const char* tree) {
    NameList names = readNameTree(*doc_, tree);
    if (names.empty()) return Variant::null();
    std::vector<Variant> items;
    for (auto& [nm, value] : names) items.emplace_back(ObjectRef(std::make_shared<NamedEntry>(nm)));
    return Variant(Array::vector(std::move(items)));
  }
  Variant dataObjects(Frame&) { return namedEntries("EmbeddedFiles"); }
  Variant templates(Frame&) { return namedEntries("Templates"); }
  Variant icons(Frame&) { return namedEntries("AP"); }
  Variant sounds(Frame&) { return namedEntries("Sounds"); }

  // Turns the web addresses in the text of the pages into links; answers
  // the number of links made. Words already inside a link are left alone.
  Variant addWebLinks(Frame& f) {
    int n = doc_->pageCount();
    int32_t a = CLng(f["nStart"]);
    int32_t b = f["nEnd"].isMissing() ? n - 1 : CLng(f["nEnd"]);
    if (a < 0 || b < a || b >= n) fail("Pages " + std::to_string(a) + " to " + std::to_string(b) + " do not exist");
    int made = 0;
    for (int p = a; p <= b; ++p) {
      std::vector<std::pair<fz_rect, std::string>> wanted;
      for (const Word& w : doc_->words(p)) {
        std::string t = w.text;
        while (!t.empty() && std::strchr(".,;:!?)]>\"'", t.back())) t.pop_back();
        std::string lower = LCase(t);
        std::string uri;
        if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0)
          uri = t;
        else if (lower.rfind("www.", 0) == 0 && t.size() > 4)
          uri = "http://" + t;
        if (uri.empty()) continue;
        fz_rect r = fz_rect_from_quad(w.quad);
        wanted.emplace_back(r, uri);
      }
      if (wanted.empty()) continue;
      mu::PagePtr page = doc_->loadPage(p);
      fz_page* pg = page.get();
      for (auto& [userRect, uri] : wanted) {
        const char* u = uri.c_str();
        fz_rect ur = userRect;
        int added = 0;
        mu::guard("Adding a web link", [&](fz_context* c) {
          pdf_page* pp = pdf_page_from_fz_page(c, pg);
          fz_rect media;
          fz_matrix ctm;
          pdf_page_transform(c, pp, &media, &ctm);
          fz_rect r = fz_transform_rect(ur, ctm);
          fz_point mid = fz_make_point((r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2);
          fz_link* links = fz_load_links(c, pg);
          int inside = 0;
          for (fz_link* l = links; l; l = l->next)
            if (fz_is_point_inside_rect(mid, l->rect)) inside = 1;
          fz_drop_link(c, links);
          if (!inside) {
            fz_drop_link(c, pdf_create_link(c, pp, r, u));
            added = 1;
          }
        });
        made += added;
      }
    }
    if (made) doc_->changed();
    return Variant(int32_t(made));
  }
  Variant app(Frame&) { return Variant(ObjectRef(std::make_shared<JSApp>())); }
  Variant color(Frame&) { return Variant(ObjectRef(std::make_shared<ColorTable>())); }

  Variant getPageBox(Frame& f) {
    std::string box = f["cBox"].isMissing() ? "Crop" : CStr(f["cBox"]);
    fz_rect r = doc_->pageBox(CLng(f["nPage"]), box);
    return V({double(r.x0), double(r.y1), double(r.x1), double(r.y0)});
  }
  const Word& word(int page, int32_t w) {
    const std::vector<Word>& words = doc_->words(page);
    if (w < 0 || static_cast<size_t>(w) >= words.size())
      fail("Word " + std::to_string(w) + " does not exist on page " + std::to_string(page) + ", which has " +
           std::to_string(words.size()) + " words");
    return words[static_cast<size_t>(w)];
  }
  Variant getPageNumWords(Frame& f) { return Variant(int32_t(doc_->words(CLng(f["nPage"])).size())); }
  Variant getPageNthWord(Frame& f) {
    const Word& w = word(CLng(f["nPage"]), CLng(f["nWord"]));
    bool strip = CBool(f["bStrip"]);
    if (strip) {
      // Stripping removes the punctuation around the word as well.
      size_t a = 0, b = w.text.size();
      auto punct = [](unsigned char ch) { return ch < 0x80 && (std::ispunct(ch) || std::isspace(ch)); };
      while (a < b && punct(static_cast<unsigned char>(w.text[a]))) ++a;
      while (b > a && punct(static_cast<unsigned char>(w.text[b - 1]))) --b;
      return Variant(w.text.substr(a, b - a));
    }
    return Variant(w.text + (w.lineEnd ? std::string("\r\n") : w.after.empty() ? std::string(" ") : w.after));
  }
  Variant getPageNthWordQuads(Frame& f) {
    const Word& w = word(CLng(f["nPage"]), CLng(f["nWord"]));
    const fz_quad& q = w.quad;
    Variant quad = V({double(q.ul.x), double(q.ul.y), double(q.ur.x), double(q.ur.y), double(q.ll.x), double(q.ll.y),
                      double(q.lr.x), double(q.lr.y)});
    return V({quad});
  }
  Variant getPageRotation(Frame& f) { return Variant(int32_t(doc_->rotation(CLng(f["nPage"])))); }
  Variant setPageRotations(Frame& f) {
    int32_t a = CLng(f["nStart"]);
    int32_t b = f["nEnd"].isMissing() ? a : CLng(f["nEnd"]);
    int32_t rot = CLng(f["nRotate"]);
    if (rot % 90 != 0) fail("A page rotation is a multiple of 90 degrees, not " + std::to_string(rot));
    int n = doc_->pageCount();
    if (a < 0 || b < a || b >= n) fail("Pages " + std::to_string(a) + " to " + std::to_string(b) + " do not exist");
    rot = ((rot % 360) + 360) % 360;
    pdf_document* d = doc_->pdf();
    mu::guard("Rotating pages", [&](fz_context* c) {
      for (int i = a; i <= b; ++i) pdf_dict_put_int(c, pdf_lookup_page_obj(c, d, i), PDF_NAME(Rotate), rot);
    });
    doc_->changed();
    return {};
  }
  Variant saveAs(Frame& f) {
    std::string target = CStr(f["cPath"]);
    std::string conv = f["cConvID"].isMissing() ? std::string() : CStr(f["cConvID"]);
    exportDocument(*doc_, target, conv);
    return {};
  }
  Variant closeDoc(Frame& f) {
    bool noSave = CBool(f["bNoSave"]);
    if (!doc_->isOpen()) return Variant(true);
    if (!noSave && doc_->dirty() && !doc_->path().empty()) doc_->save(doc_->path(), true, false, false);
    doc_->close();
    return Variant(true);
  }
  Variant calculateNow(Frame&) {
    pdf_document* d = doc_->pdf();
    mu::requireBoundedScripts();
    mu::guard("Calculating the fields", [&](fz_context* c) {
      pdf_enable_js(c, d);
      pdf_calculate_form(c, d);
    });
    return {};
  }
  Variant deletePages(Frame& f) {
    int32_t a = CLng(f["nStart"]);
    int32_t b = f["nEnd"].isMissing() ? a : CLng(f["nEnd"]);
    int n = doc_->pageCount();
    if (a < 0 || b < a || b >= n) fail("Pages " + std::to_string(a) + " to " + std::to_string(b) + " do not exist");
    if (b - a + 1 == n) fail("Cannot delete every page of a document");
    pdf_document* d = doc_->pdf();
    mu::guard("Deleting pages", [&](fz_context* c) { pdf_delete_page_range(c, d, a, b + 1); });
    doc_->changed();
    return {};
  }
  Variant newPage(Frame& f) {
    int32_t at = CLng(f["nPage"]);
    double w = CDbl(f["nWidth"]), h = CDbl(f["nHeight"]);
    if (!(w > 0 && h > 0 && w <= 14400 && h <= 14400)) fail("A page is between 1 and 14400 points a side");
    int n = doc_->pageCount();
    if (at < 0 || at > n) at = n;
    pdf_document* d = doc_->pdf();
    fz_rect box = fz_make_rect(0, 0, static_cast<float>(w), static_cast<float>(h));
    mu::guard("Adding a page", [&](fz_context* c) {
      pdf_obj* page = pdf_add_page(c, d, box, 0, nullptr, nullptr);
      fz_try(c) {
        pdf_insert_page(c, d, at, page);
      }
      fz_always(c) {
        pdf_drop_obj(c, page);
      }
      fz_catch(c) {
        fz_rethrow(c);
      }
    });
    doc_->changed();
    return {};
  }

  std::shared_ptr<Doc> doc_;
};

}  // namespace

ObjectRef makeJSDoc(std::shared_ptr<Doc> d) {
  return std::make_shared<JSDoc>(std::move(d));
}

}  // namespace pm::pdf
