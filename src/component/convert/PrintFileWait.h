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

}  // namespace pm::convert
