#include "component/document/FreeTextAnnotType.h"

#include "automation/ClassTables.h"

namespace pm {

FreeTextAnnotType::FreeTextAnnotType() : AnnotRecord(fields()) {}

const std::vector<RecordField>& FreeTextAnnotType::fields() {
  static const std::vector<RecordField> f = {
      {"Name", VT::String},       {"contents", VT::String},  {"Alignment", VT::Integer}, {"StrokeColor", VT::Variant},
      {"FillColor", VT::Variant}, {"TextFont", VT::String},  {"TextSize", VT::Integer},  {"Page", VT::Integer},
      {"Rect", VT::Variant},      {"Author", VT::String},    {"Subject", VT::String},    {"Width", VT::Integer},
      {"Lock", VT::Boolean},      {"ReadOnly", VT::Boolean}, {"Rotate", VT::Integer}};
  return f;
}

const MemberTable& FreeTextAnnotType::table() {
  static const MemberTable t = makeTable("FreeTextAnnotType", fields());
  return t;
}

namespace {
const RegisterClassTable listed(&FreeTextAnnotType::table);
}

}  // namespace pm
