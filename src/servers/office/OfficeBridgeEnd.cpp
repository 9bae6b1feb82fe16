// Ending an office: at process exit, at unload, when it failed or idled,
// and giving a lent one back to the shared service.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "servers/office/OfficeBridgeImpl.h"

namespace pm::office {

// At process exit, before the UNO runtime's own exit handlers run (this
// one is registered after the runtime was set up, so it runs first): the
// bridge is disposed, which closes the connection and joins its reader
// and writer threads; left running, they would touch the type library
// while the runtime frees it. Disposing sends nothing to the office, so
// a hung office cannot hold up the exit. A call still blocked in another
// thread fails with the broken bridge. The proxies of the session are
// kept, not released: releasing one at exit reaches runtime objects that
// may be gone already, and the process is ending anyway.
void OfficeBridge::Impl::endAtExit() {
  {
    std::lock_guard<std::mutex> l(stateMu);
    stopping = true;
  }
  wake.notify_all();
  if (watchdog.joinable()) watchdog.join();
  bool clean;
  {
    std::lock_guard<std::mutex> l(stateMu);
    clean = pooled && !inCall && openDocuments == 0;
    if (clean) {
      pid = -1;
      generation = 0;
      pooled = false;
      profile.clear();  // the service's, not ours to remove
    }
  }
  if (bridge.is()) {
    try {
      bridge->dispose();
    } catch (...) {
    }
  }
  // A lent office with nothing open goes back warm; one that still holds
  // this process's documents is ended and replaced by the service.
  if (clean)
    lease.release();
  else
    killProcess();
}

// At unload: the watchdog stops and the office group is ended. No UNO
// call is made, not even a release: the UNO runtime may already be gone
// when static objects are destroyed (endAtExit has disposed the bridge
// before that on a normal exit).
void OfficeBridge::Impl::endAtUnload() {
  {
    std::lock_guard<std::mutex> l(stateMu);
    stopping = true;
  }
  wake.notify_all();
  if (watchdog.joinable()) watchdog.join();
  killProcess();
}

// Kills the whole group of the office (the launcher restarts the office
// binary on a fresh profile, so both live in that group) and reaps it.
void OfficeBridge::Impl::killProcess() {
  pid_t p;
  std::string prof;
  bool lent;
  {
    std::lock_guard<std::mutex> l(stateMu);
    p = pid;
    prof = profile;
    lent = pooled;
    pid = -1;
    generation = 0;
    profile.clear();
    pooled = false;
    openDocuments = 0;
  }
  if (lent) {
    // The service ends it, reaps it and starts a replacement.
    lease.endOffice();
    return;
  }
  if (p > 0) {
    ::kill(-p, SIGKILL);
    ::kill(p, SIGKILL);
    int status = 0;
    while (::waitpid(p, &status, 0) < 0 && errno == EINTR) {
    }
  }
  int tie;
  {
    std::lock_guard<std::mutex> l(stateMu);
    tie = lifeline;
    lifeline = -1;
  }
  if (tie >= 0) ::close(tie);
  if (!prof.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(prof, ec);
    removeSingleInstancePipe(prof + "/profile");
  }
  // A killed office leaves its pipe behind.
  std::string pipe;
  {
    std::lock_guard<std::mutex> l(stateMu);
    pipe.swap(ownPipe);
  }
  if (!pipe.empty()) removeOfficePipe(pipe);
}

void OfficeBridge::Impl::disposeBridge() {
  css::uno::Reference<css::lang::XComponent> b = bridge;
  bridge.clear();
  session = Session{};
  {
    std::lock_guard<std::mutex> l(stateMu);
    if (socket) socket->shut();
    socket.reset();
  }
  if (b.is()) {
    try {
      b->dispose();
    } catch (...) {
    }
  }
}

// Hands the lent office back to the service (nothing is open in it).
void OfficeBridge::Impl::giveBack() {
  std::unique_lock<std::recursive_mutex> c(callMu, std::try_to_lock);
  if (!c.owns_lock()) return;
  {
    std::lock_guard<std::mutex> l(stateMu);
    if (!pooled || pid <= 0 || openDocuments != 0 || !lingerOver(BridgeClock::now())) return;
    pid = -1;
    generation = 0;
    profile.clear();
    pooled = false;
  }
  disposeBridge();
  lease.release();
}

void OfficeBridge::Impl::idleShutdown() {
  std::unique_lock<std::recursive_mutex> c(callMu, std::try_to_lock);
  if (!c.owns_lock()) return;  // a call is starting; it will use the process
  {
    std::lock_guard<std::mutex> l(stateMu);
    if (pid <= 0 || BridgeClock::now() - lastUse < idleTimeout) return;
  }
  killProcess();
  disposeBridge();
}
}  // namespace pm::office
