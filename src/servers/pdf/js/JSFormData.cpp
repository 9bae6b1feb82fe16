// Form data in and out of the document: FDF and XFDF files and
// tab-delimited text, written and read here over the form's fields.
#include <sys/stat.h>
#include "servers/pdf/engine/XmlText.h"
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "servers/pdf/forms/AnnotData.h"
#include "servers/pdf/forms/Form.h"
#include "servers/pdf/forms/FormData.h"
#include "servers/pdf/js/JSSupport.h"

namespace pm::pdf {

namespace {

using namespace js;

struct Entry {
  std::string name;                 // full name
  std::vector<std::string> values;  // one, or several for a multiple-selection list
  bool isName = false;              // a button state
  int ff = 0, flags = 0;
};

// The fields to export: every field with a value (all of them with
// allFields), only those named (a name includes the fields below it), and
// without password fields when noPassword is set. Push buttons and
// signatures hold no data.
std::vector<Entry> selectFields(Doc& d, bool allFields, bool noPassword, const Variant& names) {
  std::vector<std::string> wanted;
  for (const Variant& v : items(names))
    if (!v.isObject()) wanted.push_back(CStr(v));
  std::vector<Entry> out;
  for (const form::Field& f : form::terminalFields(d)) {
    std::string k = form::kind(f.obj);
    if (k.empty() || form::holdsNoValue(k)) continue;
    if (!wanted.empty()) {
      bool hit = false;
      for (auto& w : wanted) hit = hit || f.name == w || f.name.rfind(w + ".", 0) == 0;
      if (!hit) continue;
    }
    int ff = form::fieldFlags(f.obj);
    if (noPassword && (ff & form::ff::Password)) continue;
    Entry e;
    e.name = f.name;
    e.values = form::values(f.obj);
    e.isName = form::hasOnState(k);
    if (e.isName && e.values.empty()) e.values = {"Off"};
    bool empty = e.values.empty() || (e.values.size() == 1 && e.values[0].empty());
    if (empty && !allFields) continue;
    e.ff = ff;
    std::vector<pdf_obj*> ws = form::widgets(f.obj);
    e.flags = ws.empty() ? 0 : form::widgetFlags(ws.front());
    out.push_back(std::move(e));
  }
  return out;
}

std::string readText(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) fail("File " + path + " does not exist");
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- FDF ----

std::string pdfString(const std::string& s) {
  bool ascii = true;
  for (unsigned char ch : s) ascii = ascii && ch < 0x80;
  if (ascii) {
    std::string o = "(";
    for (char ch : s) {
      if (ch == '(' || ch == ')' || ch == '\\') o += '\\';
      if (ch == '\r')
        o += "\\r";
      else if (ch == '\n')
        o += "\\n";
      else
        o += ch;
    }
    return o + ")";
  }
  // Other text as UTF-16 with its byte order mark.
  std::string o = "<FEFF";
  const char* p = s.c_str();
  char buf[16];
  while (*p) {
    int u;
    p += fz_chartorune(&u, p);
    if (u >= 0x10000) {
      u -= 0x10000;
      std::snprintf(buf, sizeof buf, "%04X%04X", 0xD800 + (u >> 10), 0xDC00 + (u & 0x3FF));
    } else {
      std::snprintf(buf, sizeof buf, "%04X", u);
    }
    o += buf;
  }
  return o + ">";
}

std::string pdfName(const std::string& s) {
  std::string o = "/";
  char buf[8];
  for (unsigned char ch : s) {
    if (ch <= 32 || ch >= 127 || std::strchr("#/()<>[]{}%", ch)) {
      std::snprintf(buf, sizeof buf, "#%02X", ch);
      o += buf;
    } else {
      o += static_cast<char>(ch);
    }
  }
  return o;
}

// The names of the entries as a tree, so the file names each level once.
struct Node {
  std::map<std::string, Node> kids;
  std::vector<std::string> order;
  const Entry* entry = nullptr;
};
Node tree(const std::vector<Entry>& entries) {
  Node root;
  for (const Entry& e : entries) {
    Node* n = &root;
    std::stringstream ss(e.name);
    std::string part;
    while (std::getline(ss, part, '.')) {
      if (!n->kids.count(part)) n->order.push_back(part);
      n = &n->kids[part];
    }
    n->entry = &e;
  }
  return root;
}

void fdfFields(const Node& n, bool flags, std::string& out) {
  for (const std::string& k : n.order) {
    const Node& c = n.kids.at(k);
    out += "<< /T " + pdfString(k);
    if (c.entry) {
      const Entry& e = *c.entry;
      if (e.values.size() > 1) {
        out += " /V [";
        for (auto& v : e.values) out += " " + pdfString(v);
        out += " ]";
      } else {
        std::string v = e.values.empty() ? std::string() : e.values[0];
        out += " /V " + (e.isName ? pdfName(v) : pdfString(v));
      }
      if (flags) out += " /Ff " + std::to_string(e.ff) + " /F " + std::to_string(e.flags);
    }
    if (!c.order.empty()) {
      out += " /Kids [\n";
      fdfFields(c, flags, out);
      out += "]";
    }
    out += " >>\n";
  }
}

std::string baseName(Doc& d) {
  std::string p = d.path();
  auto s = p.rfind('/');
  return s == std::string::npos ? p : p.substr(s + 1);
}

}  // namespace

std::string formdata::fdf(Doc& d, const Choice& c) {
  std::vector<Entry> e = selectFields(d, c.allFields, c.noPassword, c.fields);
  std::string out = "%FDF-1.2\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /FDF << ";
  if (c.fileKey && !d.path().empty()) out += "/F " + pdfString(baseName(d)) + " ";
  out += "/Fields [\n";
  fdfFields(tree(e), c.flags, out);
  out += "]";
  if (c.annotations) out += annotdata::fdfEntry(d);
  out += " >> >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n";
  return out;
}

namespace {

// The file and the choice of fields both exports take; field flags are
// FDF's alone, XFDF has no place for them.
std::pair<std::string, formdata::Choice> exportArgs(Frame& f, bool withFlags) {
  std::string path = textArg(f["cPath"]);
  if (path.empty()) fail("Exporting form data needs the path of the file to write");
  formdata::Choice c;
  c.allFields = boolArg(f["bAllFields"], false);
  c.noPassword = boolArg(f["bNoPassword"], true);
  c.fields = f["aFields"];
  if (withFlags) c.flags = boolArg(f["bFlags"], false);
  c.annotations = boolArg(f["bAnnotations"], false);
  return {path, c};
}

Variant exportAsFDF(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  auto [path, c] = exportArgs(f, true);
  writeFileSafely(path, formdata::fdf(d, c));
  return {};
}

// Applies one imported value to the field of that name; names the form
// does not hold are passed over, as the viewer does.
void apply(Doc& d, const std::string& name, const std::vector<std::string>& values) {
  pdf_obj* field = form::lookup(d, name);
  if (!field) return;
  for (pdf_obj* t : form::terminals(field)) {
    std::string k = form::kind(t);
    if (form::holdsNoValue(k)) continue;
    if (values.size() > 1)
      form::setValues(d, t, values);
    else if (values.empty() || (values[0].empty() && k != "text"))
      form::clearValue(d, t);
    else
      form::setValue(d, t, values[0]);
  }
}

struct DropPdf {
  void operator()(pdf_document* p) const { pdf_drop_document(mu::ctx(), p); }
};

// Deeper field trees than any form has are refused, as are files that list
// one field twice (through /Kids cycles or shared kids, whose walk grows
// exponentially with a few hundred bytes of input).
constexpr int kMaxFieldDepth = 32;
constexpr size_t kMaxImportedFields = 100000;

struct FdfWalk {
  std::string path;
  std::set<pdf_obj*> seen;
};

void importFdfFields(Doc& d, FdfWalk& w, pdf_obj* arr, const std::string& prefix, int depth) {
  if (!arr) return;
  if (depth > kMaxFieldDepth)
    fail("File " + w.path + " nests its fields more than " + std::to_string(kMaxFieldDepth) + " levels deep");
  for (int i = 0; i < po::len(arr); ++i) {
    pdf_obj* fld = po::at(arr, i);
    if (!w.seen.insert(fld).second) fail("File " + w.path + " lists a field twice (its fields contain themselves)");
    if (w.seen.size() > kMaxImportedFields)
      fail("File " + w.path + " holds more than " + std::to_string(kMaxImportedFields) + " fields");
    std::string t = po::text(po::get(fld, PDF_NAME(T)));
    std::string name = prefix.empty() ? t : t.empty() ? prefix : prefix + "." + t;
    pdf_obj* v = po::get(fld, PDF_NAME(V));
    if (v) {
      std::vector<std::string> vals;
      if (po::isArray(v))
        for (int k = 0; k < po::len(v); ++k) vals.push_back(po::text(po::at(v, k)));
      else
        vals.push_back(po::text(v));
      apply(d, name, vals);
      pdf_obj* target = form::lookup(d, name);
      if (target) {
        pdf_obj* ff = po::get(fld, PDF_NAME(Ff));
        if (ff) po::putInt(target, PDF_NAME(Ff), po::integer(ff));
      }
    }
    importFdfFields(d, w, po::get(fld, PDF_NAME(Kids)), name, depth + 1);
  }
}

Variant importAnFDF(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string path = textArg(f["cPath"]);
  std::string head = readText(path).substr(0, 1024);
  if (head.find("%FDF-") == std::string::npos) fail("File " + path + " is not an FDF file");
  pdf_document* fdf = nullptr;
  try {
    // An FDF file is read as a PDF whose catalog holds the form data.
    mu::guard("Reading the FDF file", [&](fz_context* c) { fdf = pdf_open_document(c, path.c_str()); });
  } catch (const AutomationError& e) {
    fail("File " + path + " cannot be read as FDF: " + e.description());
  }
  std::unique_ptr<pdf_document, DropPdf> hold(fdf);
  pdf_obj* fields = nullptr;
  mu::guard("Reading the FDF file",
            [&](fz_context* c) { fields = pdf_dict_getp(c, pdf_trailer(c, fdf), "Root/FDF/Fields"); });
  pdf_obj* annots = nullptr;
  mu::guard("Reading the FDF file",
            [&](fz_context* c) { annots = pdf_dict_getp(c, pdf_trailer(c, fdf), "Root/FDF/Annots"); });
  if (!po::isArray(fields) && !po::isArray(annots)) fail("File " + path + " holds no form data");
  FdfWalk walk{path, {}};
  importFdfFields(d, walk, fields, "", 0);
  if (po::isArray(annots)) annotdata::importFdf(d, annots);
  return {};
}

// ---- XFDF ----

void xfdfFields(const Node& n, int depth, std::string& out) {
  for (const std::string& k : n.order) {
    const Node& c = n.kids.at(k);
    std::string pad(static_cast<size_t>(depth) * 2, ' ');
    out += pad + "<field name=\"" + xmlEscape(k) + "\">\n";
    if (c.entry)
      for (auto& v : c.entry->values) out += pad + "  <value>" + xmlEscape(v) + "</value>\n";
    xfdfFields(c, depth + 1, out);
    out += pad + "</field>\n";
  }
}

}  // namespace

std::string formdata::xfdf(Doc& d, const Choice& c) {
  std::vector<Entry> e = selectFields(d, c.allFields, c.noPassword, c.fields);
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xfdf xmlns=\"http://ns.adobe.com/xfdf/\" xml:space=\"preserve\">\n";
  if (c.fileKey && !d.path().empty()) out += "<f href=\"" + xmlEscape(baseName(d)) + "\"/>\n";
  out += "<fields>\n";
  xfdfFields(tree(e), 1, out);
  out += "</fields>\n";
  if (c.annotations) out += annotdata::xfdfElement(d);
  out += "</xfdf>\n";
  return out;
}

std::string formdata::urlEncoded(Doc& d, const Choice& c) {
  std::vector<Entry> e = selectFields(d, c.allFields, c.noPassword, c.fields);
  static const char* hex = "0123456789ABCDEF";
  auto enc = [](const std::string& s) {
    std::string o;
    for (unsigned char ch : s) {
      if (std::isalnum(ch) || ch == '-' || ch == '_' || ch == '.' || ch == '~') {
        o += static_cast<char>(ch);
      } else if (ch == ' ') {
        o += '+';
      } else {
        o += '%';
        o += hex[ch >> 4];
        o += hex[ch & 15];
      }
    }
    return o;
  };
  std::string out;
  for (const Entry& x : e)
    for (const std::string& v : x.values.empty() ? std::vector<std::string>{""} : x.values)
      out += (out.empty() ? "" : "&") + enc(x.name) + "=" + enc(v);
  return out;
}

namespace {

Variant exportAsXFDF(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  auto [path, c] = exportArgs(f, false);
  writeFileSafely(path, formdata::xfdf(d, c));
  return {};
}

struct DropXml {
  void operator()(fz_xml* x) const { fz_drop_xml(mu::ctx(), x); }
};

std::string localTag(fz_xml* x) {
  const char* t = fz_xml_tag(x);
  if (!t) return "";
  std::string s = t;
  auto colon = s.rfind(':');
  return colon == std::string::npos ? s : s.substr(colon + 1);
}

std::string textOf(fz_xml* x) {
  std::string s;
  for (fz_xml* c = fz_xml_down(x); c; c = fz_xml_next(c)) {
    if (const char* t = fz_xml_text(c)) s += t;
  }
  return s;
}

void importXfdfFields(Doc& d, const std::string& path, fz_xml* parent, const std::string& prefix, int depth) {
  if (depth > kMaxFieldDepth)
    fail("File " + path + " nests its fields more than " + std::to_string(kMaxFieldDepth) + " levels deep");
  for (fz_xml* x = fz_xml_down(parent); x; x = fz_xml_next(x)) {
    if (localTag(x) != "field") continue;
    const char* nm = fz_xml_att(x, "name");
    std::string name = nm ? (prefix.empty() ? std::string(nm) : prefix + "." + nm) : prefix;
    std::vector<std::string> vals;
    bool has = false;
    for (fz_xml* c = fz_xml_down(x); c; c = fz_xml_next(c))
      if (localTag(c) == "value" || localTag(c) == "value-richtext") {
        vals.push_back(textOf(c));
        has = true;
      }
    if (has) apply(d, name, vals);
    importXfdfFields(d, path, x, name, depth + 1);
  }
}

Variant importAnXFDF(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string path = textArg(f["cPath"]);
  std::string bytes = readText(path);
  fz_xml* xml = nullptr;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t len = bytes.size();
  try {
    mu::guard("Reading the XFDF file", [&](fz_context* c) {
      fz_buffer* b = fz_new_buffer_from_copied_data(c, data, len);
      fz_try(c) {
        xml = fz_parse_xml(c, b, 1);
      }
      fz_always(c) {
        fz_drop_buffer(c, b);
      }
      fz_catch(c) {
        fz_rethrow(c);
      }
    });
  } catch (const AutomationError& e) {
    fail("File " + path + " is not XFDF: " + e.description());
  }
  std::unique_ptr<fz_xml, DropXml> hold(xml);
  fz_xml* root = fz_xml_root(xml);
  if (!root || localTag(root) != "xfdf") fail("File " + path + " is not XFDF");
  for (fz_xml* x = fz_xml_down(root); x; x = fz_xml_next(x))
    if (localTag(x) == "fields")
      importXfdfFields(d, path, x, "", 0);
    else if (localTag(x) == "annots")
      annotdata::importXfdf(d, x);
  return {};
}

// ---- Tab-delimited text ----

std::string cell(const std::string& s) {
  // A value with a tab, quote or line end is quoted, as spreadsheets read it.
  if (s.find_first_of("\t\"\r\n") == std::string::npos) return s;
  std::string o = "\"";
  for (char ch : s) {
    if (ch == '"') o += '"';
    o += ch;
  }
  return o + "\"";
}

Variant exportAsText(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string path = textArg(f["cPath"]);
  if (path.empty()) fail("Exporting form data needs the path of the file to write");
  std::vector<Entry> e = selectFields(d, true, boolArg(f["bNoPassword"], true), f["aFields"]);
  std::string names, values;
  for (size_t i = 0; i < e.size(); ++i) {
    names += (i ? "\t" : "") + cell(e[i].name);
    std::string v;
    for (size_t k = 0; k < e[i].values.size(); ++k) v += (k ? "," : "") + e[i].values[k];
    values += (i ? "\t" : "") + cell(v);
  }
  writeFileSafely(path, names + "\r\n" + values + "\r\n");
  return {};
}

std::vector<std::vector<std::string>> rows(const std::string& text) {
  std::vector<std::vector<std::string>> out(1);
  std::string cur;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (quoted) {
      if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cur += '"';
        ++i;
      } else if (ch == '"') {
        quoted = false;
      } else {
        cur += ch;
      }
    } else if (ch == '"' && cur.empty()) {
      quoted = true;
    } else if (ch == '\t') {
      out.back().push_back(cur);
      cur.clear();
    } else if (ch == '\r' || ch == '\n') {
      if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.back().push_back(cur);
      cur.clear();
      out.emplace_back();
    } else {
      cur += ch;
    }
  }
  if (!cur.empty() || !out.back().empty()) out.back().push_back(cur);
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

Variant importTextData(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string path = textArg(f["cPath"]);
  int row = f["nRow"].isMissing() ? 0 : CLng(f["nRow"]);
  auto r = rows(readText(path));
  if (r.empty()) fail("File " + path + " holds no field names");
  if (row < 0 || static_cast<size_t>(row) + 1 >= r.size())
    fail("Row " + std::to_string(row) + " does not exist in " + path + ", which has " + std::to_string(r.size() - 1) +
         " rows of data");
  const auto& names = r[0];
  const auto& vals = r[static_cast<size_t>(row) + 1];
  for (size_t i = 0; i < names.size() && i < vals.size(); ++i) apply(d, names[i], {vals[i]});
  return {};
}

void describe(Members<DocHolder>& m) {
  m.method("exportAsFDF",
           {P("bAllFields").opt(), P("bNoPassword").opt(), P("aFields").opt(), P("bFlags").opt(),
            P("cPath").path().opt(), P("bAnnotations").opt()},
           &exportAsFDF);
  m.method("importAnFDF", {P("cPath").path().opt()}, &importAnFDF);
  m.method("exportAsXFDF",
           {P("bAllFields").opt(), P("bNoPassword").opt(), P("aFields").opt(), P("cPath").path().opt(),
            P("bAnnotations").opt()},
           &exportAsXFDF);
  m.method("importAnXFDF", {P("cPath").path().opt()}, &importAnXFDF);
  m.method("exportAsText", {P("bNoPassword").opt(), P("aFields").opt(), P("cPath").path().opt()}, &exportAsText);
  m.method("importTextData", {P("cPath").path().opt(), P("nRow").opt()}, &importTextData);
}

const Groups::Register reg("formdata", &describe);

}  // namespace

}  // namespace pm::pdf
