#include "component/convert/PrintFileWait.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "automation/Automation.h"

namespace pm::convert {

namespace {
using Clock = std::chrono::steady_clock;

// The length of the file, -1 when it cannot be read.
int64_t lengthOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

void sleep(std::chrono::milliseconds ms) {
  std::this_thread::sleep_for(ms);
}

std::atomic<PrintWaitPause> pauseFn{&sleep};
}  // namespace

PrintWaitPause setPrintWaitPause(PrintWaitPause pause) {
  return pauseFn.exchange(pause ? pause : &sleep);
}

std::chrono::milliseconds printWaitLimit() {
  const char* v = std::getenv("PRESSMARK_PRINT_WAIT_TIMEOUT");
  if (v && *v) {
    char* end = nullptr;
    double s = std::strtod(v, &end);
    if (end != v && s > 0) return std::chrono::milliseconds(static_cast<int64_t>(s * 1000));
  }
  return std::chrono::minutes(5);
}

void waitForPrintFile(const std::string& path) {
  const std::chrono::milliseconds pause(1000);
  const Clock::time_point until = Clock::now() + printWaitLimit();
  pauseFn.load()(pause);
  while (true) {
    // Pending window messages: a server process has none to process.
    int64_t n = lengthOf(path);
    if (n > 0) {
      pauseFn.load()(pause);
      if (lengthOf(path) == n) return;
    } else if (Clock::now() >= until) {
      break;
    } else {
      // A short rest between the existence tests keeps the wait from
      // spinning a processor at full load.
      pauseFn.load()(std::chrono::milliseconds(50));
    }
    if (Clock::now() >= until) break;
  }
  int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(printWaitLimit()).count();
  raise(kErrComponent, "The printed file " + path + " was not complete within " +
                           std::to_string(seconds > 0 ? seconds : 1) + " seconds.");
}

}  // namespace pm::convert
