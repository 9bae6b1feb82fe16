// The inside of OfficeBridge, shared by the files that hold its members:
// the state of one bridge and its office (Impl), and every bridge of the
// process (Registry). Impl's members live by concern: OfficeBridgeStart.cpp
// starts or leases an office and connects to it, OfficeBridgeCall.cpp runs a
// call under the time-out, OfficeBridgeWatch.cpp watches calls and idle
// offices, OfficeBridgeEnd.cpp ends or gives back an office.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <com/sun/star/lang/XComponent.hpp>

#include "servers/office/BridgeConnection.h"
#include "servers/office/OfficeBridge.h"
#include "servers/office/OfficeLaunch.h"
#include "servers/office/OfficeService.h"

namespace pm::office {

using BridgeClock = std::chrono::steady_clock;

// How often the memory of an office at work is looked at.
inline constexpr std::chrono::milliseconds kMemoryLook{200};

// A time from the environment in seconds (fractions allowed), or fallback.
std::chrono::milliseconds envSeconds(const char* name, std::chrono::milliseconds fallback);
// The first line of a UNO exception's message.
std::string unoMessage(const css::uno::Exception& e);

struct OfficeBridge::Impl {
  std::recursive_mutex callMu;  // serialises every call onto the bridge

  // State below is guarded by stateMu (the watchdog reads it too).
  std::mutex stateMu;
  std::condition_variable wake;
  pid_t pid = -1;
  uint64_t generation = 0;
  std::string profile;
  bool inCall = false;
  BridgeClock::time_point deadline{};
  BridgeClock::time_point lastUse = BridgeClock::now();
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
  BridgeClock::time_point nextMemoryLook{};
  int depth = 0;         // nesting of run() on the calling thread (under callMu)
  bool unbound = false;  // the thread that used this bridge has ended

  Session session;
  css::uno::Reference<css::lang::XComponent> bridge;
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

  Impl();

  // Ending (OfficeBridgeEnd.cpp).
  void endAtExit();
  void endAtUnload();
  void killProcess();
  void disposeBridge();
  void giveBack();
  void idleShutdown();

  // Watching (OfficeBridgeWatch.cpp).
  static bool unreapedChild(pid_t p);
  bool processAlive();
  void watch();
  bool lingerOver(BridgeClock::time_point now) const;

  // Starting (OfficeBridgeStart.cpp).
  void start();
  void connect(const css::uno::Reference<css::uno::XComponentContext>& local, const std::string& pipe, uint64_t gen);

  // Calling (OfficeBridgeCall.cpp).
  bool live();
  bool answers();
  void arm();
  void disarm();
  bool timedOutFlag();
  [[noreturn]] void failed(const std::string& what, const std::string& cause);
  void call(const std::string& what, const std::function<void(Session&)>& body);
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

  static Registry& get();
  // Ends every office at unload (see Impl::endAtUnload).
  struct Unloader {
    ~Unloader();
  };
  static std::vector<OfficeBridge*> snapshot();
  // The calling thread's binding: given back to the spares when it ends.
  struct Binding {
    OfficeBridge* bridge = nullptr;
    ~Binding();
  };
  // The calling thread's own bridge.
  OfficeBridge& own();
  // A setting made through any bridge: kept for bridges made later, and
  // given to every bridge now, whose idle watchers wake to apply it.
  using Ms = std::chrono::milliseconds;
  static void setEverywhere(Ms Registry::*kept, Ms Impl::*own, Ms t);
  // The bridge whose office has this generation, or null.
  static OfficeBridge* holding(uint64_t generation);
};

}  // namespace pm::office
