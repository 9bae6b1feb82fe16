#include "ThreadHome.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "automation/Error.h"

namespace pmpy {

namespace {

// RPC_E_WRONG_THREAD.
constexpr int32_t kWrongThread = static_cast<int32_t>(0x8001010Eu);

struct Parking {
  std::mutex mu;
  std::map<ThreadId, std::vector<std::function<void()>>> parked;
  std::set<ThreadId> ended;
  std::atomic<size_t> count{0};
};

Parking& parking() {
  // Never destroyed: threads may end after static destruction began.
  static Parking* p = new Parking;
  return *p;
}

void runAll(std::vector<std::function<void()>>& work) {
  for (auto& w : work) w();
  work.clear();
}

struct ThreadGuard {
  ThreadGuard() {
    Parking& p = parking();
    std::lock_guard l(p.mu);
    p.ended.erase(std::this_thread::get_id());  // thread ids are reused
  }
  ~ThreadGuard() {
    Parking& p = parking();
    std::vector<std::function<void()>> work;
    {
      std::lock_guard l(p.mu);
      p.ended.insert(std::this_thread::get_id());
      auto it = p.parked.find(std::this_thread::get_id());
      if (it != p.parked.end()) {
        work = std::move(it->second);
        p.parked.erase(it);
        p.count -= work.size();
      }
    }
    runAll(work);
  }
};

}  // namespace

ThreadId homeThread() {
  thread_local ThreadGuard guard;
  (void)guard;
  return std::this_thread::get_id();
}

void checkThread(ThreadId owner) {
  if (owner != std::this_thread::get_id())
    pm::raise(kWrongThread,
              "The application called an interface that was marshalled for a different thread: "
              "a Pressmark object is used only on the thread that made it");
}

void releaseOn(ThreadId owner, std::function<void()> release) {
  if (owner == std::this_thread::get_id()) {
    release();
    return;
  }
  Parking& p = parking();
  {
    std::lock_guard l(p.mu);
    if (!p.ended.count(owner)) {
      p.parked[owner].push_back(std::move(release));
      ++p.count;
      return;
    }
  }
  release();
}

void runParked() {
  Parking& p = parking();
  if (p.count.load(std::memory_order_relaxed) == 0) return;
  std::vector<std::function<void()>> work;
  {
    std::lock_guard l(p.mu);
    auto it = p.parked.find(std::this_thread::get_id());
    if (it == p.parked.end()) return;
    work = std::move(it->second);
    p.parked.erase(it);
    p.count -= work.size();
  }
  runAll(work);
}

}  // namespace pmpy
