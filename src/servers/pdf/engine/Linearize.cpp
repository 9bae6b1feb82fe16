#include "servers/pdf/engine/Linearize.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "automation/Error.h"
#include "servers/pdf/engine/Mu.h"
#include "system/Process.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) { throw AutomationError(mu::kErrEngine, mu::kEngineSource, d); }

struct Beside {
  std::string path;
  bool keep = false;
  ~Beside() {
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
};

}  // namespace

void linearizeFile(const std::string& path) {
  std::string tmpl = path + ".linear-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  int fd = ::mkstemp(buf.data());
  if (fd < 0) fail("Cannot write beside " + path + ": " + std::strerror(errno));
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  ::close(fd);
  Beside out{std::string(buf.data())};
  ProcessOptions opt;
  opt.argv = {kLinearizer, "--linearize", path, out.path};
  opt.timeout = std::chrono::minutes(10);
  std::string why;
  opt.onLine = [&](OutputStream, std::string_view line) {
    if (why.size() < 400) why += (why.empty() ? "" : "; ") + std::string(line);
  };
  ProcessResult r;
  try {
    r = runProcess(std::move(opt));
  } catch (const AutomationError& e) {
    fail("Cannot linearize " + path + ": " + kLinearizer + " cannot be run (" + e.description() + ")");
  }
  // Exit status 3: written, with warnings about the input.
  if (!(r.exited && (r.exitCode == 0 || r.exitCode == 3)) || r.timedOut)
    fail("Cannot linearize " + path + ": " + kLinearizer + " " + r.describe() + (why.empty() ? "" : ": " + why));
  if (::rename(out.path.c_str(), path.c_str()) != 0) fail("Cannot save " + path + ": " + std::strerror(errno));
  out.keep = true;
}

}  // namespace pm::pdf
