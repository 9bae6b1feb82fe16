// ExcelToTwoDArray of a 100,000-cell block (1,000 rows x 100 columns)
// through the warm office, against reading the same cells with a fresh
// `soffice --headless --convert-to csv` per read. Prints the first-call
// latency (office start included) and the warm time per read, for the
// displayed texts and for the typed values.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "system/Process.h"

using namespace pm;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 1000, kCols = 100;

std::string workbook() {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document "
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.2\" "
      "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"><office:body><office:spreadsheet>"
      "<table:table table:name=\"Block\">\n";
  for (int r = 1; r <= kRows; ++r) {
    s += "<table:table-row>";
    for (int c = 1; c <= kCols; ++c)
      s += "<table:table-cell office:value-type=\"float\" office:value=\"" + std::to_string(r * 1000 + c) + "\"/>";
    s += "</table:table-row>\n";
  }
  return s + "</table:table></office:spreadsheet></office:body></office:document>\n";
}

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  if (!ClassRegistry::instance().has("Excel.Application")) {
    std::printf("Excel.Application is not served (the office server was not built); nothing to measure.\n");
    return 0;
  }
  std::string dir = std::filesystem::temp_directory_path() / ("pm-bench-excel-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string book = dir + "/block.fods";
  std::ofstream(book) << workbook();

  registerCreatePDF();
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  auto read = [&](bool values) {
    Variant path(book), sheet(int16_t{1}), array, v(values);
    int16_t rc = CInt(call(pdf, "ExcelToTwoDArray",
                           {ByRef(path), ByRef(sheet), Arg(int32_t{1}), Arg(int32_t{1}), Arg(int32_t{kRows}),
                            Arg(int32_t{kCols}), ByRef(array), ByRef(v)}));
    bool ok = rc == 1 && array.isArray() && array.array().size() == static_cast<size_t>(kRows) * kCols &&
              CStr(array.array().at({kRows - 1, kCols - 1})) == std::to_string(kRows * 1000 + kCols);
    if (!ok) std::printf("ExcelToTwoDArray returned %d with an unexpected array\n", rc);
    return ok;
  };

  auto t0 = Clock::now();
  bool ok = read(false);
  double first = seconds(Clock::now() - t0);
  t0 = Clock::now();
  for (int i = 0; i < runs; ++i) ok = read(false) && ok;
  double texts = seconds(Clock::now() - t0);
  t0 = Clock::now();
  for (int i = 0; i < runs; ++i) ok = read(true) && ok;
  double values = seconds(Clock::now() - t0);

  // The command, one process per read, with a profile of its own (made by
  // a first run that is not counted); the cells are read back from the CSV.
  std::string profile = "-env:UserInstallation=file://" + dir + "/soffice-profile";
  auto convert = [&] {
    ProcessOptions o;
    o.argv = {"soffice", profile, "--headless", "--convert-to", "csv", "--outdir", dir + "/cmd", book};
    o.timeout = std::chrono::minutes(2);
    o.onLine = [](OutputStream, std::string_view) {};
    if (!runProcess(std::move(o)).success()) return false;
    std::ifstream in(dir + "/cmd/block.csv");
    size_t cells = 0;
    for (std::string line; std::getline(in, line);)
      cells += 1 + static_cast<size_t>(std::count(line.begin(), line.end(), ','));
    return cells == static_cast<size_t>(kRows) * kCols;
  };
  convert();
  t0 = Clock::now();
  int good = 0;
  for (int i = 0; i < runs; ++i) good += convert() ? 1 : 0;
  double command = seconds(Clock::now() - t0);

  std::printf("block: %d rows x %d columns = %d cells\n", kRows, kCols, kRows * kCols);
  std::printf("first ExcelToTwoDArray (office start included): %.3f s\n", first);
  std::printf("%d x ExcelToTwoDArray texts, warm office:  %.3f s per read\n", runs, texts / runs);
  std::printf("%d x ExcelToTwoDArray values, warm office: %.3f s per read\n", runs, values / runs);
  std::printf("%d x soffice --headless --convert-to csv:  %.3f s per read (%d succeeded)\n", runs, command / runs,
              good);
  std::printf("speed-up of the warm office (texts): %.1fx\n", command / texts);
  std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
