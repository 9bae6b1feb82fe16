// How a headless office process is started, for the in-process office and
// for the offices of the shared service alike.
#pragma once

#include <string>
#include <vector>

namespace pm::office {

// The command line of a headless office with its own profile (a file URL)
// that accepts one UNO connection on the named pipe.
std::vector<std::string> officeCommand(const std::string& profileUrl, const std::string& pipeName);

// The caller's environment without our UNO bootstrap setting (the office
// finds its own), with the office's temporary files in tempDir and without
// lock files beside the documents: they are only read, and a lock left by a
// killed office would keep the next one from opening the same document.
std::vector<std::string> officeEnvironment(const std::string& tempDir);

}  // namespace pm::office
