#include "component/document/Field.h"

#include "automation/ClassTables.h"
#include "component/frame/ModuleState.h"

namespace pm {

Field::Field() {
  ModuleState& s = moduleState();
  ignoreErrors([&] { objJSO = s.objFieldRequestJS; });
  ignoreErrors([&] { objField = objectOf(call(objJSO, "GetField", {s.strFieldRequestName})); });
  s.objFieldRequestJS.reset();
}

Field::~Field() {
  objField.reset();
  objJSO.reset();
}

const MemberTable& Field::table() {
  static const MemberTable t = [] {
    MemberTable t("Field");
    FieldMembers::applyAll(t, {"items", "properties", "methods", "signatures", "vocabulary"});
    return t;
  }();
  return t;
}

const MemberTable* Field::memberTable() const {
  return &table();
}

ObjectRef createField() {
  return std::make_shared<Field>();
}

namespace {
const RegisterClassTable listed(&Field::table);
}

}  // namespace pm
