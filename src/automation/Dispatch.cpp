#include "automation/Dispatch.h"

#include <algorithm>
#include <cctype>

#include "automation/Convert.h"
#include "automation/Error.h"

namespace pm {

namespace {

// Member names are ASCII; folding without the locale keeps lookups cheap.
inline unsigned char fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
}

int icompare(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = fold(a[i]), y = fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool isGetLike(Invoke k) {
  return k == Invoke::Method || k == Invoke::Get;
}

}  // namespace

const char* invokeName(Invoke k) {
  switch (k) {
    case Invoke::Method:
      return "call";
    case Invoke::Get:
      return "get";
    case Invoke::Let:
      return "let";
    case Invoke::Set:
      return "set";
  }
  return "?";
}

// ---- MemberTable ----

MemberTable::MemberTable(std::string className) : className_(std::move(className)) {}

void MemberTable::add(MemberSpec m) {
  if (m.dispid == 0) {
    // Property get and let of one name share a dispatch id, as in a type
    // library; other members number from 1 in the order declared.
    for (const MemberSpec& o : members_)
      if (icompare(o.name, m.name) == 0) m.dispid = o.dispid;
    if (m.dispid == 0) {
      int32_t maxId = 0;
      for (const MemberSpec& o : members_) maxId = std::max(maxId, o.dispid);
      m.dispid = maxId + 1;
    }
  }
  members_.push_back(std::move(m));
  reindex();
}

void MemberTable::addEvent(EventSpec e) {
  events_.push_back(std::move(e));
}

void MemberTable::reindex() {
  sorted_.resize(members_.size());
  for (uint32_t i = 0; i < sorted_.size(); ++i) sorted_[i] = i;
  std::stable_sort(sorted_.begin(), sorted_.end(),
                   [&](uint32_t a, uint32_t b) { return icompare(members_[a].name, members_[b].name) < 0; });
}

const MemberSpec* MemberTable::find(std::string_view name, Invoke kind, bool* kindMismatch) const {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), name,
                             [&](uint32_t i, std::string_view n) { return icompare(members_[i].name, n) < 0; });
  const MemberSpec* fallback = nullptr;
  bool any = false;
  for (; it != sorted_.end() && icompare(members_[*it].name, name) == 0; ++it) {
    const MemberSpec& m = members_[*it];
    any = true;
    if (m.kind == kind) return &m;
    // A method and a property get are called alike in Basic (obj.Cells(1, 1));
    // a let of an object value may fall back on set and back.
    if (isGetLike(kind) && isGetLike(m.kind)) fallback = &m;
    if ((kind == Invoke::Let || kind == Invoke::Set) && (m.kind == Invoke::Let || m.kind == Invoke::Set)) fallback = &m;
  }
  if (!fallback && any && kindMismatch) *kindMismatch = true;
  return fallback;
}

const EventSpec* MemberTable::findEvent(std::string_view name) const {
  for (const EventSpec& e : events_)
    if (icompare(e.name, name) == 0) return &e;
  return nullptr;
}

const EventSpec* MemberTable::findEvent(int32_t dispid) const {
  for (const EventSpec& e : events_)
    if (e.dispid == dispid) return &e;
  return nullptr;
}

std::vector<size_t> groupOrder(const std::string& className, const std::vector<std::string_view>& registered,
                               std::initializer_list<std::string_view> order) {
  auto fault = [&](std::string_view group, const char* why) {
    raise(basic::InternalError, "The member group " + std::string(group) + " of " + className + " " + why);
  };
  std::vector<size_t> out;
  for (std::string_view name : order) {
    auto at = std::find(registered.begin(), registered.end(), name);
    if (at == registered.end()) fault(name, "is listed but not linked");
    if (std::find(at + 1, registered.end(), name) != registered.end()) fault(name, "is registered twice");
    size_t i = static_cast<size_t>(at - registered.begin());
    if (std::find(out.begin(), out.end(), i) != out.end()) fault(name, "is listed twice");
    out.push_back(i);
  }
  for (size_t i = 0; i < registered.size(); ++i)
    if (std::find(out.begin(), out.end(), i) == out.end() && !registered[i].starts_with('+'))
      fault(registered[i], "is not in the list of its groups");
  // Extras are added by a program beyond the class's own groups, so no list
  // of the class can name them; they follow, in the order they registered.
  size_t listed = out.size();
  for (size_t i = 0; i < registered.size(); ++i)
    if (registered[i].starts_with('+') && std::find(out.begin(), out.begin() + listed, i) == out.begin() + listed)
      out.push_back(i);
  return out;
}

// ---- Frame ----

size_t Frame::indexOf(std::string_view name) const {
  for (size_t i = 0; i < n_; ++i)
    if (member_.params[i].name == name) return i;
  raise(basic::InternalError, "The member " + member_.name + " has no parameter " + std::string(name));
}

Frame::Frame(const MemberSpec& member, std::span<const Arg> args) : member_(member), n_(member.params.size()) {
  if (n_ > std::size(slots_)) raise(basic::InternalError, "Too many parameters in member " + member.name);
  if (n_ > kInline) overflow_.resize(n_ - kInline);
  auto local = [&](size_t i) -> Variant& { return i < kInline ? inline_[i] : overflow_[i - kInline]; };
  for (size_t i = 0; i < n_; ++i) slots_[i] = nullptr;

  size_t positional = 0;
  bool seenNamed = false;
  for (const Arg& a : args) {
    size_t idx;
    if (a.name.empty()) {
      if (seenNamed) raise(basic::InvalidProcedureCall, "Positional argument after a named argument");
      idx = positional++;
      if (idx >= n_) raise(basic::WrongArgumentCount);
    } else {
      seenNamed = true;
      idx = n_;
      for (size_t i = 0; i < n_; ++i)
        if (icompare(member.params[i].name, a.name) == 0) idx = i;
      if (idx == n_) raise(448, "Named argument not found: " + a.name);
      if (slots_[idx]) raise(basic::InvalidProcedureCall, "Argument " + a.name + " given twice");
    }
    const ParamSpec& p = member.params[idx];
    const Variant& given = a.get();
    if (given.isMissing()) continue;  // an explicitly omitted argument
    if (p.type == VT::Variant) {
      if (a.ref && p.byRef) {
        slots_[idx] = a.ref;
      } else {
        local(idx) = given;
        slots_[idx] = &local(idx);
      }
    } else {
      local(idx) = coerce(given, p.type);
      slots_[idx] = &local(idx);
      if (a.ref && p.byRef) writeBackTo_[idx] = a.ref;
    }
  }
  for (size_t i = 0; i < n_; ++i) {
    if (slots_[i]) continue;
    const ParamSpec& p = member.params[i];
    if (!p.optional)
      raise(basic::ArgumentNotOptional, std::string(basicDescription(basic::ArgumentNotOptional)) + ": " + p.name);
    local(i) = p.hasDefault ? (p.type == VT::Variant ? p.def : coerce(p.def, p.type)) : Variant::missing();
    slots_[i] = &local(i);
  }
}

Frame::~Frame() = default;

void Frame::writeBack() {
  for (size_t i = 0; i < n_; ++i)
    if (writeBackTo_[i]) *writeBackTo_[i] = *slots_[i];
}

}  // namespace pm

namespace pressmark {

// ---- Dispatch ----

Dispatch::~Dispatch() = default;

std::string Dispatch::typeName() const {
  const pm::MemberTable* t = memberTable();
  return t ? t->className() : "Object";
}

Variant Dispatch::invoke(std::string_view name, pm::Invoke kind, std::span<const Arg> args) {
  const pm::MemberTable* table = memberTable();
  bool kindMismatch = false;
  const pm::MemberSpec* m = table ? table->find(name, kind, &kindMismatch) : nullptr;
  if (!m) {
    if (kindMismatch)
      pm::raise(basic::WrongArgumentCount,
                std::string(basicDescription(basic::WrongArgumentCount)) + ": " + std::string(name));
    pm::raise(basic::MemberNotSupported,
              std::string(basicDescription(basic::MemberNotSupported)) + ": " + typeName() + "." + std::string(name));
  }
  pm::Frame f(*m, args);
  Variant r = m->fn(*this, f);
  f.writeBack();
  return r;
}

// ---- Client ----

ObjectRef objectOf(const Variant& v) {
  if (!v.isObject() || !v.asObject()) pm::raise(basic::ObjectRequired);
  return v.asObject();
}

namespace {
thread_local uint64_t unsetUses = 0;
Dispatch& target(const ObjectRef& obj) {
  if (!obj) {
    ++unsetUses;
    pm::raise(basic::ObjectVariableNotSet);
  }
  return *obj;
}
}  // namespace

uint64_t unsetObjectUses() {
  return unsetUses;
}

Variant call(const ObjectRef& obj, std::string_view member, std::span<const Arg> args) {
  return target(obj).invoke(member, pm::Invoke::Method, args);
}

Variant call(const ObjectRef& obj, std::string_view member, std::initializer_list<Arg> args) {
  return target(obj).invoke(member, pm::Invoke::Method, std::span<const Arg>(args.begin(), args.size()));
}

Variant get(const ObjectRef& obj, std::string_view property, std::initializer_list<Arg> index) {
  return target(obj).invoke(property, pm::Invoke::Get, std::span<const Arg>(index.begin(), index.size()));
}

namespace {
void assign(const ObjectRef& obj, std::string_view property, pm::Invoke kind, Variant value,
            std::initializer_list<Arg> index) {
  std::vector<Arg> args(index.begin(), index.end());
  args.emplace_back(std::move(value));
  target(obj).invoke(property, kind, args);
}
}  // namespace

void let(const ObjectRef& obj, std::string_view property, Variant value, std::initializer_list<Arg> index) {
  assign(obj, property, pm::Invoke::Let, std::move(value), index);
}

void set(const ObjectRef& obj, std::string_view property, ObjectRef value, std::initializer_list<Arg> index) {
  assign(obj, property, pm::Invoke::Set, Variant(std::move(value)), index);
}

}  // namespace pressmark
