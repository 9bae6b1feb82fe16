#include "support/DrawDocs.h"

namespace pm::test {

std::string makeDrawing(bool presentation, const std::string& styles, const std::vector<std::string>& pages) {
  const std::string kind = presentation ? "presentation" : "drawing";
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
      "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" office:version=\"1.2\" "
      "office:mimetype=\"application/vnd.oasis.opendocument." +
      std::string(presentation ? "presentation" : "graphics") +
      "\">\n"
      "<office:automatic-styles><style:page-layout style:name=\"PM1\"><style:page-layout-properties " +
      (presentation ? "fo:page-width=\"28cm\" fo:page-height=\"15.75cm\" style:print-orientation=\"landscape\""
                    : "fo:page-width=\"21cm\" fo:page-height=\"29.7cm\" style:print-orientation=\"portrait\"") +
      " fo:margin-top=\"0cm\" fo:margin-bottom=\"0cm\" fo:margin-left=\"0cm\" "
      "fo:margin-right=\"0cm\"/></style:page-layout>" +
      styles +
      "</office:automatic-styles>\n"
      "<office:master-styles><style:master-page style:name=\"Default\" "
      "style:page-layout-name=\"PM1\"/></office:master-styles>\n"
      "<office:body><office:" +
      kind + ">\n";
  for (size_t i = 0; i < pages.size(); ++i)
    s += "<draw:page draw:name=\"p" + std::to_string(i + 1) + "\" draw:master-page-name=\"Default\">" + pages[i] +
         "</draw:page>\n";
  return s + "</office:" + kind + "></office:body></office:document>\n";
}

namespace {

std::string make(int count, bool presentation) {
  std::vector<std::string> pages;
  for (int i = 1; i <= count; ++i)
    pages.push_back(
        "<draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"16cm\" svg:height=\"3cm\"><draw:text-box><text:p>" +
        std::string(presentation ? "Slide" : "Page") + " " + std::to_string(i) +
        " marker</text:p></draw:text-box></draw:frame>");
  return makeDrawing(presentation, "", pages);
}

}  // namespace

std::string makeFodp(int count) {
  return make(count, true);
}
std::string makeFodg(int count) {
  return make(count, false);
}

}  // namespace pm::test
