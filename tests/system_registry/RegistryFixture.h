// Every registry test runs against hive files in a folder of its own, with
// the user's configuration folder and the system file redirected there too,
// so nothing outside the folder is read or written.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "support/TestSupport.h"
#include "system/RegistryStore.h"

namespace pm::test {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pm-registry-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    regDir_ = dir_ + "/reg";
    std::filesystem::create_directories(regDir_);
    env_.emplace("PRESSMARK_REGISTRY", regDir_.c_str());
    home_.emplace("HOME", (dir_ + "/home").c_str());
    xdg_.emplace("XDG_CONFIG_HOME", (dir_ + "/config").c_str());
    pm::registry::setSystemHivePathForTesting(dir_ + "/etc/pressmark/HKEY_LOCAL_MACHINE.reg");
  }
  void TearDown() override {
    pm::registry::setSystemHivePathForTesting("");
    pm::registry::clearDeniedForTesting();
    env_.reset();
    home_.reset();
    xdg_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string hklmFile() const { return regDir_ + "/HKEY_LOCAL_MACHINE.reg"; }
  std::string hkcuFile() const { return regDir_ + "/HKEY_CURRENT_USER.reg"; }

  std::string dir_, regDir_;
  std::optional<ScopedEnv> env_, home_, xdg_;
};

}  // namespace pm::test
