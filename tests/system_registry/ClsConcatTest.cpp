// The string builder's buffer growth and its take-once GetString.
#include <gtest/gtest.h>

#include <string>

#include "system/clsConcat.h"

using pm::clsConcat;
using pm::Variant;

namespace {

TEST(ClsConcat, FirstPieceSizesTheBufferThenItGrowsBy15000) {
  clsConcat c;
  c.SConcat(Variant("0123456789"));
  EXPECT_EQ(c.BufferLength(), 10u);
  EXPECT_EQ(c.UsedLength(), 10u);
  c.SConcat(Variant("abcdefghij"));  // 20 is not less than 10: grow
  EXPECT_EQ(c.BufferLength(), 15010u);
  c.SConcat(Variant("x"));  // fits: no growth
  EXPECT_EQ(c.BufferLength(), 15010u);
  EXPECT_EQ(c.GetString(), "0123456789abcdefghijx");
}

TEST(ClsConcat, ShortSecondPieceAlsoGrowsBy15000) {
  clsConcat c;
  c.SConcat(std::string(10, 'a'));
  c.SConcat(std::string(3, 'b'));
  EXPECT_EQ(c.BufferLength(), 15010u);
  clsConcat d;
  d.SConcat(std::string(10, 'a'));
  d.SConcat(std::string(11, 'b'));  // longer than the text so far: grows by its own size
  EXPECT_EQ(d.BufferLength(), 21u);
}

TEST(ClsConcat, ExactFitStillGrows) {
  // Growth happens when used + n is not less than the buffer's length.
  clsConcat c;
  c.SConcat(std::string(100, 'a'));
  c.SConcat(std::string(10, 'b'));
  EXPECT_EQ(c.BufferLength(), 15100u);
  c.SConcat(std::string(14940, 'b'));  // 15050 < 15100: fits
  EXPECT_EQ(c.BufferLength(), 15100u);
  c.SConcat(std::string(50, 'c'));  // 15100 is not less than 15100
  EXPECT_EQ(c.BufferLength(), 30100u);
  EXPECT_EQ(c.UsedLength(), 15100u);
}

TEST(ClsConcat, PieceLongerThanTheReserveIsStoredWhole) {
  clsConcat c;
  std::string text(20000, 't');
  c.SConcat(text);
  std::string piece(16000, 'p');  // shorter than the text, longer than 15000
  piece.front() = '<';
  piece.back() = '>';
  c.SConcat(piece);
  EXPECT_GE(c.BufferLength(), 36000u);
  EXPECT_EQ(c.BufferLength(), 36000u);  // 20000 + 15000 is short; grown to fit exactly
  std::string all = c.GetString();
  EXPECT_EQ(all, text + piece);
}

TEST(ClsConcat, ManyPiecesKeepTheirOrder) {
  clsConcat c;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    std::string row = std::to_string(i) + "\t" + std::string(i % 17, 'x') + "\r\n";
    c.SConcat(Variant(row));
    expected += row;
  }
  EXPECT_EQ(c.GetString(), expected);
}

TEST(ClsConcat, VariantsAreConvertedAndUnconvertibleOnesIgnored) {
  clsConcat c;
  c.SConcat(Variant(int32_t(12)));
  c.SConcat(Variant(true));
  c.SConcat(Variant());
  c.SConcat(Variant::null());  // CStr raises for Null; the error is ignored
  c.SConcat(Variant(2.5));
  c.SConcat("|");
  c.SConcat(std::string_view("end"));
  EXPECT_EQ(c.GetString(), "12True2.5|end");
}

TEST(ClsConcat, GetStringSpendsTheBufferUntilReInit) {
  clsConcat c;
  c.SConcat("hello");
  EXPECT_EQ(c.GetString(), "hello");
  EXPECT_EQ(c.BufferLength(), 0u);
  EXPECT_EQ(c.UsedLength(), 5u);
  EXPECT_EQ(c.GetString(), "");
  c.ReInit();
  EXPECT_EQ(c.UsedLength(), 0u);
  c.SConcat("again");
  EXPECT_EQ(c.GetString(), "again");
}

TEST(ClsConcat, WithoutReInitTheOldLengthStaysAsReserve) {
  clsConcat c;
  c.SConcat("abc");
  c.GetString();
  c.SConcat("d");
  EXPECT_EQ(c.GetString(), std::string("\0\0\0d", 4));
}

TEST(ClsConcat, TextWithNulsIsKept) {
  clsConcat c;
  c.SConcat(std::string_view("a\0b", 3));
  EXPECT_EQ(c.GetString(), std::string("a\0b", 3));
}

TEST(ClsConcat, SetStringStartsFromTheText) {
  clsConcat c;
  c.SConcat("ignored");
  std::string text = "start";
  c.SetString(text);
  EXPECT_EQ(c.BufferLength(), 5u + 15000u);
  EXPECT_EQ(c.UsedLength(), 5u);
  c.SConcat("-more");
  EXPECT_EQ(c.BufferLength(), 15005u);
  EXPECT_EQ(c.GetString(), "start-more");
}

}  // namespace
