// The watchdog of a bridge: ends an office whose call hangs or whose memory
// grows past its limit, and ends or gives back an office left idle.
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "servers/office/OfficeBridgeImpl.h"
#include "system/Process.h"

namespace pm::office {

std::chrono::milliseconds envSeconds(const char* name, std::chrono::milliseconds fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  double s = std::strtod(v, &end);
  if (end == v || s <= 0) return fallback;
  return std::chrono::milliseconds(static_cast<int64_t>(s * 1000));
}

OfficeBridge::Impl::Impl() {
  watchdog = std::thread([this] { watch(); });
}

// True while pid is a child of ours that has not been reaped (running or
// a zombie): its id is then still reserved for it.
bool OfficeBridge::Impl::unreapedChild(pid_t p) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(p), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

bool OfficeBridge::Impl::processAlive() {
  std::lock_guard<std::mutex> l(stateMu);
  if (pid <= 0) return false;
  if (pooled) {
    // Not our child: alive while it exists and is not a zombie waiting
    // for the service to reap it.
    if (::kill(pid, 0) != 0) return false;
    std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(st, line);
    size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
  }
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
    // The launcher is gone; its group may still hold the office. Ended
    // before the launcher is reaped: until then its id, and the group's,
    // cannot have been given to another process.
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return false;
  }
  return true;
}

void OfficeBridge::Impl::watch() {
  std::unique_lock<std::mutex> l(stateMu);
  while (!stopping) {
    BridgeClock::time_point now = BridgeClock::now();
    if (inCall && pid > 0 && now >= deadline) {
      // The call hangs: ending the group breaks the bridge, which makes
      // the blocked call come back with an exception.
      // Once: the office is then reaped by whoever started it, after
      // which its id (and its group's) may belong to another process.
      // Our own child is signalled only while it is not yet reaped.
      if (!timedOut && (pooled || unreapedChild(pid))) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
      }
      timedOut = true;
      // Whatever holds the other end (an office that is not ending, or
      // not an office at all), the blocked call comes back.
      if (socket) socket->shut();
      wake.wait_for(l, std::chrono::milliseconds(200));
      continue;
    }
    if (inCall && pid > 0 && !timedOut && !overMemory && now >= nextMemoryLook) {
      nextMemoryLook = now + kMemoryLook;
      pid_t group = pid;
      l.unlock();
      long kb = groupMemoryKb(group);
      l.lock();
      if (kb > memoryLimitKb && inCall && pid == group && !timedOut && (pooled || unreapedChild(pid))) {
        // Ended as a hung call is: the blocked call comes back with an
        // exception, and failed() tells why.
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        overMemory = true;
        if (socket) socket->shut();
      }
      continue;
    }
    if (!inCall && pid > 0 && now - lastUse >= idleTimeout) {
      l.unlock();
      idleShutdown();
      l.lock();
      continue;
    }
    if (!inCall && pid > 0 && pooled && openDocuments == 0 && lingerOver(now)) {
      l.unlock();
      giveBack();
      l.lock();
      continue;
    }
    BridgeClock::time_point next = now + std::chrono::seconds(1);
    if (!inCall && pid > 0 && pooled && openDocuments == 0 && lastUse + linger < next) next = lastUse + linger;
    if (inCall && deadline < next) next = deadline;
    if (inCall && nextMemoryLook < next) next = nextMemoryLook;
    if (!inCall && pid > 0 && lastUse + idleTimeout < next) next = lastUse + idleTimeout;
    wake.wait_until(l, next);
  }
}

// Whether a lent office with nothing open may go back: at once when the
// thread that used it has ended, else after the linger (under stateMu).
bool OfficeBridge::Impl::lingerOver(BridgeClock::time_point now) const {
  return unbound || now - lastUse >= linger;
}
}  // namespace pm::office
