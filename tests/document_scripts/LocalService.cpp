#include "LocalService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace pm::test {

LocalService::LocalService(const std::vector<std::string>& argv) {
  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    throw std::runtime_error("pipe");
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    std::vector<char*> a;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execvp(a[0], a.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
  if (pid_ < 0) throw std::runtime_error("fork");
  std::string line;
  for (int waited = 0; waited < 20000 && line.find('\n') == std::string::npos;) {
    pollfd p{out_, POLLIN, 0};
    int r = poll(&p, 1, 100);
    waited += 100;
    if (r <= 0) continue;
    char buf[64];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) {
    stop();
    throw std::runtime_error("the service " + argv.back() + " did not start");
  }
}

LocalService::~LocalService() {
  stop();
}

void LocalService::stop() {
  if (in_ >= 0) close(in_);
  in_ = -1;
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      usleep(20 * 1000);
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  if (out_ >= 0) close(out_);
  in_ = out_ = -1;
}

}  // namespace pm::test
