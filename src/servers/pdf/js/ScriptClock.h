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
// The members that run scripts (a bookmark's action, CalculateNow; they
// are the ones that turn the engine on) hold a clock around the engine
// call; the first one on a thread sets the deadline, nested ones share it.
#pragma once

namespace pm::mu {

class ScriptClock {
 public:
  ScriptClock();
  ~ScriptClock();
  ScriptClock(const ScriptClock&) = delete;
  ScriptClock& operator=(const ScriptClock&) = delete;
  // True when a script on this thread ran out of time since this clock started.
  bool expired() const;

 private:
  bool outer_;
};

// Seconds a script may run: PRESSMARK_SCRIPT_SECONDS, else 10.
double scriptSeconds();

// Raises an automation error unless script runs can be bounded in this
// process (the engine is not the one the clock knows how to stop).
void requireBoundedScripts();

// Raises the error of a script that ran out of time.
[[noreturn]] void raiseScriptTimeout();

}  // namespace pm::mu
