// pressmark: the component from a shell.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "Command.h"
#include "automation/ServerModules.h"

namespace {

// `pressmark office status|stop`, and `office serve FOLDER`, which the
// component runs itself to start the user's shared office service.
int officeCommand(const std::vector<std::string>& words) {
  std::string sub = words.size() > 1 ? words[1] : "";
  if (sub == "serve" && words.size() == 3) {
    // The service is the office server's, in its module.
    using Serve = int (*)(const char*);
    Serve serve = nullptr;
    try {
      serve = reinterpret_cast<Serve>(pm::serverModuleSymbol("Pressmark.OfficeControl", "pm_office_service_main"));
    } catch (const pm::AutomationError& e) {
      std::cerr << "pressmark: " << e.description() << "\n";
      return 1;
    }
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

// `pressmark serve` and `pressmark worker` are the HTTP service and the farm's
// workers, and `pressmark ocr` the OCR of scanned pages, written in Python
// over the module: the command becomes that interpreter running the
// package's module, so signals and the exit status reach it unchanged.
// PRESSMARK_PYTHON names another interpreter. Run from a build tree, the
// package built beside this program is the one imported.
int pythonCommand(const std::string& module, const std::vector<std::string>& words, const char* argv0) {
  const char* env = std::getenv("PRESSMARK_PYTHON");
  std::string python = env && *env ? env : PRESSMARK_SERVICE_PYTHON;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = argv0;
  auto built = self.parent_path() / "python";
  std::filesystem::path entry = built;
  for (std::string_view rest = module; !rest.empty();) {
    auto dot = rest.find('.');
    entry /= std::string(rest.substr(0, dot));
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  }
  if (std::filesystem::exists(entry / "__main__.py", ec)) {
    const char* old = std::getenv("PYTHONPATH");
    std::string path = built.string();
    if (old && *old) path += std::string(":") + old;
    ::setenv("PYTHONPATH", path.c_str(), 1);
  }
  std::vector<std::string> args{python, "-m", module};
  args.insert(args.end(), words.begin(), words.end());
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  ::execvp(cargs[0], cargs.data());
  std::cerr << "pressmark: cannot run " << python << ": " << std::strerror(errno) << "\n";
  return 127;
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
  if (words[0] == "serve" || words[0] == "worker") return pythonCommand("pressmark.service", words, argv[0]);
  if (words[0] == "ocr") return pythonCommand("pressmark.ocr", {words.begin() + 1, words.end()}, argv[0]);
  try {
    pm::cli::Session s(std::cout);
    return s.runCall(words) ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "pressmark: " << e.what() << "\n";
    return 1;
  }
}
