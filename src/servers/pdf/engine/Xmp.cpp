#include "servers/pdf/engine/Xmp.h"
#include "servers/pdf/engine/XmlText.h"

#include <cctype>

namespace pm::pdf {

namespace {

bool nameEndsAt(const std::string& s, size_t at) {
  return at < s.size() && (s[at] == '>' || s[at] == '/' || std::isspace(static_cast<unsigned char>(s[at])));
}

// The start of the element <name ...>, npos when there is none.
size_t findElement(const std::string& s, const std::string& name) {
  std::string open = "<" + name;
  for (size_t at = s.find(open); at != std::string::npos; at = s.find(open, at + 1))
    if (nameEndsAt(s, at + open.size())) return at;
  return std::string::npos;
}

// Sets the property in its element form: the first list item of an
// rdf:Alt/rdf:Seq/rdf:Bag (the other items go: the entry is one text), or
// the element's text. False when the packet has no such element.
bool setElement(std::string& s, const std::string& name, const std::string& value) {
  size_t start = findElement(s, name);
  if (start == std::string::npos) return false;
  size_t tagEnd = s.find('>', start);
  if (tagEnd == std::string::npos) return false;
  if (s[tagEnd - 1] == '/') {  // <name/>: empty
    s.replace(start, tagEnd + 1 - start, "<" + name + ">" + value + "</" + name + ">");
    return true;
  }
  std::string close = "</" + name + ">";
  size_t end = s.find(close, tagEnd);
  if (end == std::string::npos) return false;
  size_t li = s.find("<rdf:li", tagEnd);
  if (li == std::string::npos || li > end) {
    s.replace(tagEnd + 1, end - tagEnd - 1, value);
    return true;
  }
  size_t liOpenEnd = s.find('>', li);
  if (s[liOpenEnd - 1] == '/') {
    s.replace(li, liOpenEnd + 1 - li, "<rdf:li>" + value + "</rdf:li>");
  } else {
    size_t liClose = s.find("</rdf:li>", liOpenEnd);
    if (liClose == std::string::npos || liClose > end) return false;
    s.replace(liOpenEnd + 1, liClose - liOpenEnd - 1, value);
  }
  // Later items of the list go.
  size_t after = s.find("</rdf:li>", li) + 9;
  end = s.find(close, after);
  for (size_t more = s.find("<rdf:li", after); more != std::string::npos && more < end;
       more = s.find("<rdf:li", after)) {
    size_t stop = s.find("</rdf:li>", more);
    size_t selfClose = s.find("/>", more);
    size_t tagStop = s.find('>', more);
    size_t cut = (selfClose != std::string::npos && selfClose + 1 == tagStop) ? tagStop + 1
                 : stop == std::string::npos                                  ? std::string::npos
                                                                              : stop + 9;
    if (cut == std::string::npos || cut > end) break;
    s.erase(more, cut - more);
    end = s.find(close, after);
  }
  return true;
}

// Sets the property in its attribute form (name="value" on an
// rdf:Description).
bool setAttribute(std::string& s, const std::string& name, const std::string& value) {
  for (size_t at = s.find(name + "="); at != std::string::npos; at = s.find(name + "=", at + 1)) {
    if (at == 0 || !std::isspace(static_cast<unsigned char>(s[at - 1]))) continue;
    size_t q = at + name.size() + 1;
    if (q >= s.size() || (s[q] != '"' && s[q] != '\'')) continue;
    size_t endQ = s.find(s[q], q + 1);
    if (endQ == std::string::npos) return false;
    s.replace(q + 1, endQ - q - 1, value);
    return true;
  }
  return false;
}

}  // namespace

std::string xmpDate(const std::string& d) {
  std::string s = d.rfind("D:", 0) == 0 ? d.substr(2) : d;
  size_t digits = 0;
  while (digits < s.size() && digits < 14 && std::isdigit(static_cast<unsigned char>(s[digits]))) ++digits;
  if (digits < 4) return "";
  std::string out = s.substr(0, 4);
  static const char* seps[] = {"-", "-", "T", ":", ":"};
  for (size_t i = 0; i < 5 && 4 + 2 * i + 2 <= digits; ++i) out += seps[i] + s.substr(4 + 2 * i, 2);
  std::string zone = s.substr(digits);
  if (digits >= 12 && !zone.empty()) {
    if (zone[0] == 'Z') {
      out += "Z";
    } else if ((zone[0] == '+' || zone[0] == '-') && zone.size() >= 3) {
      std::string mm = zone.size() >= 6 ? zone.substr(4, 2) : "00";
      out += zone.substr(0, 3) + ":" + mm;
    }
  }
  return out;
}

std::string updateXmp(std::string packet, const std::map<std::string, std::string>& info) {
  static const struct {
    const char* key;
    const char* property;
  } mirrors[] = {
      {"Title", "dc:title"},
      {"Author", "dc:creator"},
      {"Subject", "dc:description"},
      {"Keywords", "pdf:Keywords"},
      {"Creator", "xmp:CreatorTool"},
      {"Producer", "pdf:Producer"},
      {"CreationDate", "xmp:CreateDate"},
      {"ModDate", "xmp:ModifyDate"},
      {"ModDate", "xmp:MetadataDate"},
  };
  for (const auto& m : mirrors) {
    auto it = info.find(m.key);
    if (it == info.end()) continue;
    bool date = std::string(m.key).find("Date") != std::string::npos;
    std::string value = xmlEscape(date ? xmpDate(it->second) : it->second, false, true);
    if (date && value.empty()) continue;
    if (!setElement(packet, m.property, value)) setAttribute(packet, m.property, value);
  }
  return packet;
}

}  // namespace pm::pdf
