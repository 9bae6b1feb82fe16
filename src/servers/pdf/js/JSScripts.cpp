// Scripts, actions and data objects of the JavaScript object: document
// scripts in the JavaScript name tree, document and page actions, embedded
// files; the spelling checker; and XFA data and signing, which this engine
// cannot do and answer with clear errors.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/external/Spelling.h"

namespace pm::pdf {

namespace {

using namespace js;

Variant addScript(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  if (name.empty()) fail("A document script needs a name");
  NameList l = readNameTree(d, "JavaScript");
  mu::ObjPtr a = po::newScriptAction(d.pdf(), CStr(f["cScript"]));
  putName(l, name, a.get());
  writeNameTree(d, "JavaScript", l);
  d.changed();
  return {};
}

Variant removeScript(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  NameList l = readNameTree(d, "JavaScript");
  if (!dropName(l, name)) fail("The document has no script named \"" + name + "\"");
  writeNameTree(d, "JavaScript", l);
  d.changed();
  return {};
}

// Installs or, for an empty script, removes the action under key in the
// additional-actions dictionary of o.
void putAction(Doc& d, pdf_obj* o, const char* key, const std::string& script) {
  pdf_obj* aa = po::putDict(o, PDF_NAME(AA));
  if (Trim(script).empty()) {
    po::del(aa, po::key(key));
  } else {
    mu::ObjPtr a = po::newScriptAction(d.pdf(), script);
    po::put(aa, po::key(key), a.get());
  }
  d.changed();
}

Variant setDocAction(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string t = CStr(f["cTrigger"]);
  static const std::pair<const char*, const char*> keys[] = {
      {"WillClose", "WC"}, {"WillSave", "WS"}, {"DidSave", "DS"}, {"WillPrint", "WP"}, {"DidPrint", "DP"}};
  for (auto& [n, k] : keys)
    if (LCase(n) == LCase(t)) {
      putAction(d, po::catalog(d.pdf()), k, CStr(f["cScript"]));
      return {};
    }
  fail("Unknown document trigger \"" + t + "\" (WillClose, WillSave, DidSave, WillPrint or DidPrint)");
}

Variant setPageAction(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int page = pageArg(d, f["nPage"], 0);
  std::string t = LCase(CStr(f["cTrigger"]));
  if (t != "open" && t != "close") fail("Unknown page trigger \"" + CStr(f["cTrigger"]) + "\" (Open or Close)");
  putAction(d, po::pageObj(d.pdf(), page), t == "open" ? "O" : "C", CStr(f["cScript"]));
  return {};
}

// ---- Data objects (embedded files) ----

std::string readWhole(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) fail("File " + path + " does not exist");
  std::ifstream in(path, std::ios::binary);
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) fail("File " + path + " cannot be read");
  return s;
}

Variant importDataObject(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  if (name.empty()) fail("A data object needs a name");
  if (f["cDIPath"].isMissing() || CStr(f["cDIPath"]).empty()) fail("Embedding a file needs the path of the file");
  if (!f["cCryptFilter"].isMissing()) notSupported("Encrypting an embedded file with a crypt filter");
  std::string path = CStr(f["cDIPath"]);
  std::string bytes = readWhole(path);
  std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  struct stat st;
  stat(path.c_str(), &st);
  int64_t mtime = static_cast<int64_t>(st.st_mtime);
  pdf_document* doc = d.pdf();
  pdf_obj* fs = nullptr;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t len = bytes.size();
  mu::guard("Embedding the file", [&](fz_context* c) {
    fz_buffer* b = fz_new_buffer_from_copied_data(c, data, len);
    fz_try(c) {
      fs = pdf_add_embedded_file(c, doc, base.c_str(), "application/octet-stream", b, mtime, mtime, 1);
    }
    fz_always(c) {
      fz_drop_buffer(c, b);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
  mu::ObjPtr hold(fs);
  NameList l = readNameTree(d, "EmbeddedFiles");
  putName(l, name, fs);
  writeNameTree(d, "EmbeddedFiles", l);
  d.changed();
  return Variant(true);
}

pdf_obj* dataObject(Doc& d, const std::string& name, NameList& l) {
  l = readNameTree(d, "EmbeddedFiles");
  pdf_obj* fs = findName(l, name);
  if (!fs) fail("The document has no data object named \"" + name + "\"");
  return fs;
}

Variant exportDataObject(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  std::string path = textArg(f["cDIPath"]);
  int launch = f["nLaunch"].isMissing() ? 0 : CLng(f["nLaunch"]);
  if (launch != 0) notSupported("Opening an exported data object in another program");
  if (path.empty()) fail("Exporting a data object needs the path of the file to write");
  NameList l;
  pdf_obj* fs = dataObject(d, name, l);
  fz_buffer* b = nullptr;
  mu::guard("Reading the embedded file", [&](fz_context* c) { b = pdf_load_embedded_file_contents(c, fs); });
  mu::BufferPtr hold(b);
  unsigned char* data = nullptr;
  size_t n = b ? fz_buffer_storage(mu::ctx(), b, &data) : 0;
  writeFileSafely(path, std::string_view(reinterpret_cast<const char*>(data), n));
  return {};
}

Variant removeNamed(DocHolder& self, Frame& f, const char* tree, const char* what) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  NameList l = readNameTree(d, tree);
  if (!dropName(l, name)) fail("The document has no " + std::string(what) + " named \"" + name + "\"");
  writeNameTree(d, tree, l);
  d.changed();
  return {};
}
Variant removeDataObject(DocHolder& self, Frame& f) {
  return removeNamed(self, f, "EmbeddedFiles", "data object");
}
Variant deleteSound(DocHolder& self, Frame& f) {
  return removeNamed(self, f, "Sounds", "sound");
}
Variant removeIcon(DocHolder& self, Frame& f) {
  return removeNamed(self, f, "AP", "icon");
}

// The data object record getDataObject answers.
class DataObject : public Dispatch {
 public:
  DataObject(std::string n, std::string p, double s) : name_(std::move(n)), path_(std::move(p)), size_(s) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("Data");
      Members<DataObject> m(t);
      m.get("name", {}, &DataObject::name);
      m.get("path", {}, &DataObject::path);
      m.get("size", {}, &DataObject::size);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "Data"; }

 private:
  Variant name(Frame&) { return Variant(name_); }
  Variant path(Frame&) { return Variant(path_); }
  Variant size(Frame&) { return Variant(size_); }
  std::string name_, path_;
  double size_;
};

Variant getDataObject(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  NameList l = readNameTree(d, "EmbeddedFiles");
  pdf_obj* fs = findName(l, name);
  if (!fs) return Variant::null();
  std::string file = po::text(po::get(fs, PDF_NAME(UF)));
  if (file.empty()) file = po::text(po::get(fs, PDF_NAME(F)));
  double size = po::num(po::path(fs, "EF/F/Params/Size"), -1);
  if (size < 0) size = po::num(po::path(fs, "EF/F/Length"));
  return Variant(ObjectRef(std::make_shared<DataObject>(name, file, size)));
}

// ---- What this viewer has no means for ----
Variant unavailable(DocHolder& self, Frame& f) {
  docOf(self);
  std::string n = LCase(f.member().name);
  if (n == "exportxfadata" || n == "importxfadata") notSupported("XFA form data");
  notSupported(f.member().name);
}

void describe(Members<DocHolder>& m) {
  m.method("addScript", {P("cName"), P("cScript")}, &addScript);
  m.method("removeScript", {P("cName")}, &removeScript);
  m.method("setAction", {P("cTrigger"), P("cScript")}, &setDocAction);
  m.method("setPageAction", {P("nPage"), P("cTrigger"), P("cScript")}, &setPageAction);
  m.method("importDataObject", {P("cName"), P("cDIPath").path().opt(), P("cCryptFilter").opt()}, &importDataObject);
  m.method("exportDataObject", {P("cName"), P("cDIPath").path().opt(), P("bAllowAuth").opt(), P("nLaunch").opt()},
           &exportDataObject);
  m.method("getDataObject", {P("cName")}, &getDataObject);
  m.method("removeDataObject", {P("cName")}, &removeDataObject);
  m.method("deleteSound", {P("cName")}, &deleteSound);
  m.method("removeIcon", {P("cName")}, &removeIcon);
  std::vector<ParamSpec> any;
  for (int i = 0; i < 16; ++i) any.push_back(P("a" + std::to_string(i)).opt());
  for (const char* n : {"exportXFAData", "importXFAData"}) m.method(n, any, &unavailable);
  m.get(
      "spell", {}, +[](DocHolder& self, Frame&) {
        docOf(self);
        return Variant(makeSpellChecker());
      });
}

const Groups::Register reg("scripts", &describe);

}  // namespace

}  // namespace pm::pdf
