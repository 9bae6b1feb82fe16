#include "automation/surfaces/Distiller.h"

namespace pm::distiller {

std::mutex& WrittenDriver::mutex() {
  static std::mutex m;
  return m;
}

std::map<WrittenDriver::Key, std::vector<std::string>>& WrittenDriver::table() {
  static std::map<Key, std::vector<std::string>> t;
  return t;
}

}  // namespace pm::distiller
