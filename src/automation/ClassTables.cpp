#include "automation/ClassTables.h"

#include <algorithm>

#include "automation/TextCompare.h"

namespace pm {
namespace {

std::vector<ClassTableFn>& registered() {
  static std::vector<ClassTableFn> fns;
  return fns;
}

}  // namespace

RegisterClassTable::RegisterClassTable(ClassTableFn fn) {
  registered().push_back(fn);
}

std::vector<const MemberTable*> classTables() {
  std::vector<const MemberTable*> out;
  for (ClassTableFn fn : registered()) out.push_back(&fn());
  std::stable_sort(out.begin(), out.end(), [](const MemberTable* a, const MemberTable* b) {
    return StrComp(a->className(), b->className(), true) < 0;
  });
  return out;
}

const MemberTable* findClassTable(std::string_view className) {
  for (const MemberTable* t : classTables())
    if (TextEquals(t->className(), className)) return t;
  return nullptr;
}

}  // namespace pm
