// The processes of the machine as /proc shows them, for tests that check
// that what a job started ends with it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace pm::test {

// A file of a process under /proc, "" once the process is gone.
std::string procFile(pid_t pid, const char* name);
// The command line with spaces between the arguments, "" once gone.
std::string cmdline(pid_t pid);
// One field of /proc/<pid>/status ("PPid", "Umask"), "" when missing.
std::string statusField(pid_t pid, const std::string& field);
// Alive and not a zombie waiting to be reaped.
bool running(pid_t pid);
// Whether it still runs after a bounded wait for a signal to take effect.
bool stillRunning(pid_t pid);
// The running processes for which pred holds.
std::vector<pid_t> processesWhere(const std::function<bool(pid_t)>& pred);

}  // namespace pm::test
