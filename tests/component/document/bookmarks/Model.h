// A bookmark tree played by the recording server: every bookmark is a
// recorded object named by its id, "Children" answers the current list (null
// for none, as the viewer does), "Name" its name, and "createChild" and
// "Remove" change the tree the way the viewer does (a position past the end
// appends). Each scripted member can be made to fail for one id.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "automation/Automation.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"
#include "support/RecordedDocument.h"

namespace pm::test {

using pm::recording::RecordedObject;
using pm::recording::Recorder;
using Lines = std::vector<std::string>;

struct Item {
  std::string id, name;
  std::vector<Item> kids;
};

struct Tree {
  std::map<std::string, std::vector<std::string>> kids;  // id -> child ids
  std::map<std::string, std::string> names;
  std::map<std::string, std::string> parent;
  std::set<std::string> failing;  // "id|member" that raise

  void add(const std::string& parentId, const Item& i) {
    kids[parentId].push_back(i.id);
    names[i.id] = i.name;
    parent[i.id] = parentId;
    for (const Item& k : i.kids) add(i.id, k);
  }
  bool fails(const RecordedObject& o, const char* member) const { return failing.count(o.name() + "|" + member) > 0; }
};

class BookmarkModel : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    recordViewerDocument(*rec);
    tree = std::make_shared<Tree>();
    Tree* t = tree.get();
    Recorder* r = rec.get();
    // Each member raises "cannot <member>" (the root: 1234 "no outline")
    // for the objects the test names in tree->failing.
    auto member = [&](const char* object, const std::string& name, std::function<Variant(RecordedObject&)> f) {
      rec->on(object, name).does([t, name, f](RecordedObject& self, std::span<const Arg>) -> Variant {
        if (t->fails(self, name.c_str()))
          name == "BookMarkRoot" ? raise(1234, "no outline", self.name()) : raise(5, "cannot " + name, self.name());
        return f(self);
      });
    };
    member("JSO", "BookMarkRoot", [r](RecordedObject&) { return Variant(ObjectRef(r->make("Root", nullptr))); });
    member("*", "Children", [t, r](RecordedObject& self) {
      auto it = t->kids.find(self.name());
      if (it == t->kids.end() || it->second.empty()) return Variant::null();
      std::vector<Variant> items;
      for (const std::string& id : it->second) items.emplace_back(ObjectRef(r->make(id, nullptr)));
      return Variant(Array::vector(std::move(items)));
    });
    member("*", "Name", [t](RecordedObject& self) { return Variant(t->names[self.name()]); });
    member("*", "Remove", [t](RecordedObject& self) {
      std::erase(t->kids[t->parent[self.name()]], self.name());
      return Variant();
    });
    for (const char* m : {"Execute", "setAction", "Color", "Style", "Open"})
      member("*", m, [](RecordedObject&) { return Variant(); });
    // A position past the end appends, as in the viewer.
    rec->on("*", "createChild").does([t](RecordedObject& self, std::span<const Arg> args) -> Variant {
      if (t->fails(self, "createChild")) raise(5, "cannot create", self.name());
      std::string name = CStr(args[0].get());
      std::string id = t->names.count(name) ? name + "'" : name;
      auto& list = t->kids[self.name()];
      list.insert(list.begin() + std::clamp(CLng(args[2].get()), int32_t(0), static_cast<int32_t>(list.size())), id);
      t->names[id] = name;
      t->parent[id] = self.name();
      return Variant();
    });
  }
  // A Document over the model with these top-level bookmarks.
  ObjectRef open(const std::vector<Item>& top = {}) {
    for (const Item& i : top) tree->add("Root", i);
    ObjectRef d = createDocument();
    rec->clear();
    return d;
  }
  // The transcript without the releases, which only show object lifetimes.
  Lines calls() const {
    Lines out;
    for (const std::string& l : rec->transcript())
      if (l.rfind("release ", 0) != 0) out.push_back(l);
    return out;
  }
  std::shared_ptr<Recorder> rec;
  std::shared_ptr<Tree> tree;
};

// A table of rows as a two-dimensional array.
inline Variant table(std::initializer_list<std::vector<Variant>> rows) {
  Array a = Array::matrix(static_cast<int32_t>(rows.size()), static_cast<int32_t>(rows.begin()->size()));
  int32_t r = 0;
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) a.set({r, static_cast<int32_t>(c)}, row[c]);
    ++r;
  }
  return Variant(std::move(a));
}

// An error of the expected number, passed on with the component as source.
inline void expectPassedOn(const std::function<void()>& body, int32_t number, const std::string& what) {
  Raised r = raised(body);
  EXPECT_EQ(std::make_pair(r.number, r.source), std::make_pair(number, std::string("Pressmark"))) << what;
}

}  // namespace pm::test
