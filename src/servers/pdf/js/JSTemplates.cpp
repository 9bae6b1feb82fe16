// Templates of the JavaScript object: named pages kept in the document's
// Templates name tree, and pages spawned from them.
#include <algorithm>

#include "servers/pdf/forms/Form.h"
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/engine/PageContent.h"

namespace pm::pdf {

namespace {

using namespace js;

pdf_obj* templatePage(Doc& d, const std::string& name) {
  NameList l = readNameTree(d, "Templates");
  pdf_obj* p = findName(l, name);
  if (!p) fail("The document has no template named \"" + name + "\"");
  return p;
}

// Copies the fields of the template page's widgets onto page; renamed ones
// become new fields "P<page>.<template>.<name>", the others more widgets of
// the same fields (sharing their values).
void copyFields(Doc& d, pdf_obj* from, int page, const std::string& tpl, bool rename) {
  pdf_document* doc = d.pdf();
  pdf_obj* to = po::pageObj(doc, page);
  pdf_obj* annots = po::get(from, PDF_NAME(Annots));
  std::vector<pdf_obj*> widgets;
  for (int i = 0; i < po::len(annots); ++i)
    if (po::nameIs(po::get(po::at(annots, i), PDF_NAME(Subtype)), "Widget")) widgets.push_back(po::at(annots, i));
  for (pdf_obj* w : widgets) {
    pdf_obj* field = po::get(w, PDF_NAME(T)) ? w : po::get(w, PDF_NAME(Parent));
    if (!field) continue;
    std::string name = form::fullName(field);
    std::string kind = form::kind(field);
    if (kind.empty()) continue;
    fz_rect r{};
    pdf_obj* ro = po::get(w, PDF_NAME(Rect));
    mu::guard("Reading the template's field", [&](fz_context* c) { r = pdf_to_rect(c, ro); });
    std::string target = rename ? "P" + std::to_string(page) + "." + tpl + "." + name : name;
    pdf_obj* made = form::add(d, target, kind, page, r);
    // The new widget takes the look of the template's widget, the new field
    // (when renamed) the template field's settings.
    std::vector<pdf_obj*> ws = form::widgets(made);
    pdf_obj* nw = ws.empty() ? made : ws.back();
    for (pdf_obj* k : {PDF_NAME(MK), PDF_NAME(BS), PDF_NAME(F), PDF_NAME(AP), PDF_NAME(H), PDF_NAME(AA)}) {
      pdf_obj* v = po::get(w, k);
      if (v) po::put(nw, k, v);
    }
    if (form::hasOnState(kind))
      po::putName(nw, PDF_NAME(AS),
                  po::name(po::get(w, PDF_NAME(AS))).empty() ? "Off" : po::name(po::get(w, PDF_NAME(AS))));
    if (rename)
      for (pdf_obj* k : {PDF_NAME(Ff), PDF_NAME(DA), PDF_NAME(Q), PDF_NAME(MaxLen), PDF_NAME(Opt), PDF_NAME(V),
                         PDF_NAME(DV), PDF_NAME(TU)}) {
        pdf_obj* v = po::inherited(field, k);
        if (v) po::put(made, k, v);
      }
    (void)to;
  }
}

void spawn(Doc& d, const std::string& name, int page, bool rename, bool overlay) {
  pdf_document* doc = d.pdf();
  pdf_obj* tp = templatePage(d, name);
  int n = d.pageCount();
  if (overlay) {
    if (page < 0 || page >= n) raiseBadPage(page, n);
    // The template's drawing goes onto the page as one form.
    std::string ops = content::bytes(tp);
    fz_rect box{};
    pdf_obj* media = po::inherited(tp, PDF_NAME(MediaBox));
    mu::guard("Reading the template", [&](fz_context* c) { box = pdf_to_rect(c, media); });
    pdf_obj* res = po::inherited(tp, PDF_NAME(Resources));
    mu::ObjPtr xobj = po::newStream(doc, ops);
    pdf_obj* x = xobj.get();
    mu::guard("Making the template's form", [&](fz_context* c) {
      pdf_dict_put(c, x, PDF_NAME(Type), PDF_NAME(XObject));
      pdf_dict_put(c, x, PDF_NAME(Subtype), PDF_NAME(Form));
      pdf_dict_put_rect(c, x, PDF_NAME(BBox), box);
      if (res) pdf_dict_put(c, x, PDF_NAME(Resources), res);
    });
    pdf_obj* target = po::pageObj(doc, page);
    std::string rn = content::addResource(d, target, "XObject", x, "Tpl");
    content::add(d, target, "q /" + rn + " Do Q", true);
  } else {
    if (page < -1 || page >= n) raiseBadPage(page, n);
    // A new page after the given one, drawing what the template draws.
    mu::ObjPtr np = po::newDict(doc);
    pdf_obj* p = np.get();
    pdf_obj* keys[] = {PDF_NAME(MediaBox), PDF_NAME(CropBox), PDF_NAME(Resources), PDF_NAME(Rotate)};
    po::put(p, PDF_NAME(Type), PDF_NAME(Page));
    for (pdf_obj* k : keys) {
      pdf_obj* v = po::inherited(tp, k);
      if (v) po::put(p, k, v);
    }
    pdf_obj* c = po::get(tp, PDF_NAME(Contents));
    if (c) po::put(p, PDF_NAME(Contents), c);
    ++page;
    mu::guard("Adding the spawned page", [&](fz_context* ctx) { pdf_insert_page(ctx, doc, page, p); });
  }
  copyFields(d, tp, page, name, rename);
  d.changed();
}

class Template : public Dispatch {
 public:
  Template(std::shared_ptr<Doc> d, std::string n) : doc_(std::move(d)), name_(std::move(n)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("Template");
      Members<Template> m(t);
      m.get("name", {}, &Template::getName);
      m.get("hidden", {}, &Template::getHidden).let("hidden", {P("v")}, &Template::letHidden);
      m.method("spawn",
               {P("nPage").opt(int32_t(0)), P("bRename").opt(true), P("bOverlay").opt(true), P("oXObject").opt()},
               &Template::spawnIt);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "Template"; }

 private:
  Variant getName(Frame&) { return Variant(name_); }
  Variant getHidden(Frame&) {
    pdf_obj* p = templatePage(*doc_, name_);
    return Variant(po::pageNumberOf(doc_->pdf(), p) < 0);
  }
  Variant letHidden(Frame&) { notSupported("Hiding or showing a template page"); }
  Variant spawnIt(Frame& f) {
    if (!f["oXObject"].isMissing()) notSupported("Spawning from a kept form object");
    spawn(*doc_, name_, CLng(f["nPage"]), CBool(f["bRename"]), CBool(f["bOverlay"]));
    return {};
  }
  std::shared_ptr<Doc> doc_;
  std::string name_;
};

Variant createTemplate(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name;
  int page = 0;
  if (f["cName"].isNumeric() && f["nPage"].isMissing()) {
    // A page number alone names the template after that page.
    page = CLng(f["cName"]);
    name = std::to_string(page);
  } else {
    name = CStr(f["cName"]);
    page = f["nPage"].isMissing() ? 0 : CLng(f["nPage"]);
  }
  if (name.empty()) fail("A template needs a name");
  d.checkPage(page);
  NameList l = readNameTree(d, "Templates");
  if (findName(l, name)) fail("The document already has a template named \"" + name + "\"");
  putName(l, name, po::pageObj(d.pdf(), page));
  writeNameTree(d, "Templates", l);
  d.changed();
  return Variant(ObjectRef(std::make_shared<Template>(self.docState(), name)));
}

Variant getTemplate(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  if (!findName(readNameTree(d, "Templates"), name)) return Variant::null();
  return Variant(ObjectRef(std::make_shared<Template>(self.docState(), name)));
}

Variant getNthTemplate(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  NameList l = readNameTree(d, "Templates");
  std::stable_sort(l.begin(), l.end(), [](auto& a, auto& b) { return a.first < b.first; });
  int i = CLng(f["nIndex"]);
  if (i < 0 || static_cast<size_t>(i) >= l.size())
    fail("Template " + std::to_string(i) + " does not exist: the document has " + std::to_string(l.size()) +
         " templates (numbers start at 0)");
  return Variant(l[static_cast<size_t>(i)].first);
}

Variant removeTemplate(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  NameList l = readNameTree(d, "Templates");
  if (!dropName(l, name)) fail("The document has no template named \"" + name + "\"");
  writeNameTree(d, "Templates", l);
  d.changed();
  return {};
}

Variant spawnPageFromTemplate(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  spawn(d, CStr(f["cTemplate"]), f["nPage"].isMissing() ? 0 : CLng(f["nPage"]), boolArg(f["bRename"], true),
        boolArg(f["bOverlay"], true));
  return {};
}

void describe(Members<DocHolder>& m) {
  m.method("createTemplate", {P("cName"), P("nPage").opt()}, &createTemplate);
  m.method("getTemplate", {P("cName")}, &getTemplate);
  m.method("getNthTemplate", {P("nIndex")}, &getNthTemplate);
  m.method("removeTemplate", {P("cName")}, &removeTemplate);
  m.method("spawnPageFromTemplate", {P("cTemplate"), P("nPage").opt(), P("bRename").opt(), P("bOverlay").opt()},
           &spawnPageFromTemplate);
}

const Groups::Register reg("templates", &describe);

}  // namespace

}  // namespace pm::pdf
