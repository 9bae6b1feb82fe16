// A Null input path given to any conversion is the missing-file error the
// PostScript methods give, raised before any program is started.
#include <gtest/gtest.h>

#include "automation/surfaces/Distiller.h"
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"
#include "support/TestSupport.h"

namespace pm::test {

using pm::recording::Recorder;

namespace {

TEST(MissingInput, ANullPathIsTheMissingFileErrorForEveryConversion) {
  TempDir registryDir, dir;
  ScopedEnv registry("PRESSMARK_REGISTRY", registryDir.path());
  std::shared_ptr<Recorder> rec = Recorder::create();
  for (const char* c : {office::kWordProgId, office::kExcelProgId, office::kPowerPointProgId, office::kPublisherProgId,
                        distiller::kEventClsid, distiller::kSecurityClsid})
    rec->registerClass(c);
  registerCreatePDF();
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  moduleState().strTempFilePath = dir.path() + "/";
  const Variant out(dir.file("out.pdf"));
  for (const char* member : {"CreatePDFfromPS" /* the reference */,
                             "CreatePDFfromWord",
                             "CreatePDFfromWord2",
                             "CreatePSfromWord",
                             "CreatePSfromWord2",
                             "CreatePDFfromTextFile",
                             "CreatePSfromTextFile",
                             "CreatePDFfromExcel",
                             "CreatePDFfromExcel2",
                             "CreatePSfromExcel",
                             "CreatePSfromExcel2",
                             "CreatePDFfromPowerPoint",
                             "CreatePDFfromPowerPoint2",
                             "CreatePSfromPowerPoint",
                             "CreatePSfromPowerPoint2",
                             "CreatePDFfromPub",
                             "CreatePDFfromPub2",
                             "CreatePSfromPub",
                             "CreatePSfromPub2",
                             "CreatePSfromMiscFile",
                             "CreatePSfromMiscFile2",
                             "CreatePDFfromMiscFile"}) {
    rec->clear();
    std::vector<Variant> values = {out, Variant::null()};
    if (std::string(member).find("Excel") != std::string::npos) values.insert(values.end(), {int32_t{1}, "A1"});
    std::vector<Arg> args;
    for (Variant& v : values) args.push_back(ByRef(v));
    EXPECT_EQ(raised([&] { call(pdf, member, std::span<const Arg>(args.data(), args.size())); }),
              (Raised{kErrComponent, "File  does not exist.", kComponentTitle}))
        << member;
    EXPECT_TRUE(rec->transcript().empty()) << member;
  }
}

}  // namespace

}  // namespace pm::test
