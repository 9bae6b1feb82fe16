// Documents from strangers that point outside themselves: images, sections
// and formulas linked to local files beside them and to a web server on
// 127.0.0.1. The office converts what the document holds and reaches for
// nothing else: no canary text comes out in the PDF, and the server sees no
// request.
#include <filesystem>

#include "support/LocalService.h"
#include "support/RealConversion.h"
#include "support/Zips.h"

namespace pm::test {

namespace {

const char* kSvgCanary = "CANARYSVGFILE";
const char* kPdfCanary = "CANARYPDFFILE";
const char* kBody = "Visible body";

struct Hostile {
  const char* name;    // the file the test writes
  const char* member;  // the conversion that reads it
  // The document's bytes, given where the canaries lie (a file URL of the
  // folder, ending in "/") and the web server's base URL.
  std::string (*make)(const std::string& files, const std::string& web);
};

const char* kOdfNs =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
    " xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\""
    " xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\""
    " xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.2\"";

// Image frames, one per target, as ODF draws them.
std::string odfImages(const std::vector<std::string>& targets, const char* anchor) {
  std::string s;
  int n = 0;
  for (const std::string& t : targets) {
    ++n;
    s += "<draw:frame draw:name=\"i" + std::to_string(n) + "\" " + anchor + " svg:x=\"1cm\" svg:y=\"" +
         std::to_string(2 + 3 * n) + "cm\" svg:width=\"10cm\" svg:height=\"2.5cm\"><draw:image xlink:href=\"" + t +
         "\" xlink:type=\"simple\" xlink:show=\"embed\" xlink:actuate=\"onLoad\"/></draw:frame>";
  }
  return s;
}

std::vector<std::string> imageTargets(const std::string& files, const std::string& web) {
  return {files + "canary.svg", files + "canary.pdf", web + "/image.svg", "../canary.svg"};
}

std::string odfPackage(const std::string& mime, const std::string& body) {
  std::string manifest =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest:manifest "
      "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" manifest:version=\"1.2\">"
      "<manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"" +
      mime +
      "\"/><manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
      "</manifest:manifest>";
  std::string content = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content") + kOdfNs +
                        "><office:body>" + body + "</office:body></office:document-content>";
  return makeZip({{"mimetype", mime}, {"META-INF/manifest.xml", manifest, true}, {"content.xml", content, true}});
}

std::string makeOdt(const std::string& files, const std::string& web) {
  return odfPackage("application/vnd.oasis.opendocument.text",
                    std::string("<office:text><text:p>") + kBody + "</text:p><text:p>" +
                        odfImages(imageTargets(files, web), "text:anchor-type=\"as-char\"") +
                        "</text:p><text:section text:name=\"linked\"><text:section-source xlink:href=\"" + web +
                        "/section.html\"/><text:p/></text:section></office:text>");
}

std::string makeOds(const std::string& files, const std::string& web) {
  return odfPackage("application/vnd.oasis.opendocument.spreadsheet",
                    std::string("<office:spreadsheet><table:table table:name=\"Sheet1\"><table:shapes>") +
                        odfImages(imageTargets(files, web), "") +
                        "</table:shapes><table:table-row><table:table-cell office:value-type=\"string\"><text:p>" +
                        kBody + "</text:p></table:table-cell><table:table-cell table:formula=\"of:=WEBSERVICE(&quot;" +
                        web + "/cell&quot;)\"/></table:table-row></table:table></office:spreadsheet>");
}

std::string makeOdp(const std::string& files, const std::string& web) {
  return odfPackage(
      "application/vnd.oasis.opendocument.presentation",
      std::string("<office:presentation><draw:page draw:name=\"s1\"><draw:frame svg:x=\"1cm\" svg:y=\"1cm\" "
                  "svg:width=\"20cm\" svg:height=\"2cm\"><draw:text-box><text:p>") +
          kBody + "</text:p></draw:text-box></draw:frame>" + odfImages(imageTargets(files, web), "") +
          "</draw:page></office:presentation>");
}

std::string makeDocx(const std::string& files, const std::string& web) {
  std::vector<std::string> targets = {files + "canary.svg", files + "canary.pdf", web + "/image.png"};
  std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  std::string pictures;
  for (size_t i = 0; i < targets.size(); ++i) {
    std::string id = "rId" + std::to_string(i + 1);
    rels += "<Relationship Id=\"" + id +
            "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" Target=\"" +
            targets[i] + "\" TargetMode=\"External\"/>";
    pictures +=
        "<w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"3600000\" cy=\"900000\"/><wp:docPr id=\"" +
        std::to_string(i + 1) +
        "\" name=\"p\"/><a:graphic><a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\">"
        "<pic:pic><pic:nvPicPr><pic:cNvPr id=\"" +
        std::to_string(i + 1) + "\" name=\"p\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip r:link=\"" + id +
        "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/>"
        "<a:ext cx=\"3600000\" cy=\"900000\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr>"
        "</pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>";
  }
  rels += "</Relationships>";
  std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document "
      "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
      "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
      "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
      "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><w:body><w:p><w:r><w:t>" +
      std::string(kBody) + "</w:t></w:r></w:p>" + pictures + "<w:p><w:fldSimple w:instr=\"INCLUDEPICTURE &quot;" + web +
      "/field.png&quot; \\d\"><w:r><w:t>x</w:t></w:r></w:fldSimple></w:p></w:body></w:document>";
  return docxPackage({"word/document.xml", document, true}, {{"word/_rels/document.xml.rels", rels}});
}

std::string makeRtf(const std::string& files, const std::string& web) {
  std::string s = std::string("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 DejaVu Sans;}}\\pard ") + kBody + "\\par\n";
  for (const std::string& t : {files + "canary.svg", files + "canary.pdf", web + "/include.png"})
    s += "{\\field{\\*\\fldinst INCLUDEPICTURE \"" + t + "\" \\\\d}{\\fldrslt }}\\par\n";
  return s + "}\n";
}

std::string makeHtmlDoc(const std::string& files, const std::string& web) {
  std::string s =
      "<html><head><link rel=\"stylesheet\" href=\"" + web + "/style.css\"></head><body><p>" + kBody + "</p>";
  for (const std::string& t :
       {files + "canary.svg", files + "canary.pdf", web + "/page.png", std::string("canary.svg")})
    s += "<p><img src=\"" + t + "\" width=\"300\" height=\"80\"></p>";
  return s + "<iframe src=\"" + web + "/frame.html\"></iframe></body></html>";
}

const Hostile kHostile[] = {
    {"linked.odt", "CreatePDFfromWord", makeOdt},  {"linked.docx", "CreatePDFfromWord", makeDocx},
    {"linked.rtf", "CreatePDFfromWord", makeRtf},  {"linked.doc", "CreatePDFfromWord", makeHtmlDoc},
    {"linked.ods", "CreatePDFfromExcel", makeOds}, {"linked.odp", "CreatePDFfromPowerPoint2", makeOdp},
};

class LinkedContent : public RealConversion {
 protected:
  void SetUp() override {
    RealConversion::SetUp();
    if (IsSkipped() || HasFailure()) return;
    writeFile(dir.file("canary.svg"),
              std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"400\" height=\"100\">"
                          "<text x=\"10\" y=\"50\" font-size=\"30\">") +
                  kSvgCanary + "</text></svg>");
    writeFile(dir.file("canary.ps"), std::string("%!PS\n/Helvetica findfont 30 scalefont setfont 40 700 moveto (") +
                                         kPdfCanary + ") show showpage\n");
    commandOutput("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o " + shellQuote(dir.file("canary.pdf")) + " " +
                  shellQuote(dir.file("canary.ps")));
    ASSERT_TRUE(std::filesystem::exists(dir.file("canary.pdf")));
    std::filesystem::create_directories(dir.file("web"));
    web = std::make_unique<LocalService>(
        std::vector<std::string>{"python3", PRESSMARK_SOURCE_DIR "/tests/support/http_sink.py", dir.file("web")});
  }
  std::vector<std::string> requests() const {
    std::vector<std::string> seen;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("web")))
      if (e.path().extension() == ".req") seen.push_back(readFile(e.path().string()));
    return seen;
  }
  std::unique_ptr<LocalService> web;
};

TEST_F(LinkedContent, NothingOutsideTheDocumentIsReached) {
  std::string files = "file://" + dir.path() + "/";
  std::string base = "http://127.0.0.1:" + std::to_string(web->port());
  for (const Hostile& h : kHostile) {
    SCOPED_TRACE(h.name);
    writeFile(dir.file(h.name), h.make(files, base));
    std::string out = dir.file(std::string(h.name) + ".pdf");
    std::vector<Arg> args = {Arg(out), Arg(dir.file(h.name))};
    if (std::string(h.member) == "CreatePDFfromExcel") {
      args.push_back(Arg("Sheet1"));
      args.push_back(Arg("A1:H40"));
    }
    call(pdf, h.member, args);
    std::string text = commandOutput("pdftotext -enc UTF-8 " + shellQuote(out) + " -");
    EXPECT_NE(text.find(kBody), std::string::npos) << "the document itself is converted";
    EXPECT_EQ(text.find(kSvgCanary), std::string::npos) << "a local SVG was read";
    EXPECT_EQ(text.find(kPdfCanary), std::string::npos) << "a local PDF was read";
    std::vector<std::string> seen = requests();
    EXPECT_TRUE(seen.empty()) << "the office fetched " << seen.size() << ": " << (seen.empty() ? "" : seen[0]);
    for (const auto& e : std::filesystem::directory_iterator(dir.file("web")))
      if (e.path().extension() == ".req" || e.path().extension() == ".body") std::filesystem::remove(e.path());
  }
}

}  // namespace

}  // namespace pm::test
