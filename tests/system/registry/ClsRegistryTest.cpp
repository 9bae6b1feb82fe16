// clsRegistry over the file-backed registry: every value type, the fixed
// texts, the open/close life cycle and the edge cases callers depend on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RegistryFixture.h"
#include "automation/Error.h"
#include "support/Expect.h"
#include "system/EventLog.h"
#include "system/clsRegistry.h"

namespace pm::test {

namespace {

class ClsRegistryTest : public RegistryTest {
 protected:
  // Writes the HKEY_LOCAL_MACHINE file and opens reg on the key.
  void openOn(const std::string& keyBody, const std::string& path = "SOFTWARE\\Test") {
    writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + path + "]\r\n" + keyBody);
    ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, path), -1);
  }
  Variant get(const std::string& name, bool raw = false) { return reg.GetValue(name, raw); }
  bool create(const std::string& name, const Variant& v, int32_t type, const Variant& more = Variant::missing()) {
    return reg.CreateValue(name, v, type, more);
  }
  clsRegistry reg;
};

std::vector<std::string> strings(const Variant& v) {
  std::vector<std::string> out;
  for (const Variant& item : v.array().data()) out.push_back(item.asString());
  return out;
}

TEST_F(ClsRegistryTest, StringValuesRoundTripThroughCreateValueAndTheFile) {
  ASSERT_TRUE(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "") == -1);
  ASSERT_TRUE(reg.CreateDirectory("SOFTWARE\\Round"));
  ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Round"), -1);
  const std::vector<std::pair<std::string, std::string>> rows = {{"Plain", "8.0"},
                                                                 {"Quotes", "say \"hi\" C:\\temp\\"},
                                                                 {"Unicode", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"},
                                                                 {"Lines", "one\r\ntwo"},
                                                                 {"Path", "%HOME%/bin"}};
  for (const auto& [name, text] : rows) EXPECT_TRUE(create(name, Variant(text), name == "Path" ? 2 : 1)) << name;
  EXPECT_TRUE(create("", Variant(int32_t(42)), regtype::String));  // the default value, from a number

  // A fresh object reads what the file now holds, whatever the case of the names.
  clsRegistry other;
  ASSERT_EQ(other.OpenRegistry(HKEY_LOCAL_MACHINE, "software\\ROUND"), -1);
  bool raw = false;
  for (const auto& [name, text] : rows)
    EXPECT_EQ(other.GetValue(name == "Quotes" ? "quotes" : name, raw), Variant(text));
  EXPECT_EQ(other.GetValue("", raw), Variant("42"));
  // Text with line breaks cannot stand in quotes; it is kept as bytes.
  EXPECT_THAT(readFile(hklmFile()), HoldsAll({"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Round]\r\n",
                                              "\"Path\"=hex(2):25,48,4f,4d,45,25,2f,62,69,6e,00\r\n",
                                              "\"Lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\r\n"}));
}

TEST_F(ClsRegistryTest, NumbersReadAsHexPairsOrRawBytesAndNonNumbersRaiseWritingNothing) {
  openOn("");
  const std::pair<Variant, const char*> rows[] = {{Variant(int32_t(1)), "01 00 00 00 "},
                                                  {Variant("5"), "05 00 00 00 "},
                                                  {Variant(int32_t(-2)), "FE FF FF FF "},
                                                  {Variant(int32_t(0x12345678)), "78 56 34 12 "}};
  for (const auto& [in, out] : rows) {
    EXPECT_TRUE(create("N", in, regtype::DWord));
    EXPECT_EQ(get("N"), Variant(out));
  }
  EXPECT_EQ(get("N", true), Variant(std::string("\x78\x56\x34\x12", 4)));
  EXPECT_TRUE(create("One", Variant(int32_t(1)), regtype::DWord));
  EXPECT_THAT(readFile(hklmFile()), HasSubstr("\"One\"=dword:00000001\r\n"));
  EXPECT_EQ(errorOf([&] { create("Bad", Variant("abc"), regtype::DWord); }), basic::TypeMismatch);
  EXPECT_EQ(get("Bad"), Variant());
}

TEST_F(ClsRegistryTest, MultiStringsWithFurtherItems) {
  openOn("");
  EXPECT_TRUE(create("AB", Variant("a"), regtype::MultiString, Variant("b")));
  Variant ab = get("AB");
  ASSERT_TRUE(ab.isArray());
  EXPECT_EQ(ab.array().lbound(), 0);
  EXPECT_EQ(strings(ab), (std::vector<std::string>{"a", "b", ""}));
  // Null, "", a lone NUL and Empty among the further items are left out.
  Variant items =
      V({Variant("x"), Variant::null(), Variant(""), Variant(std::string(1, '\0')), Variant(), Variant(int32_t(7))});
  EXPECT_TRUE(create("Many", Variant("first"), regtype::MultiString, items));
  EXPECT_EQ(strings(get("Many")), (std::vector<std::string>{"first", "x", "7", ""}));
  EXPECT_TRUE(create("Alone", Variant("only"), regtype::MultiString));
  EXPECT_EQ(strings(get("Alone")), (std::vector<std::string>{"only", ""}));
  EXPECT_THAT(readFile(hklmFile()), HasSubstr("\"AB\"=hex(7):61,00,62,00,00\r\n"));
}

TEST_F(ClsRegistryTest, EveryTypeReadFromTheFile) {
  openOn(
      "\"None\"=hex(0):01,02\r\n\"Bin\"=hex:00,ff,10\r\n\"BE\"=hex(5):00,00,00,05\r\n\"Link\"=hex(6):41,00\r\n"
      "\"Res\"=hex(8):01\r\n\"Full\"=hex(9):01\r\n\"Req\"=hex(a):01\r\n\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"Odd\"=hex(1f):\r\n\"EmptyStr\"=hex(1):\r\n\"EmptyMulti\"=hex(7):\r\n\"Unterminated\"=hex(7):61,00,62\r\n");
  // A zero-length string has no NUL to drop: the conversion fails into "".
  const std::pair<const char*, Variant> rows[] = {
      {"None", Variant("Not defined value_type=REG_NONE")},
      {"Bin", Variant("00 FF 10 ")},
      {"BE", Variant(std::string("\0\0\0\x05", 4))},
      {"Link", Variant("Not defined value_type=REG_LINK")},
      {"Res", Variant("Not defined value_type=REG_RESOURCE_LIST")},
      {"Full", Variant("Not defined value_type=REG_FULL_RESOURCE_DESCRIPTOR")},
      {"Req", Variant("Not defined value_type=REG_RESOURCE_REQUIREMENTS_LIST")},
      {"Q", Variant("value_type=11")},
      {"Odd", Variant("value_type=31")},
      {"EmptyStr", Variant("")}};
  for (const auto& [name, v] : rows) EXPECT_EQ(get(name), v) << name;
  EXPECT_EQ(get("Bin", true), Variant(std::string("\x00\xff\x10", 3)));
  Variant none = get("EmptyMulti");
  ASSERT_TRUE(none.isArray());
  EXPECT_EQ(none.array().size(), 0u);
  EXPECT_EQ(strings(get("Unterminated")), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ClsRegistryTest, MissingValuesKeysAndNothingOpenDoNothing) {
  EXPECT_EQ(get("x"), Variant());  // nothing open
  EXPECT_FALSE(create("A", Variant("b"), regtype::String));
  EXPECT_FALSE(reg.CreateDirectory("Sub"));
  EXPECT_FALSE(reg.CloseRegistry());
  EXPECT_EQ(reg.RegistryRootKey(), 0);
  EXPECT_EQ(reg.SubDirectory(), "");
  EXPECT_FALSE(std::filesystem::exists(hklmFile()));
  openOn("\"There\"=\"yes\"\r\n");
  EXPECT_EQ(get("NotThere"), Variant());
  EXPECT_EQ(get(""), Variant());  // no default value
  EXPECT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing"), 0);
  EXPECT_EQ(get("There"), Variant());
  EXPECT_EQ(reg.RegistryRootKey(), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(reg.SubDirectory(), "SOFTWARE\\Missing");
}

TEST_F(ClsRegistryTest, UnreadableHiveGivesAccessDeniedAndOtherFailuresNameTheirCode) {
  openOn("\"Secret\"=\"x\"\r\n");
  registry::denyFileForTesting(hklmFile(), registry::Deny::Read);
  EXPECT_EQ(get("Secret"), Variant("Access Denied"));
  // Opening needs to read the hive as well.
  EXPECT_EQ(clsRegistry().OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), 0);
  registry::denyFileForTesting(hklmFile(), registry::Deny::None);
  EXPECT_EQ(get("Secret"), Variant("x"));
  // The file turns malformed under the open key: the store reports a
  // corrupt database (1009); then the key is removed from the file (1018).
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n\"Secret\"=nonsense\r\n");
  EXPECT_EQ(get("Secret"), Variant("RegQueryValueEx Returned : (1009)"));
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  EXPECT_EQ(get("Secret"), Variant("RegQueryValueEx Returned : (1018)"));
}

TEST_F(ClsRegistryTest, UnsupportedTypeGoesToTheApplicationLog) {
  std::vector<std::string> logged;
  setEventLogSinkForTesting([&](const std::string& m, EventSeverity) { logged.push_back(m); });
  openOn("");
  for (int32_t type : {0, 3, 5, 6, 8, 11, -1}) {
    int32_t t = type;
    EXPECT_FALSE(reg.CreateValue("X", Variant("data"), t)) << type;
    EXPECT_EQ(t, type);
  }
  setEventLogSinkForTesting(nullptr);
  EXPECT_EQ(logged, std::vector<std::string>(7, "Unable to process that Type of data."));
  EXPECT_EQ(get("X"), Variant());
}

TEST_F(ClsRegistryTest, RootZeroReopeningAndDestructionReleaseHandles) {
  size_t before = registry::openHandleCount();
  openOn("\"V\"=\"x\"\r\n");
  EXPECT_EQ(registry::openHandleCount(), before + 1);
  EXPECT_EQ(reg.OpenRegistry(0, "SOFTWARE\\Test"), 0);
  EXPECT_EQ(get("V"), Variant());
  EXPECT_EQ(registry::openHandleCount(), before);
  {
    clsRegistry reg;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), -1);
    ASSERT_TRUE(reg.CreateDirectory("Child"));
    ASSERT_TRUE(reg.CreateDirectory("Child"));  // an existing key is opened, not an error
    EXPECT_EQ(registry::openHandleCount(), before + 1);
    EXPECT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope"), 0);  // a failing re-open closes
    EXPECT_EQ(registry::openHandleCount(), before);
    ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Child"), -1);
    EXPECT_TRUE(reg.CloseRegistry());
    EXPECT_FALSE(reg.CloseRegistry());
    ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Child"), -1);
  }
  EXPECT_EQ(registry::openHandleCount(), before);
}

TEST_F(ClsRegistryTest, OneBackOnKeyMovesToTheParent) {
  openOn("\"Up\"=\"parent\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Deep]\r\n\"Up\"=\"child\"\r\n");
  ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Deep"), -1);
  EXPECT_EQ(get("Up"), Variant("child"));
  EXPECT_TRUE(reg.OneBackOnKey().isEmpty());
  EXPECT_EQ(reg.SubDirectory(), "SOFTWARE\\Test");
  EXPECT_EQ(get("Up"), Variant("parent"));
  reg.OneBackOnKey();
  EXPECT_EQ(reg.SubDirectory(), "SOFTWARE");
  EXPECT_EQ(errorOf([&] { reg.OneBackOnKey(); }), basic::InvalidProcedureCall) << "no backslash: no parent";
  EXPECT_EQ(reg.SubDirectory(), "SOFTWARE");
}

TEST_F(ClsRegistryTest, MalformedFileNeverRaisesAndIsNotOverwritten) {
  std::string bad = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n\"A\"=\"x\"\r\n\"B\"=dword:xyz\r\n";
  writeFile(hklmFile(), bad);
  EXPECT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), 0);
  EXPECT_EQ(registry::lastErrorText(), hklmFile() + ":5: dword: needs 1 to 8 hexadecimal digits");
  EXPECT_EQ(get("A"), Variant());
  // A key opened while the file was sound: writes are refused once the
  // file is malformed, and the file is left as it is.
  openOn("");
  writeFile(hklmFile(), bad);
  EXPECT_FALSE(create("A", Variant("y"), regtype::String));
  EXPECT_FALSE(reg.CreateDirectory("X"));
  EXPECT_EQ(readFile(hklmFile()), bad);
}

}  // namespace

}  // namespace pm::test
