// A few megabytes of a stranger's document that unpack to a gigabyte of
// XML: refused before the office sees it, and, where a setting lets it
// through, the office is ended once it grows past its memory limit. Either
// way the conversion fails with its reason and the next one succeeds.
#include "support/RealConversion.h"
#include "support/Raised.h"
#include "support/Zips.h"

namespace pm::test {

namespace {

// The office grew past its memory limit (E_OUTOFMEMORY).
constexpr int32_t kErrOfficeMemory = static_cast<int32_t>(0x8007000Eu);

// A text document whose one part inflates to about 1.1 GB of paragraphs.
std::string docxBomb() {
  std::string paragraph = "<w:p><w:r><w:t>Expanding paragraph text</w:t></w:r></w:p>";
  std::string chunk;
  while (chunk.size() < (1u << 20)) chunk += paragraph;
  ZipPart document{"word/document.xml", chunk, true, 1100};
  document.head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document "
      "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>";
  document.tail = "</w:body></w:document>";
  return docxPackage(document);
}

TEST_F(RealConversion, AnOfficeBombFailsClearlyAndTheNextConversionSucceeds) {
  std::string bomb = docxBomb();
  ASSERT_LT(bomb.size(), 4u << 20);
  writeFile(dir.file("bomb.docx"), bomb);
  writeFile(dir.file("next.rtf"), makeRtfPages(1));
  struct Row {
    const char* maxUnpacked;  // PRESSMARK_OFFICE_MAX_UNPACKED_MB
    const char* memoryLimit;  // PRESSMARK_OFFICE_MEMORY_LIMIT
    int32_t number;
    const char* why;
  };
  for (const Row& r : {Row{nullptr, nullptr, 0, "unpacks to more than 512 MB"},
                       Row{"100000", "400", kErrOfficeMemory, "used more than 400 MB of memory"}}) {
    SCOPED_TRACE(r.why);
    ScopedEnv unpacked("PRESSMARK_OFFICE_MAX_UNPACKED_MB", r.maxUnpacked);
    ScopedEnv ratio("PRESSMARK_OFFICE_MAX_RATIO", r.maxUnpacked);
    ScopedEnv memory("PRESSMARK_OFFICE_MEMORY_LIMIT", r.memoryLimit);
    Raised e = raised([&] { call(pdf, "CreatePDFfromWord", {Arg(dir.file("bomb.pdf")), Arg(dir.file("bomb.docx"))}); });
    if (r.number) {
      EXPECT_EQ(e.number, r.number) << e.description;
    }
    EXPECT_NE(e.description.find(r.why), std::string::npos) << e.description;
    EXPECT_FALSE(std::filesystem::exists(dir.file("bomb.pdf")));
    call(pdf, "CreatePDFfromWord", {Arg(dir.file("next.pdf")), Arg(dir.file("next.rtf"))});
    EXPECT_EQ(pdfFacts(dir.file("next.pdf")).pages, 1) << "a fresh office serves the next conversion";
    std::filesystem::remove(dir.file("next.pdf"));
  }
}

}  // namespace

}  // namespace pm::test
