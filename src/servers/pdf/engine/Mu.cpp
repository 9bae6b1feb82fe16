#include "servers/pdf/engine/Mu.h"

#include <mutex>

#include "automation/Error.h"

namespace pm::mu {

namespace {

std::mutex locks[FZ_LOCK_MAX];

void lockFn(void*, int n) {
  locks[n].lock();
}
void unlockFn(void*, int n) {
  locks[n].unlock();
}

// MuPDF prints warnings and errors on stderr by default; the server reports
// failures as automation errors instead, and a library inside a client's
// process has no business writing to its terminal.
void quiet(void*, const char*) {}

fz_context* makeBase() {
  static fz_locks_context lc{nullptr, lockFn, unlockFn};
  fz_context* c = fz_new_context(nullptr, &lc, FZ_STORE_DEFAULT);
  if (!c) return nullptr;
  fz_set_warning_callback(c, quiet, nullptr);
  fz_set_error_callback(c, quiet, nullptr);
  volatile int ok = 1;
  fz_try(c) {
    fz_register_document_handlers(c);
  }
  fz_catch(c) {
    ok = 0;
  }
  if (!ok) {
    fz_drop_context(c);
    return nullptr;
  }
  return c;
}

fz_context* base() {
  // Created once and never dropped: clones on other threads may outlive any
  // particular owner, and the process end reclaims it.
  static fz_context* b = makeBase();
  return b;
}

struct ThreadContext {
  fz_context* c = nullptr;
  ~ThreadContext() {
    if (c) fz_drop_context(c);
    c = nullptr;
  }
};

}  // namespace

fz_context* ctx() {
  thread_local ThreadContext tc;
  if (!tc.c) {
    fz_context* b = base();
    if (!b) raise(basic::OutOfMemory, "The PDF engine could not be started");
    tc.c = fz_clone_context(b);
    if (!tc.c) raise(basic::OutOfMemory, "The PDF engine could not be started");
    fz_set_warning_callback(tc.c, quiet, nullptr);
    fz_set_error_callback(tc.c, quiet, nullptr);
  }
  return tc.c;
}

void raiseEngine(const char* what, const char* message) {
  std::string d = what ? what : "PDF engine failure";
  if (message && *message) d += std::string(": ") + message;
  throw AutomationError(kErrEngine, kEngineSource, d);
}

std::string text(pdf_obj* o) {
  if (!o) return {};
  const char* s = nullptr;
  // pdf_to_text_string decodes PDFDocEncoding and UTF-16 into UTF-8.
  guard("Reading a text value", [&](fz_context* c) {
    if (pdf_is_string(c, o))
      s = pdf_to_text_string(c, o);
    else if (pdf_is_name(c, o))
      s = pdf_to_name(c, o);
  });
  return s ? std::string(s) : std::string();
}

}  // namespace pm::mu
