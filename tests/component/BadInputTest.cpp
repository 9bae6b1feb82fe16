// Every member of the frame takes any Variant without crashing: a wrong type
// is an automation error, never another failure.
#include <gtest/gtest.h>

#include <filesystem>

#include "component/frame/CreatePDF.h"
#include "support/TestSupport.h"

namespace pm::test {

TEST(BadInput, FrameMembersTakeAnyVariant) {
  // Odd values that convert to text are relative folder names; keep them here.
  pm::test::TempDir cwd;
  std::string old = std::filesystem::current_path();
  std::filesystem::current_path(cwd.path());
  registerCreatePDF();
  ObjectRef pdf = CreateObject("Pressmark.CreatePDF");
  std::vector<Variant> odd({Variant::null(), Variant(), V({1, 2}), Variant(Array::matrix(2, 2)), Variant(pdf),
                            Variant::nothing(), Variant(ErrorCode{5}), Variant(1e300), Variant(std::string(2000, 'x')),
                            Variant(std::string("a\0b", 3))});
  const char* members[] = {"OpenDocument", "CopyFile", "AcrobatVersion", "PrinterName", "TempFilePath"};
  for (const char* m : members) {
    for (const Variant& a : odd) {
      for (const Variant& b : odd) {
        try {
          call(pdf, m, {a, b});
        } catch (const AutomationError&) {
        }
        try {
          call(pdf, m, {a});
        } catch (const AutomationError&) {
        }
      }
      try {
        let(pdf, "TempFilePath", a);
      } catch (const AutomationError&) {
        ADD_FAILURE() << "TempFilePath let never raises";
      }
    }
  }
  std::string now = CStr(get(pdf, "TempFilePath"));
  EXPECT_EQ(now.back(), '/');
  EXPECT_FALSE(std::filesystem::exists(cwd.path() + "/a")) << "a name with a NUL must not be cut short";
  std::filesystem::current_path(old);
}

}  // namespace pm::test
