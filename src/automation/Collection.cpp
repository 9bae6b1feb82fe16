#include "automation/Collection.h"

#include "automation/ClassTables.h"
#include "automation/TextCompare.h"

namespace pm {

namespace {
constexpr int32_t kKeyInUse = 457;
}

const MemberTable& Collection::table() {
  static const MemberTable t = [] {
    MemberTable t("Collection");
    Members<Collection> m(t);
    m.method("Add", {P("Item"), P("Key").opt()}, &Collection::add, "Adds an item, optionally under a text key.")
        .get("Count", {}, &Collection::count, "The number of items.")
        .method("Item", {P("Index")}, &Collection::item, "The item at a 1-based position or under a key.")
        .method("Remove", {P("Index")}, &Collection::remove, "Removes the item at a 1-based position or under a key.");
    return t;
  }();
  return t;
}

void Collection::Add(Variant item, const std::string& key) {
  if (!key.empty())
    for (const Entry& e : items_)
      if (!e.key.empty() && TextEquals(e.key, key))
        raise(kKeyInUse, "This key is already associated with an element of this collection");
  items_.push_back(Entry{std::move(item), key});
}

size_t Collection::positionOf(const Variant& index) const {
  if (index.isString()) {
    for (size_t i = 0; i < items_.size(); ++i)
      if (!items_[i].key.empty() && TextEquals(items_[i].key, index.asString())) return i;
    raise(basic::InvalidProcedureCall);
  }
  int32_t n = CLng(index);
  if (n < 1 || n > Count()) raise(basic::InvalidProcedureCall);
  return static_cast<size_t>(n - 1);
}

const Variant& Collection::Item(const Variant& index) const {
  return items_[positionOf(index)].item;
}

void Collection::Remove(const Variant& index) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(positionOf(index)));
}

Variant Collection::add(Frame& f) {
  std::string key;
  if (!f.missing("Key")) {
    if (!f["Key"].isString()) raise(basic::TypeMismatch);
    key = f["Key"].asString();
  }
  Add(f["Item"], key);
  return {};
}
Variant Collection::count(Frame&) {
  return Variant(Count());
}
Variant Collection::item(Frame& f) {
  return Item(f["Index"]);
}
Variant Collection::remove(Frame& f) {
  Remove(f["Index"]);
  return {};
}

namespace {
const RegisterClassTable listed(&Collection::table);
}

}  // namespace pm
