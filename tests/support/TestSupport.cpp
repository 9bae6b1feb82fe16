#include "support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "support/Raised.h"

extern char** environ;

namespace pm::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "pmtest-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

bool inCI() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

bool haveTestCups() {
  return std::getenv("PRESSMARK_TEST_CUPS") != nullptr && std::getenv("CUPS_SERVER") != nullptr;
}

std::string testCupsDir() {
  const char* d = std::getenv("PRESSMARK_TEST_CUPS_DIR");
  return d ? d : "";
}

void resetTestCupsDefault() {
  std::error_code ec;
  if (const char* home = std::getenv("HOME")) std::filesystem::remove(std::string(home) + "/.cups/lpoptions", ec);
}

std::vector<std::string> TempDir::names() const {
  std::vector<std::string> v;
  for (auto& e : std::filesystem::directory_iterator(path_)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

int32_t errorOf(const std::function<void()>& f, std::string* description) {
  Raised r = raised(f);
  if (description && r.number) *description = r.description;
  return r.number;
}

void writeFile(const std::string& path, const std::string& content) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ofstream f(path, std::ios::binary);
  f << content;
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

unsigned modeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* o = std::getenv(name_.c_str())) {
    had_ = true;
    old_ = o;
  }
  if (value)
    ::setenv(name_.c_str(), value, 1);
  else
    ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

CommandResult runPressmark(const std::vector<std::string>& args, const std::string& input,
                           const std::vector<std::string>& env) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<std::string> argvS = {PRESSMARK_CLI};
  argvS.insert(argvS.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvS) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envS;
  // The extra entries replace inherited ones of the same name: the first of
  // two entries is the one a program sees.
  auto nameOf = [](const std::string& e) { return e.substr(0, e.find('=')); };
  for (char** e = environ; *e; ++e)
    if (std::none_of(env.begin(), env.end(), [&](const std::string& x) { return nameOf(x) == nameOf(*e); }))
      envS.push_back(*e);
  envS.insert(envS.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : envS) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid;
  int rc = ::posix_spawn(&pid, PRESSMARK_CLI, &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (rc != 0) throw std::runtime_error("cannot start " PRESSMARK_CLI);
  CommandResult r;
  size_t written = 0;
  if (input.empty()) {
    ::close(in[1]);
    in[1] = -1;
  }
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
  int open = 2;
  while (open > 0) {
    fds[2].fd = in[1];
    if (::poll(fds, 3, -1) < 0) break;
    if (in[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 || written == input.size()) {
        ::close(in[1]);
        in[1] = -1;
      }
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
      if (n > 0) (k == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      if (n <= 0) {
        ::close(std::exchange(fds[k].fd, -1));
        --open;
      }
    }
  }
  if (in[1] >= 0) ::close(in[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

}  // namespace pm::test
