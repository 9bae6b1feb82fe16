#include "support/Processes.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace pm::test {

std::string procFile(pid_t pid, const char* name) {
  // Read with stdio: a process that ends while it is read fails the read,
  // which a stream would throw for.
  std::string c;
  if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/" + name).c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) c.append(buf, n);
    std::fclose(f);
  }
  return c;
}

std::string cmdline(pid_t pid) {
  std::string c = procFile(pid, "cmdline");
  for (char& ch : c)
    if (ch == '\0') ch = ' ';
  return c;
}

std::string statusField(pid_t pid, const std::string& field) {
  std::istringstream in(procFile(pid, "status"));
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return line.substr(line.find_first_not_of(" \t", field.size() + 1));
  return {};
}

bool running(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  std::string line = procFile(pid, "stat");
  size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || (line[close + 2] != 'Z' && line[close + 2] != 'X');
}

bool stillRunning(pid_t pid) {
  for (int i = 0; i < 500 && running(pid); ++i) ::usleep(10000);
  return running(pid);
}

std::vector<pid_t> processesWhere(const std::function<bool(pid_t)>& pred) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    std::string name = e.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t p = static_cast<pid_t>(std::stol(name));
    if (running(p) && pred(p)) out.push_back(p);
  }
  return out;
}

}  // namespace pm::test
