// Every registry test runs against hive files in a folder of its own, with
// the user's configuration folder and the system file redirected there too,
// so nothing outside the folder is read or written.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TestSupport.h"
#include "system/RegistryStore.h"

namespace pm::test {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(regDir_);
    pm::registry::setSystemHivePathForTesting(dir_ + "/etc/pressmark/HKEY_LOCAL_MACHINE.reg");
  }
  void TearDown() override {
    pm::registry::setSystemHivePathForTesting("");
    pm::registry::clearDeniedForTesting();
  }

  std::string hklmFile() const { return regDir_ + "/HKEY_LOCAL_MACHINE.reg"; }
  std::string hkcuFile() const { return regDir_ + "/HKEY_CURRENT_USER.reg"; }

  TempDir tmp_;
  std::string dir_ = tmp_.path(), regDir_ = dir_ + "/reg";
  ScopedEnv env_{"PRESSMARK_REGISTRY", regDir_}, home_{"HOME", dir_ + "/home"},
      xdg_{"XDG_CONFIG_HOME", dir_ + "/config"};
};

}  // namespace pm::test
