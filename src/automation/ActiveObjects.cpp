#include "automation/ActiveObjects.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

#include "automation/Error.h"

namespace pm {
namespace {

struct Entry {
  uint64_t token;
  std::string key;
  std::weak_ptr<Dispatch> object;
};

struct Table {
  std::mutex mu;
  std::vector<Entry> entries;
  uint64_t next = 1;
};

Table& table() {
  static Table* t = new Table;  // outlives the objects that revoke at exit
  return *t;
}

std::string fold(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

}  // namespace

uint64_t RegisterActiveObject(std::string progId, const ObjectRef& obj) {
  Table& t = table();
  std::lock_guard l(t.mu);
  std::erase_if(t.entries, [](const Entry& e) { return e.object.expired(); });
  uint64_t token = t.next++;
  t.entries.push_back(Entry{token, fold(progId), obj});
  return token;
}

void RevokeActiveObject(uint64_t token) {
  Table& t = table();
  std::lock_guard l(t.mu);
  std::erase_if(t.entries, [&](const Entry& e) { return e.token == token; });
}

ObjectRef GetActiveObject(std::string_view progId) {
  std::string key = fold(progId);
  Table& t = table();
  {
    std::lock_guard l(t.mu);
    for (auto it = t.entries.rbegin(); it != t.entries.rend(); ++it)
      if (it->key == key)
        if (ObjectRef o = it->object.lock()) return o;
  }
  raise(basic::CannotCreateObject,
        std::string(basicDescription(basic::CannotCreateObject)) + ": no running \"" + std::string(progId) + "\"");
}

}  // namespace pm
