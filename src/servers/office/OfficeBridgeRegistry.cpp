// Every bridge of the process, and the calling thread's own.
#include "servers/office/OfficeBridgeImpl.h"

namespace pm::office {

OfficeBridge::Registry& OfficeBridge::Registry::get() {
  static Registry* r = new Registry;
  // Made after the registry and before any office starts, so it is
  // destroyed after the exit handler the first connection registers.
  static Unloader unloader;
  return *r;
}

OfficeBridge::Registry::Unloader::~Unloader() {
  for (OfficeBridge* b : snapshot()) b->impl_->endAtUnload();
}

std::vector<OfficeBridge*> OfficeBridge::Registry::snapshot() {
  Registry& r = get();
  std::lock_guard<std::mutex> l(r.mu);
  return r.all;
}

OfficeBridge::Registry::Binding::~Binding() {
  if (!bridge) return;
  Impl& i = *bridge->impl_;
  {
    std::lock_guard<std::mutex> l(i.stateMu);
    i.unbound = true;
  }
  i.wake.notify_all();
  Registry& r = get();
  std::lock_guard<std::mutex> l(r.mu);
  r.spare.push_back(bridge);
}

OfficeBridge& OfficeBridge::Registry::own() {
  thread_local Binding binding;
  if (binding.bridge) return *binding.bridge;
  OfficeBridge* b = nullptr;
  {
    std::lock_guard<std::mutex> l(mu);
    if (!spare.empty()) {
      b = spare.back();
      spare.pop_back();
    } else {
      b = new OfficeBridge;
      all.push_back(b);
      if (callTimeout.count() > 0) b->impl_->callTimeout = callTimeout;
      if (idleTimeout.count() > 0) b->impl_->idleTimeout = idleTimeout;
    }
  }
  {
    std::lock_guard<std::mutex> l(b->impl_->stateMu);
    b->impl_->unbound = false;
  }
  binding.bridge = b;
  return *b;
}

void OfficeBridge::Registry::setEverywhere(Ms Registry::*kept, Ms Impl::*own, Ms t) {
  Registry& r = get();
  {
    std::lock_guard<std::mutex> l(r.mu);
    r.*kept = t;
  }
  for (OfficeBridge* b : snapshot()) {
    {
      std::lock_guard<std::mutex> s(b->impl_->stateMu);
      b->impl_->*own = t;
    }
    b->impl_->wake.notify_all();
  }
}

OfficeBridge* OfficeBridge::Registry::holding(uint64_t generation) {
  if (generation == 0) return nullptr;
  for (OfficeBridge* b : snapshot()) {
    std::lock_guard<std::mutex> l(b->impl_->stateMu);
    if (b->impl_->generation == generation && b->impl_->pid > 0) return b;
  }
  return nullptr;
}

}  // namespace pm::office
