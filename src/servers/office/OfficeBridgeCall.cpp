// One call onto the office: under the bridge's time-out, with the office's
// failures turned into the errors a client of an out-of-process server sees.
#include <com/sun/star/lang/DisposedException.hpp>

#include "automation/Error.h"
#include "servers/office/OfficeBridgeImpl.h"

namespace pm::office {

std::string unoMessage(const css::uno::Exception& e) {
  std::string m = toUtf8(e.Message);
  // Messages from the office carry a source location after a newline or
  // " at "; the client wants the first line.
  size_t nl = m.find('\n');
  if (nl != std::string::npos) m.resize(nl);
  return m;
}

bool OfficeBridge::Impl::live() {
  std::lock_guard<std::mutex> l(stateMu);
  return pid > 0 && generation != 0 && session.desktop.is();
}

// After a runtime failure: is the office still there and answering?
bool OfficeBridge::Impl::answers() {
  if (!processAlive()) return false;
  try {
    arm();
    (void)session.desktop->getComponents();
    disarm();
    return !timedOutFlag();
  } catch (...) {
    disarm();
    return false;
  }
}

void OfficeBridge::Impl::arm() {
  std::lock_guard<std::mutex> l(stateMu);
  inCall = true;
  timedOut = false;
  overMemory = false;
  memoryLimitKb = officeMemoryLimitKb();
  nextMemoryLook = BridgeClock::now() + kMemoryLook;
  deadline = BridgeClock::now() + callTimeout;
  wake.notify_all();
}
void OfficeBridge::Impl::disarm() {
  std::lock_guard<std::mutex> l(stateMu);
  inCall = false;
  lastUse = BridgeClock::now();
  wake.notify_all();
}
bool OfficeBridge::Impl::timedOutFlag() {
  std::lock_guard<std::mutex> l(stateMu);
  return timedOut || overMemory;
}

// The office failed under a call: end it, and tell the caller clearly.
void OfficeBridge::Impl::failed(const std::string& what, const std::string& cause) {
  bool hung, grown;
  long limitKb;
  {
    std::lock_guard<std::mutex> l(stateMu);
    hung = timedOut;
    grown = overMemory;
    limitKb = memoryLimitKb;
  }
  killProcess();
  disposeBridge();
  if (grown)
    raise(kErrOfficeMemory,
          "The office program used more than " + std::to_string(limitKb / 1024) + " MB of memory during " + what +
              " (PRESSMARK_OFFICE_MEMORY_LIMIT) and was ended; open documents are lost.",
          "Pressmark office server");
  if (hung)
    raise(kErrCallTimeout,
          "The office program did not answer " + what + " within " + std::to_string(callTimeout.count() / 1000) +
              " seconds and was ended; open documents are lost.",
          "Pressmark office server");
  raise(kErrServerDied,
        "The office program ended during " + what + (cause.empty() ? "" : " (" + cause + ")") +
            "; open documents are lost.",
        "Pressmark office server");
}

void OfficeBridge::Impl::call(const std::string& what, const std::function<void(Session&)>& body) {
  if (depth > 0) {  // nested: the outer call holds the guard
    body(session);
    return;
  }
  if (!live() || !processAlive()) {
    killProcess();
    disposeBridge();
    start();
  }
  struct Depth {
    int& d;
    explicit Depth(int& x) : d(x) { ++d; }
    ~Depth() { --d; }
  } depthGuard(depth);
  arm();
  try {
    body(session);
    disarm();
    if (timedOutFlag()) failed(what, {});
  } catch (const css::lang::DisposedException& e) {
    disarm();
    failed(what, unoMessage(e));
  } catch (const css::uno::RuntimeException& e) {
    disarm();
    if (timedOutFlag() || !answers()) failed(what, unoMessage(e));
    raise(kErrServerFault, what + " failed in the office program: " + unoMessage(e), "Pressmark office server");
  } catch (const css::uno::Exception& e) {
    disarm();
    if (timedOutFlag()) failed(what, unoMessage(e));
    raise(kErrServerFault, what + " failed in the office program: " + unoMessage(e), "Pressmark office server");
  } catch (...) {
    disarm();
    if (timedOutFlag()) failed(what, {});
    throw;
  }
}
}  // namespace pm::office
