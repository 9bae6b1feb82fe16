// One distilling job: a PostScript file becomes a PDF through Ghostscript's
// pdfwrite device, run as a child process under -dSAFER that may read only
// what the job needs, with a time-out, a private temporary folder, and the
// PDF written under a temporary name beside the output and renamed into
// place only when it is complete and valid.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pm::distiller {

struct JobRequest {
  std::string input;       // PostScript file (or driver file)
  std::string output;      // PDF to produce
  std::string jobOptions;  // "" for none
  bool applySecurity = false;
  std::chrono::seconds timeout{600};
};

struct JobProgress {
  std::function<void(const std::string&)> log;
  std::function<void(int32_t)> page;
  std::function<void(int32_t)> percent;
};

// Runs the job; true when the PDF is in place. A job that fails is reported
// through the log and false; only a Ghostscript that cannot be started at
// all raises an automation error.
bool runJob(const JobRequest& request, const JobProgress& progress);

// The Ghostscript program: $PRESSMARK_GHOSTSCRIPT, else "gs" from PATH.
std::string ghostscriptProgram();

// The page count a PostScript file declares with %%Pages (the header, or
// the trailer for "(atend)"); for a driver file the sum over the files it
// runs. 0 when it is not known.
int32_t declaredPages(const std::string& path);

// The files a driver file (one that starts with the driver prologue) runs,
// exactly as written in its "(path) prun" lines; empty for other files.
std::vector<std::string> driverEntries(const std::string& path);

// The arguments that make a Ghostscript arguments file (@file) carry one
// argument; false for text it cannot carry (line breaks, control bytes, a
// trailing backslash).
bool argumentFileLine(const std::string& argument, std::string& line);

// The default time-out: $PRESSMARK_DISTILLER_TIMEOUT seconds when that is a
// positive whole number, else 600.
std::chrono::seconds defaultTimeout();

}  // namespace pm::distiller
