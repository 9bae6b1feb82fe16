// Templates and watermarks through the JavaScript object, read back from
// the saved file.
#include "pdfserver_js/Read.h"

namespace jstest {

class Templates : public JsTest {};

TEST_F(Templates, CreateListSpawnAndRemove) {
  objectOf(call(js, "addField", {"sig", "text", 2, V({72, 100, 200, 80})}));
  ObjectRef t = objectOf(call(js, "createTemplate", {"form", 2}));
  call(js, "createTemplate", {0});  // a page number alone
  EXPECT_EQ(CLng(get(js, "numTemplates")), 2);
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {0})), "0");
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {1})), "form");
  EXPECT_FALSE(CBool(get(t, "hidden")));
  EXPECT_NE(errorOf([&] {
              call(js, "createTemplate", {"form", 1});
            }).find("already has a template"),
            std::string::npos);

  call(js, "spawnPageFromTemplate", {"form", 0, true, false});  // a new page after the first
  call(t, "spawn", {0, false, true});                           // drawn over the first page
  EXPECT_EQ(CLng(get(js, "numPages")), 4);
  std::string out = save();
  EXPECT_NE(pageText(out, 1).find("Third page"), std::string::npos);
  EXPECT_NE(pageText(out, 0).find("Third page"), std::string::npos) << "the overlay draws the template";
  EXPECT_NE(pageText(out, 0).find("Hello world"), std::string::npos) << "over the page's own text";
  std::vector<std::string> names = fieldNames(out);
  EXPECT_NE(std::find(names.begin(), names.end(), "P1.form.sig"), names.end());
  EXPECT_EQ(fieldEntry(out, "sig", "Kids/1/Rect"), "[72 80 200 100]") << "the overlay shares the field";
  EXPECT_EQ(at(out, "Root/Names/Templates/Names/0"), "(0)");

  call(js, "removeTemplate", {"form"});
  EXPECT_EQ(CLng(get(js, "numTemplates")), 1);
  EXPECT_TRUE(call(js, "getTemplate", {"form"}).isNull());
  EXPECT_NE(errorOf([&] { call(js, "spawnPageFromTemplate", {"form"}); }).find("no template named"), std::string::npos);
}

TEST_F(Templates, TextWatermarksOnEachPage) {
  call(js, "addWatermarkFromText", {"DRAFT", 1, "Helvetica-Bold", 48, V({"RGB", 1, 0, 0}), 0, 1});
  call(js, "addWatermarkFromText", {"Page 3", 0, "Times-Roman", 10, Variant::missing(), 2, 2, false});
  EXPECT_NE(errorOf([&] {
              call(js, "addWatermarkFromText", {"x", 1, "Comic Sans"});
            }).find("standard fonts"),
            std::string::npos);
  EXPECT_NE(errorOf([&] {
              call(js, "addWatermarkFromText", {"x", 1, "Helvetica", 12, Variant::missing(), 0, 0, true, false, false});
            }).find("show nowhere"),
            std::string::npos);
  std::string out = save();
  EXPECT_NE(pageText(out, 0).find("DRAFT"), std::string::npos);
  EXPECT_NE(pageText(out, 1).find("DRAFT"), std::string::npos);
  EXPECT_EQ(pageText(out, 2).find("DRAFT"), std::string::npos);
  EXPECT_NE(pageText(out, 2).find("Page 3"), std::string::npos);
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Resources/Font/Wm1/BaseFont"), "/Helvetica-Bold");
  // Below the content: the watermark's stream comes first.
  EXPECT_NE(at(out, "Root/Pages/Kids/2/Contents/0"), "");
  std::string report;
  EXPECT_TRUE(qpdfClean(out, &report)) << report;
}

TEST_F(Templates, FileWatermarks) {
  fixture::DocSpec s;
  fixture::PageSpec p;
  p.width = 200;
  p.height = 100;
  p.lines = {"CONFIDENTIAL"};
  s.pages = {p};
  std::string mark = dir.file("mark.pdf");
  fixture::makePdf(mark, s);
  call(js, "addWatermarkFromFile", {mark, 0, 1, 2, true, true, true, 1, 1, 0, 0, false, 2.0, false, 45, 0.5});
  EXPECT_NE(errorOf([&] { call(js, "addWatermarkFromFile", {dir.file("none.pdf")}); }).find("does not exist"),
            std::string::npos);
  std::string out = save();
  EXPECT_EQ(pageText(out, 0).find("CONFIDENTIAL"), std::string::npos);
  EXPECT_NE(pageText(out, 1).find("CONFIDENTIAL"), std::string::npos);
  EXPECT_NE(pageText(out, 2).find("CONFIDENTIAL"), std::string::npos);
  EXPECT_EQ(at(out, "Root/Pages/Kids/1/Resources/ExtGState/WmGs1/ca"), ".5");
}

}  // namespace jstest
