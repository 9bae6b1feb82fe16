// The connection to one warm LibreOffice process over a UNO pipe bridge.
//
// Each thread that drives an office has a bridge of its own, and with it an
// office of its own: threads convert side by side, as every caller of an
// office program gets its own instance. The office is lent by the user's
// shared office service (OfficeService.h) and given back when no call and no
// document needs it, at once when the thread ends; where the service cannot
// run, the office is started here as a child, with a private user profile.
// Either way it is reused by every call of the thread after that, so creating
// an office application object costs nothing once it is warm. Every UNO call
// goes through run(), which serialises the calls made onto one bridge and
// guards each one with a time-out: a call that does not come back in time,
// or a bridge that dies under a call, ends the whole process group; the call
// raises an automation error, and the next call starts a fresh process with
// a fresh profile. Documents opened in an earlier process are lost with it:
// run() for such a document raises the lost-document error without starting
// anything. A document used from another thread is worked on through the
// bridge that opened it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

namespace pm::office {

// The errors a client sees when the office process fails under a call; the
// numbers are the ones an out-of-process automation server gives for the
// same faults.
inline constexpr int32_t kErrServerDied = static_cast<int32_t>(0x80010108u);   // RPC_E_DISCONNECTED
inline constexpr int32_t kErrCallTimeout = static_cast<int32_t>(0x8001011Fu);  // RPC_E_TIMEOUT
inline constexpr int32_t kErrServerFault = static_cast<int32_t>(0x80010105u);  // RPC_E_SERVERFAULT
// The office grew past its memory limit under a call and was ended.
inline constexpr int32_t kErrOfficeMemory = static_cast<int32_t>(0x8007000Eu);  // E_OUTOFMEMORY
// A document that was open in an office process that has ended.
inline constexpr int32_t kErrDocumentLost = static_cast<int32_t>(0x80010108u);

struct Session {
  css::uno::Reference<css::uno::XComponentContext> context;  // the office's
  css::uno::Reference<css::frame::XDesktop2> desktop;
  uint64_t generation = 0;  // which office process this is (1, 2, ...; unique in the process)
};

class OfficeBridge {
 public:
  // The calling thread's bridge (inside a call, the bridge of that call).
  static OfficeBridge& instance();
  // Whether the office of this generation still runs, whichever bridge holds it.
  static bool holds(uint64_t generation);

  // Runs body with a live session under the bridge lock and the call
  // time-out. UNO exceptions become automation errors with their message;
  // a failure of the process becomes kErrServerDied / kErrCallTimeout.
  // what names the operation in error descriptions.
  void run(const std::string& what, const std::function<void(Session&)>& body);
  // The same for work on an object of one office process, on the bridge
  // that holds it: raises kErrDocumentLost when that process is gone
  // (without starting another).
  void runIn(uint64_t generation, const std::string& what, const std::function<void(Session&)>& body);

  // The generation of the running process, 0 when none runs.
  uint64_t generation();
  // The process id of the office (the launcher's, whose group holds the
  // office), -1 when none runs.
  pid_t pid();
  // Ends the office process (gracefully first) and its profile.
  void shutdown();
  // Ends every office the process's bridges hold on lease.
  static void shutdownLent();

  // Setting a time-out sets it for every bridge of the process.
  std::chrono::milliseconds callTimeout();
  void setCallTimeout(std::chrono::milliseconds t);
  std::chrono::milliseconds idleTimeout();
  void setIdleTimeout(std::chrono::milliseconds t);

  // The office counts the documents loaded in it: a lent office goes back
  // to the shared service only when none is open, and is restarted after
  // a number of them.
  void documentOpened();
  void documentClosed();
  // Whether the office is lent by the shared office service.
  bool pooled();

  // The private folder of the running process (work files go there).
  std::string workDir();

  ~OfficeBridge();

 private:
  OfficeBridge();
  OfficeBridge(const OfficeBridge&) = delete;
  OfficeBridge& operator=(const OfficeBridge&) = delete;
  // At process exit, every bridge (see Impl::endAtExit).
  static void endAllAtExit();
  struct Registry;
  struct Impl;
  Impl* impl_;
};

// OUString <-> UTF-8.
std::string toUtf8(const ::rtl::OUString& s);
::rtl::OUString fromUtf8(const std::string& s);
// A local path as a file URL.
::rtl::OUString fileUrl(const std::string& path);

}  // namespace pm::office
