// The recording test server: stands in for any driven program under any
// ProgID or class id a test names, records every create, call, get, let, set
// and release with its arguments in order, and answers from a script the
// test gives (results, child objects, by-reference write-backs, errors and
// events on cue). Orchestration tests compare its transcript in one go.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "automation/Automation.h"

namespace pm::recording {

class Recorder;
class RecordedObject;

// A Variant written the way a Basic programmer reads it, with the type
// visible: 5% Integer, 5& Long, 1.5! Single, 1.5# Double, 1.5@ Currency,
// "text", True, Empty, Null, Missing, Nothing, <object name>, Array(...).
std::string Describe(const Variant& v);

// What a scripted member does when it is called.
class Rule {
 public:
  // Each call takes the next result; the last one repeats.
  Rule& returns(Variant v);
  // Each call returns a new recorded object (named after the member when no
  // name is given, e.g. "Word.Application.Documents").
  Rule& returnsObject(std::string name = {});
  Rule& fails(int32_t number, std::string description = {});
  // Raise an event of this object (or of the named object) during the call.
  Rule& raises(std::string event, std::vector<Variant> args, std::string onObject = {});
  // Write a value into a by-reference argument (0-based position).
  Rule& writes(size_t argIndex, Variant v);
  // Anything else: computed by the test.
  Rule& does(std::function<Variant(RecordedObject& self, std::span<const Arg> args)> fn);
  // Only the first n calls answer from this rule; later calls fall through
  // to the next rule for the same member or the default (Empty).
  Rule& times(int n);

 private:
  friend class RecordedObject;
  friend class Recorder;
  std::vector<Variant> results_;
  size_t next_ = 0;
  bool objectResult_ = false;
  std::string objectName_;
  int32_t failNumber_ = 0;
  std::string failDescription_;
  struct Raise {
    std::string event, object;
    std::vector<Variant> args;
  };
  std::vector<Raise> raises_;
  std::vector<std::pair<size_t, Variant>> writes_;
  std::function<Variant(RecordedObject&, std::span<const Arg>)> fn_;
  int remaining_ = -1;
};

class RecordedObject : public Dispatch {
 public:
  RecordedObject(std::shared_ptr<Recorder> recorder, std::string name, const std::vector<EventSpec>* events);
  ~RecordedObject() override;

  Variant invoke(std::string_view name, Invoke kind, std::span<const Arg> args) override;
  ConnectionPoint* connectionPoint() override { return events_ ? &cp_ : nullptr; }
  std::string typeName() const override { return name_; }
  const std::string& name() const { return name_; }

  // Raise one of this object's events now, with by-reference copies that
  // the returned values show after the sinks ran.
  std::vector<Variant> raise(std::string_view event, std::vector<Variant> args);

 private:
  std::shared_ptr<Recorder> recorder_;
  std::string name_;
  const std::vector<EventSpec>* events_;
  ConnectionPoint cp_;
};

class Recorder : public std::enable_shared_from_this<Recorder> {
 public:
  static std::shared_ptr<Recorder> create();
  ~Recorder();

  // Objects created under this ProgID or class id are recorded. The events
  // list declares what the object can raise (name and dispatch id).
  void registerClass(const std::string& progIdOrClsid, std::vector<EventSpec> events = {});

  // The script for one member of the objects with this name ("*" for any
  // object). Rules for the same member apply in the order added.
  Rule& on(const std::string& objectName, const std::string& member);

  std::vector<std::string> transcript() const { return lines_; }
  void clear() { lines_.clear(); }
  // The live recorded object with this name (nullptr if none).
  std::shared_ptr<RecordedObject> find(const std::string& name) const;

  // Used by the recorded objects.
  void log(std::string line) { lines_.push_back(std::move(line)); }
  std::shared_ptr<RecordedObject> make(const std::string& name, const std::vector<EventSpec>* events);
  Rule* ruleFor(const std::string& object, std::string_view member);
  const std::vector<EventSpec>* eventsOf(const std::string& name) const;

 private:
  Recorder() = default;
  std::vector<std::string> lines_;
  std::vector<std::unique_ptr<ScopedClass>> classes_;
  std::map<std::string, std::vector<EventSpec>> events_;
  std::vector<std::pair<std::string, std::unique_ptr<Rule>>> rules_;  // key "object|member", lower-cased member
  std::vector<std::weak_ptr<RecordedObject>> live_;
  std::map<std::string, int> instances_;
};

}  // namespace pm::recording
