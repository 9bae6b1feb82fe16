// A time limit on every document script.
//
// MuPDF runs document JavaScript in MuJS, which has no interrupt of its own
// and runs `while(true){}` for ever. Its interpreter does test one thing
// before every instruction: whether enough was allocated to collect garbage,
// and then it calls js_gc. The clock uses that as a safe point: a watchdog
// thread raises the allocation count of every live script engine once a
// deadline has passed, the interpreter then calls js_gc, and the engine's
// js_gc (which MuJS reaches through the symbol table before the real one)
// throws a script error instead of collecting, at every instruction, until the
// run has unwound. The engine's state stays whole, as after any script error.
//
// The engine wraps every way into a document's scripts and owns that js_gc
// (engine/ScriptHooks.h); this clock is what its hooks do. The first entry
// inside a guard() call sets the deadline that guard() ends (engine/Mu.h).
// So no caller has to remember to hold a clock: a script that a value change
// or a save starts is bounded as one that a bookmark starts.

#include <mujs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "servers/pdf/engine/Mu.h"

namespace pm::mu {
namespace {

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One per thread that calls into MuPDF: the deadline of its current outer
// call (0: none) and whether a script of that call was stopped.
struct Slot {
  std::atomic<int64_t> deadline{0};
  std::atomic<bool> expired{false};
  int depth = 0;
  bool listed = false;
  ~Slot();
};

struct Registry {
  std::mutex m;
  std::condition_variable cv;
  std::vector<Slot*> slots;
  std::vector<js_State*> states;
  int armed = 0;
  int64_t earliest = 0;
};
// Never destroyed: the watchdog and other threads may outlive static destructors.
Registry& reg() {
  static Registry* r = new Registry;
  return *r;
}

Slot::~Slot() {
  if (!listed) return;
  Registry& r = reg();
  std::lock_guard lk(r.m);
  r.slots.erase(std::remove(r.slots.begin(), r.slots.end(), this), r.slots.end());
}

thread_local Slot tSlot;

// Where MuJS keeps its allocation count inside js_State, found once by
// watching a state of our own allocate (MuJS does not publish its layout).
long gOffset = -1;
bool gBounded = false;
thread_local js_State* tProbe = nullptr;
thread_local bool tProbeSeen = false;
// Far above any collection threshold, far below overflow.
constexpr uint32_t kPoke = 0x40000000u;

void poke(js_State* J) {
  __atomic_store_n(reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(J) + gOffset), kPoke, __ATOMIC_RELAXED);
}

struct ProbeAlloc {
  void* first = nullptr;
  int size = 0;
};
void* probeAlloc(void* actx, void* ptr, int size) {
  auto* p = static_cast<ProbeAlloc*>(actx);
  if (size == 0) {
    std::free(ptr);
    return nullptr;
  }
  void* r = std::realloc(ptr, static_cast<size_t>(size));
  if (!ptr && !p->first) {
    p->first = r;
    p->size = size;
  }
  return r;
}

void discover() {
  ProbeAlloc pa;
  js_State* J = js_newstate(probeAlloc, &pa, 0);
  if (!J) return;
  if (pa.first == J && pa.size >= 64) {
    size_t words = static_cast<size_t>(pa.size) / 4;
    auto snap = [&] {
      std::vector<uint32_t> v(words);
      std::memcpy(v.data(), J, words * 4);
      return v;
    };
    auto make = [&](int n) {
      for (int i = 0; i < n; ++i) {
        js_newobject(J);
        js_pop(J, 1);
      }
    };
    std::vector<uint32_t> a = snap();
    make(100);
    std::vector<uint32_t> b = snap();
    make(37);
    std::vector<uint32_t> c = snap();
    long found = -1;
    int hits = 0;
    for (size_t i = 0; i < words; ++i) {
      if (b[i] - a[i] == 100 && c[i] - b[i] == 37) {
        found = static_cast<long>(i * 4);
        ++hits;
      }
    }
    if (hits == 1) {
      gOffset = found;
      // The interpreter must reach the engine's js_gc once the count is raised.
      tProbe = J;
      tProbeSeen = false;
      poke(J);
      if (js_ploadstring(J, "[probe]", "0;") == 0) {
        js_pushundefined(J);
        js_pcall(J, 0);
      }
      js_pop(J, 1);
      tProbe = nullptr;
      gBounded = tProbeSeen;
    }
  }
  js_freestate(J);
}

std::once_flag gOnce;

void watch() {
  Registry& r = reg();
  std::unique_lock lk(r.m);
  for (;;) {
    if (r.armed == 0) {
      r.cv.wait(lk);
      continue;
    }
    int64_t earliest = 0;
    for (Slot* s : r.slots) {
      int64_t d = s->deadline.load();
      if (d && (!earliest || d < earliest)) earliest = d;
    }
    r.earliest = earliest;
    int64_t now = nowNs();
    if (!earliest) {
      r.cv.wait(lk);
    } else if (now < earliest) {
      r.cv.wait_for(lk, std::chrono::nanoseconds(earliest - now));
    } else {
      // Late: keep every engine at its safe point until the late runs unwound
      // (the interpreter's own counting may overwrite a single raise).
      if (gOffset >= 0)
        for (js_State* J : r.states) poke(J);
      r.cv.wait_for(lk, std::chrono::milliseconds(10));
    }
  }
}

void start() {
  discover();
  std::thread(watch).detach();
}

double scriptSeconds() {
  const char* e = std::getenv("PRESSMARK_SCRIPT_SECONDS");
  if (e && *e) {
    char* end = nullptr;
    double v = std::strtod(e, &end);
    if (end && !*end && v > 0 && v <= 86400) return v;
  }
  return 10;
}

[[noreturn]] void raiseScriptTimeout() {
  char secs[32];
  std::snprintf(secs, sizeof secs, "%g", scriptSeconds());
  fail(std::string("The document's script ran longer than ") + secs + " seconds and was stopped");
}

bool bounded() {
  std::call_once(gOnce, start);
  return gBounded;
}

// Sets this thread's deadline unless a run of the same guard() call already
// did. No destructor and no state that a longjmp out of the engine could
// leave half-done: guard() ends the deadline whatever way the call ended.
void entered() {
  if (tScriptDeadline) return;
  std::call_once(gOnce, start);
  Slot& s = tSlot;
  s.expired = false;
  int64_t deadline = nowNs() + static_cast<int64_t>(scriptSeconds() * 1e9);
  Registry& r = reg();
  std::lock_guard lk(r.m);
  if (!s.listed) {
    r.slots.push_back(&s);
    s.listed = true;
  }
  s.deadline = deadline;
  tScriptDeadline = true;
  // The watchdog sleeps until the earliest deadline it knows; wake it only
  // when this one comes sooner.
  if (r.armed++ == 0 || !r.earliest || deadline < r.earliest) {
    r.earliest = 0;
    r.cv.notify_one();
  }
}

void ended() {
  Slot& s = tSlot;
  {
    Registry& r = reg();
    std::lock_guard lk(r.m);
    s.deadline = 0;
    --r.armed;
  }
  if (s.expired.exchange(false)) raiseScriptTimeout();
}

bool stop(js_State* J) {
  if (J == tProbe) tProbeSeen = true;
  int64_t d = tSlot.deadline.load(std::memory_order_relaxed);
  if (!d || nowNs() < d) return false;
  tSlot.expired = true;
  return true;
}

// The watchdog knows every live engine.
void made(js_State* J) {
  Registry& r = reg();
  std::lock_guard lk(r.m);
  r.states.push_back(J);
}

void freed(js_State* J) {
  Registry& r = reg();
  std::lock_guard lk(r.m);
  r.states.erase(std::remove(r.states.begin(), r.states.end(), J), r.states.end());
}

[[maybe_unused]] const bool gRegistered = [] {
  registerScriptHooks(ScriptHooks{&bounded, &entered, &ended, &stop, &made, &freed});
  return true;
}();

}  // namespace
}  // namespace pm::mu
