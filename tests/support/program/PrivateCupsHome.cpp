// Linked into every test program: while the test scheduler runs, the
// program gets a HOME of its own, so the user default printer the tests set
// (libcups keeps it in $HOME/.cups/lpoptions) never lands in the real home.
// libcups reads HOME once per thread, so this happens before any test runs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/TestSupport.h"

namespace pm::test {

namespace {

class PrivateCupsHome : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!pm::test::haveTestCups()) return;
    std::string tmpl = (std::filesystem::temp_directory_path() / "pmcups-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return;
    dir_ = tmpl;
    ::setenv("HOME", dir_.c_str(), 1);
    // A destination from the environment outranks the user default.
    ::unsetenv("LPDEST");
    ::unsetenv("PRINTER");
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

 private:
  std::string dir_;
};
const auto* const kHome = ::testing::AddGlobalTestEnvironment(new PrivateCupsHome);

}  // namespace

}  // namespace pm::test
