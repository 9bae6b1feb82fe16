#include "servers/pdf/engine/ScriptHooks.h"

#include <dlfcn.h>
#include <mujs.h>

#include <atomic>

#include "servers/pdf/engine/Mu.h"

namespace pm::mu {
namespace {

std::atomic<const ScriptHooks*> gHooks{nullptr};

const ScriptHooks* hooks() {
  return gHooks.load(std::memory_order_acquire);
}

using GcFn = void (*)(js_State*, int);
GcFn realGc() {
  static GcFn fn = reinterpret_cast<GcFn>(dlsym(RTLD_NEXT, "js_gc"));
  return fn;
}

// Without the real collector behind the safe point a script's garbage
// would never be collected, so scripts stay off then too.
bool bounded() {
  const ScriptHooks* h = hooks();
  return h && realGc() && h->bounded();
}

void entered() {
  if (const ScriptHooks* h = hooks()) h->entered();
}

}  // namespace

thread_local bool tScriptDeadline = false;

void registerScriptHooks(const ScriptHooks& h) {
  static const ScriptHooks kept = h;
  gHooks.store(&kept, std::memory_order_release);
}

void requireBoundedScripts() {
  if (!bounded()) fail("Document scripts cannot run here: this script engine cannot be stopped after a time limit");
}

void endScriptRun() {
  tScriptDeadline = false;
  if (const ScriptHooks* h = hooks()) h->ended();
}

}  // namespace pm::mu

extern "C" js_State* __real_js_newstate(js_Alloc alloc, void* actx, int flags);
extern "C" void __real_js_freestate(js_State* J);

extern "C" __attribute__((visibility("default"))) js_State* __wrap_js_newstate(js_Alloc alloc, void* actx, int flags) {
  js_State* J = __real_js_newstate(alloc, actx, flags);
  if (const pm::mu::ScriptHooks* h = pm::mu::hooks(); J && h) h->made(J);
  return J;
}

extern "C" __attribute__((visibility("default"))) void __wrap_js_freestate(js_State* J) {
  if (const pm::mu::ScriptHooks* h = pm::mu::hooks()) h->freed(J);
  __real_js_freestate(J);
}

// The interpreter's safe point (see ScriptHooks.h). Exported so that MuJS
// binds its calls here; the real collector is the next definition.
extern "C" __attribute__((visibility("default"))) void js_gc(js_State* J, int report) {
  if (const pm::mu::ScriptHooks* h = pm::mu::hooks(); h && h->stop(J)) js_error(J, "the script ran out of time");
  if (pm::mu::GcFn real = pm::mu::realGc()) real(J, report);
}

// MuPDF's script entry points, wrapped by the link (see ScriptHooks.h).
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
__attribute__((visibility("default"))) void __wrap_pdf_enable_js(fz_context* ctx, pdf_document* doc) {
  if (!pm::mu::bounded()) return;
  pm::mu::entered();
  __real_pdf_enable_js(ctx, doc);
}
__attribute__((visibility("default"))) void __wrap_pdf_js_execute(pdf_js* js, const char* name, const char* code,
                                                                  char** result) {
  pm::mu::entered();
  __real_pdf_js_execute(js, name, code, result);
}
// Setting and reading the event object can run a script's own accessors.
__attribute__((visibility("default"))) void __wrap_pdf_js_event_init(pdf_js* js, pdf_obj* target, const char* value,
                                                                     int willCommit) {
  pm::mu::entered();
  __real_pdf_js_event_init(js, target, value, willCommit);
}
__attribute__((visibility("default"))) void __wrap_pdf_js_event_init_keystroke(pdf_js* js, pdf_obj* target,
                                                                               pdf_keystroke_event* evt) {
  pm::mu::entered();
  __real_pdf_js_event_init_keystroke(js, target, evt);
}
__attribute__((visibility("default"))) int __wrap_pdf_js_event_result(pdf_js* js) {
  pm::mu::entered();
  return __real_pdf_js_event_result(js);
}
__attribute__((visibility("default"))) int __wrap_pdf_js_event_result_validate(pdf_js* js, char** newvalue) {
  pm::mu::entered();
  return __real_pdf_js_event_result_validate(js, newvalue);
}
__attribute__((visibility("default"))) int __wrap_pdf_js_event_result_keystroke(pdf_js* js, pdf_keystroke_event* evt) {
  pm::mu::entered();
  return __real_pdf_js_event_result_keystroke(js, evt);
}
__attribute__((visibility("default"))) char* __wrap_pdf_js_event_value(pdf_js* js) {
  pm::mu::entered();
  return __real_pdf_js_event_value(js);
}
}
