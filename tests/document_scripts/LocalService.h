// A network service a test starts for itself: a program that listens on
// 127.0.0.1, prints its port on its first line when ready, and stops when
// its standard input closes. Stopped (and killed if it lingers) with the
// object.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace pm::test {

class LocalService {
 public:
  explicit LocalService(const std::vector<std::string>& argv);
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;
  int port() const { return port_; }

 private:
  void stop();
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  int port_ = 0;
};

}  // namespace pm::test
