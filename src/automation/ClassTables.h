// The member tables of the component's classes by class name, for clients
// that list what a class offers (the shell's help). Creatable or not
// (Document and the objects it hands out are not), every class whose table
// registers here can be listed.
#pragma once

#include <string_view>
#include <vector>

#include "automation/Dispatch.h"
#include "automation/Internal.h"

namespace pm {

using ClassTableFn = const MemberTable& (*)();

// Registration at load time; the table is built only when it is asked for.
struct RegisterClassTable {
  explicit RegisterClassTable(ClassTableFn fn);
};

// Every registered table, sorted by class name.
PM_INTERNAL std::vector<const MemberTable*> classTables();
// The table of a class, the name compared without regard to case; nullptr
// when no class of that name is registered.
PM_INTERNAL const MemberTable* findClassTable(std::string_view className);

}  // namespace pm
