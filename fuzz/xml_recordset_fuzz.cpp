// Fuzz target: XML files opened as recordsets, every field of every row read.
#include "Fuzz.h"
#include "automation/Automation.h"
#include "servers/data/XmlSource.h"

std::vector<std::string> pmFuzzTokens() {
  return {"<?xml version=\"1.0\"?>",
          "<rows>",
          "</rows>",
          "<row a=\"1\">",
          "</row>",
          "<c>",
          "</c>",
          "<![CDATA[x]]>",
          "&amp;",
          "&e;",
          "<!DOCTYPE r [<!ENTITY e \"x\">]>",
          "xmlns:p=\"u\"",
          "<p:c/>"};
}

namespace {
void walk(const pm::data::RowSetRef& rs, int depth) {
  if (!rs || depth > 300) return;
  for (size_t r = 0; r < rs->rowCount(); ++r)
    for (size_t c = 0; c < rs->fields().size(); ++c) {
      if (rs->fields()[c].kind == pm::data::Kind::Chapter)
        walk(rs->chapter(r, c), depth + 1);
      else
        rs->value(r, c);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = pmfuzz::writeScratch(data, size, ".xml");
  try {
    walk(pm::data::readXmlFile(path, "fuzz"), 0);
  } catch (const pm::AutomationError&) {
  }
  return 0;
}
