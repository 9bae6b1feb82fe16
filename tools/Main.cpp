// pressmark: the component from a shell.
#include <dlfcn.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"

namespace {

// `pressmark office status|stop`, and `office serve FOLDER`, which the
// component runs itself to start the user's shared office service.
int officeCommand(const std::vector<std::string>& words) {
  std::string sub = words.size() > 1 ? words[1] : "";
  if (sub == "serve" && words.size() == 3) {
    using Serve = int (*)(const char*);
    auto serve = reinterpret_cast<Serve>(::dlsym(RTLD_DEFAULT, "pm_office_service_main"));
    if (!serve) {
      std::cerr << "pressmark: the office server is not built\n";
      return 1;
    }
    return serve(words[2].c_str());
  }
  if ((sub == "status" || sub == "stop") && words.size() == 2) {
    try {
      pm::ObjectRef control = pm::CreateObject("Pressmark.OfficeControl");
      if (sub == "status") {
        std::string s = pm::CStr(pm::get(control, "ServiceStatus"));
        std::cout << (s.empty() ? "no office service runs\n" : s);
      } else {
        std::cout << (pm::CBool(pm::call(control, "StopService")) ? "stopped\n" : "no office service runs\n");
      }
      return 0;
    } catch (const pm::AutomationError& e) {
      std::cerr << "pressmark: " << e.description() << "\n";
      return 1;
    }
  }
  std::cerr << "usage: pressmark office status|stop\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.size() == 2 && (words[0] == "--help" || words[0] == "-h" || words[0] == "help"))
    return pm::cli::printClassHelp(words[1], std::cout, std::cerr);
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    pm::cli::printHelp(words.empty() ? std::cerr : std::cout);
    return words.empty() ? 2 : 0;
  }
  if (words[0] == "shell") {
    if (words.size() > 2) {
      std::cerr << "usage: pressmark shell [FILE]\n";
      return 2;
    }
    if (words.size() == 2) {
      std::ifstream in(words[1]);
      if (!in) {
        std::cerr << "pressmark: cannot read " << words[1] << "\n";
        return 2;
      }
      return pm::cli::runShell(in, std::cout);
    }
    return pm::cli::runShell(std::cin, std::cout);
  }
  if (words[0] == "register") return pm::cli::registerServers(std::cout);
  if (words[0] == "office") return officeCommand(words);
  try {
    pm::cli::Session s(std::cout);
    return s.runCall(words) ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "pressmark: " << e.what() << "\n";
    return 1;
  }
}
