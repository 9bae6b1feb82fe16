// The two Distiller classes, answering to their class ids with Ghostscript
// behind them (see automation/surfaces/Distiller.h for the surface).
#include <memory>

#include "automation/Automation.h"
#include "automation/surfaces/Distiller.h"
#include "servers/distiller/GhostscriptJob.h"

namespace pm::distiller {
namespace {

class DistillerBase : public Dispatch {
 public:
  Variant getShowWindow(Frame&) { return Variant(showWindow_); }
  Variant letShowWindow(Frame& f) {
    showWindow_ = CLng(f["bNewValue"]);
    return {};
  }
  Variant getSpoolJobs(Frame&) { return Variant(spoolJobs_); }
  Variant letSpoolJobs(Frame& f) {
    spoolJobs_ = CLng(f["bNewValue"]);
    return {};
  }
  Variant getTimeout(Frame&) { return Variant(static_cast<int32_t>(timeout().count())); }
  Variant letTimeout(Frame& f) {
    timeout_ = CLng(f["lngNewValue"]);
    return {};
  }

 protected:
  template <class T>
  static void describeCommon(Members<T>& m) {
    m.get(kShowWindow, {}, &T::getShowWindow, "Show a window while distilling (kept; no window is shown).")
        .let(kShowWindow, {P("bNewValue").byVal().as(VT::Long)}, &T::letShowWindow)
        .get(kSpoolJobs, {}, &T::getSpoolJobs, "Spool jobs (kept; every job runs at once).")
        .let(kSpoolJobs, {P("bNewValue").byVal().as(VT::Long)}, &T::letSpoolJobs)
        .get(kTimeout, {}, &T::getTimeout, "Seconds a job may run before it is stopped.")
        .let(kTimeout, {P("lngNewValue").byVal().as(VT::Long)}, &T::letTimeout);
  }
  static ParamSpec pathParam(const char* name) { return P(name).path().byVal().as(VT::String); }

  std::chrono::seconds timeout() const { return timeout_ > 0 ? std::chrono::seconds(timeout_) : defaultTimeout(); }

  int32_t showWindow_ = 0;
  int32_t spoolJobs_ = 0;
  int32_t timeout_ = 0;
};

class EventDistiller : public DistillerBase {
 public:
  EventDistiller() : events_(table().events()) {}
  const MemberTable* memberTable() const override { return &table(); }
  ConnectionPoint* connectionPoint() override { return &events_; }

  static const MemberTable& table() {
    static const MemberTable t = [] {
      MemberTable table("PdfDistiller");
      Members<EventDistiller> m(table);
      describeCommon(m);
      m.method(kFileToPDF,
               {pathParam("strInputPostScript"), pathParam("strOutputPDF"), pathParam("strJobOptions").opt("")},
               &EventDistiller::FileToPDF, "Distil a PostScript file to PDF, raising the job events.");
      for (const EventSpec& e : eventSpecs()) m.event(e.name, e.dispid, e.params);
      return table;
    }();
    return t;
  }

  Variant FileToPDF(Frame& f) {
    JobRequest rq;
    rq.input = f["strInputPostScript"].asString();
    rq.output = f["strOutputPDF"].asString();
    rq.jobOptions = f["strJobOptions"].asString();
    rq.timeout = timeout();
    Variant in(rq.input), out(rq.output);
    events_.raise(kOnJobStart, {&in, &out});
    JobProgress progress;
    progress.log = [this](const std::string& m) {
      Variant v(m);
      events_.raise(kOnLogMessage, {&v});
    };
    progress.page = [this](int32_t n) {
      Variant v(n);
      events_.raise(kOnPageNumber, {&v});
    };
    progress.percent = [this](int32_t n) {
      Variant v(n);
      events_.raise(kOnPercentDone, {&v});
    };
    bool ok;
    try {
      ok = runJob(rq, progress);
    } catch (const AutomationError&) {
      // Only an engine that cannot start at all ends up here; the job has
      // still failed, and its listeners hear so before the error.
      Variant a(rq.input), b(rq.output);
      ignoreErrors([&] { events_.raise(kOnJobFail, {&a, &b}); });
      throw;
    }
    Variant a(rq.input), b(rq.output);
    events_.raise(ok ? kOnJobDone : kOnJobFail, {&a, &b});
    return Variant(int32_t{ok ? 1 : 0});
  }

 private:
  ConnectionPoint events_;
};

class SecureDistiller : public DistillerBase {
 public:
  const MemberTable* memberTable() const override { return &table(); }

  static const MemberTable& table() {
    static const MemberTable t = [] {
      MemberTable table("PdfDistillerSecure");
      Members<SecureDistiller> m(table);
      describeCommon(m);
      m.method(kFileToPDF2,
               {pathParam("strInputPostScript"), pathParam("strOutputPDF"), pathParam("strJobOptions").opt(""),
                P("bApplySecurity").byVal().opt(Variant(false))},
               &SecureDistiller::FileToPDF2,
               "Distil a PostScript file to PDF, applying the job options' passwords and permissions when asked.")
          .get(kLastMessage, {}, &SecureDistiller::getLastMessage,
               "The last log line of the last job: for a failed job, its reason.");
      return table;
    }();
    return t;
  }

  Variant FileToPDF2(Frame& f) {
    JobRequest rq;
    rq.input = f["strInputPostScript"].asString();
    rq.output = f["strOutputPDF"].asString();
    rq.jobOptions = f["strJobOptions"].asString();
    rq.applySecurity = CBool(f["bApplySecurity"]);
    rq.timeout = timeout();
    // No events on this class: the last line of the job's log is kept so
    // the caller can learn why a job failed.
    lastMessage_.clear();
    JobProgress progress;
    progress.log = [this](const std::string& m) { lastMessage_ = m; };
    return Variant(int32_t{runJob(rq, progress) ? 1 : 0});
  }
  Variant getLastMessage(Frame&) { return Variant(lastMessage_); }

 private:
  std::string lastMessage_;
};

const RegisterClass eventClass(
    kEventProgId, kEventClsid, [] { return std::make_shared<EventDistiller>(); },
    "Distiller with job events (Ghostscript)");
const RegisterClass secureClass(
    kSecurityProgId, kSecurityClsid, [] { return std::make_shared<SecureDistiller>(); },
    "Distiller with document security (Ghostscript)");

}  // namespace
}  // namespace pm::distiller
