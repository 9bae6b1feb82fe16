// GetURL against a small HTTP server the test runs on 127.0.0.1: the
// fetched page is laid out and appended, or replaces the pages.
#include "document_scripts/LocalService.h"
#include "pdfserver_js/Read.h"

namespace pm::test {

TEST(GetURL, AFetchedPageIsAppendedOrReplacesThePages) {
  TempDir dir;
  // The tests' web server answers /page.html with a page and /missing... with 404.
  LocalService web(
      {"/usr/bin/python3", std::string(PRESSMARK_SOURCE_DIR) + "/tests/document_scripts/http_sink.py", dir.path()});
  auto url = [&](const std::string& at) { return "http://127.0.0.1:" + std::to_string(web.port()) + at; };
  std::string path = dir.file("doc.pdf");
  DocSpec s;
  PageSpec p;
  p.lines = {"Original page"};
  s.pages = {p, p};
  makePdf(path, s);
  ObjectRef d = openDocument(path);
  call(d, "GetURL", {url("/page.html")});
  EXPECT_EQ(CLng(get(d, "NumPages")), 3);
  call(d, "Save", {1, dir.file("appended.pdf")});
  EXPECT_THAT(pageText(dir.file("appended.pdf"), 2), HasSubstr("Fetched heading"));
  EXPECT_THAT(pageText(dir.file("appended.pdf"), 0), HasSubstr("Original page"));

  // A file address, replacing every page.
  writeFile(dir.file("local.html"), "<p>From a file</p>");
  call(d, "GetURL", {"file://" + dir.file("local.html"), false});
  EXPECT_EQ(CLng(get(d, "NumPages")), 1);
  call(d, "Save", {1, dir.file("replaced.pdf")});
  EXPECT_THAT(pageText(dir.file("replaced.pdf"), 0), HasSubstr("From a file"));
  expectClean(dir.file("replaced.pdf"));

  const std::tuple<std::string, const char*> failures[] = {
      {url("/missing.html"), "404"},
      {"ftp://127.0.0.1/x", "only http, https and file"},
      {"file://" + dir.file("nothing.html"), "Cannot fetch"},
  };
  for (const auto& [url, says] : failures) {
    Raised e = raised([&] { call(d, "GetURL", {url}); });
    EXPECT_THAT(e.description, HasSubstr(says)) << e.description;
  }
  EXPECT_EQ(CLng(get(d, "NumPages")), 1) << "a failed fetch changes nothing";
}

}  // namespace pm::test
