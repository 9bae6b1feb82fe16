#include "servers/pdf/engine/Mu.h"

#include <unistd.h>

#include <cstdlib>
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

// A hostile file can make MuPDF ask for any size: a stream length of
// 4000000000000000 becomes a negative int that is then used as a size_t
// hint. No single block larger than half the machine's memory can be of use,
// and with overcommit a granted one is only found out when the process is
// killed; refusing it makes MuPDF raise its own "malloc failed" error, which
// reaches the caller as an automation error. The limit is set once, before
// the base context exists, so the allocator itself only compares.
size_t largestBlock = 0;
size_t halfTheMemory() {
  long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  size_t half = pages > 0 && size > 0 ? static_cast<size_t>(pages) * static_cast<size_t>(size) / 2 : 0;
  return half > 0 ? half : static_cast<size_t>(1) << 32;
}
void* boundedMalloc(void*, size_t n) {
  return n > largestBlock ? nullptr : std::malloc(n);
}
void* boundedRealloc(void*, void* p, size_t n) {
  return n > largestBlock ? nullptr : std::realloc(p, n);
}
void plainFree(void*, void* p) {
  std::free(p);
}

fz_context* makeBase() {
  static fz_locks_context lc{nullptr, lockFn, unlockFn};
  static fz_alloc_context ac{nullptr, boundedMalloc, boundedRealloc, plainFree};
  largestBlock = halfTheMemory();
  fz_context* c = fz_new_context(&ac, &lc, FZ_STORE_DEFAULT);
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
  throw EngineError(d);
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
