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
  // CreatePDFfromPS is the reference; then every office conversion, each
  // to PDF and to PostScript, plain and "2".
  std::vector<std::string> members = {"CreatePDFfromPS", "CreatePDFfromTextFile", "CreatePSfromTextFile",
                                      "CreatePDFfromMiscFile"};
  for (const char* from : {"Word", "Excel", "PowerPoint", "Pub", "MiscFile"})
    for (const char* to : {"PDF", "PS"})
      for (const char* suffix : {"", "2"})
        if (std::string(from) != "MiscFile" || std::string(to) == "PS")
          members.push_back(std::string("Create") + to + "from" + from + suffix);
  for (const std::string& member : members) {
    rec->clear();
    std::vector<Variant> values = {out, Variant::null()};
    if (member.find("Excel") != std::string::npos) values.insert(values.end(), {int32_t{1}, "A1"});
    std::vector<Arg> args;
    for (Variant& v : values) args.push_back(ByRef(v));
    EXPECT_EQ(raised([&] { call(pdf, member.c_str(), std::span<const Arg>(args.data(), args.size())); }),
              (Raised{kErrComponent, "File  does not exist.", kComponentTitle}))
        << member;
    EXPECT_TRUE(rec->transcript().empty()) << member;
  }
}

}  // namespace

}  // namespace pm::test
