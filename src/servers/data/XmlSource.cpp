#include "servers/data/XmlSource.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "automation/Error.h"
#include "automation/surfaces/Ado.h"

namespace pm::data {

namespace {

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct CtxtFree {
  void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};

std::string name(const xmlNode* n) {
  std::string s;
  if (n->ns && n->ns->prefix) s = std::string(reinterpret_cast<const char*>(n->ns->prefix)) + ":";
  return s + reinterpret_cast<const char*>(n->name);
}
std::string name(const xmlAttr* a) {
  std::string s;
  if (a->ns && a->ns->prefix) s = std::string(reinterpret_cast<const char*>(a->ns->prefix)) + ":";
  return s + reinterpret_cast<const char*>(a->name);
}

std::string trimXml(std::string s) {
  auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  size_t b = 0, e = s.size();
  while (b < e && ws(s[b])) ++b;
  while (e > b && ws(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The element's own text: its text and CDATA children. References to
// entities are kept as written rather than expanded.
std::string ownText(const xmlNode* n) {
  std::string s;
  for (const xmlNode* c = n->children; c; c = c->next) {
    if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
      s += reinterpret_cast<const char*>(c->content);
    else if (c->type == XML_ENTITY_REF_NODE)
      s += "&" + std::string(reinterpret_cast<const char*>(c->name)) + ";";
  }
  return trimXml(std::move(s));
}

std::string attrValue(const xmlAttr* a) {
  std::string s;
  for (const xmlNode* c = a->children; c; c = c->next)
    if (c->content) s += reinterpret_cast<const char*>(c->content);
  return s;
}

bool hasElementChildren(const xmlNode* n) {
  for (const xmlNode* c = n->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) return true;
  return false;
}

// The fields of one level of rows, gathered over every row of that level.
struct Schema {
  struct Slot {
    std::string name;
    bool attribute = false;
    bool chapter = false;
    std::unique_ptr<Schema> child;  // elements only
  };
  std::vector<Slot> slots;
  std::map<std::pair<bool, std::string>, size_t> index;

  Slot& slot(bool attribute, const std::string& n) {
    auto key = std::make_pair(attribute, n);
    auto it = index.find(key);
    if (it != index.end()) return slots[it->second];
    index.emplace(key, slots.size());
    Slot s;
    s.name = n;
    s.attribute = attribute;
    if (!attribute) s.child = std::make_unique<Schema>();
    slots.push_back(std::move(s));
    return slots.back();
  }

  void learn(const xmlNode* row, int depth) {
    if (depth > 256) raise(ado::kErrGeneric, "The XML file nests elements too deeply", ado::kRecordsetProgId);
    for (const xmlAttr* a = row->properties; a; a = a->next) slot(true, name(a));
    std::map<std::string, int> seen;
    for (const xmlNode* c = row->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE) continue;
      std::string n = name(c);
      Slot& s = slot(false, n);
      if (++seen[n] > 1 || c->properties || hasElementChildren(c)) s.chapter = true;
      s.child->learn(c, depth + 1);
    }
  }

  std::vector<FieldInfo> fields() const {
    std::vector<FieldInfo> f;
    for (const Slot& s : slots) {
      FieldInfo fi;
      fi.name = s.name;
      if (s.chapter) { fi.type = ado::adChapter; fi.kind = Kind::Chapter; }
      else { fi.type = ado::adVarWChar; fi.kind = Kind::Text; }
      f.push_back(std::move(fi));
    }
    FieldInfo text;
    text.name = ado::kXmlTextField;
    text.type = ado::adVarWChar;
    text.kind = Kind::Text;
    f.push_back(std::move(text));
    return f;
  }

  RowSetRef build(const std::vector<const xmlNode*>& rows) const {
    auto rs = std::make_shared<RowSet>(fields());
    for (const xmlNode* row : rows) {
      rs->beginRow();
      for (const Slot& s : slots) {
        if (s.attribute) {
          const xmlAttr* found = nullptr;
          for (const xmlAttr* a = row->properties; a && !found; a = a->next)
            if (name(a) == s.name) found = a;
          if (found) rs->addText(attrValue(found)); else rs->addNull();
          continue;
        }
        std::vector<const xmlNode*> occurrences;
        for (const xmlNode* c = row->children; c; c = c->next)
          if (c->type == XML_ELEMENT_NODE && name(c) == s.name) occurrences.push_back(c);
        if (s.chapter) rs->addChapter(s.child->build(occurrences));
        else if (occurrences.empty()) rs->addNull();
        else rs->addText(ownText(occurrences.front()));
      }
      rs->addText(ownText(row));
    }
    rs->finish();
    return rs;
  }
};

}  // namespace

RowSetRef readXmlFile(const std::string& path, const std::string& source) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    raise(ado::kErrGeneric, "The XML file " + path + " cannot be opened", source);

  std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(xmlNewParserCtxt());
  if (!ctxt) raise(basic::OutOfMemory);
  // No network, no DTD loading, no entity substitution: a file cannot make
  // the reader fetch anything or expand itself.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadFile(ctxt.get(), path.c_str(), nullptr, options));
  if (!doc || !ctxt->wellFormed) {
    std::string why = "not well-formed";
    const xmlError* e = xmlCtxtGetLastError(ctxt.get());
    if (e && e->message) {
      why = trimXml(e->message);
      if (e->line > 0) why += " (line " + std::to_string(e->line) + ")";
    }
    raise(ado::kErrGeneric, "The XML file " + path + " is not well-formed XML: " + why, source);
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root) raise(ado::kErrGeneric, "The XML file " + path + " has no root element", source);

  std::vector<const xmlNode*> rows;
  Schema schema;
  for (const xmlNode* c = root->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) {
      rows.push_back(c);
      schema.learn(c, 1);
    }
  return schema.build(rows);
}

}  // namespace pm::data
