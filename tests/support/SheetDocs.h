// Workbooks the spreadsheet tests write for themselves, as flat ODF (one XML
// file the office reads directly): sheets of typed cells with number
// formats, each sheet in portrait or landscape.
#pragma once

#include <string>
#include <vector>

namespace pm::test {

struct SheetCell {
  enum Kind { Empty, Number, Text, Date, Bool } kind = Empty;
  double number = 0;   // Number
  std::string text;    // Text; Date as "YYYY-MM-DD"
  bool flag = false;   // Bool
  std::string format;  // Number: "" general, "0.00", "#,##0.00", "0.0%"
  static SheetCell num(double v, std::string fmt = {}) { return {Number, v, {}, false, std::move(fmt)}; }
  static SheetCell str(std::string s) { return {Text, 0, std::move(s), false, {}}; }
  static SheetCell date(std::string ymd) { return {Date, 0, std::move(ymd), false, {}}; }
  static SheetCell boolean(bool b) { return {Bool, 0, {}, b, {}}; }
};

struct Sheet {
  std::string name;
  std::vector<std::vector<SheetCell>> rows;
  bool landscape = false;
};

std::string makeFods(const std::vector<Sheet>& sheets);
// A sheet of rows x cols numbers, cell (r, c) = r * 1000 + c (1-based).
Sheet numberGrid(const std::string& name, int rows, int cols);

}  // namespace pm::test
