// The text annotation record: the properties of a note, field by field.
#pragma once

#include "component/document/AnnotRecord.h"

namespace pm {

class TextAnnotType : public AnnotRecord {
 public:
  TextAnnotType();
  static const std::vector<RecordField>& fields();
  static const MemberTable& table();
  const MemberTable* memberTable() const override { return &table(); }
  std::string typeName() const override { return "TextAnnotType"; }
};

}  // namespace pm
