// Where a clock over document scripts plugs into the engine.
//
// MuPDF runs document JavaScript in MuJS. Every way into a document's scripts
// passes through MuPDF's script entry points (turning scripts on, which runs
// the document-level scripts; running an action; a field's keystroke,
// format, validate and calculate events); the link wraps each of them, and
// MuJS's engines are made and freed through two more wrapped calls. The
// wrappers, and the interpreter's safe point (js_gc, which MuJS reaches
// through the dynamic symbol table, so this library's definition comes before
// the real one), live in the engine because that is where MuPDF is linked;
// what they do is the hooks' business: the script clock of the JavaScript
// object (js/ScriptClock.cpp) registers them when its module loads. Without
// hooks a document's scripts are never turned on.
#pragma once

struct js_State;

namespace pm::mu {

struct ScriptHooks {
  // Whether script runs can be stopped in this process; where not, the
  // scripts of a document stay off.
  bool (*bounded)();
  // Before each of MuPDF's script entry points runs on this thread.
  void (*entered)();
  // When the guard() call in which a run entered returns; raises the
  // time-out error when a script ran out of time.
  void (*ended)();
  // At the interpreter's safe point: true stops the running script.
  bool (*stop)(js_State* J);
  // An engine was made, or is about to be freed.
  void (*made)(js_State* J);
  void (*freed)(js_State* J);
};

// The first hooks registered stay for the life of the process (the clock
// registers once, as its module loads).
void registerScriptHooks(const ScriptHooks& hooks);

// Raises an engine error unless script runs can be bounded in this process.
void requireBoundedScripts();

// Set by the hooks when a run entered inside the current guard() call;
// guard() then calls endScriptRun() when the MuPDF call returns, so whichever
// call made the document run a script (a value change, a save, a
// calculation, the scripts that enabling scripts runs) ends with the same
// clear error.
extern thread_local bool tScriptDeadline;
void endScriptRun();

}  // namespace pm::mu
