// The runtime's ordered collection: items kept in the order added, each
// optionally under a text key that is unique without regard to case. Items
// are found by 1-based position or by key. Members hand it to clients as a
// result; clients cannot create one themselves.
#pragma once

#include <string>
#include <vector>

#include "automation/Automation.h"

namespace pm {

class Collection : public Dispatch {
 public:
  const MemberTable* memberTable() const override { return &table(); }
  static const MemberTable& table();
  std::string typeName() const override { return "Collection"; }

  // Error 457 when the key is already used by another item.
  void Add(Variant item, const std::string& key = {});
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // A number is a 1-based position, a text a key; error 5 when there is no such item.
  const Variant& Item(const Variant& index) const;
  void Remove(const Variant& index);

 private:
  size_t positionOf(const Variant& index) const;
  Variant add(Frame& f);
  Variant count(Frame& f);
  Variant item(Frame& f);
  Variant remove(Frame& f);
  struct Entry {
    Variant item;
    std::string key;  // empty: no key
  };
  std::vector<Entry> items_;
};

}  // namespace pm
