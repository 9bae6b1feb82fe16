// The XML data-source provider: rows, fields, attributes, element text,
// chapters for nested rows, and files that are not XML.
#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "support/DataFixtures.h"
#include "support/Expect.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

ObjectRef openXml(const std::string& path, const char* provider = ado::kXmlProviders[0]) {
  ObjectRef rs = CreateObject(ado::kRecordsetProgId);
  let(rs, "ActiveConnection", Variant(provider));
  call(rs, "Open", {Variant(path)});
  return rs;
}

std::vector<std::string> names(const ObjectRef& rs) {
  ObjectRef fields = objectOf(get(rs, "Fields"));
  std::vector<std::string> out;
  for (int32_t i = 0; i < CLng(get(fields, "Count")); ++i)
    out.push_back(CStr(get(objectOf(get(fields, "Item", {Variant(i)})), "Name")));
  return out;
}

class XmlProvider : public ::testing::Test {
 protected:
  // Writes an XML file of the test's and gives its path.
  std::string xml(const std::string& name, const std::string& text) {
    writeFile(dir.file(name), text);
    return dir.file(name);
  }
  TempDir dir;
};

const char* kOrders = R"(<?xml version="1.0" encoding="UTF-8"?>
<orders>
  <order id="7" status="open">
    <customer>Zoë</customer>
    <total>12.50</total>
    <line><sku>A1</sku><qty>2</qty></line>
    <line><sku>B2</sku><qty>1</qty></line>
    urgent
  </order>
  <order id="8">
    <customer>Bob &amp; Co</customer>
    <line><sku>C3</sku><qty>5</qty></line>
  </order>
</orders>
)";

TEST_F(XmlProvider, RowsFieldsAttributesTextAndChapters) {
  xml("orders.xml", kOrders);
  for (const char* provider : ado::kXmlProviders) {
    ObjectRef rs = openXml(dir.file("orders.xml"), provider);
    EXPECT_EQ(get(rs, "RecordCount"), Variant(int32_t{2}));
    EXPECT_EQ(names(rs), (std::vector<std::string>{"id", "status", "customer", "total", "line", "$Text"}));
    EXPECT_EQ(fieldType(rs, "customer"), ado::adVarWChar);
    EXPECT_EQ(fieldType(rs, "line"), ado::adChapter);
    EXPECT_EQ(fieldValue(rs, "id"), Variant("7"));
    EXPECT_EQ(fieldValue(rs, "customer"), Variant("Zoë"));
    EXPECT_EQ(fieldValue(rs, "$Text"), Variant("urgent"));

    ObjectRef lines = objectOf(fieldValue(rs, "line"));
    EXPECT_EQ(get(lines, "RecordCount"), Variant(int32_t{2}));
    EXPECT_EQ(names(lines), (std::vector<std::string>{"sku", "qty", "$Text"}));
    call(lines, "MoveNext");
    EXPECT_EQ(fieldValue(lines, "sku"), Variant("B2"));

    call(rs, "MoveNext");
    EXPECT_EQ(fieldValue(rs, "customer"), Variant("Bob & Co"));
    EXPECT_TRUE(fieldValue(rs, "status").isNull());  // absent attribute
    EXPECT_TRUE(fieldValue(rs, "total").isNull());   // absent element
    EXPECT_EQ(fieldValue(rs, "$Text"), Variant(""));
    // A single nested row is still a chapter: the field's type is the same in every row.
    EXPECT_EQ(get(objectOf(fieldValue(rs, "line")), "RecordCount"), Variant(int32_t{1}));
    call(rs, "MoveNext");
    EXPECT_EQ(get(rs, "EOF"), Variant(true));
  }
}

TEST_F(XmlProvider, RepeatedSimpleElementsAreAChapter) {
  ObjectRef rs = openXml(xml("tags.xml", "<r><item><tag>a</tag><tag>b</tag></item><item><tag>c</tag></item></r>"));
  EXPECT_EQ(fieldType(rs, "tag"), ado::adChapter);
  ObjectRef tags = objectOf(fieldValue(rs, "tag"));
  EXPECT_EQ(names(tags), (std::vector<std::string>{"$Text"}));
  call(tags, "MoveNext");
  EXPECT_EQ(fieldValue(tags, "$Text"), Variant("b"));
}

TEST_F(XmlProvider, EmptyRootHasNoRows) {
  ObjectRef rs = openXml(xml("empty.xml", "<root/>"));
  EXPECT_EQ(get(rs, "RecordCount"), Variant(int32_t{0}));
  EXPECT_EQ(get(rs, "EOF"), Variant(true));
  EXPECT_EQ(names(rs), (std::vector<std::string>{"$Text"}));
}

TEST_F(XmlProvider, FilesThatAreNotXmlFailOpenClearly) {
  // Text that is no XML at all fails the same way (the fuzz target's corpus).
  const std::string bad = xml("bad.xml", "<a><b></a>");
  ObjectRef rs = CreateObject(ado::kRecordsetProgId);
  let(rs, "ActiveConnection", Variant(ado::kXmlProviders[2]));
  EXPECT_THAT(raised([&] { call(rs, "Open", {Variant(bad)}); }).description, HoldsAll({"not well-formed", bad}));
  EXPECT_EQ(get(rs, "State"), Variant(ado::adStateClosed));
  EXPECT_RAISES("cannot be opened", call(rs, "Open", {Variant(dir.file("missing.xml"))}));
  EXPECT_THROW(let(rs, "ActiveConnection", Variant("Provider=MSDAOSP; Data Source=MSXML2.DSOControl.9.9;")),
               AutomationError);
}

// Many different names make a wide table of a small file: the reader stays
// linear, takes a few thousand fields, and refuses more, or a table out of
// all proportion to the file, at once.
TEST_F(XmlProvider, WideRowsAreReadInLinearTimeOrRefused) {
  auto wide = [](int n, bool rows) {
    std::string x = rows ? "<t>" : "<t><r>";
    for (int i = 0; i < n; ++i)
      x += (rows ? "<r><c" : "<c") + std::to_string(i) +
           (rows ? ">1</c" + std::to_string(i) + "></r>" : ">1</c" + std::to_string(i) + ">");
    return x + (rows ? "</t>" : "</r></t>");
  };
  xml("ok.xml", wide(4000, false));
  xml("columns.xml", wide(30000, false));
  xml("cells.xml", wide(3000, true));
  EXPECT_EQ(names(openXml(dir.file("ok.xml"))).size(), 4001u);
  EXPECT_RAISES("more than 4096 different fields", openXml(dir.file("columns.xml")));
  EXPECT_RAISES("too large for its size", openXml(dir.file("cells.xml")));
}

TEST_F(XmlProvider, EntitiesAreNeitherExpandedNorFetched) {
  xml("secret.txt", "SECRET");
  test::writeFile(dir.file("ent.xml"),
                  "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY ext SYSTEM \"file://" + dir.file("secret.txt") +
                      "\"><!ENTITY a \"aaaaaaaaaa\">]>\n<r><row><v>&ext;</v><w>&a;&a;</w></row></r>");
  ObjectRef rs = openXml(dir.file("ent.xml"));
  EXPECT_EQ(CStr(fieldValue(rs, "v")) + "|" + CStr(fieldValue(rs, "w")), "&ext;|&a;&a;")
      << "neither fetched nor expanded";
}

}  // namespace

}  // namespace pm::test
