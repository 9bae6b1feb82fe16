// The file table and SortArray: the listing of a folder (pattern, normal
// files only, trailing separator, the output left out), the key checks and
// their codes, and the quicksort's placing of equal keys.
#include <gtest/gtest.h>
#include <pthread.h>

#include <filesystem>
#include <functional>

#include "component/pdffiles/FileTable.h"
#include "support/TestSupport.h"
#include "support/Expect.h"

namespace pm::test {

namespace {

using Names = std::vector<std::string>;

Variant keys(int16_t column, const char* order) {
  return Variant(Array::vector({Variant(column), Variant(order)}));
}

// A table of (name, size) rows with an empty date column.
Variant table(const std::vector<std::pair<std::string, int32_t>>& rows) {
  Array t = Array::matrix(static_cast<int32_t>(rows.size()), 3);
  for (size_t r = 0; r < rows.size(); ++r) {
    t.set({int32_t(r), 0}, Variant(rows[r].first));
    t.set({int32_t(r), 1}, Variant(rows[r].second));
  }
  return Variant(std::move(t));
}

Names names(const Variant& t) {
  Names out;
  for (int32_t r = t.array().lbound(1); r <= t.array().ubound(1); ++r) out.push_back(CStr(t.array().at({r, 0})));
  return out;
}

Names listed(const DirectoryListing& l) {
  return l.count ? names(l.table) : Names{};
}

}  // namespace

TEST(SortArray, ResultCodesOfTheKeyChecks) {
  Variant t = table({{"b", 1}, {"a", 2}});
  Variant notArray("text");
  EXPECT_EQ(SortArray(notArray, keys(0, "asc")), -1);
  EXPECT_EQ(SortArray(t, Variant(Array::vector({Variant("x"), Variant("asc")}))), -2);
  EXPECT_EQ(SortArray(t, keys(3, "asc")), -3);
  EXPECT_EQ(SortArray(t, keys(-1, "asc")), -3);
  EXPECT_EQ(SortArray(t, keys(0, "ASC")), -4);
  EXPECT_EQ(SortArray(t, Variant(Array::vector({Variant(int16_t{0})}))), -4) << "a pair without its order";
  EXPECT_EQ(names(t), (Names{"b", "a"})) << "nothing is sorted after a bad key";
  EXPECT_EQ(SortArray(t, keys(0, "asc")), 1);
  EXPECT_EQ(names(t), (Names{"a", "b"}));
  EXPECT_EQ(CheckSortKeys(0, 2, keys(2, "dec")), 0);
}

TEST(SortArray, EqualKeysComeOutWhereTheQuicksortStepsPutThem) {
  // Pivot x: w fills its hole from the right, y stays, z is moved right,
  // the pivot lands before z; then w (pivot) keeps y after it. The two
  // rows of size 1 come out against their listing order.
  Variant t = table({{"x", 2}, {"y", 1}, {"z", 2}, {"w", 1}});
  EXPECT_EQ(SortArray(t, keys(1, "asc")), 1);
  EXPECT_EQ(names(t), (Names{"w", "y", "x", "z"}));
}

namespace {

// Runs fn on a thread with a stack of the given size, so a recursion as
// deep as the table is long overflows it where the default stack would not.
void onSmallStack(size_t bytes, const std::function<void()>& fn) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t t;
  auto body = [](void* p) -> void* {
    (*static_cast<const std::function<void()>*>(p))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&t, &attr, body, const_cast<std::function<void()>*>(&fn)), 0);
  pthread_join(t, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace

TEST(SortArray, ALongSortedTableDoesNotExhaustTheStack) {
  std::vector<std::pair<std::string, int32_t>> rows;
  // The first-row pivot makes a sorted table the quadratic case: a plain
  // recursion would go this many levels deep, more than the small stack
  // below holds, while the bounded one goes a dozen levels deep.
  for (int i = 0; i < 4000; ++i) rows.push_back({"f" + std::to_string(100000 + i), i});
  Variant t = table(rows);
  int16_t result = 0;
  onSmallStack(160 * 1024, [&] { result = SortArray(t, keys(1, "asc")); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(CStr(t.array().at({0, 0})), "f100000");
  EXPECT_EQ(CStr(t.array().at({3999, 0})), "f103999");
}

class Listing : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir_.file("one.pdf"), "1");
    writeFile(dir_.file("Two.PDF"), "22");
    writeFile(dir_.file("three.pdf"), "333");
    writeFile(dir_.file("notes.txt"), "");
    writeFile(dir_.file(".hidden.pdf"), "x");
    std::filesystem::create_directory(dir_.file("folder.pdf"));
  }
  bool list(const std::string& pattern, int32_t type, int32_t order = 0, const std::function<void()>& before = {},
            const std::function<bool(const struct stat&)>& exclude = {}, const std::string& dir = {}) {
    l = DirectoryListing();
    return ListDirectory(Variant(dir.empty() ? dir_.path() : dir), Variant(pattern), Variant(type), Variant(order), l,
                         before, exclude);
  }
  TempDir dir_;
  DirectoryListing l;
};

TEST_F(Listing, NormalFilesMatchingThePatternInEitherCase) {
  ASSERT_TRUE(list("*.pdf", 1));
  EXPECT_EQ(l.directory, dir_.path() + "/");
  EXPECT_EQ(listed(l), (Names{"Two.PDF", "one.pdf", "three.pdf"}));
  EXPECT_EQ(l.table.array().at({0, kColumnLength}), Variant(int32_t{2}));
  EXPECT_EQ(l.table.array().at({0, kColumnModified}).type(), VT::Date);
  EXPECT_EQ(l.path(0), dir_.path() + "/Two.PDF");
  // A trailing separator changes nothing; "*.*" is every file.
  ASSERT_TRUE(list("*.*", 2, 5, {}, {}, dir_.path() + "/"));
  EXPECT_EQ(listed(l), (Names{"three.pdf", "Two.PDF", "one.pdf", "notes.txt"}))
      << "by size, any non-zero order descending";
}

TEST_F(Listing, SortTypesOutsideTheRangeKeepTheEnumerationOrder) {
  Names expected;  // the order the platform's enumeration gives
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    if (std::string n = e.path().filename(); e.is_regular_file() && n[0] != '.' && LCase(n).ends_with(".pdf"))
      expected.push_back(n);
  for (int32_t type : {0, 4, -1}) {
    ASSERT_TRUE(list("*.pdf", type));
    EXPECT_EQ(listed(l), expected) << type;
  }
}

TEST_F(Listing, NothingMatchingEndsBeforeTheTableAndTheExcludedFileIsNotListed) {
  int before = 0;
  EXPECT_FALSE(list("*.doc", 0, 0, [&] { ++before; }));
  EXPECT_EQ(before, 0);
  EXPECT_EQ(l.count, 0);
  struct stat self {};
  ASSERT_EQ(::stat(dir_.file("one.pdf").c_str(), &self), 0);
  auto isOne = [&](const struct stat& st) { return st.st_ino == self.st_ino && st.st_dev == self.st_dev; };
  ASSERT_TRUE(list(
      "*.pdf", 1, 0, [&] { ++before; }, isOne));
  EXPECT_EQ(before, 1);
  EXPECT_EQ(listed(l), (Names{"Two.PDF", "three.pdf"}));
  EXPECT_FALSE(list("one.pdf", 0, 0, {}, isOne)) << "a listing of only the excluded file is an empty one";
  EXPECT_EQ(raised([&] { list("*.pdf", 0, 0, {}, {}, dir_.file("missing")); }).number, basic::PathNotFound)
      << "a folder that cannot be read is an error";
}

}  // namespace pm::test
