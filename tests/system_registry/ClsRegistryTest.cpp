// clsRegistry over the file-backed registry: every value type, the fixed
// texts, the open/close life cycle and the edge cases callers depend on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RegistryFixture.h"
#include "automation/Error.h"
#include "system/EventLog.h"
#include "system/clsRegistry.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

class ClsRegistryTest : public RegistryTest {
 protected:
  // Writes the HKEY_LOCAL_MACHINE file and opens reg on the key.
  void openOn(const std::string& keyBody, const std::string& path = "SOFTWARE\\Test") {
    writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + path + "]\r\n" + keyBody);
    ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, path), -1);
  }
  Variant get(clsRegistry& r, const std::string& name, bool raw = false) { return r.GetValue(name, raw); }
  Variant get(const std::string& name, bool raw = false) { return reg.GetValue(name, raw); }
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
  int32_t sz = regtype::String, expand = regtype::ExpandString;
  EXPECT_TRUE(reg.CreateValue("Plain", Variant("8.0"), sz));
  EXPECT_TRUE(reg.CreateValue("Quotes", Variant("say \"hi\" C:\\temp\\"), sz));
  EXPECT_TRUE(reg.CreateValue("Unicode", Variant("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"), sz));
  EXPECT_TRUE(reg.CreateValue("Lines", Variant("one\r\ntwo"), sz));
  EXPECT_TRUE(reg.CreateValue("Path", Variant("%HOME%/bin"), expand));
  EXPECT_TRUE(reg.CreateValue("", Variant(int32_t(42)), sz));  // the default value, from a number

  // A fresh object reads what the file now holds.
  clsRegistry other;
  ASSERT_EQ(other.OpenRegistry(HKEY_LOCAL_MACHINE, "software\\ROUND"), -1);
  EXPECT_EQ(get(other, "Plain"), Variant("8.0"));
  EXPECT_EQ(get(other, "quotes"), Variant("say \"hi\" C:\\temp\\"));
  EXPECT_EQ(get(other, "Unicode"), Variant("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"));
  EXPECT_EQ(get(other, "Lines"), Variant("one\r\ntwo"));
  EXPECT_EQ(get(other, "Path"), Variant("%HOME%/bin"));
  EXPECT_EQ(get(other, ""), Variant("42"));

  std::string file = readFile(hklmFile());
  EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Round]\r\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\"Path\"=hex(2):25,48,4f,4d,45,25,2f,62,69,6e,00\r\n"), std::string::npos) << file;
  // Text with line breaks cannot stand in quotes; it is kept as bytes.
  EXPECT_NE(file.find("\"Lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\r\n"), std::string::npos) << file;
}

TEST_F(ClsRegistryTest, NumbersReadAsHexPairsOrRawBytes) {
  openOn("");
  int32_t dword = regtype::DWord;
  EXPECT_TRUE(reg.CreateValue("One", Variant(int32_t(1)), dword));
  EXPECT_TRUE(reg.CreateValue("Five", Variant("5"), dword));
  EXPECT_TRUE(reg.CreateValue("Minus", Variant(int32_t(-2)), dword));
  EXPECT_TRUE(reg.CreateValue("Big", Variant(int32_t(0x12345678)), dword));

  Variant one = get("One");
  EXPECT_EQ(one, Variant("01 00 00 00 "));
  EXPECT_EQ(one.asString().size(), 12u);
  EXPECT_EQ(get("Five"), Variant("05 00 00 00 "));
  EXPECT_EQ(get("Minus"), Variant("FE FF FF FF "));
  EXPECT_EQ(get("Big"), Variant("78 56 34 12 "));
  EXPECT_EQ(get("Big", true), Variant(std::string("\x78\x56\x34\x12", 4)));

  std::string file = readFile(hklmFile());
  EXPECT_NE(file.find("\"One\"=dword:00000001\r\n"), std::string::npos) << file;
}

TEST_F(ClsRegistryTest, NumberThatIsNotANumberRaisesAndWritesNothing) {
  openOn("");
  int32_t dword = regtype::DWord;
  EXPECT_EQ(pm::test::errorOf([&] { reg.CreateValue("Bad", Variant("abc"), dword); }), basic::TypeMismatch);
  EXPECT_EQ(get("Bad"), Variant());
}

TEST_F(ClsRegistryTest, MultiStringsWithFurtherItems) {
  openOn("");
  int32_t multi = regtype::MultiString;
  EXPECT_TRUE(reg.CreateValue("AB", Variant("a"), multi, Variant("b")));
  Variant ab = get("AB");
  ASSERT_TRUE(ab.isArray());
  EXPECT_EQ(ab.array().lbound(), 0);
  EXPECT_EQ(strings(ab), (std::vector<std::string>{"a", "b", ""}));

  // Null, "", a lone NUL and Empty among the further items are left out.
  Variant items =
      V({Variant("x"), Variant::null(), Variant(""), Variant(std::string(1, '\0')), Variant(), Variant(int32_t(7))});
  EXPECT_TRUE(reg.CreateValue("Many", Variant("first"), multi, items));
  EXPECT_EQ(strings(get("Many")), (std::vector<std::string>{"first", "x", "7", ""}));

  EXPECT_TRUE(reg.CreateValue("Alone", Variant("only"), multi));
  EXPECT_EQ(strings(get("Alone")), (std::vector<std::string>{"only", ""}));

  std::string file = readFile(hklmFile());
  EXPECT_NE(file.find("\"AB\"=hex(7):61,00,62,00,00\r\n"), std::string::npos) << file;
}

TEST_F(ClsRegistryTest, EveryTypeReadFromTheFile) {
  openOn(
      "\"None\"=hex(0):01,02\r\n"
      "\"Bin\"=hex:00,ff,10\r\n"
      "\"BE\"=hex(5):00,00,00,05\r\n"
      "\"Link\"=hex(6):41,00\r\n"
      "\"Res\"=hex(8):01\r\n"
      "\"Full\"=hex(9):01\r\n"
      "\"Req\"=hex(a):01\r\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"Odd\"=hex(1f):\r\n"
      "\"EmptyStr\"=hex(1):\r\n"
      "\"EmptyMulti\"=hex(7):\r\n"
      "\"Unterminated\"=hex(7):61,00,62\r\n");
  EXPECT_EQ(get("None"), Variant("Not defined value_type=REG_NONE"));
  EXPECT_EQ(get("Bin"), Variant("00 FF 10 "));
  EXPECT_EQ(get("Bin", true), Variant(std::string("\x00\xff\x10", 3)));
  EXPECT_EQ(get("BE"), Variant(std::string("\0\0\0\x05", 4)));
  EXPECT_EQ(get("Link"), Variant("Not defined value_type=REG_LINK"));
  EXPECT_EQ(get("Res"), Variant("Not defined value_type=REG_RESOURCE_LIST"));
  EXPECT_EQ(get("Full"), Variant("Not defined value_type=REG_FULL_RESOURCE_DESCRIPTOR"));
  EXPECT_EQ(get("Req"), Variant("Not defined value_type=REG_RESOURCE_REQUIREMENTS_LIST"));
  EXPECT_EQ(get("Q"), Variant("value_type=11"));
  EXPECT_EQ(get("Odd"), Variant("value_type=31"));
  // A zero-length string has no NUL to drop: the conversion fails into "".
  EXPECT_EQ(get("EmptyStr"), Variant(""));
  Variant none = get("EmptyMulti");
  ASSERT_TRUE(none.isArray());
  EXPECT_EQ(none.array().size(), 0u);
  EXPECT_EQ(strings(get("Unterminated")), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ClsRegistryTest, MissingValuesAndKeys) {
  bool raw = false;
  EXPECT_EQ(reg.GetValue("x", raw), Variant());  // nothing open
  openOn("\"There\"=\"yes\"\r\n");
  EXPECT_EQ(get("NotThere"), Variant());
  EXPECT_EQ(get(""), Variant());  // no default value
  EXPECT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing"), 0);
  EXPECT_EQ(get("There"), Variant());
  EXPECT_EQ(reg.RegistryRootKey(), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(reg.SubDirectory(), "SOFTWARE\\Missing");
}

TEST_F(ClsRegistryTest, UnreadableHiveGivesAccessDenied) {
  openOn("\"Secret\"=\"x\"\r\n");
  registry::denyFileForTesting(hklmFile(), registry::Deny::Read);
  EXPECT_EQ(get("Secret"), Variant("Access Denied"));
  // Opening needs to read the hive as well.
  clsRegistry other;
  EXPECT_EQ(other.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), 0);
  registry::denyFileForTesting(hklmFile(), registry::Deny::None);
  EXPECT_EQ(get("Secret"), Variant("x"));
}

TEST_F(ClsRegistryTest, OtherFailuresNameTheirCode) {
  openOn("\"V\"=\"x\"\r\n");
  // The file turns malformed under the open key: the store reports a
  // corrupt database (1009), which GetValue shows in its fixed text.
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n\"V\"=nonsense\r\n");
  EXPECT_EQ(get("V"), Variant("RegQueryValueEx Returned : (1009)"));
  // The key removed from the file under the open key.
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  EXPECT_EQ(get("V"), Variant("RegQueryValueEx Returned : (1018)"));
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

TEST_F(ClsRegistryTest, NothingOpenMeansNothingDone) {
  int32_t sz = regtype::String;
  EXPECT_FALSE(reg.CreateValue("A", Variant("b"), sz));
  EXPECT_FALSE(reg.CreateDirectory("Sub"));
  EXPECT_FALSE(reg.CloseRegistry());
  EXPECT_EQ(reg.RegistryRootKey(), 0);
  EXPECT_EQ(reg.SubDirectory(), "");
  EXPECT_FALSE(std::filesystem::exists(hklmFile()));
}

TEST_F(ClsRegistryTest, RootZeroLeavesNoKeyOpen) {
  size_t before = registry::openHandleCount();
  openOn("\"V\"=\"x\"\r\n");
  EXPECT_EQ(registry::openHandleCount(), before + 1);
  EXPECT_EQ(reg.OpenRegistry(0, "SOFTWARE\\Test"), 0);
  EXPECT_EQ(get("V"), Variant());
  EXPECT_EQ(registry::openHandleCount(), before);
}

TEST_F(ClsRegistryTest, ReopeningAndDestructionReleaseHandles) {
  size_t before = registry::openHandleCount();
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n");
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
  EXPECT_EQ(pm::test::errorOf([&] { reg.OneBackOnKey(); }), basic::InvalidProcedureCall)
      << "a path without a backslash has no parent";
  EXPECT_EQ(reg.SubDirectory(), "SOFTWARE");
}

TEST_F(ClsRegistryTest, MalformedFileNeverRaisesAndIsNotOverwritten) {
  std::string bad = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n\"A\"=\"x\"\r\n\"B\"=dword:xyz\r\n";
  writeFile(hklmFile(), bad);
  EXPECT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), 0);
  EXPECT_EQ(registry::lastErrorText(), hklmFile() + ":5: dword: needs 1 to 8 hexadecimal digits");
  bool raw = false;
  EXPECT_EQ(reg.GetValue("A", raw), Variant());

  // A key opened while the file was sound: writes are refused once the
  // file is malformed, and the file is left as it is.
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n");
  ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), -1);
  writeFile(hklmFile(), bad);
  int32_t sz = regtype::String;
  EXPECT_FALSE(reg.CreateValue("A", Variant("y"), sz));
  EXPECT_FALSE(reg.CreateDirectory("X"));
  EXPECT_EQ(readFile(hklmFile()), bad);
}

}  // namespace

}  // namespace pm::test
