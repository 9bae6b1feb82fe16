// pressmark: the component from a shell.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"

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
  try {
    pm::cli::Session s(std::cout);
    return s.runCall(words) ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "pressmark: " << e.what() << "\n";
    return 1;
  }
}
