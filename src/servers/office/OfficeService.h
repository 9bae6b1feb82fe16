// The per-user office service: one detached supervisor process owns a pool
// of headless offices and lends each to one client at a time, so every
// short-lived client process of a user finds a warm office.
//
// The supervisor's socket and each office's profile live in the user's
// private runtime folder (mode 0700). The offices' connection pipes are
// where the UNO runtime puts named pipes, in /tmp, under names nobody can
// guess and writable by the user alone (see OfficeLaunch.h); the service
// removes them with their offices. Each office dies with the supervisor. A client connects to the socket, asks for a
// lease and keeps that connection open for as long as it uses the office; closing it without a release (the client
// died) makes the supervisor restart that office. The UNO bridge itself connects straight to the leased office's pipe.
#pragma once

#include <sys/types.h>

#include <string>

namespace pm::office {

// The service folder, created (0700) when missing and create is true; empty
// when there is no private folder to use (then the office runs inside the
// client). why says what was wrong.
std::string serviceFolder(std::string* why = nullptr, bool create = true);

// Whether the client uses the service (PRESSMARK_OFFICE_POOL=0 turns it off).
bool serviceWanted();

// One office lent to this process.
class OfficeLease {
 public:
  OfficeLease() = default;
  ~OfficeLease() { release(); }
  OfficeLease(const OfficeLease&) = delete;
  OfficeLease& operator=(const OfficeLease&) = delete;

  // Asks the service (starting it when none runs) for an office. Returns
  // false with the reason when the service cannot be reached or started.
  bool acquire(std::string& why);
  bool held() const { return fd_ >= 0; }
  pid_t pid() const { return pid_; }
  const std::string& pipe() const { return pipe_; }  // the UNO pipe name
  const std::string& profile() const { return profile_; }

  // Counts one document the office opened (its restart counter).
  void noteDocument();
  // Gives the office back for the next client.
  void release();
  // The office failed under a call: the service ends it (and has reaped it
  // when this returns) and replaces it for the next lease.
  void endOffice();

 private:
  int fd_ = -1;
  pid_t pid_ = -1;
  std::string pipe_, profile_;
};

// `pressmark office status`: the pool as text ("" when no service runs).
std::string serviceStatus();
// `pressmark office stop`: ends the service and its offices; false when none ran.
bool stopService();

}  // namespace pm::office

// The supervisor's entry, run by `pressmark office serve FOLDER` (found by
// name so the command builds without the office server).
extern "C" int pm_office_service_main(const char* folder);
