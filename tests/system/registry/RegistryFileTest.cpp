// The hive file format: both headers, regedit's UTF-16 exports, every value
// form, line continuations, deletions, and clear errors for malformed text.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "RegistryFixture.h"
#include "support/Expect.h"
#include "system/RegistryStore.h"

namespace pm::test {

using namespace pm::registry;

namespace {

const std::string kLM = "HKEY_LOCAL_MACHINE";

Hive parse(const std::string& text, const std::string& root = kLM) {
  return parseHive(text, root, "/x/hive.reg");
}

const Value& valueOf(const Hive& h, const std::string& key, const std::string& name) {
  const Value* v = h.findKey(key) ? h.findKey(key)->find(name) : nullptr;
  if (!v) throw std::runtime_error("no value " + key + "\\" + name);
  return *v;
}

std::string utf16le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST(RegistryFile, EveryTypeRoundTripsThroughTheText) {
  Hive h;
  h.rootName = kLM;
  Key& k = h.createKey("SOFTWARE\\All Types");
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  k.values = decltype(k.values)({{"", 1, std::string("default\0", 8)},
                                 {"sz", 1, std::string("a \"quoted\" \\ text\0", 19)},
                                 {"sz-no-nul", 1, "abc"},
                                 {"sz-inner-nul", 1, std::string("a\0b\0", 4)},
                                 {"sz-latin1-bytes", 1, std::string("\xE9\0", 2)},
                                 {"expand", 2, std::string("%PATH%\0", 7)},
                                 {"binary", 3, binary},
                                 {"empty-binary", 3, ""},
                                 {"dword", 4, std::string("\x01\x02\x03\x04", 4)},
                                 {"dword-short", 4, std::string("\x01\x02", 2)},
                                 {"big-endian", 5, std::string("\0\0\0\x05", 4)},
                                 {"link", 6, "L"},
                                 {"multi", 7, std::string("a\0b\0\0", 5)},
                                 {"res", 8, "r"},
                                 {"full", 9, "f"},
                                 {"req", 10, "q"},
                                 {"qword", 11, std::string(8, '\x7f')},
                                 {"none", 0, ""},
                                 {"huge-type", 0xFFFFFFFFu, "z"},
                                 {"name \"with\" \\ marks", 1, std::string("v\0", 2)}});
  std::string text = formatHive(h);
  ASSERT_EQ(text.rfind("REGEDIT4\r\n", 0), 0u);
  Hive back = parse(text);
  const Key* k2 = back.findKey("software\\all types");
  ASSERT_NE(k2, nullptr);
  EXPECT_EQ(k2->path, "SOFTWARE\\All Types");
  EXPECT_EQ(k2->values, k.values) << text;
  // Long data is wrapped over lines the way regedit does it.
  EXPECT_THAT(text, HoldsAll({",\\\r\n  ", "\"dword\"=dword:04030201\r\n", "\"qword\"=hex(b):7f,",
                              "\"huge-type\"=hex(ffffffff):7a\r\n", "\"sz-no-nul\"=hex(1):61,62,63\r\n"}));
}

TEST(RegistryFile, Regedit4ReadsBytesAsTheyAre) {
  Hive h = parse(
      "REGEDIT4\n\n; a comment\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n@=\"d\"\n\"s\" = \"x\"\n\"e\"=hex(2):41,42,00\n"
      "\"m\"=HEX(7):61,00,00\n\"n\"=dword:1\n\"long\"=hex:01,02,\\\n  03,04,\\\n  05\n");
  const std::pair<const char*, std::string> rows[] = {{"", {"d\0", 2}},
                                                      {"s", {"x\0", 2}},
                                                      {"e", {"AB\0", 3}},
                                                      {"n", {"\x01\0\0\0", 4}},
                                                      {"long", "\x01\x02\x03\x04\x05"}};
  for (const auto& [name, data] : rows) EXPECT_EQ(valueOf(h, "SOFTWARE\\A", name).data, data) << name;
  EXPECT_EQ(valueOf(h, "SOFTWARE\\A", "m").type, 7u);
  // Ancestors of a key exist too.
  EXPECT_NE(h.findKey("SOFTWARE"), nullptr);
  EXPECT_NE(h.findKey(""), nullptr);
}

TEST(RegistryFile, Version5TextDataIsUtf16) {
  std::string body =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n"
      "\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"u\"=hex(1):ac,20,00,00\r\n\"bin\"=hex:61,00\r\n";
  Hive h = parse(body);
  EXPECT_EQ(valueOf(h, "SOFTWARE\\B", "e").data, std::string("%A%\0", 4));
  EXPECT_EQ(valueOf(h, "SOFTWARE\\B", "m").data, std::string("a\0b\0\0", 5));
  EXPECT_EQ(valueOf(h, "SOFTWARE\\B", "u").data, std::string("\xE2\x82\xAC\0", 4));
  EXPECT_EQ(valueOf(h, "SOFTWARE\\B", "bin").data, std::string("a\0", 2));  // binary stays bytes

  // The same text saved by regedit: UTF-16LE with a byte-order mark; or with a UTF-8 one.
  for (const std::string& text : {"\xFF\xFE" + utf16le(body), "\xEF\xBB\xBF" + body})
    EXPECT_EQ(valueOf(parse(text), "SOFTWARE\\B", "m").data, std::string("a\0b\0\0", 5));

  EXPECT_THROW(parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"o\"=hex(2):41\n"), FormatError);
}

TEST(RegistryFile, DeletionsAndLaterDefinitionsApply) {
  Hive h = parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n\"w\"=\"2\"\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n"
      "[HKEY_LOCAL_MACHINE\\a\\b]\n\"V\"=\"3\"\n\"w\"=-\n[-HKEY_LOCAL_MACHINE\\A\\B\\C]\n");
  EXPECT_EQ(valueOf(h, "A\\B", "v").data, std::string("3\0", 2));
  EXPECT_EQ(valueOf(h, "A\\B", "v").name, "V");
  EXPECT_EQ(h.findKey("A\\B")->find("w"), nullptr);
  EXPECT_EQ(h.findKey("A\\B\\C"), nullptr);
  EXPECT_EQ(h.findKey("A\\B")->path, "A\\B");  // first spelling kept
}

TEST(RegistryFile, ClassesRootKeysLiveUnderSoftwareClassesPathsFoldAndEmptyFilesAreEmptyHives) {
  Hive h = parse("REGEDIT4\n[HKEY_CLASSES_ROOT\\AcroExch.App\\AcrobatVersion]\n@=\"7.0\"\n");
  EXPECT_EQ(valueOf(h, "SOFTWARE\\Classes\\AcroExch.App\\AcrobatVersion", "").data, std::string("7.0\0", 4));
  EXPECT_THROW(parse("REGEDIT4\n[HKEY_CLASSES_ROOT\\X]\n", "HKEY_CURRENT_USER"), FormatError);
  EXPECT_EQ(foldPath("\\SOFTWARE\\\\Adobe\\"), "software\\adobe");
  EXPECT_EQ(foldPath(""), "");
  EXPECT_NE(parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Adobe]\n").findKey("SOFTWARE\\ADOBE\\"), nullptr);
  EXPECT_TRUE(parse("").keys.empty());
  EXPECT_TRUE(parse("\r\n\r\n").keys.empty());
}

// Deep or huge keys are refused before they take memory.
TEST(RegistryFile, MalformedTextNamesFileAndLine) {
  std::string deep = "REGEDIT4\n[HKEY_LOCAL_MACHINE", wide = deep;
  for (int i = 0; i < 600; ++i) deep += "\\a";
  for (int i = 0; i < 510; ++i) wide += "\\" + std::string(260, static_cast<char>('a' + i % 26));
  const std::tuple<std::string, int, const char*> cases[] = {
      {deep + "]\n", 2, "more than 512 levels deep"},
      {wide + "]\n", 2, "more than 64 MiB"},
      {"[HKEY_LOCAL_MACHINE\\A]\n", 1, "not a registry file"},
      {"REGEDIT5\n", 1, "not a registry file"},
      {"REGEDIT4\n\n\"v\"=\"x\"\n", 3, "value outside a key"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", 2, "without closing ]"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", 2, "does not belong in a file of HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"x\n", 3, "without closing \""},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"x\"y\n", 3, "after the closing \""},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"C:\\temp\"\n", 3, "unknown escape \\t"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\" \"x\"\n", 3, "expected ="},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789\n", 3, "dword:"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:\n", 3, "dword:"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:1g\n", 3, "bad byte \"1g\""},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,,02\n", 3, "bad byte"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:123\n", 3, "bad byte"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(zz):01\n", 3, "hex(type)"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(2)01\n", 3, "expected :"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n", 3, "end of the file"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n  zz\n", 3, "bad byte"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=12\n", 3, "unrecognised value data"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nv=\"x\"\n", 3, "unexpected text"},
      {"REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\"\r\n", 3, "value outside a key"},
  };
  for (const auto& [text, line, reason] : cases) {
    SCOPED_TRACE(text.substr(0, 80));
    try {
      parse(text);
      ADD_FAILURE() << "accepted";
    } catch (const FormatError& e) {
      EXPECT_EQ(e.file(), "/x/hive.reg");
      EXPECT_EQ(e.line(), line) << e.what();
      EXPECT_THAT(e.what(), ::testing::StartsWith("/x/hive.reg:" + std::to_string(line) + ": "));
      EXPECT_THAT(e.what(), HasSubstr(reason));
    }
  }
}

}  // namespace

}  // namespace pm::test
