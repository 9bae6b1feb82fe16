// Templates and watermarks through the JavaScript object, read back from
// the saved file.
#include "pdfserver_js/Read.h"

namespace pm::test {

class Templates : public JsTest {};

TEST_F(Templates, CreateListSpawnAndRemove) {
  objectOf(call(js, "addField", {"sig", "text", 2, V({72, 100, 200, 80})}));
  ObjectRef t = objectOf(call(js, "createTemplate", {"form", 2}));
  call(js, "createTemplate", {0});  // a page number alone
  EXPECT_EQ(CLng(get(js, "numTemplates")), 2);
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {0})), "0");
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {1})), "form");
  EXPECT_FALSE(CBool(get(t, "hidden")));
  EXPECT_RAISES("already has a template", call(js, "createTemplate", {"form", 1}));

  call(js, "spawnPageFromTemplate", {"form", 0, true, false});  // a new page after the first
  call(t, "spawn", {0, false, true});                           // drawn over the first page
  EXPECT_EQ(CLng(get(js, "numPages")), 4);
  std::string out = save();
  EXPECT_THAT(pageText(out, 1), HasSubstr("Third page"));
  EXPECT_THAT(pageText(out, 0), HasSubstr("Third page")) << "the overlay draws the template";
  EXPECT_THAT(pageText(out, 0), HasSubstr("Hello world")) << "over the page's own text";
  std::vector<std::string> names = fieldNames(out);
  EXPECT_NE(std::find(names.begin(), names.end(), "P1.form.sig"), names.end());
  EXPECT_EQ(fieldEntry(out, "sig", "Kids/1/Rect"), "[72 80 200 100]") << "the overlay shares the field";
  EXPECT_EQ(at(out, "Root/Names/Templates/Names/0"), "(0)");

  call(js, "removeTemplate", {"form"});
  EXPECT_EQ(CLng(get(js, "numTemplates")), 1);
  EXPECT_TRUE(call(js, "getTemplate", {"form"}).isNull());
  EXPECT_RAISES("no template named", call(js, "spawnPageFromTemplate", {"form"}));
}

}  // namespace pm::test
