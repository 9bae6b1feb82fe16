#include "servers/office/OfficeLaunch.h"

#include <cstring>

extern char** environ;

namespace pm::office {

std::vector<std::string> officeCommand(const std::string& profileUrl, const std::string& pipeName) {
  return {PM_LIBREOFFICE_PROGRAM "/soffice",
          "--headless",
          "--invisible",
          "--norestore",
          "--nologo",
          "--nodefault",
          "--nolockcheck",
          "--nofirststartwizard",
          "-env:UserInstallation=" + profileUrl,
          "--accept=pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext"};
}

std::vector<std::string> officeEnvironment(const std::string& tempDir) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "URE_BOOTSTRAP=", 14) == 0 || std::strncmp(*e, "TMPDIR=", 7) == 0 ||
        std::strncmp(*e, "SAL_ENABLE_FILE_LOCKING=", 24) == 0)
      continue;
    env.emplace_back(*e);
  }
  env.push_back("TMPDIR=" + tempDir);
  env.push_back("SAL_ENABLE_FILE_LOCKING=0");
  return env;
}

}  // namespace pm::office
