#include "system/Speech.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "automation/Error.h"
#include "system/Files.h"
#include "system/Process.h"
#include "system/SystemServices.h"

namespace pm {

namespace {

std::string findInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

}  // namespace

bool SpeechAvailable() {
  return !findInPath(kSpeechProgram).empty();
}

void Speak(const std::string& text) {
  std::string program = findInPath(kSpeechProgram);
  if (program.empty())
    raise(basic::CannotCreateObject,
          "Reading aloud needs the speech synthesizer espeak-ng, which is not installed on this machine");
  // The text goes through a private file: a command line would show it to
  // every user of the machine and limit its length.
  ExclusiveTempFile input(privateTempDir(), ".txt");
  {
    std::ofstream out(input.path(), std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) raise(basic::PathFileAccess, "Cannot write the text to read aloud to " + input.path());
  }
  ProcessOptions opt;
  opt.argv = {program, "-f", input.path()};
  const char* wav = std::getenv("PRESSMARK_SPEECH_WAV");
  if (wav && *wav) {
    opt.argv.push_back("-w");
    opt.argv.push_back(wav);
  }
  // Speaking takes as long as the speech: roughly fifteen characters a
  // second, with a minute to spare.
  opt.timeout = std::chrono::milliseconds(60'000 + static_cast<int64_t>(text.size()) * 100);
  std::string failure;
  opt.onLine = [&](OutputStream which, std::string_view line) {
    // The synthesizer exits with 0 even when no audio device opens; its
    // complaint on standard error is the only sign.
    if (which == OutputStream::Stderr && failure.empty() && line.rfind("error", 0) == 0) failure = std::string(line);
  };
  ProcessResult r = runProcess(std::move(opt));
  if (r.timedOut) raise(basic::InternalError, "Reading aloud did not finish within its time-out");
  if (!r.success())
    raise(basic::InternalError,
          "Reading aloud failed: espeak-ng " + r.describe() + (failure.empty() ? "" : ": " + failure));
  if (!failure.empty())
    raise(basic::InternalError, "Reading aloud failed: espeak-ng cannot reach the audio system (" + failure + ")");
}

}  // namespace pm
