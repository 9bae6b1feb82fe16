// The free-text annotation record: the properties of a free-text box,
// field by field.
#pragma once

#include "component/document/AnnotRecord.h"

namespace pm {

class FreeTextAnnotType : public AnnotRecord {
 public:
  FreeTextAnnotType();
  static const std::vector<RecordField>& fields();
  static const MemberTable& table();
  const MemberTable* memberTable() const override { return &table(); }
  std::string typeName() const override { return "FreeTextAnnotType"; }
};

}  // namespace pm
