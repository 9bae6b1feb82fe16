// The engine servers are shared libraries of their own, loaded the first
// time one of their classes is created, so a job that needs only the PDF
// engine does not map the office bridge, ODBC or libcurl. The table of which
// module serves which class lives here, in the core, so a name can be
// resolved (and `pressmark --help` answered) without loading anything.
//
// Modules are looked for in one folder only: "pressmark-servers" beside the
// library this code is part of, by absolute path. No search path, no
// environment variable and no working folder is consulted, and a module or
// folder that another user could have written is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "automation/Internal.h"

namespace pm {

inline constexpr const char* kServerModuleFolder = "pressmark-servers";

struct ServerModule {
  const char* name;                  // file "<name>.so" in the module folder
  std::vector<const char*> classes;  // ProgIDs and class ids it registers
  // A shared library of the module folder the module needs (the PDF
  // engine), loaded first with the same checks, so the loader finds the
  // module's need met by it and looks nowhere else; null for none.
  const char* library = nullptr;
};

// A ProgID or class id as names are compared: lower case, no braces.
std::string foldClassName(std::string_view progIdOrClsid);

// Every server module and the classes it registers.
const std::vector<ServerModule>& serverModules();

// The module that serves a ProgID or class id (compared without regard to
// case or braces), or nullptr.
const ServerModule* serverModuleFor(std::string_view progIdOrClsid);

// The absolute folder the modules are loaded from.
PM_INTERNAL std::string serverModuleFolder();

// True when the module's file is present (it may still be refused).
bool serverModulePresent(const ServerModule& m);

// Loads the module once; its classes register themselves as it loads.
// Raises error 429 with the reason (missing file, a file or folder others
// may write, the loader's message) when it cannot be loaded.
void loadServerModule(const ServerModule& m);

// Loads one module file by absolute path, with the same checks; the seam
// the tests use to show what is refused.
void loadServerModuleFile(const std::string& absolutePath);

// An entry point a module exports by name (the office service's main, for
// one), from the module that serves the class, loaded if need be; nullptr
// when the module has no such symbol. Raises as loadServerModule does.
PM_INTERNAL void* serverModuleSymbol(std::string_view progIdOrClsid, const char* symbol);

// Loads every module whose file is present (installers list every class).
PM_INTERNAL void loadEveryServerModule();

}  // namespace pm
