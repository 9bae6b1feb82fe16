// Where hives live: the PRESSMARK_REGISTRY folder, the system file of
// HKEY_LOCAL_MACHINE with the per-user overlay, the user's configuration
// folder; and the store's handle calls.
#include <gtest/gtest.h>

#include <string>

#include "RegistryFixture.h"
#include "support/Expect.h"
#include "automation/Convert.h"
#include "system/RegistryStore.h"
#include "system/clsRegistry.h"

namespace pm::test {

using namespace pm::registry;

namespace {

class RegistryLocations : public RegistryTest {
 protected:
  std::string systemFile() const { return dir_ + "/etc/pressmark/HKEY_LOCAL_MACHINE.reg"; }
  std::string overlayFile() const { return dir_ + "/config/pressmark/HKEY_LOCAL_MACHINE.reg"; }
  std::string userFile() const { return dir_ + "/config/pressmark/HKEY_CURRENT_USER.reg"; }

  std::string read(int32_t root, const std::string& path, const std::string& name) {
    clsRegistry reg;
    bool raw = false;
    Variant v = reg.OpenRegistry(root, path) == -1 ? reg.GetValue(name, raw) : Variant("<no key>");
    return v.isEmpty() ? "<empty>" : v.asString();
  }
  bool write(int32_t root, const std::string& path, const std::string& name, const std::string& value) {
    clsRegistry reg;
    int32_t sz = regtype::String;
    return reg.OpenRegistry(root, "") == -1 && reg.CreateDirectory(path) && reg.OpenRegistry(root, path) == -1 &&
           reg.CreateValue(name, Variant(value), sz);
  }
};

TEST_F(RegistryLocations, EnvironmentFolderHoldsBothRoots) {
  HiveFiles f;
  ASSERT_TRUE(hiveFilesForRoot(HKEY_LOCAL_MACHINE, f));
  EXPECT_EQ(f.primary + "|" + f.overlay, hklmFile() + "|");
  ASSERT_TRUE(hiveFilesForRoot(HKEY_CURRENT_USER, f));
  EXPECT_EQ(f.primary, hkcuFile());
  EXPECT_EQ(hiveFileForRoot(HKEY_LOCAL_MACHINE), hklmFile());
  EXPECT_EQ(hiveFileForRoot(HKEY_CLASSES_ROOT), hklmFile());
  EXPECT_EQ(hiveFileForRoot(HKEY_USERS), "");
  EXPECT_FALSE(hiveFilesForRoot(HKEY_USERS, f));
  EXPECT_EQ(clsRegistry().OpenRegistry(HKEY_USERS, ""), 0) << "no file behind this root";

  ASSERT_TRUE(write(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", "v", "machine"));
  ASSERT_TRUE(write(HKEY_CURRENT_USER, "Software\\X", "v", "user"));
  EXPECT_THAT(readFile(hklmFile()), HasSubstr("machine"));
  EXPECT_THAT(readFile(hkcuFile()), HasSubstr("user"));
  EXPECT_FALSE(std::filesystem::exists(systemFile()));
  EXPECT_FALSE(std::filesystem::exists(overlayFile()));
}

TEST_F(RegistryLocations, WritableSystemFileIsWrittenDirectly) {
  ScopedEnv none("PRESSMARK_REGISTRY", nullptr);
  EXPECT_EQ(hiveFileForRoot(HKEY_LOCAL_MACHINE), systemFile());
  ASSERT_TRUE(write(HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe", "v", "system"));
  EXPECT_NE(readFile(systemFile()).find("system"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(overlayFile()));
  EXPECT_EQ(read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe", "v"), "system");
}

TEST_F(RegistryLocations, ReadOnlySystemFileGetsThePerUserOverlay) {
  ScopedEnv none("PRESSMARK_REGISTRY", nullptr);
  writeFile(
      systemFile(),
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Adobe]\r\n\"Kept\"=\"system\"\r\n\"Shadowed\"=\"system\"\r\n");
  std::string systemBefore = readFile(systemFile());
  denyFileForTesting(systemFile(), Deny::Write);

  HiveFiles f;
  ASSERT_TRUE(hiveFilesForRoot(HKEY_LOCAL_MACHINE, f));
  EXPECT_EQ(f.primary + "|" + f.overlay, systemFile() + "|" + overlayFile());
  EXPECT_EQ(hiveFileForRoot(HKEY_LOCAL_MACHINE), overlayFile());

  // The key exists only in the system file; the open still grants write
  // access because the overlay can be written.
  clsRegistry reg;
  ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe"), -1);
  int32_t sz = regtype::String;
  ASSERT_TRUE(reg.CreateValue("Shadowed", Variant("user"), sz));
  ASSERT_TRUE(reg.CreateValue("New", Variant("user"), sz));
  ASSERT_TRUE(reg.CreateDirectory("Only Mine"));

  EXPECT_EQ(readFile(systemFile()), systemBefore);
  for (const char* name : {"Kept", "Shadowed", "New"})
    EXPECT_EQ(read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe", name), name[0] == 'K' ? "system" : "user") << name;
  EXPECT_EQ(read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe\\Only Mine", "x"), "<empty>");
  EXPECT_THAT(readFile(overlayFile()), ::testing::AllOf(HasSubstr("\"Shadowed\"=\"user\""), Not(HasSubstr("Kept"))));

  // A later change to the system file shows through where the overlay has
  // nothing of its own.
  denyFileForTesting(systemFile(), Deny::None);
  writeFile(systemFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Adobe]\r\n\"Kept\"=\"changed\"\r\n");
  EXPECT_EQ(read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe", "Kept"), "changed");
}

TEST_F(RegistryLocations, UserFilesFollowXdgConfigHomeThenHome) {
  ScopedEnv none("PRESSMARK_REGISTRY", nullptr);
  HiveFiles f;
  ASSERT_TRUE(hiveFilesForRoot(HKEY_CURRENT_USER, f));
  EXPECT_EQ(f.primary, userFile());
  {
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/ignored");
    ASSERT_TRUE(hiveFilesForRoot(HKEY_CURRENT_USER, f));
    EXPECT_EQ(f.primary, dir_ + "/home/.config/pressmark/HKEY_CURRENT_USER.reg");
  }
  {
    ScopedEnv unset("XDG_CONFIG_HOME", nullptr);
    ASSERT_TRUE(write(HKEY_CURRENT_USER, "Software\\P", "v", "home"));
    EXPECT_NE(readFile(dir_ + "/home/.config/pressmark/HKEY_CURRENT_USER.reg").find("home"), std::string::npos);
    EXPECT_EQ(modeOf(dir_ + "/home/.config/pressmark"), S_IFDIR | 0700u);
  }
}

TEST_F(RegistryLocations, NoWritableFileDeniesWriteAccess) {
  // Opening asks for write access; a hive nobody can write refuses it,
  // while read-only handles still work.
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\R]\r\n@=\"1\"\r\n");
  denyFileForTesting(hklmFile(), Deny::Write);
  clsRegistry reg;
  EXPECT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\R"), 0);
  int32_t h = 0;
  ASSERT_EQ(regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\R", 0, kKeyQueryValue, h), kSuccess);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(regQueryValueEx(h, "", &type, nullptr, &size), kSuccess);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(regSetValueEx(h, "x", 1, reinterpret_cast<const uint8_t*>("y"), 2), kAccessDenied);
  EXPECT_EQ(regCloseKey(h), kSuccess);
}

TEST_F(RegistryLocations, HandleCallsFollowTheWindowsContract) {
  int32_t h = 0;
  uint32_t disposition = 0;
  ASSERT_EQ(regCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\H", 0, 0xF003F, h, &disposition), kSuccess);
  EXPECT_EQ(disposition, 1u);
  int32_t again = 0;
  ASSERT_EQ(regCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\h", 0, 0xF003F, again, &disposition), kSuccess);
  EXPECT_EQ(disposition, 2u) << "opened, not created";
  EXPECT_NE(again, h);
  EXPECT_EQ(regCloseKey(again), kSuccess);

  const uint8_t data[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(regSetValueEx(h, "v", 3, data, sizeof data), kSuccess);
  uint32_t type = 0, size = 0;
  ASSERT_EQ(regQueryValueEx(h, "V", &type, nullptr, &size), kSuccess);
  EXPECT_EQ(std::pair(type, size), std::pair(3u, 5u));
  uint8_t small[2];
  size = sizeof small;
  EXPECT_EQ(regQueryValueEx(h, "v", &type, small, &size), kMoreData);
  EXPECT_EQ(size, 5u);
  uint8_t buf[8] = {};
  size = sizeof buf;
  ASSERT_EQ(regQueryValueEx(h, "v", &type, buf, &size), kSuccess);
  EXPECT_EQ(std::pair(size, int{buf[4]}), std::pair(5u, 5));
  EXPECT_EQ(regQueryValueEx(h, "missing", &type, nullptr, &size), kFileNotFound);
  EXPECT_EQ(regQueryValueEx(h, "v", &type, buf, nullptr), kInvalidParameter);

  // Names the file format cannot hold are refused, not mangled.
  EXPECT_EQ(regSetValueEx(h, "two\nlines", 3, data, 1), kInvalidParameter);
  int32_t bad = 0;
  EXPECT_EQ(regCreateKeyEx(h, "a\nb", 0, 0xF003F, bad), kInvalidParameter);

  // Subkeys relative to an open handle.
  int32_t sub = 0;
  ASSERT_EQ(regCreateKeyEx(h, "Sub\\Deeper", 0, 0xF003F, sub), kSuccess);
  int32_t viaRoot = 0;
  EXPECT_EQ(regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\H\\SUB\\deeper", 0, 0x2000F, viaRoot), kSuccess);
  EXPECT_EQ(regCloseKey(viaRoot), kSuccess);
  EXPECT_EQ(regCloseKey(sub), kSuccess);

  EXPECT_EQ(regCloseKey(h), kSuccess);
  EXPECT_EQ(regCloseKey(h), kInvalidHandle);
  EXPECT_EQ(regQueryValueEx(h, "v", &type, nullptr, &size), kInvalidHandle);
  EXPECT_EQ(regCloseKey(HKEY_LOCAL_MACHINE), kSuccess);
  int32_t none = 1234;
  EXPECT_EQ(regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, 0x2000F, none), kFileNotFound);
  EXPECT_EQ(none, 0);
  EXPECT_EQ(regOpenKeyEx(0, "", 0, 0x2000F, none), kInvalidHandle);
}

TEST_F(RegistryLocations, WrittenFilesKeepTheirModeAndLeaveNoTemporaries) {
  ASSERT_TRUE(write(HKEY_CURRENT_USER, "Software\\M", "v", "1"));
  EXPECT_EQ(modeOf(hkcuFile()), S_IFREG | 0600u);
  ASSERT_EQ(::chmod(hkcuFile().c_str(), 0640), 0);
  ASSERT_TRUE(write(HKEY_CURRENT_USER, "Software\\M", "v", "2"));
  EXPECT_EQ(modeOf(hkcuFile()), S_IFREG | 0640u);
  EXPECT_FALSE(std::filesystem::exists(hkcuFile() + ".tmp"));
  EXPECT_EQ(read(HKEY_CURRENT_USER, "Software\\M", "v"), "2");
}

TEST_F(RegistryLocations, SymbolicLinkToAHiveIsKept) {
  std::string real = dir_ + "/elsewhere/machine.reg";
  writeFile(real, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  ASSERT_EQ(::symlink(real.c_str(), hklmFile().c_str()), 0);
  ASSERT_TRUE(write(HKEY_LOCAL_MACHINE, "SOFTWARE\\L", "v", "linked"));
  EXPECT_TRUE(S_ISLNK(modeOf(hklmFile())));
  EXPECT_NE(readFile(real).find("linked"), std::string::npos);
  EXPECT_EQ(read(HKEY_LOCAL_MACHINE, "SOFTWARE\\L", "v"), "linked");
}

}  // namespace

}  // namespace pm::test
