// "Pressmark.OfficeControl": the warm office process as an administrator or
// a test sees it, and the user's shared office service. Asking for the
// process id does not start the office, nor does asking for the service's
// status start the service.
#include "automation/Automation.h"
#include "servers/office/OfficeBridge.h"
#include "servers/office/OfficeService.h"

namespace pm::office {
namespace {

class OfficeControl : public Dispatch {
 public:
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("OfficeControl");
      Members<OfficeControl> m(table);
      m.get("ProcessId", {}, &OfficeControl::ProcessId, "The office process id, 0 when none runs.")
          .get("Generation", {}, &OfficeControl::Generation, "Which office process runs (1, 2, ...), 0 when none.")
          .get("CallTimeout", {}, &OfficeControl::GetCallTimeout, "Seconds one office call may take.")
          .let("CallTimeout", {P("value").byVal()}, &OfficeControl::LetCallTimeout)
          .get("IdleTimeout", {}, &OfficeControl::GetIdleTimeout, "Seconds the office stays warm unused.")
          .let("IdleTimeout", {P("value").byVal()}, &OfficeControl::LetIdleTimeout)
          .method("Start", {}, &OfficeControl::Start, "Starts the office process now if none runs.")
          .method("Shutdown", {}, &OfficeControl::Shutdown, "Ends the office process.")
          .get("Shared", {}, &OfficeControl::Shared,
               "True when the office in use is lent by the user's shared office service.")
          .get("ServiceStatus", {}, &OfficeControl::ServiceStatus,
               "The shared office service's pool, one office a line (process id, lease, documents, memory); "
               "empty when no service runs.")
          .method("StopService", {}, &OfficeControl::StopService,
                  "Ends the shared office service and its offices; False when none ran.");
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return "OfficeControl"; }

  Variant ProcessId(Frame&) {
    pid_t p = OfficeBridge::instance().pid();
    return Variant(int32_t{p > 0 ? p : 0});
  }
  Variant Generation(Frame&) { return Variant(static_cast<double>(OfficeBridge::instance().generation())); }
  Variant GetCallTimeout(Frame&) { return Variant(OfficeBridge::instance().callTimeout().count() / 1000.0); }
  Variant LetCallTimeout(Frame& f) {
    double s = CDbl(f["value"]);
    if (s <= 0) raise(basic::InvalidProcedureCall, "CallTimeout must be more than 0 seconds.");
    OfficeBridge::instance().setCallTimeout(std::chrono::milliseconds(static_cast<int64_t>(s * 1000)));
    return {};
  }
  Variant GetIdleTimeout(Frame&) { return Variant(OfficeBridge::instance().idleTimeout().count() / 1000.0); }
  Variant LetIdleTimeout(Frame& f) {
    double s = CDbl(f["value"]);
    if (s <= 0) raise(basic::InvalidProcedureCall, "IdleTimeout must be more than 0 seconds.");
    OfficeBridge::instance().setIdleTimeout(std::chrono::milliseconds(static_cast<int64_t>(s * 1000)));
    return {};
  }
  Variant Start(Frame&) {
    OfficeBridge::instance().run("starting", [](Session&) {});
    return {};
  }
  Variant Shutdown(Frame&) {
    OfficeBridge::instance().shutdown();
    return {};
  }
  Variant Shared(Frame&) { return Variant(OfficeBridge::instance().pooled()); }
  Variant ServiceStatus(Frame&) { return Variant(serviceStatus()); }
  Variant StopService(Frame&) {
    // This process's own leases go first, so the service can end at once.
    OfficeBridge::shutdownLent();
    return Variant(stopService());
  }
};

const RegisterClass reg(
    "Pressmark.OfficeControl", "", [] { return std::make_shared<OfficeControl>(); },
    "The warm office process of the office servers");

}  // namespace
}  // namespace pm::office
