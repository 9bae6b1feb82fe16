#include "component/document/TextAnnotType.h"

#include "automation/ClassTables.h"

namespace pm {

TextAnnotType::TextAnnotType() : AnnotRecord(fields()) {}

const std::vector<RecordField>& TextAnnotType::fields() {
  static const std::vector<RecordField> f = {
      {"Name", VT::String},     {"contents", VT::String},     {"State", VT::Integer},     {"Page", VT::Integer},
      {"Point", VT::Variant},   {"PopupRect", VT::Variant},   {"Author", VT::String},     {"Subject", VT::String},
      {"NoteIcon", VT::String}, {"StrokeColor", VT::Variant}, {"PopupOpen", VT::Boolean}, {"Width", VT::Integer},
      {"Lock", VT::Boolean},    {"ReadOnly", VT::Boolean}};
  return f;
}

const MemberTable& TextAnnotType::table() {
  static const MemberTable t = makeTable("TextAnnotType", fields());
  return t;
}

namespace {
const RegisterClassTable listed(&TextAnnotType::table);
}

}  // namespace pm
