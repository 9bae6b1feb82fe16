// The string builder's buffer growth and its take-once GetString.
#include <gtest/gtest.h>

#include <string>

#include "system/clsConcat.h"

namespace pm::test {

using pm::clsConcat;
using pm::Variant;

namespace {

// Growth happens when used + n is not less than the buffer's length: by
// 15000, or by the piece's own size when it is longer than the text so far,
// or to fit exactly when the piece outgrows the reserve.
TEST(ClsConcat, BufferGrowsBy15000OrByThePieceOrToFit) {
  struct Row {
    std::vector<size_t> pieces;
    size_t buffer;
  };
  for (const Row& r : std::vector<Row>({{{10}, 10},
                                        {{10, 10}, 15010},
                                        {{10, 10, 1}, 15010},
                                        {{10, 3}, 15010},
                                        {{10, 11}, 21},
                                        {{100, 10, 14940}, 15100},
                                        {{100, 10, 14940, 50}, 30100},
                                        {{20000, 16000}, 36000}})) {
    clsConcat c;
    std::string expected;
    for (size_t n : r.pieces) {
      std::string piece(n, static_cast<char>('a' + expected.size() % 26));
      c.SConcat(Variant(piece));
      expected += piece;
    }
    SCOPED_TRACE(testing::PrintToString(r.pieces));
    EXPECT_EQ(c.BufferLength(), r.buffer);
    EXPECT_EQ(c.UsedLength(), expected.size());
    EXPECT_EQ(c.GetString(), expected);
  }
}

TEST(ClsConcat, VariantsAreConvertedUnconvertibleOnesIgnoredAndNulsKept) {
  clsConcat c;
  c.SConcat(Variant(int32_t(12)));
  c.SConcat(Variant(true));
  c.SConcat(Variant());
  c.SConcat(Variant::null());  // CStr raises for Null; the error is ignored
  c.SConcat(Variant(2.5));
  c.SConcat("|");
  c.SConcat(std::string_view("a\0b", 3));
  EXPECT_EQ(c.GetString(), std::string("12True2.5|a\0b", 13));
}

TEST(ClsConcat, GetStringSpendsTheBufferAndTheOldLengthStaysAsReserveUntilReInit) {
  clsConcat c;
  c.SConcat("abc");
  EXPECT_EQ(c.GetString(), "abc");
  EXPECT_EQ(std::pair(c.BufferLength(), c.UsedLength()), std::pair(size_t{0}, size_t{3}));
  c.SConcat("d");
  EXPECT_EQ(c.GetString(), std::string("\0\0\0d", 4));
  EXPECT_EQ(c.GetString(), "");
  c.ReInit();
  EXPECT_EQ(c.UsedLength(), 0u);
  c.SConcat("again");
  EXPECT_EQ(c.GetString(), "again");
}

TEST(ClsConcat, SetStringStartsFromTheText) {
  clsConcat c;
  c.SConcat("ignored");
  std::string text = "start";
  c.SetString(text);
  EXPECT_EQ(std::pair(c.BufferLength(), c.UsedLength()), std::pair(size_t{15005}, size_t{5}));
  c.SConcat("-more");
  EXPECT_EQ(c.BufferLength(), 15005u);
  EXPECT_EQ(c.GetString(), "start-more");
}

}  // namespace

}  // namespace pm::test
