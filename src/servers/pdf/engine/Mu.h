// The one place where MuPDF's setjmp/longjmp error handling meets C++.
//
// MuPDF reports failures by longjmp out of fz_try. A longjmp that crosses a
// frame holding an object with a destructor is undefined behaviour, so every
// call into MuPDF goes through guard(): the body runs inside fz_try and may
// only call MuPDF's C functions on plain pointers and numbers; the message is
// copied into a fixed buffer inside fz_catch and turned into an
// EngineError only after the MuPDF frames are gone. Other fz_try blocks in
// the server only release what their body made and rethrow (fz_rethrow), so
// every MuPDF failure leaves through this one catch.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "servers/pdf/engine/EngineError.h"
#include "servers/pdf/engine/ScriptHooks.h"

namespace pm::mu {

// This thread's MuPDF context: a clone of one process-wide base context, so
// documents may be dropped on any thread of the process.
fz_context* ctx();

// Raises the engine failure as an EngineError: "<what>: <message>".
[[noreturn]] void raiseEngine(const char* what, const char* message);

// Runs body(ctx) under fz_try. The body must not create or destroy anything
// with a destructor and must not throw; it only calls MuPDF on POD state.
// Results leave the body through variables captured by reference (their
// addresses are taken, so they live in memory across the longjmp).
template <class F>
void guard(const char* what, F&& body) {
  fz_context* c = ctx();
  char message[512];
  message[0] = 0;
  volatile int failed = 0;
  fz_try(c) {
    body(c);
  }
  fz_catch(c) {
    failed = 1;
    fz_strlcpy(message, fz_caught_message(c), sizeof message);
  }
  if (tScriptDeadline) endScriptRun();
  if (failed) raiseEngine(what, message);
}

// ---- Owners of MuPDF objects. Their deleters never throw: MuPDF's drop
// functions do not raise. ----
struct DropDocument {
  void operator()(fz_document* d) const { fz_drop_document(ctx(), d); }
};
struct DropPage {
  void operator()(fz_page* p) const { fz_drop_page(ctx(), p); }
};
struct DropStext {
  void operator()(fz_stext_page* p) const { fz_drop_stext_page(ctx(), p); }
};
struct DropPixmap {
  void operator()(fz_pixmap* p) const { fz_drop_pixmap(ctx(), p); }
};
struct DropBuffer {
  void operator()(fz_buffer* b) const { fz_drop_buffer(ctx(), b); }
};
struct DropOutput {
  void operator()(fz_output* o) const { fz_drop_output(ctx(), o); }
};
struct DropWriter {
  void operator()(fz_document_writer* w) const { fz_drop_document_writer(ctx(), w); }
};
struct DropOutlineIterator {
  void operator()(fz_outline_iterator* i) const { fz_drop_outline_iterator(ctx(), i); }
};
struct DropObj {
  void operator()(pdf_obj* o) const { pdf_drop_obj(ctx(), o); }
};

using DocumentPtr = std::unique_ptr<fz_document, DropDocument>;
using PagePtr = std::unique_ptr<fz_page, DropPage>;
using StextPtr = std::unique_ptr<fz_stext_page, DropStext>;
using PixmapPtr = std::unique_ptr<fz_pixmap, DropPixmap>;
using BufferPtr = std::unique_ptr<fz_buffer, DropBuffer>;
using OutputPtr = std::unique_ptr<fz_output, DropOutput>;
using WriterPtr = std::unique_ptr<fz_document_writer, DropWriter>;
using OutlineIteratorPtr = std::unique_ptr<fz_outline_iterator, DropOutlineIterator>;
using ObjPtr = std::unique_ptr<pdf_obj, DropObj>;

// A kept reference to a PDF object (bookmark nodes hold these).
inline ObjPtr keep(pdf_obj* o) {
  return ObjPtr(o ? pdf_keep_obj(ctx(), o) : nullptr);
}

// Text of a PDF string object as UTF-8 ("" for anything else).
std::string text(pdf_obj* o);

}  // namespace pm::mu
