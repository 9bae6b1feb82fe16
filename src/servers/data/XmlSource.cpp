#include "servers/data/XmlSource.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <unordered_map>
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

// A level may have this many different fields, as the larger databases allow.
constexpr size_t kMaxFields = 4096;

// The cells (rows times fields over every level) a file may make: enough
// for any table its size holds, not the product a few distinct names in
// many rows would make of a small file.
struct Budget {
  std::string path, source;
  size_t left = 0;
  void spend(size_t cells) {
    if (cells > left)
      raise(ado::kErrGeneric,
            "The XML file " + path + " makes a table too large for its size (too many different fields per row)",
            source);
    left -= cells;
  }
};

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
    if (slots.size() >= kMaxFields)
      raise(ado::kErrGeneric,
            "The XML file has more than " + std::to_string(kMaxFields) + " different fields in one level",
            ado::kRecordsetProgId);
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
      if (s.chapter) {
        fi.type = ado::adChapter;
        fi.kind = Kind::Chapter;
      } else {
        fi.type = ado::adVarWChar;
        fi.kind = Kind::Text;
      }
      f.push_back(std::move(fi));
    }
    FieldInfo text;
    text.name = ado::kXmlTextField;
    text.type = ado::adVarWChar;
    text.kind = Kind::Text;
    f.push_back(std::move(text));
    return f;
  }

  // Each row is indexed once by field name, so a row costs its children plus
  // the level's fields rather than their product; the table itself (rows
  // times fields) is bounded by the budget.
  RowSetRef build(const std::vector<const xmlNode*>& rows, Budget& budget) const {
    // Every row set, an empty one too, holds its field list.
    budget.spend((rows.size() + 1) * (slots.size() + 1));
    auto rs = std::make_shared<RowSet>(fields());
    std::unordered_map<std::string, std::vector<const xmlNode*>> elements;
    std::unordered_map<std::string, const xmlAttr*> attributes;
    for (const xmlNode* row : rows) {
      elements.clear();
      attributes.clear();
      for (const xmlAttr* a = row->properties; a; a = a->next) attributes.emplace(name(a), a);
      for (const xmlNode* c = row->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) elements[name(c)].push_back(c);
      rs->beginRow();
      static const std::vector<const xmlNode*> none;
      for (const Slot& s : slots) {
        if (s.attribute) {
          auto a = attributes.find(s.name);
          if (a != attributes.end())
            rs->addText(attrValue(a->second));
          else
            rs->addNull();
          continue;
        }
        auto e = elements.find(s.name);
        const std::vector<const xmlNode*>& occurrences = e == elements.end() ? none : e->second;
        if (s.chapter)
          rs->addChapter(s.child->build(occurrences, budget));
        else if (occurrences.empty())
          rs->addNull();
        else
          rs->addText(ownText(occurrences.front()));
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
  Budget budget{path, source, std::max<size_t>(size_t{1} << 22, static_cast<size_t>(st.st_size) * 16)};
  return schema.build(rows, budget);
}

}  // namespace pm::data
