// The look at a zip package before the office unpacks it: what each part
// really inflates to counts, whatever its headers declare.
#include <gtest/gtest.h>

#include "servers/office/PackageSize.h"
#include "support/TestSupport.h"
#include "support/Zips.h"

namespace pm::test {

namespace {

using office::inspectPackageFile;
using office::PackageLimits;

// A part's declared unpacked size set to zero, in its local and central
// headers: its sizes lie.
std::string lying(std::string zip) {
  for (size_t at : {size_t{22}, zip.find(std::string("PK\x01\x02", 4)) + 24}) zip.replace(at, 4, 4, '\0');
  return zip;
}

TEST(PackageSize, PartsCountForWhatTheyInflateTo) {
  TempDir dir;
  std::string mb(1 << 20, 'x');
  std::vector<ZipPart> many;
  for (int i = 0; i < 101; ++i) many.push_back({"p" + std::to_string(i), "x"});
  PackageLimits limits;
  limits.maxUnpacked = 16u << 20;
  limits.ratioFloor = 4u << 20;
  limits.maxParts = 100;
  struct Row {
    const char* name;
    std::string bytes;
    bool isZip;
    const char* refusal;  // "" passes
  } rows[] = {
      {"plain text", "no package here\n", false, ""},
      {"a small document",
       makeZip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                {"content.xml", "<office:document-content/>", true}}),
       true, ""},
      {"20 MB of one part", makeZip({{"big.xml", mb, true, 20}}), true, "unpacks to more than 16 MB"},
      {"headers that say nothing", lying(makeZip({{"big.xml", mb, true, 20}})), true, "unpacks to more than 16 MB"},
      {"8 MB from a few kB", makeZip({{"x.xml", mb, true, 8}}), true, "more than the ratio of 100"},
      {"101 parts", makeZip(many), true, "more than the 100 allowed"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    writeFile(dir.file("in"), r.bytes);
    office::PackageVerdict v = inspectPackageFile(dir.file("in"), limits);
    EXPECT_EQ(v.isZip, r.isZip);
    if (*r.refusal) {
      EXPECT_NE(v.refusal.find(r.refusal), std::string::npos) << v.refusal;
    } else {
      EXPECT_EQ(v.refusal, "");
    }
  }
}

TEST(PackageSize, LimitsComeFromTheEnvironment) {
  ScopedEnv size("PRESSMARK_OFFICE_MAX_UNPACKED_MB", "3");
  ScopedEnv ratio("PRESSMARK_OFFICE_MAX_RATIO", "nonsense");
  PackageLimits l = office::packageLimits();
  EXPECT_EQ(l.maxUnpacked, 3u << 20);
  EXPECT_EQ(l.maxRatio, PackageLimits{}.maxRatio);
}

}  // namespace

}  // namespace pm::test
