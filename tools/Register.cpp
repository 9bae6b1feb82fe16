// pressmark register: the keys an installer writes for the built-in servers.
#include <iostream>
#include <set>

#include "Command.h"
#include "automation/ServerModules.h"
#include "component/frame/CreatePDF.h"
#include "system/clsRegistry.h"

namespace pm::cli {

namespace {

// The viewer version the built-in PDF server reports: above 7.0, so the
// component takes its modern paths, and below 8, where saving as PDF needs
// no PDF/A preflight that the engine cannot do.
constexpr const char* kViewerVersion = "7.1";
// The PostScript printer the built-in Distiller stands behind.
constexpr const char* kDistillerPrinter = "Pressmark PDF";

bool writeDefault(const std::string& key, const std::string& value, std::ostream& out) {
  clsRegistry reg;
  if (reg.OpenRegistry(HKEY_LOCAL_MACHINE, "") == 0 || !reg.CreateDirectory(key)) {
    out << "cannot create HKEY_LOCAL_MACHINE\\" << key << "\n";
    return false;
  }
  if (reg.OpenRegistry(HKEY_LOCAL_MACHINE, key) == 0) {
    out << "cannot open HKEY_LOCAL_MACHINE\\" << key << "\n";
    return false;
  }
  int32_t type = regtype::String;
  if (!reg.CreateValue("", Variant(value), type)) {
    out << "cannot write HKEY_LOCAL_MACHINE\\" << key << "\n";
    return false;
  }
  return true;
}

}  // namespace

int registerServers(std::ostream& out) {
  registerCreatePDF();
  // Servers register their classes as their modules load; an installer
  // lists every class, so every module there is is loaded here.
  bool ok = true;
  try {
    loadEveryServerModule();
  } catch (const AutomationError& e) {
    out << e.description() << "\n";
    ok = false;
  }
  ok &= writeDefault("SOFTWARE\\Classes\\AcroExch.App\\AcrobatVersion", kViewerVersion, out);
  ok &= writeDefault("SOFTWARE\\Adobe\\Acrobat Distiller\\7.0\\PrinterName", kDistillerPrinter, out);
  std::set<std::string> seen;
  for (const auto& e : ClassRegistry::instance().entries()) {
    if (!e.progId.empty() && !e.clsid.empty()) {
      ok &= writeDefault("SOFTWARE\\Classes\\" + e.progId + "\\CLSID", e.clsid, out);
      ok &= writeDefault("SOFTWARE\\Classes\\CLSID\\" + e.clsid + "\\ProgID", e.progId, out);
    } else if (!e.progId.empty()) {
      ok &= writeDefault("SOFTWARE\\Classes\\" + e.progId, e.description.empty() ? e.progId : e.description, out);
    } else if (!e.clsid.empty()) {
      ok &= writeDefault("SOFTWARE\\Classes\\CLSID\\" + e.clsid, e.description, out);
    }
  }
  if (ok)
    out << "registered: viewer version " << kViewerVersion << ", Distiller printer \"" << kDistillerPrinter << "\"\n";
  return ok ? 0 : 1;
}

}  // namespace pm::cli
