#include "servers/office/OfficeBridge.h"

#include "automation/Error.h"
#include "servers/office/OfficeBridgeImpl.h"

namespace pm::office {

namespace {
// The bridge whose call runs on this thread: what the call's body does
// through instance() (a nested call, a document counted, a work folder)
// concerns that bridge, whichever thread's own it is.
thread_local OfficeBridge* t_calling = nullptr;

struct Calling {
  OfficeBridge* outer;
  explicit Calling(OfficeBridge* b) : outer(t_calling) { t_calling = b; }
  ~Calling() { t_calling = outer; }
  Calling(const Calling&) = delete;
  Calling& operator=(const Calling&) = delete;
};
}  // namespace

OfficeBridge& OfficeBridge::instance() {
  if (t_calling) return *t_calling;
  return Registry::get().own();
}

bool OfficeBridge::holds(uint64_t generation) {
  return Registry::holding(generation) != nullptr;
}

void OfficeBridge::endAllAtExit() {
  for (OfficeBridge* b : Registry::snapshot()) b->impl_->endAtExit();
}

OfficeBridge::OfficeBridge() : impl_(new Impl) {}
// impl_ is not deleted: see endAtUnload.
OfficeBridge::~OfficeBridge() = default;

void OfficeBridge::run(const std::string& what, const std::function<void(Session&)>& body) {
  std::lock_guard<std::recursive_mutex> l(impl_->callMu);
  Calling calling(this);
  impl_->call(what, body);
}

void OfficeBridge::runIn(uint64_t generation, const std::string& what, const std::function<void(Session&)>& body) {
  // A document opened by another thread is worked on in that thread's office.
  OfficeBridge* owner = this;
  {
    std::lock_guard<std::mutex> s(impl_->stateMu);
    if (impl_->generation != generation) owner = nullptr;
  }
  if (!owner) owner = Registry::holding(generation);
  if (owner && owner != this) {
    owner->runIn(generation, what, body);
    return;
  }
  std::lock_guard<std::recursive_mutex> l(impl_->callMu);
  bool same;
  {
    std::lock_guard<std::mutex> s(impl_->stateMu);
    same = impl_->generation == generation && impl_->pid > 0;
  }
  if (same && !impl_->processAlive()) {
    impl_->killProcess();
    impl_->disposeBridge();
    same = false;
  }
  if (!same)
    raise(kErrDocumentLost, "The document was lost when its office program ended; " + what + " was not done.",
          "Pressmark office server");
  Calling calling(this);
  impl_->call(what, body);
}

uint64_t OfficeBridge::generation() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->pid > 0 ? impl_->generation : 0;
}

pid_t OfficeBridge::pid() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->pid;
}

void OfficeBridge::shutdown() {
  std::lock_guard<std::recursive_mutex> l(impl_->callMu);
  if (impl_->live()) {
    try {
      impl_->arm();
      impl_->session.desktop->terminate();
    } catch (...) {
    }
    impl_->disarm();
  }
  impl_->killProcess();
  impl_->disposeBridge();
}

void OfficeBridge::shutdownLent() {
  for (OfficeBridge* b : Registry::snapshot())
    if (b->pooled()) b->shutdown();
}

std::chrono::milliseconds OfficeBridge::callTimeout() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->callTimeout;
}
void OfficeBridge::setCallTimeout(std::chrono::milliseconds t) {
  Registry::setEverywhere(&Registry::callTimeout, &Impl::callTimeout, t.count() > 0 ? t : std::chrono::minutes(5));
}
std::chrono::milliseconds OfficeBridge::idleTimeout() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->idleTimeout;
}
void OfficeBridge::setIdleTimeout(std::chrono::milliseconds t) {
  Registry::setEverywhere(&Registry::idleTimeout, &Impl::idleTimeout, t.count() > 0 ? t : std::chrono::minutes(10));
}

void OfficeBridge::documentOpened() {
  {
    std::lock_guard<std::mutex> s(impl_->stateMu);
    ++impl_->openDocuments;
  }
  impl_->lease.noteDocument();
}

void OfficeBridge::documentClosed() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  if (impl_->openDocuments > 0) --impl_->openDocuments;
  impl_->lastUse = BridgeClock::now();
}

bool OfficeBridge::pooled() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->pooled;
}

std::string OfficeBridge::workDir() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->profile;
}

}  // namespace pm::office
