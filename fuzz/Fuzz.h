// What a fuzz target may add to LLVMFuzzerTestOneInput, which every target
// defines. With clang a target is a libFuzzer program; built with g++ it is
// linked with FuzzMain.cpp, a small mutation driver of its own:
//   <target> [--seconds N] [--seed N] [--make-seeds DIR] [DIR...]
// replays every file of the folders given, then mutates them for N seconds
// (default PM_FUZZ_SECONDS, else 60). An input that crashes the target, or
// runs longer than PM_FUZZ_INPUT_SECONDS (default 10), is saved as
// crash-<target>-<pid>-<n> or timeout-<target>-<pid> in the working folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Optional: writes seed inputs into dir (--make-seeds).
void pmFuzzMakeSeeds(const std::string& dir) __attribute__((weak));
// Optional: words of the input's language, spliced in by the mutator.
std::vector<std::string> pmFuzzTokens() __attribute__((weak));

namespace pmfuzz {

// A private scratch file for inputs that must be read from a path; one per
// process, removed at exit.
const std::string& scratchFile(const char* suffix = "");
// Writes the input to scratchFile(suffix) and returns its path.
const std::string& writeScratch(const uint8_t* data, size_t size, const char* suffix = "");

}  // namespace pmfuzz
