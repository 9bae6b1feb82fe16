#include "system/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "automation/Error.h"

extern char** environ;

namespace pm {

namespace {

using Clock = std::chrono::steady_clock;

// Descriptors owned while the constructor may still fail.
struct UniqueFd {
  int fd = -1;
  UniqueFd() = default;
  explicit UniqueFd(int f) : fd(f) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

[[noreturn]] void raiseSpawn(int err, const std::string& what) {
  int32_t n = err == ENOENT ? basic::FileNotFound : err == EACCES ? basic::PermissionDenied : basic::PathFileAccess;
  raise(n, "Cannot start " + what + ": " + std::strerror(err));
}

void makePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) raiseSpawn(errno, "a child process (pipe)");
  readEnd.fd = p[0];
  writeEnd.fd = p[1];
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  long r = ::syscall(SYS_pidfd_open, pid, 0);
  return r < 0 ? -1 : static_cast<int>(r);
#else
  (void)pid;
  return -1;
#endif
}

// The paths to try for a program: itself when it names a folder, else each
// folder of PATH in turn, as execvp would.
std::vector<std::string> programCandidates(const std::string& program) {
  if (program.find('/') != std::string::npos) return {program};
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::vector<std::string> out;
  size_t at = 0;
  for (;;) {
    size_t colon = dirs.find(':', at);
    std::string dir = dirs.substr(at, colon == std::string::npos ? std::string::npos : colon - at);
    out.push_back((dir.empty() ? "." : dir) + "/" + program);
    if (colon == std::string::npos) break;
    at = colon + 1;
  }
  return out;
}

// The parent's handlers are not the child's: every signal gets its default
// action, then none is blocked. Only async-signal-safe calls: it runs
// between the child's start and exec.
void defaultSignals() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// In the child: every descriptor from 3 on closes at exec (the failure
// pipe among them, so the parent reads nothing when exec succeeds).
void markCloseOnExec() {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */) == 0) return;
#endif
  struct rlimit rl {};
  long limit =
      ::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY ? static_cast<long>(rl.rlim_cur) : 65536;
  if (limit > 1 << 20) limit = 1 << 20;
  for (int fd = 3; fd < limit; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// In the child: tells the parent why it could not start, and ends.
[[noreturn]] void childFail(int fd, int err, int stage) {
  int report[2] = {err, stage};
  ssize_t n = ::write(fd, report, sizeof report);
  (void)n;
  ::_exit(127);
}

// The caller's environment with the additions applied, in a stable order.
std::vector<std::string> buildEnvironment(const std::vector<std::pair<std::string, std::string>>& additions) {
  std::map<std::string, std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string_view kv(*e);
    size_t eq = kv.find('=');
    if (eq == std::string_view::npos) continue;
    env[std::string(kv.substr(0, eq))] = std::string(kv.substr(eq + 1));
  }
  for (const auto& [k, v] : additions) env[k] = v;
  std::vector<std::string> out;
  out.reserve(env.size());
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

// What the child needs between its start and exec, all prepared by the
// parent: the child may only make system calls (another thread could hold
// the heap's lock, and a child that shares the parent's memory must leave
// it as it found it).
struct ChildSetup {
  char* const* argv;
  char* const* envp;
  const char* const* candidates;
  size_t candidateCount;
  const char* workingDir;
  int out, err, fail;
  pid_t parent;
  rlim_t cpuSeconds;
};

// The child, from its start to exec; only async-signal-safe calls.
int childMain(void* arg) {
  const ChildSetup& c = *static_cast<const ChildSetup*>(arg);
  // Its own group, so that the whole group can be ended at once.
  ::setpgid(0, 0);
  // Dies with its parent, even when the parent is killed and can clean up
  // nothing; the parent may already have gone before the request took.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != c.parent) ::_exit(127);
  if (c.cpuSeconds > 0) {
    rlimit cpu{c.cpuSeconds, c.cpuSeconds + 1};
    if (::setrlimit(RLIMIT_CPU, &cpu) != 0) childFail(c.fail, errno, 0);
  }
  defaultSignals();
  int nul = ::open("/dev/null", O_RDONLY);
  if (nul < 0 || ::dup2(nul, 0) < 0 || ::dup2(c.out, 1) < 0 || ::dup2(c.err, 2) < 0) childFail(c.fail, errno, 0);
  // Descriptors the host opened without close-on-exec must not leak into
  // the child (an inherited pipe end would also keep our reads from ending).
  markCloseOnExec();
  if (c.workingDir && ::chdir(c.workingDir) != 0) childFail(c.fail, errno, 1);
  int err = ENOENT;
  for (size_t i = 0; i < c.candidateCount; ++i) {
    ::execve(c.candidates[i], c.argv, c.envp);
    // Like the shell: a program found but not executable is reported as
    // such, even when a later folder has none by that name.
    if (errno == EACCES || err != EACCES) err = errno;
    if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) break;
  }
  childFail(c.fail, err, 0);
}

// Starts the child. It shares the parent's memory until it execs (the
// calling thread waits meanwhile), as posix_spawn does: a copy of the
// parent's address space would cost the parent a page-table copy, and then
// a fault on every page any of its threads writes next, for each child
// started. The sanitizers do not follow a child on a stack of its own: their
// builds copy. Returns -1 with errno set when no child could be made.
pid_t startChild(ChildSetup& setup) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  pid_t pid = ::fork();
  if (pid == 0) childMain(&setup);
  return pid;
#else
  constexpr size_t kStack = 64 * 1024;
  std::unique_ptr<char[]> stack(new char[kStack]);
  auto top = reinterpret_cast<uintptr_t>(stack.get() + kStack) & ~uintptr_t{15};
  // No handler of the parent may run in the child while it shares the
  // parent's memory: every signal waits until the child has reset them.
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = ::clone(childMain, reinterpret_cast<void*>(top), CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
  int err = errno;
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = err;
  return pid;
#endif
}

}  // namespace

std::string ProcessResult::describe() const {
  if (timedOut) return "stopped after the time-out";
  if (exited) return "exit code " + std::to_string(exitCode);
  if (termSignal)
    return std::string("ended by signal ") + std::to_string(termSignal) + " (" + ::strsignal(termSignal) + ")";
  return "ended";
}

Process::Process(ProcessOptions options) : opt_(std::move(options)) {
  if (opt_.argv.empty() || opt_.argv[0].empty())
    raise(basic::InvalidProcedureCall, "Cannot start a child process: no program named");
  if (opt_.maxLine == 0) opt_.maxLine = 1;

  UniqueFd outR, outW, errR, errW;
  makePipe(outR, outW);
  makePipe(errR, errW);

  std::vector<char*> argv;
  for (std::string& a : opt_.argv) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = buildEnvironment(opt_.environment);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  // Everything the child needs is prepared here (see ChildSetup).
  std::vector<std::string> candidates = programCandidates(opt_.argv[0]);
  std::vector<const char*> candidatePtrs;
  for (const std::string& c : candidates) candidatePtrs.push_back(c.c_str());
  const char* workingDir = opt_.workingDir.empty() ? nullptr : opt_.workingDir.c_str();
  UniqueFd failR, failW;
  makePipe(failR, failW);
  ChildSetup setup{argv.data(),
                   envp.data(),
                   candidatePtrs.data(),
                   candidatePtrs.size(),
                   workingDir,
                   outW.fd,
                   errW.fd,
                   failW.fd,
                   ::getpid(),
                   static_cast<rlim_t>(std::max<int64_t>(0, opt_.cpuLimit.count()))};
  pid_t pid = startChild(setup);
  if (pid < 0) raiseSpawn(errno, opt_.argv[0]);
  // Also from this side, so that no signal to the group can come before
  // the group exists (fails harmlessly once the child has run exec).
  ::setpgid(pid, pid);
  failW.reset();
  outW.reset();
  errW.reset();
  int report[2] = {0, 0};
  ssize_t got;
  do {
    got = ::read(failR.fd, report, sizeof report);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof report)) {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    std::string what = opt_.argv[0];
    if (report[1] == 1) what += " in " + opt_.workingDir;
    raiseSpawn(report[0], what);
  }
  pid_ = pid;
  out_ = outR.release();
  err_ = errR.release();
  pidfd_ = openPidfd(pid_);
}

Process::~Process() {
  try {
    terminate();
  } catch (...) {
  }
  closeFds();
  if (pidfd_ >= 0) ::close(pidfd_);
}

void Process::closeFds() {
  if (out_ >= 0) ::close(out_);
  if (err_ >= 0) ::close(err_);
  out_ = err_ = -1;
}

void Process::deliver(OutputStream which, std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!opt_.onLine) return;
  if (line.empty()) return opt_.onLine(which, line);
  for (size_t at = 0; at < line.size(); at += opt_.maxLine) opt_.onLine(which, line.substr(at, opt_.maxLine));
}

void Process::readAvailable(int& fd, OutputStream which, std::string& pending) {
  char buf[65536];
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    if (n < 0 && errno == EAGAIN) return;
    ::close(fd);
    fd = -1;
    flushPending(which, pending);
    return;
  }
  pending.append(buf, static_cast<size_t>(n));
  size_t start = 0;
  for (;;) {
    size_t nl = pending.find('\n', start);
    if (nl == std::string::npos) break;
    // Consume before delivering, so a throwing callback leaves no line to
    // be delivered twice.
    std::string line = pending.substr(start, nl - start);
    start = nl + 1;
    if (start == pending.size()) {
      pending.clear();
      start = 0;
      deliver(which, line);
      break;
    }
    deliver(which, line);
  }
  if (start) pending.erase(0, start);
  while (pending.size() >= opt_.maxLine) {
    std::string piece = pending.substr(0, opt_.maxLine);
    pending.erase(0, opt_.maxLine);
    deliver(which, piece);
  }
}

void Process::flushPending(OutputStream which, std::string& pending) {
  if (pending.empty()) return;
  std::string rest;
  rest.swap(pending);
  deliver(which, rest);
}

bool Process::reapIfExited(bool block) {
  if (reaped_ || pid_ <= 0) return true;
  for (;;) {
    int st = 0;
    pid_t r = ::waitpid(pid_, &st, block ? 0 : WNOHANG);
    if (r == pid_) {
      status_ = st;
      reaped_ = true;
      return true;
    }
    if (r == 0) return false;
    if (errno == EINTR) continue;
    // ECHILD: someone else reaped it (a host that ignores SIGCHLD).
    reaped_ = true;
    status_ = 0;
    return true;
  }
}

namespace {
// True once the child has ended, without reaping it: while it is a zombie
// its pid stays reserved, so signals to its group cannot reach a stranger.
bool hasExited(pid_t pid) {
  siginfo_t info{};
  for (;;) {
    int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (r == 0) return info.si_pid == pid;
    if (errno == EINTR) continue;
    return true;  // ECHILD: gone already
  }
}
}  // namespace

void Process::drain(Clock::time_point until) {
  while (out_ >= 0 || err_ >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) break;
    pollfd fds[2];
    int n = 0;
    if (out_ >= 0) fds[n++] = pollfd{out_, POLLIN, 0};
    if (err_ >= 0) fds[n++] = pollfd{err_, POLLIN, 0};
    int r = ::poll(fds, n, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    for (int i = 0; i < n; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      if (fds[i].fd == out_)
        readAvailable(out_, OutputStream::Stdout, outPending_);
      else if (fds[i].fd == err_)
        readAvailable(err_, OutputStream::Stderr, errPending_);
    }
  }
}

ProcessResult Process::wait() {
  ProcessResult result;
  if (pid_ <= 0) return result;
  try {
    const bool limited = opt_.timeout.count() > 0;
    const Clock::time_point deadline = Clock::now() + opt_.timeout;
    bool childEnded = reaped_;
    while (!childEnded) {
      int waitMs = -1;
      if (limited) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
          result.timedOut = true;
          break;
        }
        waitMs = static_cast<int>(std::min<long long>(left, 1 << 30));
      }
      // Without a pidfd (old kernels) the exit is noticed by polling.
      if (pidfd_ < 0 && (waitMs < 0 || waitMs > 20)) waitMs = 20;
      pollfd fds[3];
      int n = 0;
      if (out_ >= 0) fds[n++] = pollfd{out_, POLLIN, 0};
      if (err_ >= 0) fds[n++] = pollfd{err_, POLLIN, 0};
      if (pidfd_ >= 0) fds[n++] = pollfd{pidfd_, POLLIN, 0};
      int r = ::poll(fds, n, waitMs);
      if (r < 0) {
        if (errno == EINTR) continue;
        raise(basic::InternalError, std::string("Waiting for a child process failed: ") + std::strerror(errno));
      }
      for (int i = 0; i < n; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (fds[i].fd == out_)
          readAvailable(out_, OutputStream::Stdout, outPending_);
        else if (fds[i].fd == err_)
          readAvailable(err_, OutputStream::Stderr, errPending_);
      }
      if (pidfd_ < 0 || r == 0 || (n && (fds[n - 1].fd == pidfd_) && fds[n - 1].revents)) childEnded = hasExited(pid_);
    }

    if (result.timedOut) {
      terminate();
    } else {
      // The child is gone; whatever it left running in its group goes too.
      ::kill(-pid_, SIGKILL);
    }
    // What was written before the end is still worth delivering; a stray
    // that escaped the group must not keep us here, hence the bound.
    drain(Clock::now() + std::chrono::milliseconds(2000));
    flushPending(OutputStream::Stdout, outPending_);
    flushPending(OutputStream::Stderr, errPending_);
    reapIfExited(true);
    closeFds();
  } catch (...) {
    terminate();
    throw;
  }
  if (WIFEXITED(status_)) {
    result.exited = true;
    result.exitCode = WEXITSTATUS(status_);
  } else if (WIFSIGNALED(status_)) {
    result.termSignal = WTERMSIG(status_);
  }
  return result;
}

void Process::terminate() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(-pid_, SIGTERM);
  const Clock::time_point until = Clock::now() + opt_.killGrace;
  while (!hasExited(pid_) && Clock::now() < until) {
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      ::poll(&p, 1, static_cast<int>(std::max<long long>(1, std::min<long long>(left, 50))));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // Also reaches members of the group that ignored SIGTERM.
  ::kill(-pid_, SIGKILL);
  reapIfExited(true);
}

ProcessResult runProcess(ProcessOptions options) {
  Process p(std::move(options));
  return p.wait();
}

int spawnQuiet(const std::vector<std::string>& argv, const std::vector<std::string>* env, bool ownGroup, pid_t& pid) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  if (env) {
    for (const std::string& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (ownGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr, 0);
  }
  posix_spawnattr_setflags(&attr, flags);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  pid = -1;
  int rc = ::posix_spawn(&pid, args[0], &fa, &attr, args.data(), env ? envp.data() : environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  return rc;
}

namespace {

// Closes every descriptor from `from` up to and including `to`; only
// async-signal-safe calls, as it runs between fork and exec.
void closeRange(unsigned from, unsigned to) {
  if (from > to) return;
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, from, to, 0) == 0) return;
#endif
  long max = ::sysconf(_SC_OPEN_MAX);
  unsigned last = max > 0 && static_cast<unsigned long>(max) - 1 < to ? static_cast<unsigned>(max - 1) : to;
  for (unsigned fd = from; fd <= last; ++fd) ::close(static_cast<int>(fd));
}

// Landlock's kernel interface, spelled out here: the C library's headers
// may predate the parts used (network rules, later access rights).
namespace landlock {
constexpr uint64_t kExecute = 1ull << 0, kWriteFile = 1ull << 1, kReadFile = 1ull << 2, kReadDir = 1ull << 3,
                   kRemoveFile = 1ull << 5, kMakeSock = 1ull << 9, kTruncate = 1ull << 14, kIoctlDev = 1ull << 15;
constexpr uint64_t kConnectTcp = 1ull << 1;
constexpr uint32_t kRulePathBeneath = 1, kCreateRulesetVersion = 1;
struct RulesetAttr {
  uint64_t handledFs = 0, handledNet = 0;
};
struct __attribute__((packed)) PathBeneath {
  uint64_t allowed;
  int32_t parentFd;
};
// Every file-system right the kernel of that version knows.
uint64_t fsRights(int version) {
  uint64_t all = (1ull << 13) - 1;
  if (version >= 2) all |= 1ull << 13;  // refer
  if (version >= 3) all |= kTruncate;
  if (version >= 5) all |= kIoctlDev;
  return all;
}
}  // namespace landlock

// The confinement as the keeper's child applies it: C strings made before
// the fork, null-terminated lists.
struct PreparedConfinement {
  std::vector<const char*> readOnly, readWrite, socketDirs;
  bool noTcp = false;
  bool any = false;
};

// In the program's process before exec: only system calls. A path that
// cannot be opened is left out (nothing of it is reachable then).
void confine(const PreparedConfinement& c) {
  if (!c.any) return;
  long version = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, landlock::kCreateRulesetVersion);
  if (version < 1) return;
  const uint64_t all = landlock::fsRights(static_cast<int>(version));
  landlock::RulesetAttr attr;
  attr.handledFs = all;
  size_t attrSize = sizeof(uint64_t);
  if (version >= 4 && c.noTcp) {
    attr.handledNet = landlock::kConnectTcp;
    attrSize = sizeof attr;
  }
  long ruleset = ::syscall(SYS_landlock_create_ruleset, &attr, attrSize, 0);
  if (ruleset < 0) ::_exit(126);
  auto allow = [&](const char* const* paths, uint64_t rights) {
    for (const char* const* p = paths; *p; ++p) {
      int fd = ::open(*p, O_PATH | O_CLOEXEC);
      if (fd < 0) continue;
      struct stat st {};
      // Rights on a file (not a folder) may only be those of files.
      uint64_t granted = rights & all;
      if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode))
        granted &=
            landlock::kExecute | landlock::kWriteFile | landlock::kReadFile | landlock::kTruncate | landlock::kIoctlDev;
      landlock::PathBeneath rule{granted, fd};
      long r = ::syscall(SYS_landlock_add_rule, ruleset, landlock::kRulePathBeneath, &rule, 0);
      ::close(fd);
      if (r != 0) ::_exit(126);
    }
  };
  allow(c.readOnly.data(), landlock::kExecute | landlock::kReadFile | landlock::kReadDir);
  allow(c.readWrite.data(), all);
  allow(c.socketDirs.data(), landlock::kMakeSock | landlock::kRemoveFile | landlock::kReadDir);
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::syscall(SYS_landlock_restrict_self, ruleset, 0) != 0)
    ::_exit(126);
  ::close(static_cast<int>(ruleset));
}

// The keeper, after fork: only async-signal-safe calls from here on.
[[noreturn]] void keep(char* const* argv, char* const* envp, mode_t childUmask, int lifeline,
                       const PreparedConfinement& confinement) {
  ::setpgid(0, 0);
  defaultSignals();
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
  }
  // The keeper holds nothing of its owner's open but its end of the tie.
  closeRange(3, static_cast<unsigned>(lifeline) - 1);
  closeRange(static_cast<unsigned>(lifeline) + 1, ~0U);
  pid_t program = ::fork();
  if (program < 0) ::_exit(127);
  if (program == 0) {
    ::close(lifeline);
    ::umask(childUmask);
    confine(confinement);
    ::execve(argv[0], argv, envp);
    ::_exit(127);
  }
  for (;;) {
    pollfd p{lifeline, POLLIN, 0};
    int r = ::poll(&p, 1, 250);
    // The owner has ended: its end of the tie closed with it (nobody ever
    // writes to it). The whole group goes, this keeper with it.
    if (r > 0) ::kill(0, SIGKILL);
    int st = 0;
    pid_t w = ::waitpid(program, &st, WNOHANG);
    if (w == program) ::_exit(WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
    if (w < 0 && errno != EINTR) ::_exit(127);
  }
}

}  // namespace

int confinementVersion() {
  long v = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, landlock::kCreateRulesetVersion);
  return v < 0 ? 0 : static_cast<int>(v);
}

int spawnTied(const std::vector<std::string>& argv, const std::vector<std::string>& env, mode_t childUmask,
              TiedChild& child, const Confinement& confinement) {
  child = TiedChild{};
  if (argv.empty()) return EINVAL;
  PreparedConfinement prepared;
  prepared.any = !confinement.empty();
  prepared.noTcp = confinement.noTcp;
  for (auto [from, to] :
       {std::pair{&confinement.readOnly, &prepared.readOnly}, std::pair{&confinement.readWrite, &prepared.readWrite},
        std::pair{&confinement.socketDirs, &prepared.socketDirs}}) {
    for (const std::string& p : *from) to->push_back(p.c_str());
    to->push_back(nullptr);
  }
  // Everything the keeper needs is made before the fork: after it, a
  // process with other threads may only make async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  if (::access(args[0], X_OK) != 0) return errno;
  int tie[2];
  if (::pipe2(tie, O_CLOEXEC) != 0) return errno;
  // Above the standard streams, which the keeper points at /dev/null.
  for (int& end : tie) {
    if (end > 2) continue;
    int moved = ::fcntl(end, F_DUPFD_CLOEXEC, 3);
    ::close(end);
    end = moved;
  }
  if (tie[0] < 0 || tie[1] < 0) {
    int e = errno;
    for (int end : tie)
      if (end >= 0) ::close(end);
    return e;
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    int e = errno;
    ::close(tie[0]);
    ::close(tie[1]);
    return e;
  }
  if (pid == 0) {
    ::close(tie[1]);
    keep(args.data(), envp.data(), childUmask, tie[0], prepared);
  }
  // Also set here, so that a signal to the group cannot miss a keeper that
  // has not run yet.
  ::setpgid(pid, pid);
  ::close(tie[0]);
  child.pid = pid;
  child.lifeline = tie[1];
  return 0;
}

}  // namespace pm
