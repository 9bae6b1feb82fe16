// Helpers shared by the tests: private temporary folders, files, and
// running the pressmark command as a subprocess.
#pragma once

#include <string>
#include <vector>

namespace pm::test {

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

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);

// Sets an environment variable for as long as the object lives.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();

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

}  // namespace pm::test
