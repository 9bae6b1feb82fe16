#include "servers/office/OfficeService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "automation/ServerModules.h"
#include "servers/office/OfficeLaunch.h"
#include "system/Process.h"

namespace pm::office {

namespace {

using Clock = std::chrono::steady_clock;

const char* kSocket = "office.sock";
const char* kLock = "office.lock";

double envNumber(const char* name, double fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  double d = std::strtod(v, &end);
  return end == v || d <= 0 ? fallback : d;
}

// A folder we may use: ours, a real folder (no link), no access for others.
bool privateFolder(const std::string& dir, std::string* why, bool create = true) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    if (!create || errno != ENOENT || ::mkdir(dir.c_str(), 0700) != 0 || ::lstat(dir.c_str(), &st) != 0) {
      if (why) *why = dir + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    if (why) *why = dir + " is not a private folder of this user";
    return false;
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    if (why) *why = dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int connectTo(const std::string& path) {
  sockaddr_un a{};
  if (path.size() >= sizeof(a.sun_path)) return -1;
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  // Not blocking while connecting: a service whose queue of connections is
  // full is retried for a while instead of holding the caller for ever.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  Clock::time_point until = Clock::now() + std::chrono::seconds(5);
  while (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    if ((errno != EAGAIN && errno != EINTR) || Clock::now() >= until) {
      ::close(fd);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One line (without its newline); false at the end of the stream or when
// nothing came within the time.
bool readLine(int fd, std::string& line, std::chrono::milliseconds within) {
  line.clear();
  Clock::time_point until = Clock::now() + within;
  while (true) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char c;
    ssize_t n = ::recv(fd, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

// The pressmark command, which runs the supervisor: beside libpressmark
// (the build tree, a wheel), in the bin folder next to its lib folder
// (installed), or this process itself when it is the command. The folder
// of the server modules is the one beside libpressmark, wherever this
// server was linked.
std::string serviceProgram() {
  if (const char* v = std::getenv("PRESSMARK_OFFICE_SERVICE"); v && *v) return v;
  std::vector<std::string> candidates;
  if (std::string modules = serverModuleFolder(); !modules.empty()) {
    std::filesystem::path lib = std::filesystem::path(modules).parent_path();
    candidates.push_back((lib / "pressmark").string());
    candidates.push_back((lib.parent_path() / "bin" / "pressmark").string());
  }
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && self.filename() == "pressmark") candidates.push_back(self.string());
  for (const std::string& c : candidates)
    if (::access(c.c_str(), X_OK) == 0 && !std::filesystem::is_directory(c, ec)) return c;
  return {};
}

// What a supervisor that was killed left in its folder and in /tmp (its
// offices died with it): their profiles, and the pipes of the offices.
void removeDeadServiceLeftovers(const std::string& dir) {
  std::error_code ec;
  std::vector<std::filesystem::path> left;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().filename().string().compare(0, 8, "profile-") == 0) left.push_back(e.path());
  for (const auto& p : left) {
    std::filesystem::remove_all(p, ec);
    removeSingleInstancePipe(p.string() + "/profile");
  }
  removeStalePipes("pool");
}

std::string quoteless(std::string s) {
  for (char& c : s)
    if (c == ' ' || c == '\n') c = '_';
  return s;
}

}  // namespace

bool serviceWanted() {
  const char* v = std::getenv("PRESSMARK_OFFICE_POOL");
  return !(v && std::string(v) == "0");
}

std::string serviceFolder(std::string* why, bool create) {
  std::string dir;
  if (const char* v = std::getenv("PRESSMARK_OFFICE_RUNTIME_DIR"); v && *v) {
    dir = v;
  } else if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x && privateFolder(x, nullptr, false)) {
    dir = std::string(x) + "/pressmark-office";
  } else {
    dir = "/tmp/pressmark-office-" + std::to_string(::geteuid());
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!privateFolder(dir, why, create)) return {};
  return dir;
}

bool OfficeLease::acquire(std::string& why) {
  release();
  std::string dir = serviceFolder(&why);
  if (dir.empty()) return false;
  std::string sock = dir + "/" + kSocket;
  int fd = connectTo(sock);
  if (fd < 0) {
    // One client starts the service; the others wait on the lock and then
    // find it running.
    int lock = ::open((dir + "/" + kLock).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) {
      why = dir + "/" + kLock + ": " + std::strerror(errno);
      return false;
    }
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    fd = connectTo(sock);
    if (fd < 0) {
      std::string program = serviceProgram();
      if (program.empty()) {
        ::close(lock);
        why = "the pressmark command that runs the office service was not found";
        return false;
      }
      pid_t child = -1;
      int rc = spawnQuiet({program, "office", "serve", dir}, nullptr, false, child);
      if (rc == 0) {
        // The command detaches the supervisor and ends at once.
        int st = 0;
        while (::waitpid(child, &st, 0) < 0 && errno == EINTR) {
        }
        Clock::time_point until = Clock::now() + std::chrono::seconds(10);
        while ((fd = connectTo(sock)) < 0 && Clock::now() < until)
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (fd < 0) {
        ::close(lock);
        why = rc != 0 ? std::string("the office service could not be started: ") + std::strerror(rc)
                      : "the office service did not answer";
        return false;
      }
    }
    ::close(lock);
  }
  std::string line;
  auto wait = std::chrono::milliseconds(static_cast<int64_t>(envNumber("PRESSMARK_OFFICE_START_TIMEOUT", 90) * 1000));
  if (!sendAll(fd, "lease\n") || !readLine(fd, line, wait)) {
    ::close(fd);
    why = "the office service gave no office in time";
    return false;
  }
  std::istringstream in(line);
  std::string word;
  in >> word;
  if (word != "office" || !(in >> pid_ >> pipe_ >> profile_)) {
    ::close(fd);
    why = "the office service refused: " + line;
    return false;
  }
  fd_ = fd;
  return true;
}

void OfficeLease::noteDocument() {
  if (fd_ >= 0) sendAll(fd_, "doc\n");
}

void OfficeLease::release() {
  if (fd_ < 0) return;
  std::string line;
  // The answer tells that the office is free again before this returns.
  if (sendAll(fd_, "release\n")) readLine(fd_, line, std::chrono::seconds(10));
  ::close(fd_);
  fd_ = -1;
  pid_ = -1;
}

void OfficeLease::endOffice() {
  if (fd_ < 0) return;
  std::string line;
  if (sendAll(fd_, "kill\n")) readLine(fd_, line, std::chrono::seconds(30));
  ::close(fd_);
  fd_ = -1;
  pid_ = -1;
}

namespace {

std::string ask(const std::string& request) {
  // Asking about the service makes no folder for it.
  std::string dir = serviceFolder(nullptr, false);
  if (dir.empty()) return {};
  int fd = connectTo(dir + "/" + kSocket);
  if (fd < 0) return {};
  std::string out, line;
  if (sendAll(fd, request + "\n"))
    while (readLine(fd, line, std::chrono::seconds(30)) && line != "end") out += line + "\n";
  ::close(fd);
  return out;
}

}  // namespace

std::string serviceStatus() {
  return ask("status");
}
bool stopService() {
  if (!ask("stop").empty()) return true;
  // No service answered: one that was killed leaves what only its next start
  // would remove. Under the folder's lock no service is starting, and one
  // that answers its socket is alive.
  std::string dir = serviceFolder(nullptr, false);
  if (dir.empty()) return false;
  int lock = ::open((dir + "/" + kLock).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (lock < 0) return false;
  if (::flock(lock, LOCK_EX | LOCK_NB) == 0) {
    int fd = connectTo(dir + "/" + kSocket);
    if (fd >= 0)
      ::close(fd);
    else
      removeDeadServiceLeftovers(dir);
  }
  ::close(lock);
  return false;
}

// ---------------------------------------------------------------------------
// The supervisor.

namespace {

struct Office {
  int number = 0;
  pid_t pid = -1;     // leader of the office's process group; -1 once reaped
  int lifeline = -1;  // ties the office to the supervisor
  std::string pipe, profile;
  int client = -1;  // the connection that holds the lease
  pid_t clientPid = 0;
  int conversions = 0;
  bool served = false;  // given back in order at least once: its profile works
  Clock::time_point freeSince = Clock::now();
};

struct Client {
  std::string buffer;
  std::string out;  // answers the client has not read yet
  pid_t pid = 0;
  bool waiting = false;
  Clock::time_point since = Clock::now();
};

// Bounds on what one connection may cost the supervisor: a client of the
// same user that floods the socket, or never reads its answers, is cut off
// instead of holding up everybody else.
constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxUnread = 64 * 1024;
constexpr size_t kMaxClients = 256;

class Supervisor {
 public:
  explicit Supervisor(std::string dir) : dir_(std::move(dir)) {
    poolSize_ =
        static_cast<size_t>(envNumber("PRESSMARK_OFFICE_POOL_SIZE", std::max(1u, std::thread::hardware_concurrency())));
    idle_ = std::chrono::milliseconds(static_cast<int64_t>(envNumber("PRESSMARK_OFFICE_POOL_IDLE", 600) * 1000));
    restartAfter_ = static_cast<int>(envNumber("PRESSMARK_OFFICE_RESTART_AFTER", 200));
    memoryLimitKb_ = officeMemoryLimitKb();
    const char* own = std::getenv("PRESSMARK_OFFICE_RUNTIME_DIR");
    removeFolder_ = !(own && *own);
  }

  int run() {
    if (!listen()) return 1;
    lastActivity_ = Clock::now();
    while (!stopping_) {
      std::vector<pollfd> fds;
      fds.push_back({listenFd_, POLLIN, 0});
      for (auto& [fd, c] : clients_) fds.push_back({fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
      int r = ::poll(fds.data(), fds.size(), 250);
      reap();
      if (r > 0) {
        if (fds[0].revents & POLLIN) accept();
        for (size_t i = 1; i < fds.size(); ++i) {
          if ((fds[i].revents & POLLOUT) && clients_.count(fds[i].fd)) flushTo(fds[i].fd);
          if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && clients_.count(fds[i].fd)) readFrom(fds[i].fd);
        }
      }
      serveWaiting();
      if (!clients_.empty())
        lastActivity_ = Clock::now();
      else if (Clock::now() - lastActivity_ >= idle_)
        break;
    }
    shutdown();
    return 0;
  }

 private:
  bool listen() {
    std::string path = dir_ + "/" + kSocket;
    int other = connectTo(path);
    if (other >= 0) {  // another supervisor serves this folder
      ::close(other);
      return false;
    }
    ::unlink(path.c_str());
    sockaddr_un a{};
    if (path.size() >= sizeof(a.sun_path)) return false;
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) return false;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(listenFd_, 64) != 0)
      return false;
    ::chmod(path.c_str(), 0600);
    removeLeftovers();
    return true;
  }

  // The folder is this supervisor's now: what an earlier one left when it
  // was killed (its offices died with it) goes.
  void removeLeftovers() { removeDeadServiceLeftovers(dir_); }

  void accept() {
    for (int i = 0; i < 64; ++i) {
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) return;
      // The folder keeps others out already; the peer's identity is checked
      // again, since an office connection reads and writes the user's files.
      ucred cred{};
      socklen_t len = sizeof(cred);
      if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) {
        ::close(fd);
        continue;
      }
      // Full: the connection idle longest (no lease, not waiting for one)
      // makes room, so a flood of idle connections cannot lock out the
      // clients that come to work or to ask.
      if (clients_.size() >= kMaxClients && !dropIdlest()) {
        ::close(fd);
        continue;
      }
      clients_[fd].pid = cred.pid;
    }
  }

  bool dropIdlest() {
    int idlest = -1;
    for (auto& [fd, c] : clients_) {
      if (c.waiting || leaseOf(fd) || std::count(stoppers_.begin(), stoppers_.end(), fd)) continue;
      if (idlest < 0 || c.since < clients_[idlest].since) idlest = fd;
    }
    if (idlest < 0) return false;
    drop(idlest);
    return true;
  }

  Office* leaseOf(int fd) {
    for (Office& o : offices_)
      if (o.client == fd) return &o;
    return nullptr;
  }

  // Answers without ever blocking: what the client does not take now waits
  // for it, up to a bound.
  void reply(int fd, const std::string& s) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    it->second.out += s;
    flushTo(fd);
  }

  void flushTo(int fd) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    std::string& out = it->second.out;
    while (!out.empty()) {
      ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n <= 0) {
        out.clear();
        return;  // the connection is gone; its hang-up is read next
      }
      out.erase(0, static_cast<size_t>(n));
    }
    if (out.size() > kMaxUnread) drop(fd);
  }

  void readFrom(int fd) {
    char buf[256];
    ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
    if (n <= 0) {
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
      drop(fd);
      return;
    }
    Client& c = clients_[fd];
    c.buffer.append(buf, static_cast<size_t>(n));
    if (c.buffer.find('\n') == std::string::npos && c.buffer.size() > kMaxLine) {
      drop(fd);
      return;
    }
    size_t nl;
    while (clients_.count(fd) && (nl = clients_[fd].buffer.find('\n')) != std::string::npos) {
      std::string line = clients_[fd].buffer.substr(0, nl);
      clients_[fd].buffer.erase(0, nl + 1);
      command(fd, line);
    }
  }

  void command(int fd, const std::string& line) {
    Client& c = clients_[fd];
    if (line == "lease") {
      if (leaseOf(fd) || c.waiting) return;
      c.waiting = true;
      waiting_.push_back(fd);
    } else if (line == "doc") {
      if (Office* o = leaseOf(fd)) ++o->conversions;
    } else if (line == "release") {
      if (Office* o = leaseOf(fd)) giveBack(*o, true);
      reply(fd, "ok\n");
    } else if (line == "kill") {
      // The client's call failed with this office (it hung or died): a
      // replacement starts at once, warm for the next call.
      if (Office* o = leaseOf(fd)) {
        end(*o);
        spawn();
      }
      reply(fd, "ok\n");
    } else if (line == "status") {
      reply(fd, status() + "end\n");
    } else if (line == "stop") {
      // Answered once everything is gone, so a client that starts a new
      // service right after finds the folder free.
      stopping_ = true;
      stoppers_.push_back(fd);
    }
  }

  // A connection closed: a lease it still held was not given back, so the
  // client died; its office may be in any state and is replaced.
  void drop(int fd) {
    if (Office* o = leaseOf(fd)) giveBack(*o, false);
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), fd), waiting_.end());
    stoppers_.erase(std::remove(stoppers_.begin(), stoppers_.end(), fd), stoppers_.end());
    clients_.erase(fd);
    ::close(fd);
  }

  void giveBack(Office& o, bool clean) {
    if (clean) o.served = true;
    o.client = -1;
    o.clientPid = 0;
    o.freeSince = Clock::now();
    if (o.pid < 0) {
      end(o);
      return;
    }
    if (!clean || o.conversions >= restartAfter_ || groupMemoryKb(o.pid) > memoryLimitKb_) {
      end(o);
      // Started now, so it is warm when the next client asks.
      spawn();
    }
  }

  // Kills an office's group, reaps its leader and removes what it leaves.
  // The first profile that served a client is kept as the template of the
  // next offices: an office on a fresh profile takes much longer to start.
  void end(Office& o) {
    if (o.pid > 0) {
      ::kill(-o.pid, SIGKILL);
      ::kill(o.pid, SIGKILL);
      int st = 0;
      while (::waitpid(o.pid, &st, 0) < 0 && errno == EINTR) {
      }
    }
    if (o.lifeline >= 0) ::close(o.lifeline);
    o.lifeline = -1;
    std::error_code ec;
    std::string templ = dir_ + "/profile-template";
    if (o.served && !std::filesystem::exists(templ, ec)) {
      std::filesystem::copy(o.profile + "/profile", templ + ".part", std::filesystem::copy_options::recursive, ec);
      std::filesystem::remove(templ + ".part/.lock", ec);
      if (ec || ::rename((templ + ".part").c_str(), templ.c_str()) != 0)
        std::filesystem::remove_all(templ + ".part", ec);
    }
    std::filesystem::remove_all(o.profile, ec);
    removeOfficePipe(o.pipe);
    removeSingleInstancePipe(o.profile + "/profile");
    int number = o.number;
    offices_.erase(
        std::remove_if(offices_.begin(), offices_.end(), [&](const Office& x) { return x.number == number; }),
        offices_.end());
  }

  Office* spawn() {
    Office o;
    o.number = ++counter_;
    // Pipes share one folder with every other user's: a name nobody can
    // guess.
    o.pipe = newPipeName("pool");
    o.profile = dir_ + "/profile-" + std::to_string(o.number);
    std::error_code ec;
    std::filesystem::remove_all(o.profile, ec);
    if (::mkdir(o.profile.c_str(), 0700) != 0) return nullptr;
    std::string templ = dir_ + "/profile-template";
    if (std::filesystem::exists(templ, ec)) {
      std::filesystem::copy(templ, o.profile + "/profile", std::filesystem::copy_options::recursive, ec);
      if (ec) std::filesystem::remove_all(o.profile + "/profile", ec);
    }
    // The clients' documents are only read: no lock files beside them.
    std::vector<std::string> env = officeEnvironment(o.profile);
    TiedChild child;
    int rc = spawnTied(officeCommand(o.profile + "/profile", o.pipe), env, kOfficeUmask, child,
                       officeConfinement(o.profile));
    o.pid = child.pid;
    o.lifeline = child.lifeline;
    if (rc != 0) {
      std::filesystem::remove_all(o.profile, ec);
      return nullptr;
    }
    offices_.push_back(o);
    return &offices_.back();
  }

  // Hands free offices to waiting clients in the order they asked; starts
  // offices up to the pool size.
  void serveWaiting() {
    while (!waiting_.empty()) {
      int fd = waiting_.front();
      Office* free = nullptr;
      for (Office& o : offices_)
        if (o.client < 0 && o.pid > 0 && (!free || o.freeSince > free->freeSince)) free = &o;
      if (!free && offices_.size() < poolSize_) free = spawn();
      if (!free) {
        if (offices_.empty()) {  // the office program cannot be started at all
          waiting_.pop_front();
          clients_[fd].waiting = false;
          reply(fd, "error the office program could not be started\n");
          continue;
        }
        return;
      }
      waiting_.pop_front();
      clients_[fd].waiting = false;
      free->client = fd;
      free->clientPid = clients_[fd].pid;
      reply(fd, "office " + std::to_string(free->pid) + " " + free->pipe + " " + quoteless(free->profile) + "\n");
    }
  }

  // Reaps ended processes (orphans of the offices come here too: this
  // process is their subreaper). A free office that died is removed; a lent
  // one stays until its client gives it back or asks to end it.
  void reap() {
    int st = 0;
    pid_t p;
    while ((p = ::waitpid(-1, &st, WNOHANG)) > 0) {
      for (Office& o : offices_)
        if (o.pid == p) {
          ::kill(-p, SIGKILL);
          o.pid = -1;
        }
    }
    for (size_t i = 0; i < offices_.size();) {
      if (offices_[i].pid < 0 && offices_[i].client < 0) {
        end(offices_[i]);
        continue;
      }
      ++i;
    }
  }

  std::string status() {
    std::ostringstream s;
    s << "folder " << dir_ << "\n"
      << "pool " << poolSize_ << " idle " << idle_.count() / 1000.0 << " restart-after " << restartAfter_
      << " memory-limit-mb " << memoryLimitKb_ / 1024 << "\n";
    for (const Office& o : offices_)
      s << "office " << o.number << " pid " << o.pid << " " << (o.client >= 0 ? "leased" : "free") << " client "
        << o.clientPid << " conversions " << o.conversions << " memory-kb " << (o.pid > 0 ? groupMemoryKb(o.pid) : 0)
        << " pipe " << o.pipe << "\n";
    return s.str();
  }

  void shutdown() {
    while (!offices_.empty()) end(offices_.front());
    std::error_code ec;
    std::filesystem::remove_all(dir_ + "/profile-template", ec);
    ::unlink((dir_ + "/" + kSocket).c_str());
    ::unlink((dir_ + "/" + kLock).c_str());
    if (removeFolder_) ::rmdir(dir_.c_str());
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int fd : stoppers_) {
      // Bounded: a stopper that does not read cannot keep the offices up.
      timeval two{2, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &two, sizeof(two));
      int flags = ::fcntl(fd, F_GETFL);
      if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
      sendAll(fd, clients_[fd].out + "ok\nend\n");
    }
    for (auto& [fd, c] : clients_) ::close(fd);
    clients_.clear();
  }

  std::string dir_;
  size_t poolSize_ = 1;
  std::chrono::milliseconds idle_{};
  int restartAfter_ = 200;
  long memoryLimitKb_ = 0;
  bool removeFolder_ = false;
  int listenFd_ = -1;
  int counter_ = 0;
  bool stopping_ = false;
  Clock::time_point lastActivity_;
  std::vector<Office> offices_;
  std::map<int, Client> clients_;
  std::deque<int> waiting_;
  std::vector<int> stoppers_;
};

}  // namespace

}  // namespace pm::office

extern "C" int pm_office_service_main(const char* folder) {
  std::string dir = folder ? folder : "";
  std::string why;
  struct stat st {};
  if (dir.empty() || ::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0)
    return 2;
  // Detached from the client that started it: it must outlive it.
  pid_t p = ::fork();
  if (p < 0) return 1;
  if (p > 0) return 0;
  ::setsid();
  ::umask(077);
  if (::chdir("/") != 0) return 1;
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
  }
  // Descriptors the client passed on by mistake would keep its files open.
  for (int fd = 3; fd < 1024; ++fd) ::close(fd);
  int rc = pm::office::Supervisor(dir).run();
  ::_exit(rc);
}
