#include "component/document/AnnotRecord.h"

namespace pm {

Variant emptyOf(VT type) {
  switch (type) {
    case VT::String:
      return Variant(std::string());
    case VT::Integer:
      return Variant(int16_t(0));
    case VT::Long:
      return Variant(int32_t(0));
    case VT::Boolean:
      return Variant(false);
    default:
      return Variant();
  }
}

AnnotRecord::AnnotRecord(const std::vector<RecordField>& fields) : fields_(fields) {
  for (const RecordField& f : fields_) values_.push_back(emptyOf(f.type));
}

size_t AnnotRecord::indexOf(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (TextEquals(fields_[i].name, name)) return i;
  raise(basic::MemberNotSupported, "The record has no field " + std::string(name));
}

Variant& AnnotRecord::field(std::string_view name) {
  return values_[indexOf(name)];
}
const Variant& AnnotRecord::field(std::string_view name) const {
  return values_[indexOf(name)];
}

bool AnnotRecord::store(std::string_view name, const Variant& value) {
  size_t i = indexOf(name);
  return ignoreErrors([&] { values_[i] = coerce(value, fields_[i].type); });
}

MemberTable AnnotRecord::makeTable(const char* className, const std::vector<RecordField>& fields) {
  MemberTable t(className);
  for (const RecordField& f : fields) {
    std::string name = f.name;
    VT type = f.type;
    t.add(MemberSpec{
        name, Invoke::Get, {}, 0, std::string("The record field ") + name + ".", [name](Dispatch& self, Frame&) {
          return static_cast<AnnotRecord&>(self).field(name);
        }});
    t.add(MemberSpec{name,
                     Invoke::Let,
                     {P("vNewValue")},
                     0,
                     std::string("The record field ") + name + ".",
                     [name, type](Dispatch& self, Frame& fr) {
                       static_cast<AnnotRecord&>(self).field(name) = coerce(fr["vNewValue"], type);
                       return Variant();
                     }});
  }
  return t;
}

}  // namespace pm
