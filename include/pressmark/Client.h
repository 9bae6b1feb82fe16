// The automation client: members called by name with Variant arguments, and
// connections to an object's events.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "pressmark/Export.h"
#include "pressmark/Variant.h"

namespace pressmark {

// One argument as a caller passes it: a value, or a reference to the
// caller's variable (by-reference: the member may write back into it), and
// optionally a parameter name (a named argument).
struct Arg {
  Arg(Variant v) : value(std::move(v)) {}
  Arg(const char* s) : value(s) {}
  Arg(std::string s) : value(std::move(s)) {}
  Arg(int32_t l) : value(l) {}
  Arg(double d) : value(d) {}
  Arg(bool b) : value(b) {}
  Arg(Variant* r, std::string n = {}) : ref(r), name(std::move(n)) {}
  Arg(std::string n, Variant v) : value(std::move(v)), name(std::move(n)) {}

  Variant value;
  Variant* ref = nullptr;
  std::string name;
  const Variant& get() const { return ref ? *ref : value; }
};
inline Arg ByRef(Variant& v) {
  return Arg(&v);
}
inline Arg Named(std::string name, Variant v) {
  return Arg(std::move(name), std::move(v));
}
inline Arg NamedRef(std::string name, Variant& v) {
  return Arg(&v, std::move(name));
}

PRESSMARK_API Variant call(const ObjectRef& obj, std::string_view member, std::initializer_list<Arg> args = {});
PRESSMARK_API Variant call(const ObjectRef& obj, std::string_view member, std::span<const Arg> args);
PRESSMARK_API Variant get(const ObjectRef& obj, std::string_view property, std::initializer_list<Arg> index = {});
PRESSMARK_API void let(const ObjectRef& obj, std::string_view property, Variant value,
                       std::initializer_list<Arg> index = {});
PRESSMARK_API void set(const ObjectRef& obj, std::string_view property, ObjectRef value,
                       std::initializer_list<Arg> index = {});
// How often this thread used an unset object variable (error 91), whether
// the error was then handled or not: callers that ignore errors can still
// tell a call that had no object from one that found nothing.
PRESSMARK_API uint64_t unsetObjectUses();
// The object held by a Variant; error 424 when it holds none.
PRESSMARK_API ObjectRef objectOf(const Variant& v);

// Keeps one connection to an object's events for as long as it lives.
class PRESSMARK_API EventConnection {
 public:
  EventConnection() = default;
  // Takes over the connection the source gave this cookie.
  EventConnection(ObjectRef source, uint32_t cookie) noexcept : source_(std::move(source)), cookie_(cookie) {}
  EventConnection(EventConnection&& o) noexcept { *this = std::move(o); }
  EventConnection& operator=(EventConnection&& o) noexcept;
  ~EventConnection() { reset(); }
  void reset() noexcept;

 private:
  ObjectRef source_;
  uint32_t cookie_ = 0;
};

}  // namespace pressmark
