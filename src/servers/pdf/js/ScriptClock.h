// A time limit on every document script.
//
// MuPDF runs document JavaScript in MuJS, which has no interrupt of its own
// and runs `while(true){}` for ever. Its interpreter does test one thing
// before every instruction: whether enough was allocated to collect garbage,
// and then it calls js_gc. The clock uses that as a safe point: a watchdog
// thread raises the allocation count of every live script engine once a
// deadline has passed, the interpreter then calls js_gc, and this library's
// js_gc (which MuJS reaches through its own symbol table before the real one)
// throws a script error instead of collecting, at every instruction, until the
// run has unwound. The engine's state stays whole, as after any script error.
//
// Every way into a document's scripts passes through MuPDF's script entry
// points (turning scripts on, which runs the document-level scripts; running
// an action; a field's keystroke, format, validate and calculate events); the
// link wraps each of them, and the first one inside a guard() call sets the
// deadline that guard() ends (engine/Mu.h). So no caller has to remember to
// hold a clock: a script that a value change or a save starts is bounded as
// one that a bookmark starts.
#pragma once

namespace pm::mu {

// Seconds a script may run: PRESSMARK_SCRIPT_SECONDS, else 10.
double scriptSeconds();

// Raises an automation error unless script runs can be bounded in this
// process (the engine is not the one the clock knows how to stop). Where
// they cannot, the scripts of a document are never turned on.
void requireBoundedScripts();

// Raises the error of a script that ran out of time.
[[noreturn]] void raiseScriptTimeout();

}  // namespace pm::mu
