#include "support/SheetDocs.h"

#include <cstdio>

#include "support/OfficeDocs.h"

namespace pm::test {

namespace {

std::string number(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.15g", v);
  return b;
}

const char* styleFor(const std::string& format) {
  if (format == "0.00") return "ceFixed";
  if (format == "#,##0.00") return "ceGroup";
  if (format == "0.0%") return "cePercent";
  return nullptr;
}

}  // namespace

std::string makeFods(const std::vector<Sheet>& sheets) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
      "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
      "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">\n"
      "<office:automatic-styles>\n"
      "<number:number-style style:name=\"NFixed\"><number:number number:decimal-places=\"2\" "
      "number:min-integer-digits=\"1\"/></number:number-style>\n"
      "<number:number-style style:name=\"NGroup\"><number:number number:decimal-places=\"2\" "
      "number:min-integer-digits=\"1\" number:grouping=\"true\"/></number:number-style>\n"
      "<number:percentage-style style:name=\"NPercent\"><number:number number:decimal-places=\"1\" "
      "number:min-integer-digits=\"1\"/><number:text>%</number:text></number:percentage-style>\n"
      "<number:date-style style:name=\"NDate\"><number:year number:style=\"long\"/><number:text>-</number:text>"
      "<number:month number:style=\"long\"/><number:text>-</number:text><number:day "
      "number:style=\"long\"/></number:date-style>\n"
      "<number:boolean-style style:name=\"NBool\"><number:boolean/></number:boolean-style>\n"
      "<style:style style:name=\"ceFixed\" style:family=\"table-cell\" style:data-style-name=\"NFixed\"/>\n"
      "<style:style style:name=\"ceGroup\" style:family=\"table-cell\" style:data-style-name=\"NGroup\"/>\n"
      "<style:style style:name=\"cePercent\" style:family=\"table-cell\" style:data-style-name=\"NPercent\"/>\n"
      "<style:style style:name=\"ceDate\" style:family=\"table-cell\" style:data-style-name=\"NDate\"/>\n"
      "<style:style style:name=\"ceBool\" style:family=\"table-cell\" style:data-style-name=\"NBool\"/>\n"
      "<style:style style:name=\"taP\" style:family=\"table\" style:master-page-name=\"Tall\"><style:table-properties "
      "table:display=\"true\"/></style:style>\n"
      "<style:style style:name=\"taL\" style:family=\"table\" style:master-page-name=\"Wide\"><style:table-properties "
      "table:display=\"true\"/></style:style>\n"
      "<style:page-layout style:name=\"pmP\"><style:page-layout-properties fo:page-width=\"210mm\" "
      "fo:page-height=\"297mm\" style:print-orientation=\"portrait\"/></style:page-layout>\n"
      "<style:page-layout style:name=\"pmL\"><style:page-layout-properties fo:page-width=\"297mm\" "
      "fo:page-height=\"210mm\" style:print-orientation=\"landscape\"/></style:page-layout>\n"
      "</office:automatic-styles>\n"
      "<office:master-styles>\n"
      "<style:master-page style:name=\"Tall\" style:page-layout-name=\"pmP\"/>\n"
      "<style:master-page style:name=\"Wide\" style:page-layout-name=\"pmL\"/>\n"
      "</office:master-styles>\n"
      "<office:body><office:spreadsheet>\n";
  for (const Sheet& sh : sheets) {
    s += "<table:table table:name=\"" + xmlText(sh.name) + "\" table:style-name=\"" + (sh.landscape ? "taL" : "taP") +
         "\">\n";
    for (const auto& row : sh.rows) {
      s += "<table:table-row>";
      for (const SheetCell& c : row) {
        switch (c.kind) {
          case SheetCell::Empty:
            s += "<table:table-cell/>";
            break;
          case SheetCell::Number: {
            const char* st = styleFor(c.format);
            bool pct = c.format == "0.0%";
            s += std::string("<table:table-cell office:value-type=\"") + (pct ? "percentage" : "float") +
                 "\" office:value=\"" + number(c.number) + "\"" +
                 (st ? std::string(" table:style-name=\"") + st + "\"" : "") + "/>";
            break;
          }
          case SheetCell::Text:
            s += "<table:table-cell office:value-type=\"string\"><text:p>" + xmlText(c.text) +
                 "</text:p></table:table-cell>";
            break;
          case SheetCell::Date:
            s += "<table:table-cell office:value-type=\"date\" office:date-value=\"" + c.text +
                 "\" table:style-name=\"ceDate\"/>";
            break;
          case SheetCell::Bool:
            s += std::string("<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"") +
                 (c.flag ? "true" : "false") + "\" table:style-name=\"ceBool\"/>";
            break;
        }
      }
      s += "</table:table-row>\n";
    }
    s += "</table:table>\n";
  }
  s += "</office:spreadsheet></office:body></office:document>\n";
  return s;
}

Sheet numberGrid(const std::string& name, int rows, int cols) {
  Sheet sh;
  sh.name = name;
  sh.rows.resize(static_cast<size_t>(rows));
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) sh.rows[static_cast<size_t>(r - 1)].push_back(SheetCell::num(r * 1000.0 + c));
  return sh;
}

}  // namespace pm::test
