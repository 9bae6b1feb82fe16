// The print-file wait: after a print call that may return before its file
// is complete, the conversion waits until the file exists, is not empty and
// keeps its length across a pause of one second.
#pragma once

#include <chrono>
#include <string>

namespace pm::convert {

// How long the wait goes on before it gives up: PRESSMARK_PRINT_WAIT_TIMEOUT
// seconds when set, else five minutes (the office servers' call time-out).
std::chrono::milliseconds printWaitLimit();

// Sleeps one second, then waits as described; raises the component's error
// ("The printed file ... was not complete within N seconds.") when the
// limit passes first.
void waitForPrintFile(const std::string& path);

// Every pause of the wait goes through this function (a sleep unless set),
// so a caller that must know whether and how long the wait paused, as the
// orchestration tests must, learns it from the pauses and not from a clock.
// Returns the function it replaces; nullptr restores the sleep.
using PrintWaitPause = void (*)(std::chrono::milliseconds);
PrintWaitPause setPrintWaitPause(PrintWaitPause pause);

}  // namespace pm::convert
