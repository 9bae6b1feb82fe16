// Helpers shared by the tests: private temporary folders, files, and
// running the pressmark command as a subprocess.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Begins a test that needs a service, program or account the machine may
// lack: without it the test is skipped on a developer's machine, but fails
// where CI=true, so a missing service cannot pass CI silently.
#define PM_REQUIRE_OR_SKIP(cond, why)                \
  do {                                               \
    if (!(cond)) {                                   \
      if (::pm::test::inCI())                        \
        FAIL() << "needed under CI=true: " << (why); \
      else                                           \
        GTEST_SKIP() << (why);                       \
    }                                                \
  } while (0)

namespace pm::test {

bool inCI();  // CI=true

// The private scheduler of scripts/services/cups.sh runs (PRESSMARK_TEST_CUPS
// and CUPS_SERVER set). Every test program runs with a HOME of its own
// while it does (libcups keeps the user's default printer there).
bool haveTestCups();
// The scheduler's folder; its queues print into out/ there.
std::string testCupsDir();
// Back to the scheduler's default printer (Pressmark_PS): forgets the user
// default an earlier test set.
void resetTestCupsDefault();

// A fresh folder under the system temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> names() const;  // entries, sorted

 private:
  std::string path_;
};

// Writes a file, making its folder first.
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
// How often what occurs in text, the occurrences not overlapping.
int countOf(const std::string& text, const std::string& what);
// The mode of a path itself, a link not followed (type and permission
// bits; 0 when there is nothing there).
unsigned modeOf(const std::string& path);

// Sets (or, given a null value, unsets) an environment variable for as long
// as the object lives.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value) : ScopedEnv(std::move(name), value.c_str()) {}
  ScopedEnv(std::string name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs the pressmark command with the arguments (no shell), optional
// standard input and extra environment ("NAME=value").
CommandResult runPressmark(const std::vector<std::string>& args, const std::string& input = {},
                           const std::vector<std::string>& env = {});

// The number of the automation error f raises (its description into
// *description), or 0 when it raises none.
int32_t errorOf(const std::function<void()>& f, std::string* description = nullptr);

}  // namespace pm::test
