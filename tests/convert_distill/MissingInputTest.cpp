// A Null input path given to any conversion is the missing-file error the
// PostScript methods give, raised before any program is started.
#include <gtest/gtest.h>

#include "automation/surfaces/Distiller.h"
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

namespace pm::test {

using pm::recording::Recorder;

namespace {

TEST(MissingInput, ANullPathIsTheMissingFileErrorForEveryConversion) {
  test::TempDir registryDir, dir;
  test::ScopedEnv registry("PRESSMARK_REGISTRY", registryDir.path());
  std::shared_ptr<Recorder> rec = Recorder::create();
  for (const char* c : {office::kWordProgId, office::kExcelProgId, office::kPowerPointProgId, office::kPublisherProgId,
                        distiller::kEventClsid, distiller::kSecurityClsid})
    rec->registerClass(c);
  registerCreatePDF();
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  moduleState().strTempFilePath = dir.path() + "/";
  const Variant out(dir.file("out.pdf"));
  struct Case {
    const char* member;
    std::vector<Variant> more;  // required arguments after the input path
  };
  for (const Case& c : std::vector<Case>{
           {"CreatePDFfromPS", {}},  // the reference
           {"CreatePDFfromWord", {}},
           {"CreatePDFfromWord2", {}},
           {"CreatePSfromWord", {}},
           {"CreatePSfromWord2", {}},
           {"CreatePDFfromTextFile", {}},
           {"CreatePSfromTextFile", {}},
           {"CreatePDFfromExcel", {Variant(int32_t{1}), Variant("A1")}},
           {"CreatePDFfromExcel2", {Variant(int32_t{1}), Variant("A1")}},
           {"CreatePSfromExcel", {Variant(int32_t{1}), Variant("A1")}},
           {"CreatePSfromExcel2", {Variant(int32_t{1}), Variant("A1")}},
           {"CreatePDFfromPowerPoint", {}},
           {"CreatePDFfromPowerPoint2", {}},
           {"CreatePSfromPowerPoint", {}},
           {"CreatePSfromPowerPoint2", {}},
           {"CreatePDFfromPub", {}},
           {"CreatePDFfromPub2", {}},
           {"CreatePSfromPub", {}},
           {"CreatePSfromPub2", {}},
       }) {
    rec->clear();
    std::vector<Variant> values = {out, Variant::null()};
    values.insert(values.end(), c.more.begin(), c.more.end());
    std::vector<Arg> args;
    for (Variant& v : values) args.push_back(ByRef(v));
    try {
      call(pdf, c.member, std::span<const Arg>(args.data(), args.size()));
      ADD_FAILURE() << c.member << ": no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), kErrComponent) << c.member << ": " << e.description();
      EXPECT_EQ(e.description(), "File  does not exist.") << c.member;
      EXPECT_EQ(e.source(), kComponentTitle) << c.member;
    }
    EXPECT_TRUE(rec->transcript().empty()) << c.member;
  }
}

}  // namespace

}  // namespace pm::test
