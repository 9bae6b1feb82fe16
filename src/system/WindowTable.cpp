#include "system/WindowTable.h"

#include <strings.h>

#include <map>
#include <mutex>

namespace pm::windows {

namespace {
struct Window {
  std::string className, title;
  bool visible = false;
  Handler handler;
};
std::mutex mu;
std::map<Handle, Window>& table() {
  static std::map<Handle, Window> t;
  return t;
}
Handle next = 0x10000;
}  // namespace

Handle create(std::string className, std::string title, bool visible, Handler handler) {
  std::lock_guard<std::mutex> l(mu);
  Handle h = next += 4;
  table()[h] = Window{std::move(className), std::move(title), visible, std::move(handler)};
  return h;
}

void destroy(Handle h) {
  std::lock_guard<std::mutex> l(mu);
  table().erase(h);
}

void setVisible(Handle h, bool v) {
  std::lock_guard<std::mutex> l(mu);
  auto it = table().find(h);
  if (it != table().end()) it->second.visible = v;
}

void setTitle(Handle h, std::string title) {
  std::lock_guard<std::mutex> l(mu);
  auto it = table().find(h);
  if (it != table().end()) it->second.title = std::move(title);
}

bool exists(Handle h) {
  std::lock_guard<std::mutex> l(mu);
  return table().count(h) != 0;
}

bool visible(Handle h) {
  std::lock_guard<std::mutex> l(mu);
  auto it = table().find(h);
  return it != table().end() && it->second.visible;
}

Handle find(const std::string& className, const std::string& title) {
  std::lock_guard<std::mutex> l(mu);
  for (auto& [h, w] : table()) {
    if (!className.empty() && w.className != className) continue;
    if (!title.empty() && strcasecmp(w.title.c_str(), title.c_str()) != 0) continue;
    return h;
  }
  return 0;
}

int64_t send(Handle h, uint32_t message) {
  Handler fn;
  {
    std::lock_guard<std::mutex> l(mu);
    auto it = table().find(h);
    if (it == table().end()) return 0;
    fn = it->second.handler;
  }
  // The handler runs without the lock: it may destroy its own window.
  int64_t r = fn ? fn(message) : 0;
  if (!fn && (message == kMsgClose || message == kMsgDestroy)) destroy(h);
  return r;
}

}  // namespace pm::windows
