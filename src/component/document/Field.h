// Field: one named form field of an open Document. Clients get it only from
// Document.GetField; it binds once, at creation, to the field object the
// document's JavaScript object hands out for the requested name, and
// forwards its members to that object. Members live in groups (one file
// each) that register themselves.
#pragma once

#include <string>

#include "automation/Automation.h"

namespace pm {

class Field : public Dispatch {
 public:
  // Binds to moduleState().strFieldRequestName of
  // moduleState().objFieldRequestJS, ignoring every error, and clears the
  // object hand-off.
  Field();
  ~Field() override;

  const MemberTable* memberTable() const override;
  static const MemberTable& table();
  std::string typeName() const override { return "Field"; }

  // Empty when the document holds no field of the requested name; members
  // then fail with the unset-object error (91).
  ObjectRef objField;
  ObjectRef objJSO;
};

using FieldMembers = MemberGroups<Field>;

// A new Field bound through this thread's module state.
ObjectRef createField();

}  // namespace pm
