#include "servers/pdf/js/ScriptClock.h"

#include <dlfcn.h>
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

#include "automation/Error.h"
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

using GcFn = void (*)(js_State*, int);
GcFn realGc() {
  static GcFn fn = reinterpret_cast<GcFn>(dlsym(RTLD_NEXT, "js_gc"));
  return fn;
}

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
  if (pa.first == J && pa.size >= 64 && realGc()) {
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
      // The interpreter must reach this library's js_gc once the count is raised.
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

}  // namespace

double scriptSeconds() {
  const char* e = std::getenv("PRESSMARK_SCRIPT_SECONDS");
  if (e && *e) {
    char* end = nullptr;
    double v = std::strtod(e, &end);
    if (end && !*end && v > 0 && v <= 86400) return v;
  }
  return 10;
}

namespace {

// Sets this thread's deadline unless a run of the same guard() call already
// did. No destructor and no state that a longjmp out of the engine could
// leave half-done: guard() ends the deadline whatever way the call ended.
void startScriptRun() {
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

}  // namespace

thread_local bool tScriptDeadline = false;

void endScriptDeadline() {
  Slot& s = tSlot;
  {
    Registry& r = reg();
    std::lock_guard lk(r.m);
    s.deadline = 0;
    --r.armed;
  }
  tScriptDeadline = false;
  if (s.expired.exchange(false)) raiseScriptTimeout();
}

void requireBoundedScripts() {
  std::call_once(gOnce, start);
  if (!gBounded)
    throw AutomationError(kErrEngine, kEngineSource,
                          "Document scripts cannot run here: this script engine cannot be stopped after a time limit");
}

void raiseScriptTimeout() {
  char secs[32];
  std::snprintf(secs, sizeof secs, "%g", scriptSeconds());
  throw AutomationError(kErrEngine, kEngineSource,
                        std::string("The document's script ran longer than ") + secs + " seconds and was stopped");
}

}  // namespace pm::mu

using pm::mu::reg;

// MuPDF's engines are made and freed here (the link wraps these two), so the
// watchdog knows every live state.
extern "C" js_State* __real_js_newstate(js_Alloc alloc, void* actx, int flags);
extern "C" void __real_js_freestate(js_State* J);

extern "C" js_State* __wrap_js_newstate(js_Alloc alloc, void* actx, int flags) {
  js_State* J = __real_js_newstate(alloc, actx, flags);
  if (J) {
    auto& r = reg();
    std::lock_guard lk(r.m);
    r.states.push_back(J);
  }
  return J;
}

extern "C" void __wrap_js_freestate(js_State* J) {
  {
    auto& r = reg();
    std::lock_guard lk(r.m);
    r.states.erase(std::remove(r.states.begin(), r.states.end(), J), r.states.end());
  }
  __real_js_freestate(J);
}

// The interpreter's safe point (see ScriptClock.h). Exported so that MuJS
// binds its calls here; the real collector is the next definition.
extern "C" __attribute__((visibility("default"))) void js_gc(js_State* J, int report) {
  using namespace pm::mu;
  if (J == tProbe) tProbeSeen = true;
  int64_t d = tSlot.deadline.load(std::memory_order_relaxed);
  if (d && nowNs() >= d) {
    tSlot.expired = true;
    js_error(J, "the script ran out of time");
  }
  if (GcFn real = realGc()) real(J, report);
}

// MuPDF's script entry points, wrapped by the link (see ScriptClock.h).
extern "C" {
void __real_pdf_enable_js(fz_context* ctx, pdf_document* doc);
void __real_pdf_js_execute(pdf_js* js, const char* name, const char* code, char** result);
void __real_pdf_js_event_init(pdf_js* js, pdf_obj* target, const char* value, int willCommit);
void __real_pdf_js_event_init_keystroke(pdf_js* js, pdf_obj* target, pdf_keystroke_event* evt);
int __real_pdf_js_event_result(pdf_js* js);
int __real_pdf_js_event_result_validate(pdf_js* js, char** newvalue);
int __real_pdf_js_event_result_keystroke(pdf_js* js, pdf_keystroke_event* evt);
char* __real_pdf_js_event_value(pdf_js* js);

// Turning scripts on runs the document-level scripts. Where runs cannot be
// stopped they stay off, as they are in MuPDF until turned on.
void __wrap_pdf_enable_js(fz_context* ctx, pdf_document* doc) {
  std::call_once(pm::mu::gOnce, pm::mu::start);
  if (!pm::mu::gBounded) return;
  pm::mu::startScriptRun();
  __real_pdf_enable_js(ctx, doc);
}
void __wrap_pdf_js_execute(pdf_js* js, const char* name, const char* code, char** result) {
  pm::mu::startScriptRun();
  __real_pdf_js_execute(js, name, code, result);
}
// Setting and reading the event object can run a script's own accessors.
void __wrap_pdf_js_event_init(pdf_js* js, pdf_obj* target, const char* value, int willCommit) {
  pm::mu::startScriptRun();
  __real_pdf_js_event_init(js, target, value, willCommit);
}
void __wrap_pdf_js_event_init_keystroke(pdf_js* js, pdf_obj* target, pdf_keystroke_event* evt) {
  pm::mu::startScriptRun();
  __real_pdf_js_event_init_keystroke(js, target, evt);
}
int __wrap_pdf_js_event_result(pdf_js* js) {
  pm::mu::startScriptRun();
  return __real_pdf_js_event_result(js);
}
int __wrap_pdf_js_event_result_validate(pdf_js* js, char** newvalue) {
  pm::mu::startScriptRun();
  return __real_pdf_js_event_result_validate(js, newvalue);
}
int __wrap_pdf_js_event_result_keystroke(pdf_js* js, pdf_keystroke_event* evt) {
  pm::mu::startScriptRun();
  return __real_pdf_js_event_result_keystroke(js, evt);
}
char* __wrap_pdf_js_event_value(pdf_js* js) {
  pm::mu::startScriptRun();
  return __real_pdf_js_event_value(js);
}
}
