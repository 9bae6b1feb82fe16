#include "automation/Events.h"

#include <algorithm>

#include "automation/Error.h"

namespace pm {

uint32_t ConnectionPoint::advise(std::shared_ptr<EventSink> sink) {
  if (!sink) pm::raise(basic::ObjectRequired);
  uint32_t cookie = next_++;
  sinks_.emplace_back(cookie, std::move(sink));
  return cookie;
}

void ConnectionPoint::unadvise(uint32_t cookie) {
  std::erase_if(sinks_, [&](const auto& s) { return s.first == cookie; });
}

void ConnectionPoint::deliver(const EventSpec& e, std::span<Variant* const> args) {
  // A sink may disconnect (or connect another) while handling the event;
  // deliver to the sinks connected when the event was raised.
  auto snapshot = sinks_;
  for (auto& [cookie, sink] : snapshot) sink->onEvent(EventCall{e, args});
}

void ConnectionPoint::raise(std::string_view name, std::span<Variant* const> args) {
  for (const EventSpec& e : events_)
    if (e.name.size() == name.size() && std::equal(e.name.begin(), e.name.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return deliver(e, args);
  pm::raise(basic::MemberNotSupported, "No event named " + std::string(name));
}

void ConnectionPoint::raise(int32_t dispid, std::span<Variant* const> args) {
  for (const EventSpec& e : events_)
    if (e.dispid == dispid) return deliver(e, args);
  pm::raise(basic::MemberNotSupported, "No event with dispatch id " + std::to_string(dispid));
}

uint32_t connectEvents(const ObjectRef& source, std::shared_ptr<EventSink> sink) {
  if (!source) raise(basic::ObjectVariableNotSet);
  ConnectionPoint* cp = source->connectionPoint();
  if (!cp) raise(basic::MemberNotSupported, "Object " + source->typeName() + " raises no events");
  return cp->advise(std::move(sink));
}

void disconnectEvents(const ObjectRef& source, uint32_t cookie) {
  if (!source) return;
  if (ConnectionPoint* cp = source->connectionPoint()) cp->unadvise(cookie);
}

}  // namespace pm

namespace pressmark {

EventConnection& EventConnection::operator=(EventConnection&& o) noexcept {
  if (this != &o) {
    reset();
    source_ = std::move(o.source_);
    cookie_ = o.cookie_;
    o.cookie_ = 0;
  }
  return *this;
}

void EventConnection::reset() noexcept {
  if (source_ && cookie_) pm::disconnectEvents(source_, cookie_);
  source_.reset();
  cookie_ = 0;
}

}  // namespace pressmark
