#include "servers/recording/Recorder.h"

#include <cctype>
#include <cstdio>

namespace pm::recording {

namespace {

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string quote(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '"')
      r += "\"\"";
    else if (c == '\r')
      r += "\" & vbCr & \"";
    else if (c == '\n')
      r += "\" & vbLf & \"";
    else
      r += c;
  }
  return r + "\"";
}

std::string describeArgs(std::span<const Arg> args) {
  std::string s;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) s += ", ";
    if (!args[i].name.empty()) s += args[i].name + ":=";
    s += Describe(args[i].get());
  }
  return s;
}

}  // namespace

std::string Describe(const Variant& v) {
  switch (v.type()) {
    case VT::Empty:
      return "Empty";
    case VT::Null:
      return "Null";
    case VT::Boolean:
      return v.asBool() ? "True" : "False";
    case VT::Integer:
      return std::to_string(v.asInteger()) + "%";
    case VT::Long:
      return std::to_string(v.asLong()) + "&";
    case VT::Single:
      return CStr(v) + "!";
    case VT::Double:
      return CStr(v) + "#";
    case VT::Currency:
      return CStr(v) + "@";
    case VT::Date:
      return "#" + CStr(v) + "#";
    case VT::Byte:
      return "CByte(" + std::to_string(v.asByte()) + ")";
    case VT::String:
      return quote(v.asString());
    case VT::Error:
      return v.isMissing() ? "Missing" : "CVErr(" + std::to_string(v.asError().scode) + ")";
    case VT::Object:
      return v.asObject() ? "<" + v.asObject()->typeName() + ">" : "Nothing";
    default: {
      const Array& a = v.array();
      std::string s = "Array";
      if (a.dims() != 1 || a.lbound(1) != 0) {
        s += "[";
        for (int d = 1; d <= a.dims(); ++d) {
          if (d > 1) s += ", ";
          s += std::to_string(a.lbound(d)) + " To " + std::to_string(a.ubound(d));
        }
        s += "]";
      }
      s += "(";
      for (size_t i = 0; i < a.data().size(); ++i) {
        if (i) s += ", ";
        s += Describe(a.data()[i]);
      }
      return s + ")";
    }
  }
}

// ---- Rule ----

Rule& Rule::returns(Variant v) {
  results_.push_back(std::move(v));
  return *this;
}
Rule& Rule::returnsObject(std::string name) {
  objectResult_ = true;
  objectName_ = std::move(name);
  return *this;
}
Rule& Rule::fails(int32_t number, std::string description) {
  failNumber_ = number;
  failDescription_ = std::move(description);
  return *this;
}
Rule& Rule::raises(std::string event, std::vector<Variant> args, std::string onObject) {
  raises_.push_back(Raise{std::move(event), std::move(onObject), std::move(args)});
  return *this;
}
Rule& Rule::writes(size_t argIndex, Variant v) {
  writes_.emplace_back(argIndex, std::move(v));
  return *this;
}
Rule& Rule::does(std::function<Variant(RecordedObject&, std::span<const Arg>)> fn) {
  fn_ = std::move(fn);
  return *this;
}
Rule& Rule::times(int n) {
  remaining_ = n;
  return *this;
}

// ---- RecordedObject ----

namespace {
const std::vector<EventSpec> kNoEvents;
}

RecordedObject::RecordedObject(std::shared_ptr<Recorder> recorder, std::string name,
                               const std::vector<EventSpec>* events)
    : recorder_(std::move(recorder)), name_(std::move(name)), events_(events), cp_(events ? *events : kNoEvents) {}

RecordedObject::~RecordedObject() {
  recorder_->log("release " + name_);
}

std::vector<Variant> RecordedObject::raise(std::string_view event, std::vector<Variant> args) {
  std::vector<Variant*> refs;
  for (Variant& a : args) refs.push_back(&a);
  cp_.raise(event, std::span<Variant* const>(refs.data(), refs.size()));
  return args;
}

Variant RecordedObject::invoke(std::string_view member, Invoke kind, std::span<const Arg> args) {
  std::string line = name_ + " " + invokeName(kind) + " " + std::string(member);
  if (kind == Invoke::Let || kind == Invoke::Set) {
    std::span<const Arg> index = args.empty() ? args : args.first(args.size() - 1);
    if (!index.empty()) line += "(" + describeArgs(index) + ")";
    line += " = " + (args.empty() ? std::string("?") : Describe(args.back().get()));
  } else if (kind == Invoke::Method || !args.empty()) {
    line += "(" + describeArgs(args) + ")";
  }
  recorder_->log(line);

  Rule* rule = recorder_->ruleFor(name_, member);
  if (!rule) return Variant();
  if (rule->remaining_ > 0) --rule->remaining_;
  for (const auto& r : rule->raises_) {
    std::shared_ptr<RecordedObject> target =
        r.object.empty() ? std::static_pointer_cast<RecordedObject>(shared_from_this()) : recorder_->find(r.object);
    if (!target) pm::raise(basic::InternalError, "No recorded object named " + r.object);
    target->raise(r.event, r.args);
  }
  for (const auto& [i, v] : rule->writes_) {
    if (i >= args.size() || !args[i].ref)
      pm::raise(basic::InternalError, "The script writes argument " + std::to_string(i) + " of " + std::string(member) +
                                          ", which was not passed by reference");
    *args[i].ref = v;
  }
  if (rule->failNumber_ != 0) pm::raise(rule->failNumber_, rule->failDescription_, name_);
  if (rule->fn_) return rule->fn_(*this, args);
  if (rule->objectResult_) {
    std::string child = rule->objectName_.empty() ? name_ + "." + std::string(member) : rule->objectName_;
    return Variant(ObjectRef(recorder_->make(child, recorder_->eventsOf(child))));
  }
  if (rule->results_.empty()) return Variant();
  Variant r = rule->results_[std::min(rule->next_, rule->results_.size() - 1)];
  ++rule->next_;
  return r;
}

// ---- Recorder ----

std::shared_ptr<Recorder> Recorder::create() {
  return std::shared_ptr<Recorder>(new Recorder());
}

Recorder::~Recorder() = default;

void Recorder::registerClass(const std::string& name, std::vector<EventSpec> events) {
  events_[name] = std::move(events);
  std::weak_ptr<Recorder> self = weak_from_this();
  classes_.push_back(std::make_unique<ScopedClass>(name, "", [self, name]() -> ObjectRef {
    auto r = self.lock();
    if (!r) return nullptr;
    int n = ++r->instances_[name];
    std::string objName = n == 1 ? name : name + "#" + std::to_string(n);
    r->log("create " + name + (n == 1 ? "" : " -> " + objName));
    return r->make(objName, r->eventsOf(name));
  }));
}

Rule& Recorder::on(const std::string& objectName, const std::string& member) {
  rules_.emplace_back(objectName + "|" + lower(member), std::make_unique<Rule>());
  return *rules_.back().second;
}

Rule* Recorder::ruleFor(const std::string& object, std::string_view member) {
  std::string m = lower(member);
  // A second instance ("Word.Application#2") follows the script of its class.
  std::string base = object.substr(0, object.find('#'));
  for (const std::string& key : {object + "|" + m, base + "|" + m, "*|" + m})
    for (auto& [k, rule] : rules_)
      if (k == key && rule->remaining_ != 0) return rule.get();
  return nullptr;
}

const std::vector<EventSpec>* Recorder::eventsOf(const std::string& name) const {
  auto it = events_.find(name);
  return it == events_.end() || it->second.empty() ? nullptr : &it->second;
}

std::shared_ptr<RecordedObject> Recorder::make(const std::string& name, const std::vector<EventSpec>* events) {
  auto o = std::make_shared<RecordedObject>(shared_from_this(), name, events);
  std::erase_if(live_, [](const std::weak_ptr<RecordedObject>& w) { return w.expired(); });
  live_.push_back(o);
  return o;
}

std::shared_ptr<RecordedObject> Recorder::find(const std::string& name) const {
  for (const auto& w : live_)
    if (auto o = w.lock(); o && o->name() == name) return o;
  return nullptr;
}

}  // namespace pm::recording
