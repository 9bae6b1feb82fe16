// PrintDocument through the test scheduler's file queue: the page range,
// the order and what is drawn reach the printer.
#include <chrono>
#include <filesystem>
#include <thread>

#include "pdfserver_js/Read.h"

namespace pm::test {

namespace fs = std::filesystem;

int countOf(const std::string& s, const std::string& needle) {
  int n = 0;
  for (size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1)) ++n;
  return n;
}

TEST(PrintDocument, APrintedRangeReachesTheQueue) {
  PM_REQUIRE_OR_SKIP(pm::test::haveTestCups(),
                     "PRESSMARK_TEST_CUPS is not set: no test cupsd (scripts/services/cups.sh)");
  pm::test::resetTestCupsDefault();
  std::string queue = pm::test::testCupsDir() + "/out/ps-queue.prn";
  fs::remove(queue);
  TempDir dir;
  std::string path = dir.file("print.pdf");
  DocSpec s;
  for (int i = 0; i < 4; ++i) s.pages.push_back(PageSpec{});
  makePdf(path, s);
  ObjectRef d = openDocument(path);
  call(d, "PrintDocument", {false, 2, 3, true, false, false, true, false});
  for (int i = 0; i < 300 && !(fs::exists(queue) && fs::file_size(queue) > 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(fs::exists(queue)) << "nothing reached " << queue;
  std::string job = readFile(queue);
  EXPECT_EQ(job.substr(0, 4), "%!PS");
  EXPECT_EQ(countOf(job, "%%Page: "), 2) << "pages 2 and 3 only";
  EXPECT_THROW(call(d, "PrintDocument", {false, 4, 6}), AutomationError);
}

}  // namespace pm::test
