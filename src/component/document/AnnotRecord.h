// The base of the two annotation records: an automation object with one
// get/let property per record field, each field holding its declared type
// (a let coerces, error 13 when it cannot). Clients cannot create records;
// the Get methods of Document hand them out and the Set methods read them
// back by field name.
#pragma once

#include <string>
#include <vector>

#include "automation/Automation.h"

namespace pm {

struct RecordField {
  const char* name;
  VT type;
};

class AnnotRecord : public Dispatch {
 public:
  explicit AnnotRecord(const std::vector<RecordField>& fields);
  Variant& field(std::string_view name);
  const Variant& field(std::string_view name) const;
  // Stores a value coerced to the field's type; on failure the field keeps
  // its empty value and false is returned.
  bool store(std::string_view name, const Variant& value);

 protected:
  // A member table with a get and a let for every field.
  static MemberTable makeTable(const char* className, const std::vector<RecordField>& fields);

 private:
  const std::vector<RecordField>& fields_;
  std::vector<Variant> values_;
  size_t indexOf(std::string_view name) const;
};

// The empty value of a field type: "", 0, False or Empty.
Variant emptyOf(VT type);

}  // namespace pm
