// Starting an office: leased from the user's shared office service, or
// started here as a child with a private profile; then the UNO bridge to it.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <cppuhelper/bootstrap.hxx>

#include "automation/Error.h"
#include "servers/office/LinkGuard.h"
#include "servers/office/OfficeBridgeImpl.h"
#include "system/EventLog.h"
#include "system/Files.h"
#include "system/Process.h"

namespace pm::office {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

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

void OfficeBridge::Impl::start() {
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

void OfficeBridge::Impl::connect(const Reference<css::uno::XComponentContext>& local, const std::string& pipe,
                                 uint64_t gen) {
  // The office needs a moment (longer on a fresh profile) before its pipe
  // answers.
  BridgeClock::time_point until = BridgeClock::now() + startTimeout;
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
    if (BridgeClock::now() >= until) {
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
}  // namespace pm::office
