// The whole of an automation error in one comparable value, so a test
// states number, description and source in one line.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace pm::test {

struct Raised {
  int32_t number = 0;  // 0: nothing was raised
  std::string description, source;
  bool operator==(const Raised&) const = default;
};
inline void PrintTo(const Raised& r, std::ostream* os) {
  *os << r.number << " (" << r.source << "): " << r.description;
}

Raised raised(const std::function<void()>& f);

}  // namespace pm::test
