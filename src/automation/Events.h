// Connection points: an event source raises an event by name or dispatch id
// to every connected sink; arguments pass by reference, so a sink may write
// back into them as the source's variables.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Dispatch.h"
#include "automation/Internal.h"

namespace pm {

struct EventCall {
  const EventSpec& event;
  std::span<Variant* const> args;
};

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void onEvent(const EventCall& e) = 0;
};

// A sink that forwards to a function.
class FunctionSink : public EventSink {
 public:
  explicit FunctionSink(std::function<void(const EventCall&)> fn) : fn_(std::move(fn)) {}
  void onEvent(const EventCall& e) override { fn_(e); }

 private:
  std::function<void(const EventCall&)> fn_;
};

class ConnectionPoint {
 public:
  // The events this source declares (usually its member table's events).
  explicit ConnectionPoint(const std::vector<EventSpec>& events) : events_(events) {}

  uint32_t advise(std::shared_ptr<EventSink> sink);
  void unadvise(uint32_t cookie);
  size_t sinkCount() const { return sinks_.size(); }

  // Raise to every sink, in the order they connected. Unknown event: error 438.
  PM_INTERNAL void raise(std::string_view name, std::span<Variant* const> args);
  void raise(int32_t dispid, std::span<Variant* const> args);
  void raise(std::string_view name, std::initializer_list<Variant*> args) {
    raise(name, std::span<Variant* const>(args.begin(), args.size()));
  }

 private:
  void deliver(const EventSpec& e, std::span<Variant* const> args);
  const std::vector<EventSpec>& events_;
  std::vector<std::pair<uint32_t, std::shared_ptr<EventSink>>> sinks_;
  uint32_t next_ = 1;
};

// Connect a sink to an object's events; error 438 when it raises none.
PM_INTERNAL uint32_t connectEvents(const ObjectRef& source, std::shared_ptr<EventSink> sink);
PM_INTERNAL void disconnectEvents(const ObjectRef& source, uint32_t cookie);

// The public connection, also made straight from a sink of this layer.
class EventConnection : public pressmark::EventConnection {
 public:
  using pressmark::EventConnection::EventConnection;
  EventConnection() = default;
  EventConnection(ObjectRef source, std::shared_ptr<EventSink> sink)
      : pressmark::EventConnection(source, connectEvents(source, std::move(sink))) {}
};

}  // namespace pm
