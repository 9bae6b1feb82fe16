// A network service a test starts for itself: a program that listens on
// 127.0.0.1 and, when ready, writes its port to the file "port" in the
// folder given as its last argument. The whole process group is ended with
// the object.
#pragma once

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"
#include "system/Process.h"

namespace pm::test {

class LocalService {
 public:
  explicit LocalService(const std::vector<std::string>& argv) : process_(options(argv)) {
    std::string portFile = argv.back() + "/port";
    for (int i = 0; i < 200 && !port_ && process_.running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (std::ifstream(portFile) >> port_) break;
    }
    if (port_ <= 0) throw std::runtime_error("the service " + argv[1] + " did not start");
  }
  int port() const { return port_; }

 private:
  static ProcessOptions options(const std::vector<std::string>& argv) {
    ProcessOptions o;
    o.argv = argv;
    return o;
  }
  Process process_;
  int port_ = 0;
};

}  // namespace pm::test
