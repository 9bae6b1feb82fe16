#include "servers/pdf/engine/Linearize.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "automation/Error.h"
#include "servers/pdf/engine/Mu.h"
#include "system/AtomicFile.h"
#include "system/Process.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw mu::EngineError(d);
}

}  // namespace

void linearizeFile(const std::string& path) {
  std::optional<AtomicFile> out;
  try {
    out.emplace(path);
    // qpdf writes it by name.
    out->close();
  } catch (const AtomicFileError& e) {
    fail("Cannot write beside " + path + ": " + std::strerror(e.error()));
  }
  ProcessOptions opt;
  opt.argv = {kLinearizer, "--linearize", path, out->path()};
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
  try {
    out->commit();
  } catch (const AtomicFileError& e) {
    fail("Cannot save " + path + ": " + std::strerror(e.error()));
  }
}

}  // namespace pm::pdf
