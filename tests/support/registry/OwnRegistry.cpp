// Linked into every test program: the program runs with a registry folder
// of its own, emptied after each test, so no test reads the machine's
// registry files (after `pressmark register` the system file holds the
// installed servers' keys) or what an earlier test wrote. ctest runs each
// test in a process of its own, so there each test has its own folder.
// Tests that set PRESSMARK_REGISTRY themselves still win while they run.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace pm::test {

namespace {

class OwnRegistry : public ::testing::EmptyTestEventListener {
 public:
  explicit OwnRegistry(std::string dir) : dir_(std::move(dir)) {}
  ~OwnRegistry() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir_, ec)) std::filesystem::remove_all(e.path(), ec);
  }

 private:
  std::string dir_;
};

// Set while the program starts, before any test (or thread) runs.
const bool installed = [] {
  std::string tmpl = (std::filesystem::temp_directory_path() / "pmtest-registry-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return false;
  ::setenv("PRESSMARK_REGISTRY", tmpl.c_str(), 1);
  ::testing::UnitTest::GetInstance()->listeners().Append(new OwnRegistry(tmpl));
  return true;
}();

}  // namespace

}  // namespace pm::test
