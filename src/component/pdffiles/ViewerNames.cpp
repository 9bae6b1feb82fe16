#include "component/pdffiles/ViewerNames.h"

#include "automation/Convert.h"
#include "component/frame/ModuleState.h"

namespace pm::pdffiles {

double acrobatVersion() {
  return Val(moduleState().strAcrobatVersion);
}

std::string viewerWindowTitle(const std::string& path) {
  if (acrobatVersion() <= 5) return {};
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace pm::pdffiles
