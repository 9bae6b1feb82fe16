#include "Real.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace pm::test {

std::vector<std::pair<double, double>> pageSizes(const std::string& pdf) {
  std::string out;
  EXPECT_EQ(run({"mutool", "pages", pdf}, &out), 0) << out;
  std::vector<std::pair<double, double>> sizes;
  for (size_t at = 0; (at = out.find("<MediaBox", at)) != std::string::npos; ++at) {
    auto attr = [&](const char* name) {
      size_t a = out.find(std::string(" ") + name + "=\"", at);
      return std::atof(out.c_str() + a + std::strlen(name) + 3);
    };
    sizes.emplace_back(attr("r") - attr("l"), attr("t") - attr("b"));
  }
  return sizes;
}

std::vector<std::string> firstLines(const std::string& pdf) {
  std::vector<std::string> lines;
  for (const std::string& text : readBack(pdf).pageText) {
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace pm::test
