// Late-bound objects: members called by name, case-insensitively, through a
// declarative member table per class (name, kind, parameters with names,
// by-reference or by-value, optional and default, declared type).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Variant.h"
#include "pressmark/Client.h"
#include "automation/Internal.h"

namespace pm {

enum class Invoke : uint8_t { Method = 1, Get = 2, Let = 4, Set = 8 };
const char* invokeName(Invoke k);

struct ParamSpec {
  std::string name;
  VT type = VT::Variant;  // declared type; values are coerced (error 13)
  bool byRef = true;
  bool optional = false;
  bool hasDefault = false;
  // Names something on the machine the member runs on (a file, folder,
  // printer, address or data source): callers from elsewhere, such as the
  // HTTP service's forms, may never choose it.
  bool isPath = false;
  Variant def;

  ParamSpec& byVal() {
    byRef = false;
    return *this;
  }
  ParamSpec& opt() {
    optional = true;
    return *this;
  }
  ParamSpec& opt(Variant d) {
    optional = true;
    hasDefault = true;
    def = std::move(d);
    return *this;
  }
  ParamSpec& as(VT t) {
    type = t;
    return *this;
  }
  ParamSpec& path() {
    isPath = true;
    return *this;
  }
};
// A required by-reference Variant parameter; chain byVal(), opt(), as(), path().
inline ParamSpec P(std::string name) {
  ParamSpec p;
  p.name = std::move(name);
  return p;
}

class Frame;
using MemberFn = std::function<Variant(Dispatch&, Frame&)>;

struct MemberSpec {
  std::string name;
  Invoke kind = Invoke::Method;
  std::vector<ParamSpec> params;
  int32_t dispid = 0;
  std::string help;
  MemberFn fn;
};

struct EventSpec {
  std::string name;
  int32_t dispid = 0;
  std::vector<ParamSpec> params;
};

class MemberTable {
 public:
  PM_INTERNAL explicit MemberTable(std::string className = {});
  const std::string& className() const { return className_; }

  PM_INTERNAL void add(MemberSpec m);
  PM_INTERNAL void addEvent(EventSpec e);

  // Finds the member for a call of the given kind; nullptr when the name is
  // unknown. kindMismatch is set when the name exists but not for that kind.
  PM_INTERNAL const MemberSpec* find(std::string_view name, Invoke kind, bool* kindMismatch = nullptr) const;
  const EventSpec* findEvent(std::string_view name) const;
  const EventSpec* findEvent(int32_t dispid) const;

  const std::vector<MemberSpec>& members() const { return members_; }
  const std::vector<EventSpec>& events() const { return events_; }

 private:
  void reindex();
  std::string className_;
  std::vector<MemberSpec> members_;
  std::vector<EventSpec> events_;
  std::vector<uint32_t> sorted_;  // member indexes sorted by case-folded name
};

// Typed builder: binds member functions of T (Variant (T::*)(Frame&)).
template <class T>
class Members {
 public:
  using Fn = Variant (T::*)(Frame&);
  explicit Members(MemberTable& table) : t_(table) {}
  Members& method(std::string name, std::vector<ParamSpec> params, Fn fn, std::string help = {}) {
    return add(std::move(name), Invoke::Method, std::move(params), fn, std::move(help));
  }
  Members& get(std::string name, std::vector<ParamSpec> params, Fn fn, std::string help = {}) {
    return add(std::move(name), Invoke::Get, std::move(params), fn, std::move(help));
  }
  // The value assigned is the last parameter.
  Members& let(std::string name, std::vector<ParamSpec> params, Fn fn, std::string help = {}) {
    return add(std::move(name), Invoke::Let, std::move(params), fn, std::move(help));
  }
  Members& set(std::string name, std::vector<ParamSpec> params, Fn fn, std::string help = {}) {
    return add(std::move(name), Invoke::Set, std::move(params), fn, std::move(help));
  }
  // Members written as free functions in their own files (member groups).
  using FreeFn = Variant (*)(T&, Frame&);
  Members& method(std::string name, std::vector<ParamSpec> params, FreeFn fn, std::string help = {}) {
    return addFree(std::move(name), Invoke::Method, std::move(params), fn, std::move(help));
  }
  Members& get(std::string name, std::vector<ParamSpec> params, FreeFn fn, std::string help = {}) {
    return addFree(std::move(name), Invoke::Get, std::move(params), fn, std::move(help));
  }
  Members& let(std::string name, std::vector<ParamSpec> params, FreeFn fn, std::string help = {}) {
    return addFree(std::move(name), Invoke::Let, std::move(params), fn, std::move(help));
  }
  Members& event(std::string name, int32_t dispid, std::vector<ParamSpec> params) {
    t_.addEvent(EventSpec{std::move(name), dispid, std::move(params)});
    return *this;
  }

 private:
  Members& add(std::string name, Invoke kind, std::vector<ParamSpec> params, Fn fn, std::string help) {
    MemberSpec m{std::move(name),   kind,
                 std::move(params), 0,
                 std::move(help),   [fn](Dispatch& self, Frame& f) { return (static_cast<T&>(self).*fn)(f); }};
    t_.add(std::move(m));
    return *this;
  }
  Members& addFree(std::string name, Invoke kind, std::vector<ParamSpec> params, FreeFn fn, std::string help) {
    MemberSpec m{std::move(name),   kind,
                 std::move(params), 0,
                 std::move(help),   [fn](Dispatch& self, Frame& f) { return fn(static_cast<T&>(self), f); }};
    t_.add(std::move(m));
    return *this;
  }
  MemberTable& t_;
};

// The positions of a class's registered member groups in the order its
// table lists them, then the extras ("+name": a test program's probes) in
// registration order. Any other group the list leaves out, a listed group
// that never registered, or a name given twice is an internal error naming
// the group: a member never lands in the table by accident of load order.
PM_INTERNAL std::vector<size_t> groupOrder(const std::string& className,
                                           const std::vector<std::string_view>& registered,
                                           std::initializer_list<std::string_view> order);

// Member groups: a class whose members live in several files collects them
// from groups that register themselves at load time under a plain name.
// The language leaves the order of loading across files open, so the class's
// table names its groups once, in the order the members are declared, listed
// by help and numbered.
template <class T>
class MemberGroups {
 public:
  using Describe = void (*)(Members<T>&);
  struct Group {
    const char* name;
    Describe describe;
  };
  static std::vector<Group>& all() {
    static std::vector<Group> g;
    return g;
  }
  struct Register {
    Register(const char* name, Describe d) { all().push_back(Group{name, d}); }
  };
  static void applyAll(MemberTable& table, std::initializer_list<std::string_view> order) {
    std::vector<std::string_view> names;
    for (const Group& g : all()) names.push_back(g.name);
    Members<T> m(table);
    for (size_t i : groupOrder(table.className(), names, order)) all()[i].describe(m);
  }
};

// The bound parameters of one call: each slot is the caller's variable (a
// by-reference argument) or a local copy (by-value, literal or default).
class Frame {
 public:
  Frame(const MemberSpec& member, std::span<const Arg> args);
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  ~Frame();

  size_t size() const { return n_; }
  Variant& operator[](size_t i) { return *slots_[i]; }
  const Variant& operator[](size_t i) const { return *slots_[i]; }
  // True when the caller omitted an optional parameter that has no default.
  bool missing(size_t i) const { return slots_[i]->isMissing(); }
  // The same by the parameter's name as the member table declares it, so a
  // member's body says which argument it reads and a reordered table cannot
  // hand it another one. A name the table does not declare is a fault in
  // the member's code: an internal error that names it, never another slot.
  Variant& operator[](std::string_view name) { return *slots_[indexOf(name)]; }
  const Variant& operator[](std::string_view name) const { return *slots_[indexOf(name)]; }
  bool missing(std::string_view name) const { return slots_[indexOf(name)]->isMissing(); }
  PM_INTERNAL size_t indexOf(std::string_view name) const;
  const MemberSpec& member() const { return member_; }

  // Writes coerced values of typed by-reference parameters back.
  void writeBack();

 private:
  static constexpr size_t kInline = 8;
  const MemberSpec& member_;
  size_t n_ = 0;
  Variant* slots_[32];
  Variant inline_[kInline];
  std::vector<Variant> overflow_;
  Variant* writeBackTo_[32] = {};
};

class ConnectionPoint;

}  // namespace pm

// Every object a client holds (an ObjectRef) is one of these; the class is
// public in name only: clients call its members through pressmark/Client.h.
namespace pressmark {

class PRESSMARK_API Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  virtual ~Dispatch();

  // Calls a member by name. The default resolves it in memberTable().
  virtual Variant invoke(std::string_view name, pm::Invoke kind, std::span<const Arg> args);
  // The class's member table, or nullptr for objects that answer any name.
  virtual const pm::MemberTable* memberTable() const { return nullptr; }
  // Event source of this object, or nullptr when it raises no events.
  virtual pm::ConnectionPoint* connectionPoint() { return nullptr; }
  virtual std::string typeName() const;
};

}  // namespace pressmark
