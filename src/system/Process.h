// A child process run without a shell, in its own process group, with its
// output delivered line by line on the calling thread and a time-out that
// ends the whole group. Whatever way the owner leaves (return, exception,
// time-out), the group is killed and the child reaped: no zombie and no
// stray grandchild outlives a Process object. The child is also killed
// when the thread that started it ends, the process included (SIGKILL of
// the owner leaves no orphan behind).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/Internal.h"

namespace pm {

enum class OutputStream { Stdout = 1, Stderr = 2 };

struct ProcessOptions {
  // argv[0] is looked up in PATH when it holds no "/".
  std::vector<std::string> argv;
  // Empty: the caller's working directory.
  std::string workingDir;
  // Added to (or replacing in) the caller's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  // Zero or negative: no time-out.
  std::chrono::milliseconds timeout{0};
  // How long the group has between SIGTERM and SIGKILL.
  std::chrono::milliseconds killGrace{2000};
  // Zero: no limit. Otherwise the seconds of processor time the child may
  // use, enforced by the kernel (SIGXCPU, then SIGKILL a second later): a
  // busy child ends even when its owner is stopped and cannot time it out.
  std::chrono::seconds cpuLimit{0};
  // Called on the thread that runs wait(), once per line, without the line
  // end ("\n" or "\r\n"). A line longer than maxLine is delivered in pieces.
  // An exception thrown here ends the wait; the group is then killed.
  std::function<void(OutputStream, std::string_view)> onLine;
  size_t maxLine = 64 * 1024;
};

struct ProcessResult {
  bool exited = false;  // ended by exit(); exitCode is valid
  int exitCode = -1;
  int termSignal = 0;     // the signal that ended it, when !exited
  bool timedOut = false;  // the time-out ended it
  bool success() const { return exited && exitCode == 0 && !timedOut; }
  PM_INTERNAL std::string describe() const;
};

class Process {
 public:
  // Starts the child. A program that cannot be started raises error 53
  // (not found) or 70 (not executable) with the program name and cause.
  explicit Process(ProcessOptions options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !reaped_; }

  // Delivers output until the child has ended (or the time-out struck) and
  // reaps it. Members of the group still alive after the child ended are
  // killed, so a background grandchild cannot hold the pipes open.
  ProcessResult wait();

  // Ends the whole group now: SIGTERM, then SIGKILL after the grace time,
  // and reaps the child. Safe to call more than once.
  void terminate();

 private:
  void readAvailable(int& fd, OutputStream which, std::string& pending);
  void flushPending(OutputStream which, std::string& pending);
  void deliver(OutputStream which, std::string_view line);
  bool reapIfExited(bool block);
  void drain(std::chrono::steady_clock::time_point until);
  void closeFds();

  ProcessOptions opt_;
  pid_t pid_ = -1;
  int pidfd_ = -1;
  int out_ = -1, err_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string outPending_, errPending_;
};

// Starts, waits and returns the result in one call.
PM_INTERNAL ProcessResult runProcess(ProcessOptions options);

// Starts a program that outlives this call and is watched by its starter
// in its own way (a long-lived office, a detached service): standard streams
// on /dev/null, every signal unblocked and at its default, and, with
// ownGroup, leading a process group of its own so that it can be ended with
// everything it starts. env is the whole environment ("NAME=value"); nullptr
// passes the caller's. Returns 0 with pid set, or the errno of the failure.
PM_INTERNAL int spawnQuiet(const std::vector<std::string>& argv, const std::vector<std::string>* env, bool ownGroup,
                           pid_t& pid);

// A long-lived program tied to this process: it runs under a small keeper
// process that leads a new process group and ends that whole group as soon
// as this process ends, however it ends (SIGKILL included), so nothing it
// started outlives its owner. The keeper ends with the program. The program
// inherits no descriptor but its standard streams (on /dev/null) and runs
// under the given file-creation mask. pid is the keeper's (the group's id);
// lifeline is this process's end of the tie: close it once the group has
// been ended and reaped. Returns 0, or the errno of the failure.
struct TiedChild {
  pid_t pid = -1;
  int lifeline = -1;
};
// What a tied program may reach, enforced by the kernel (Landlock) where it
// can: the program reads and runs files under readOnly, does anything under
// readWrite, and may only list folders and make and remove sockets under
// socketDirs; with noTcp it connects to no TCP port. Other files it cannot
// open. A kernel without Landlock (or without its network part) leaves that
// part open. An empty confinement confines nothing.
struct Confinement {
  std::vector<std::string> readOnly, readWrite, socketDirs;
  bool noTcp = false;
  bool empty() const { return readOnly.empty() && readWrite.empty() && socketDirs.empty() && !noTcp; }
};
PM_INTERNAL int spawnTied(const std::vector<std::string>& argv, const std::vector<std::string>& env, mode_t childUmask,
                          TiedChild& child, const Confinement& confinement = {});
// The Landlock version the kernel offers (0: none): 4 and later also
// restrict TCP connections.
int confinementVersion();

}  // namespace pm
