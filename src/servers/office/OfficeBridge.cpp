#include "servers/office/OfficeBridge.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ustring.hxx>

#include "automation/Error.h"
#include "servers/office/LinkGuard.h"
#include "servers/office/OfficeLaunch.h"
#include "servers/office/OfficeService.h"
#include "system/EventLog.h"
#include "system/Files.h"
#include "system/Process.h"

namespace pm::office {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

std::string toUtf8(const ::rtl::OUString& s) {
  ::rtl::OString o = ::rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(o.getStr(), static_cast<size_t>(o.getLength()));
}

::rtl::OUString fromUtf8(const std::string& s) {
  return ::rtl::OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

::rtl::OUString fileUrl(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') abs = std::filesystem::absolute(path).string();
  return ::rtl::OUString::createFromAscii(asciiFileUrl(abs).c_str());
}

namespace {

using Clock = std::chrono::steady_clock;

// How often the memory of an office at work is looked at.
constexpr std::chrono::milliseconds kMemoryLook{200};

std::chrono::milliseconds envSeconds(const char* name, std::chrono::milliseconds fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  double s = std::strtod(v, &end);
  if (end == v || s <= 0) return fallback;
  return std::chrono::milliseconds(static_cast<int64_t>(s * 1000));
}

// The local UNO context. Bootstrapping needs URE_BOOTSTRAP to point at the
// office's fundamental settings, or the first service lookup crashes; it is
// set here, in-process, so no caller has to know.
Reference<css::uno::XComponentContext> localContext() {
  static Reference<css::uno::XComponentContext> ctx = [] {
    if (!std::getenv("URE_BOOTSTRAP"))
      ::setenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" PM_LIBREOFFICE_PROGRAM "/fundamentalrc", 1);
    return ::cppu::defaultBootstrap_InitialComponentContext();
  }();
  return ctx;
}

std::string unoMessage(const css::uno::Exception& e) {
  std::string m = toUtf8(e.Message);
  // Messages from the office carry a source location after a newline or
  // " at "; the client wants the first line.
  size_t nl = m.find('\n');
  if (nl != std::string::npos) m.resize(nl);
  return m;
}

// The connected socket of a bridge, shared by the connection and the
// watchdog: closed when both are done with it, so the watchdog can shut it
// down under a hung call without ever touching a reused descriptor.
struct BridgeSocket {
  explicit BridgeSocket(int f) : fd(f) {}
  ~BridgeSocket() { ::close(fd); }
  BridgeSocket(const BridgeSocket&) = delete;
  BridgeSocket& operator=(const BridgeSocket&) = delete;
  // Ends both directions: a read blocked in the bridge's reader returns.
  void shut() { ::shutdown(fd, SHUT_RDWR); }
  const int fd;
};

// The UNO connection over a pipe socket this process connected itself, after
// checking whose it is (the runtime's own connector connects to whatever
// sits under the name).
class SocketConnection : public ::cppu::WeakImplHelper1<css::connection::XConnection> {
 public:
  SocketConnection(std::shared_ptr<BridgeSocket> socket, std::string description)
      : socket_(std::move(socket)), description_(std::move(description)) {}

  sal_Int32 SAL_CALL read(css::uno::Sequence<sal_Int8>& data, sal_Int32 n) override {
    if (n < 0) throw css::io::IOException("negative read");
    if (data.getLength() != n) data.realloc(n);
    sal_Int32 got = 0;
    while (got < n) {
      ssize_t r = ::recv(socket_->fd, data.getArray() + got, static_cast<size_t>(n - got), 0);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<sal_Int32>(r);
    }
    return got;
  }
  void SAL_CALL write(const css::uno::Sequence<sal_Int8>& data) override {
    sal_Int32 done = 0;
    while (done < data.getLength()) {
      ssize_t r =
          ::send(socket_->fd, data.getConstArray() + done, static_cast<size_t>(data.getLength() - done), MSG_NOSIGNAL);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) throw css::io::IOException("the office's connection broke");
      done += static_cast<sal_Int32>(r);
    }
  }
  void SAL_CALL flush() override {}
  void SAL_CALL close() override { socket_->shut(); }
  ::rtl::OUString SAL_CALL getDescription() override { return fromUtf8(description_); }

 private:
  std::shared_ptr<BridgeSocket> socket_;
  std::string description_;
};

// Removes the profiles of in-process offices whose owner process has ended
// (killed before it could clean up).
void removeStaleProfiles(const std::string& base) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(base, ec)) {
    std::string name = e.path().filename().string();
    if (name.compare(0, 7, "office-") != 0) continue;
    long owner = std::atol(name.c_str() + 7);
    if (owner > 0 && owner != ::getpid() && processGone(static_cast<pid_t>(owner))) {
      std::error_code rec;
      std::filesystem::remove_all(e.path(), rec);
      removeSingleInstancePipe(e.path().string() + "/profile");
    }
  }
}

}  // namespace

struct OfficeBridge::Impl {
  std::recursive_mutex callMu;  // serialises every call onto the bridge

  // State below is guarded by stateMu (the watchdog reads it too).
  std::mutex stateMu;
  std::condition_variable wake;
  pid_t pid = -1;
  uint64_t generation = 0;
  std::string profile;
  bool inCall = false;
  Clock::time_point deadline{};
  Clock::time_point lastUse = Clock::now();
  bool timedOut = false;
  bool overMemory = false;  // the call's office grew past memoryLimitKb and was ended
  bool stopping = false;
  std::chrono::milliseconds callTimeout = envSeconds("PRESSMARK_OFFICE_TIMEOUT", std::chrono::minutes(5));
  std::chrono::milliseconds idleTimeout = envSeconds("PRESSMARK_OFFICE_IDLE_TIMEOUT", std::chrono::minutes(10));
  std::chrono::milliseconds startTimeout = envSeconds("PRESSMARK_OFFICE_START_TIMEOUT", std::chrono::seconds(90));
  // Read at every call: a document that makes the office grow without
  // bound (a package of gigabytes of XML) must end that office before it
  // takes the machine's memory.
  long memoryLimitKb = officeMemoryLimitKb();
  Clock::time_point nextMemoryLook{};
  int depth = 0;         // nesting of run() on the calling thread (under callMu)
  bool unbound = false;  // the thread that used this bridge has ended

  Session session;
  Reference<css::lang::XComponent> bridge;
  std::thread watchdog;

  // The office lent by the per-user service, when it runs there (pooled);
  // otherwise the office is this process's own child.
  OfficeLease lease;
  bool pooled = false;
  int openDocuments = 0;  // loaded and not yet closed, in this office
  // A lent office goes back to the service this long after the last call
  // when no document is open in it, so other clients can use it.
  std::chrono::milliseconds linger = envSeconds("PRESSMARK_OFFICE_LEASE_LINGER", std::chrono::seconds(2));
  bool fallbackLogged = false;
  std::string ownPipe;                   // the pipe of an office started here
  int lifeline = -1;                     // ties an office started here to this process
  std::shared_ptr<BridgeSocket> socket;  // the bridge's connection

  Impl() {
    watchdog = std::thread([this] { watch(); });
  }

  // At process exit, before the UNO runtime's own exit handlers run (this
  // one is registered after the runtime was set up, so it runs first): the
  // bridge is disposed, which closes the connection and joins its reader
  // and writer threads; left running, they would touch the type library
  // while the runtime frees it. Disposing sends nothing to the office, so
  // a hung office cannot hold up the exit. A call still blocked in another
  // thread fails with the broken bridge. The proxies of the session are
  // kept, not released: releasing one at exit reaches runtime objects that
  // may be gone already, and the process is ending anyway.
  void endAtExit() {
    {
      std::lock_guard<std::mutex> l(stateMu);
      stopping = true;
    }
    wake.notify_all();
    if (watchdog.joinable()) watchdog.join();
    bool clean;
    {
      std::lock_guard<std::mutex> l(stateMu);
      clean = pooled && !inCall && openDocuments == 0;
      if (clean) {
        pid = -1;
        generation = 0;
        pooled = false;
        profile.clear();  // the service's, not ours to remove
      }
    }
    if (bridge.is()) {
      try {
        bridge->dispose();
      } catch (...) {
      }
    }
    // A lent office with nothing open goes back warm; one that still holds
    // this process's documents is ended and replaced by the service.
    if (clean)
      lease.release();
    else
      killProcess();
  }

  // At unload: the watchdog stops and the office group is ended. No UNO
  // call is made, not even a release: the UNO runtime may already be gone
  // when static objects are destroyed (endAtExit has disposed the bridge
  // before that on a normal exit).
  void endAtUnload() {
    {
      std::lock_guard<std::mutex> l(stateMu);
      stopping = true;
    }
    wake.notify_all();
    if (watchdog.joinable()) watchdog.join();
    killProcess();
  }

  // Kills the whole group of the office (the launcher restarts the office
  // binary on a fresh profile, so both live in that group) and reaps it.
  void killProcess() {
    pid_t p;
    std::string prof;
    bool lent;
    {
      std::lock_guard<std::mutex> l(stateMu);
      p = pid;
      prof = profile;
      lent = pooled;
      pid = -1;
      generation = 0;
      profile.clear();
      pooled = false;
      openDocuments = 0;
    }
    if (lent) {
      // The service ends it, reaps it and starts a replacement.
      lease.endOffice();
      return;
    }
    if (p > 0) {
      ::kill(-p, SIGKILL);
      ::kill(p, SIGKILL);
      int status = 0;
      while (::waitpid(p, &status, 0) < 0 && errno == EINTR) {
      }
    }
    int tie;
    {
      std::lock_guard<std::mutex> l(stateMu);
      tie = lifeline;
      lifeline = -1;
    }
    if (tie >= 0) ::close(tie);
    if (!prof.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(prof, ec);
      removeSingleInstancePipe(prof + "/profile");
    }
    // A killed office leaves its pipe behind.
    std::string pipe;
    {
      std::lock_guard<std::mutex> l(stateMu);
      pipe.swap(ownPipe);
    }
    if (!pipe.empty()) removeOfficePipe(pipe);
  }

  void disposeBridge() {
    Reference<css::lang::XComponent> b = bridge;
    bridge.clear();
    session = Session{};
    {
      std::lock_guard<std::mutex> l(stateMu);
      if (socket) socket->shut();
      socket.reset();
    }
    if (b.is()) {
      try {
        b->dispose();
      } catch (...) {
      }
    }
  }

  // True while pid is a child of ours that has not been reaped (running or
  // a zombie): its id is then still reserved for it.
  static bool unreapedChild(pid_t p) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(p), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
  }

  bool processAlive() {
    std::lock_guard<std::mutex> l(stateMu);
    if (pid <= 0) return false;
    if (pooled) {
      // Not our child: alive while it exists and is not a zombie waiting
      // for the service to reap it.
      if (::kill(pid, 0) != 0) return false;
      std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      std::getline(st, line);
      size_t close = line.rfind(')');
      return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
    }
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
      // The launcher is gone; its group may still hold the office. Ended
      // before the launcher is reaped: until then its id, and the group's,
      // cannot have been given to another process.
      ::kill(-pid, SIGKILL);
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      pid = -1;
      return false;
    }
    return true;
  }

  void watch() {
    std::unique_lock<std::mutex> l(stateMu);
    while (!stopping) {
      Clock::time_point now = Clock::now();
      if (inCall && pid > 0 && now >= deadline) {
        // The call hangs: ending the group breaks the bridge, which makes
        // the blocked call come back with an exception.
        // Once: the office is then reaped by whoever started it, after
        // which its id (and its group's) may belong to another process.
        // Our own child is signalled only while it is not yet reaped.
        if (!timedOut && (pooled || unreapedChild(pid))) {
          ::kill(-pid, SIGKILL);
          ::kill(pid, SIGKILL);
        }
        timedOut = true;
        // Whatever holds the other end (an office that is not ending, or
        // not an office at all), the blocked call comes back.
        if (socket) socket->shut();
        wake.wait_for(l, std::chrono::milliseconds(200));
        continue;
      }
      if (inCall && pid > 0 && !timedOut && !overMemory && now >= nextMemoryLook) {
        nextMemoryLook = now + kMemoryLook;
        pid_t group = pid;
        l.unlock();
        long kb = groupMemoryKb(group);
        l.lock();
        if (kb > memoryLimitKb && inCall && pid == group && !timedOut && (pooled || unreapedChild(pid))) {
          // Ended as a hung call is: the blocked call comes back with an
          // exception, and failed() tells why.
          ::kill(-pid, SIGKILL);
          ::kill(pid, SIGKILL);
          overMemory = true;
          if (socket) socket->shut();
        }
        continue;
      }
      if (!inCall && pid > 0 && now - lastUse >= idleTimeout) {
        l.unlock();
        idleShutdown();
        l.lock();
        continue;
      }
      if (!inCall && pid > 0 && pooled && openDocuments == 0 && lingerOver(now)) {
        l.unlock();
        giveBack();
        l.lock();
        continue;
      }
      Clock::time_point next = now + std::chrono::seconds(1);
      if (!inCall && pid > 0 && pooled && openDocuments == 0 && lastUse + linger < next) next = lastUse + linger;
      if (inCall && deadline < next) next = deadline;
      if (inCall && nextMemoryLook < next) next = nextMemoryLook;
      if (!inCall && pid > 0 && lastUse + idleTimeout < next) next = lastUse + idleTimeout;
      wake.wait_until(l, next);
    }
  }

  // Whether a lent office with nothing open may go back: at once when the
  // thread that used it has ended, else after the linger (under stateMu).
  bool lingerOver(Clock::time_point now) const { return unbound || now - lastUse >= linger; }

  // Hands the lent office back to the service (nothing is open in it).
  void giveBack() {
    std::unique_lock<std::recursive_mutex> c(callMu, std::try_to_lock);
    if (!c.owns_lock()) return;
    {
      std::lock_guard<std::mutex> l(stateMu);
      if (!pooled || pid <= 0 || openDocuments != 0 || !lingerOver(Clock::now())) return;
      pid = -1;
      generation = 0;
      profile.clear();
      pooled = false;
    }
    disposeBridge();
    lease.release();
  }

  void idleShutdown() {
    std::unique_lock<std::recursive_mutex> c(callMu, std::try_to_lock);
    if (!c.owns_lock()) return;  // a call is starting; it will use the process
    {
      std::lock_guard<std::mutex> l(stateMu);
      if (pid <= 0 || Clock::now() - lastUse < idleTimeout) return;
    }
    killProcess();
    disposeBridge();
  }

  void start() {
    Reference<css::uno::XComponentContext> local = localContext();
    // Unique in the process, so a document's generation names its bridge
    // as well as its office.
    static std::atomic<uint64_t> nextGeneration{1};
    uint64_t gen = nextGeneration++;
    if (serviceWanted()) {
      std::string why;
      if (lease.acquire(why)) {
        {
          std::lock_guard<std::mutex> l(stateMu);
          pid = lease.pid();
          profile = lease.profile();
          pooled = true;
          openDocuments = 0;
        }
        connect(local, lease.pipe(), gen);
        return;
      }
      if (!fallbackLogged) {
        fallbackLogged = true;
        logApplicationEvent("The shared office service could not be used (" + why +
                            "); the office runs inside this process.");
      }
    }
    std::string base = privateTempDir();
    // What offices of killed clients left: they died with their owner.
    removeStaleProfiles(base);
    removeStalePipes("office");
    std::string prof = base + "office-" + std::to_string(::getpid()) + "-" + std::to_string(gen);
    std::error_code ec;
    std::filesystem::remove_all(prof, ec);
    if (::mkdir(prof.c_str(), 0700) != 0) raiseFileError(errno, prof);
    std::string pipe = newPipeName("office");
    // The office gets its temporary files in the private folder, and ends
    // with this process however it ends.
    TiedChild child;
    std::vector<std::string> env = officeEnvironment(prof);
    int rc = spawnTied(officeCommand(prof + "/profile", pipe), env, kOfficeUmask, child, officeConfinement(prof));
    if (rc != 0) {
      std::filesystem::remove_all(prof, ec);
      raise(basic::CannotCreateObject, std::string("The office program could not be started: ") + std::strerror(rc));
    }
    {
      std::lock_guard<std::mutex> l(stateMu);
      pid = child.pid;
      lifeline = child.lifeline;
      profile = prof;
      ownPipe = pipe;
    }
    connect(local, pipe, gen);
  }

  void connect(const Reference<css::uno::XComponentContext>& local, const std::string& pipe, uint64_t gen) {
    // The office needs a moment (longer on a fresh profile) before its pipe
    // answers.
    Clock::time_point until = Clock::now() + startTimeout;
    Reference<css::connection::XConnection> conn;
    while (true) {
      std::string why;
      int fd = connectOfficePipe(pipe, why);
      if (fd >= 0) {
        auto shared = std::make_shared<BridgeSocket>(fd);
        {
          std::lock_guard<std::mutex> l(stateMu);
          socket = shared;
        }
        conn = new SocketConnection(shared, "pipe,name=" + pipe);
        break;
      }
      if (fd == -2) {
        // Someone else's socket under the office's name: never talked to.
        // The office cannot listen there; it is ended (a lent one is
        // replaced by the service under a fresh name).
        logApplicationEvent("The office's connection pipe was taken: " + why);
        killProcess();
        raise(basic::CannotCreateObject,
              "The office program's connection pipe is not this user's own (" + why + "); the office was ended.");
      }
      if (!processAlive()) {
        killProcess();
        raise(basic::CannotCreateObject, "The office program ended while starting.");
      }
      if (Clock::now() >= until) {
        killProcess();
        raise(basic::CannotCreateObject, "The office program did not answer within its start time.");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // The handshake runs under the call time-out: an office that accepts
    // the connection but does not answer (stopped, hung) is ended.
    arm();
    try {
      Reference<css::bridge::XBridge> b = css::bridge::BridgeFactory::create(local)->createBridge(
          ::rtl::OUString(), "urp", conn, Reference<css::bridge::XInstanceProvider>());
      bridge.set(b, UNO_QUERY);
      Reference<css::uno::XComponentContext> remote(b->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
      session.context = remote;
      session.desktop = css::frame::Desktop::create(remote);
      session.generation = gen;
      lockLinks(session);
      // Registered once the bridge has made its first calls, so that the
      // runtime's objects those calls create are freed after it runs.
      static std::once_flag registered;
      std::call_once(registered, [] { std::atexit(&OfficeBridge::endAllAtExit); });
      disarm();
      if (timedOutFlag()) throw css::uno::RuntimeException("no answer");
    } catch (const css::uno::Exception& e) {
      disarm();
      bool hung = timedOutFlag();
      disposeBridge();
      killProcess();
      if (hung)
        raise(kErrCallTimeout,
              "The office program did not answer within " + std::to_string(callTimeout.count() / 1000) +
                  " seconds while connecting and was ended.",
              "Pressmark office server");
      raise(basic::CannotCreateObject, "The office program could not be reached: " + unoMessage(e));
    }
    std::lock_guard<std::mutex> l(stateMu);
    generation = gen;
  }

  bool live() {
    std::lock_guard<std::mutex> l(stateMu);
    return pid > 0 && generation != 0 && session.desktop.is();
  }

  // After a runtime failure: is the office still there and answering?
  bool answers() {
    if (!processAlive()) return false;
    try {
      arm();
      (void)session.desktop->getComponents();
      disarm();
      return !timedOutFlag();
    } catch (...) {
      disarm();
      return false;
    }
  }

  void arm() {
    std::lock_guard<std::mutex> l(stateMu);
    inCall = true;
    timedOut = false;
    overMemory = false;
    memoryLimitKb = officeMemoryLimitKb();
    nextMemoryLook = Clock::now() + kMemoryLook;
    deadline = Clock::now() + callTimeout;
    wake.notify_all();
  }
  void disarm() {
    std::lock_guard<std::mutex> l(stateMu);
    inCall = false;
    lastUse = Clock::now();
    wake.notify_all();
  }
  bool timedOutFlag() {
    std::lock_guard<std::mutex> l(stateMu);
    return timedOut || overMemory;
  }

  // The office failed under a call: end it, and tell the caller clearly.
  [[noreturn]] void failed(const std::string& what, const std::string& cause) {
    bool hung, grown;
    long limitKb;
    {
      std::lock_guard<std::mutex> l(stateMu);
      hung = timedOut;
      grown = overMemory;
      limitKb = memoryLimitKb;
    }
    killProcess();
    disposeBridge();
    if (grown)
      raise(kErrOfficeMemory,
            "The office program used more than " + std::to_string(limitKb / 1024) + " MB of memory during " + what +
                " (PRESSMARK_OFFICE_MEMORY_LIMIT) and was ended; open documents are lost.",
            "Pressmark office server");
    if (hung)
      raise(kErrCallTimeout,
            "The office program did not answer " + what + " within " + std::to_string(callTimeout.count() / 1000) +
                " seconds and was ended; open documents are lost.",
            "Pressmark office server");
    raise(kErrServerDied,
          "The office program ended during " + what + (cause.empty() ? "" : " (" + cause + ")") +
              "; open documents are lost.",
          "Pressmark office server");
  }

  void call(const std::string& what, const std::function<void(Session&)>& body) {
    if (depth > 0) {  // nested: the outer call holds the guard
      body(session);
      return;
    }
    if (!live() || !processAlive()) {
      killProcess();
      disposeBridge();
      start();
    }
    struct Depth {
      int& d;
      explicit Depth(int& x) : d(x) { ++d; }
      ~Depth() { --d; }
    } depthGuard(depth);
    arm();
    try {
      body(session);
      disarm();
      if (timedOutFlag()) failed(what, {});
    } catch (const css::lang::DisposedException& e) {
      disarm();
      failed(what, unoMessage(e));
    } catch (const css::uno::RuntimeException& e) {
      disarm();
      if (timedOutFlag() || !answers()) failed(what, unoMessage(e));
      raise(kErrServerFault, what + " failed in the office program: " + unoMessage(e), "Pressmark office server");
    } catch (const css::uno::Exception& e) {
      disarm();
      if (timedOutFlag()) failed(what, unoMessage(e));
      raise(kErrServerFault, what + " failed in the office program: " + unoMessage(e), "Pressmark office server");
    } catch (...) {
      disarm();
      if (timedOutFlag()) failed(what, {});
      throw;
    }
  }
};

// Every bridge of the process. A thread takes a bridge of its own on its
// first office call, so threads convert side by side, each in the office it
// leased; a thread that ends leaves its bridge to the next new thread.
// Bridges are never destroyed: objects of an ended thread may still name
// their office, and threads may end after static destruction began.
struct OfficeBridge::Registry {
  std::mutex mu;
  std::vector<OfficeBridge*> all;
  std::vector<OfficeBridge*> spare;  // bridges whose thread has ended
  // Settings made through any bridge hold for every bridge of the process.
  std::chrono::milliseconds callTimeout{0}, idleTimeout{0};

  static Registry& get() {
    static Registry* r = new Registry;
    // Made after the registry and before any office starts, so it is
    // destroyed after the exit handler the first connection registers.
    static Unloader unloader;
    return *r;
  }

  // Ends every office at unload (see Impl::endAtUnload).
  struct Unloader {
    ~Unloader() {
      for (OfficeBridge* b : snapshot()) b->impl_->endAtUnload();
    }
  };

  static std::vector<OfficeBridge*> snapshot() {
    Registry& r = get();
    std::lock_guard<std::mutex> l(r.mu);
    return r.all;
  }

  // The calling thread's binding: given back to the spares when it ends.
  struct Binding {
    OfficeBridge* bridge = nullptr;
    ~Binding() {
      if (!bridge) return;
      Impl& i = *bridge->impl_;
      {
        std::lock_guard<std::mutex> l(i.stateMu);
        i.unbound = true;
      }
      i.wake.notify_all();
      Registry& r = get();
      std::lock_guard<std::mutex> l(r.mu);
      r.spare.push_back(bridge);
    }
  };

  OfficeBridge& own() {
    thread_local Binding binding;
    if (binding.bridge) return *binding.bridge;
    OfficeBridge* b = nullptr;
    {
      std::lock_guard<std::mutex> l(mu);
      if (!spare.empty()) {
        b = spare.back();
        spare.pop_back();
      } else {
        b = new OfficeBridge;
        all.push_back(b);
        if (callTimeout.count() > 0) b->impl_->callTimeout = callTimeout;
        if (idleTimeout.count() > 0) b->impl_->idleTimeout = idleTimeout;
      }
    }
    {
      std::lock_guard<std::mutex> l(b->impl_->stateMu);
      b->impl_->unbound = false;
    }
    binding.bridge = b;
    return *b;
  }

  // A setting made through any bridge: kept for bridges made later, and
  // given to every bridge now, whose idle watchers wake to apply it.
  using Ms = std::chrono::milliseconds;
  static void setEverywhere(Ms Registry::*kept, Ms Impl::*own, Ms t) {
    Registry& r = get();
    {
      std::lock_guard<std::mutex> l(r.mu);
      r.*kept = t;
    }
    for (OfficeBridge* b : snapshot()) {
      {
        std::lock_guard<std::mutex> s(b->impl_->stateMu);
        b->impl_->*own = t;
      }
      b->impl_->wake.notify_all();
    }
  }

  // The bridge whose office has this generation, or null.
  static OfficeBridge* holding(uint64_t generation) {
    if (generation == 0) return nullptr;
    for (OfficeBridge* b : snapshot()) {
      std::lock_guard<std::mutex> l(b->impl_->stateMu);
      if (b->impl_->generation == generation && b->impl_->pid > 0) return b;
    }
    return nullptr;
  }
};

namespace {
// The bridge whose call runs on this thread: what the call's body does
// through instance() (a nested call, a document counted, a work folder)
// concerns that bridge, whichever thread's own it is.
thread_local OfficeBridge* t_calling = nullptr;

struct Calling {
  OfficeBridge* outer;
  explicit Calling(OfficeBridge* b) : outer(t_calling) { t_calling = b; }
  ~Calling() { t_calling = outer; }
  Calling(const Calling&) = delete;
  Calling& operator=(const Calling&) = delete;
};
}  // namespace

OfficeBridge& OfficeBridge::instance() {
  if (t_calling) return *t_calling;
  return Registry::get().own();
}

bool OfficeBridge::holds(uint64_t generation) {
  return Registry::holding(generation) != nullptr;
}

void OfficeBridge::endAllAtExit() {
  for (OfficeBridge* b : Registry::snapshot()) b->impl_->endAtExit();
}

OfficeBridge::OfficeBridge() : impl_(new Impl) {}
// impl_ is not deleted: see endAtUnload.
OfficeBridge::~OfficeBridge() = default;

void OfficeBridge::run(const std::string& what, const std::function<void(Session&)>& body) {
  std::lock_guard<std::recursive_mutex> l(impl_->callMu);
  Calling calling(this);
  impl_->call(what, body);
}

void OfficeBridge::runIn(uint64_t generation, const std::string& what, const std::function<void(Session&)>& body) {
  // A document opened by another thread is worked on in that thread's office.
  OfficeBridge* owner = this;
  {
    std::lock_guard<std::mutex> s(impl_->stateMu);
    if (impl_->generation != generation) owner = nullptr;
  }
  if (!owner) owner = Registry::holding(generation);
  if (owner && owner != this) {
    owner->runIn(generation, what, body);
    return;
  }
  std::lock_guard<std::recursive_mutex> l(impl_->callMu);
  bool same;
  {
    std::lock_guard<std::mutex> s(impl_->stateMu);
    same = impl_->generation == generation && impl_->pid > 0;
  }
  if (same && !impl_->processAlive()) {
    impl_->killProcess();
    impl_->disposeBridge();
    same = false;
  }
  if (!same)
    raise(kErrDocumentLost, "The document was lost when its office program ended; " + what + " was not done.",
          "Pressmark office server");
  Calling calling(this);
  impl_->call(what, body);
}

uint64_t OfficeBridge::generation() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->pid > 0 ? impl_->generation : 0;
}

pid_t OfficeBridge::pid() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->pid;
}

void OfficeBridge::shutdown() {
  std::lock_guard<std::recursive_mutex> l(impl_->callMu);
  if (impl_->live()) {
    try {
      impl_->arm();
      impl_->session.desktop->terminate();
    } catch (...) {
    }
    impl_->disarm();
  }
  impl_->killProcess();
  impl_->disposeBridge();
}

void OfficeBridge::shutdownLent() {
  for (OfficeBridge* b : Registry::snapshot())
    if (b->pooled()) b->shutdown();
}

std::chrono::milliseconds OfficeBridge::callTimeout() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->callTimeout;
}
void OfficeBridge::setCallTimeout(std::chrono::milliseconds t) {
  Registry::setEverywhere(&Registry::callTimeout, &Impl::callTimeout, t.count() > 0 ? t : std::chrono::minutes(5));
}
std::chrono::milliseconds OfficeBridge::idleTimeout() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->idleTimeout;
}
void OfficeBridge::setIdleTimeout(std::chrono::milliseconds t) {
  Registry::setEverywhere(&Registry::idleTimeout, &Impl::idleTimeout, t.count() > 0 ? t : std::chrono::minutes(10));
}

void OfficeBridge::documentOpened() {
  {
    std::lock_guard<std::mutex> s(impl_->stateMu);
    ++impl_->openDocuments;
  }
  impl_->lease.noteDocument();
}

void OfficeBridge::documentClosed() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  if (impl_->openDocuments > 0) --impl_->openDocuments;
  impl_->lastUse = Clock::now();
}

bool OfficeBridge::pooled() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->pooled;
}

std::string OfficeBridge::workDir() {
  std::lock_guard<std::mutex> s(impl_->stateMu);
  return impl_->profile;
}

}  // namespace pm::office
