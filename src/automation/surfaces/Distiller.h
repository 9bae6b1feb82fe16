// The Distiller surface: the class ids, member names and event dispatch ids
// shared by the component (which drives the two Distiller classes by name)
// and the Ghostscript server (which answers to them).
//
// Event-enabled Distiller, class id kEventClsid:
//   bShowWindow (property, Long)   kept; no window is ever shown
//   bSpoolJobs  (property, Long)   kept; every job runs at once
//   lngTimeout  (property, Long)   seconds a job may run; 0 or less: the
//                                  default (600 s, or PRESSMARK_DISTILLER_TIMEOUT)
//   FileToPDF(strInputPostScript, strOutputPDF, strJobOptions) -> Long
//       1 when the PDF was made, 0 when the job failed. The job's course
//       is reported by the events below; a failed job raises no error.
//   Events (dispatch id): OnJobStart (1) and OnJobDone (2) and OnJobFail (3)
//   with (strInputPostScript, strOutputPDF); OnLogMessage (4) (strMessage);
//   OnPercentDone (5) (nPercentDone); OnPageNumber (6) (nPageNumber).
//
// Security-capable Distiller, class id kSecurityClsid: the same properties
// and FileToPDF2(strInputPostScript, strOutputPDF, strJobOptions,
// bApplySecurity) -> Long (1 made, 0 failed); no events.
//   strLastMessage (property, String, read-only): the last log line of the
//                                  last job, for a failed job its reason
//                                  ("" before the first job)
//
// Job-options file (strJobOptions; "" for none). Either form:
//   PostScript: one or more "<< /Key value ... >> setdistillerparams" (or
//     "... >> setpagedevice") statements, % comments allowed. Values are
//     data only: numbers, booleans, names, strings, arrays, dictionaries.
//   Key/value: one "Key = value" per line, # or % comment lines. A value is
//     true/false, a number, /Name or a bare word (a name), (a PostScript
//     string), "a quoted string", or [an array].
// A missing file or one that does not parse fails the job with a log
// message naming the file and the fault.
//
// Security keys, read from the job-options file in either form and applied
// by FileToPDF2 only when bApplySecurity is true (the event-enabled class
// and FileToPDF2 without security drop them, so no job is encrypted by
// accident):
//   OwnerPassword  text; the password that lifts the restrictions
//   UserPassword   text; the password needed to open the document
//   Permissions    integer; the PDF permission bits (the P value, for
//                  example -3904 for nothing allowed, -4 for everything)
// Encryption is 128-bit RC4, revision 3. Asked for security with neither
// password given, the job fails: a PDF is never handed back unprotected
// when protection was asked for. With only a user password, it serves as
// the owner password too.
#pragma once

#include <sys/stat.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation/Dispatch.h"
#include "automation/Internal.h"

namespace pm::distiller {

inline constexpr const char* kEventClsid = "{1CD675B2-ECD1-11D1-B976-00600802DB86}";
inline constexpr const char* kEventIid = "{1CD675B1-ECD1-11D1-B976-00600802DB86}";
inline constexpr const char* kEventProgId = "PdfDistiller.PdfDistiller";

inline constexpr const char* kSecurityClsid = "{FC403250-51F5-4E1B-AC8C-ED9C5E551B9B}";
inline constexpr const char* kSecurityIid = "{49688461-CBEF-42EF-AF39-4B2816798FB1}";
inline constexpr const char* kSecurityProgId = "PdfDistiller.PdfDistillerSecure";

// Members.
inline constexpr const char* kShowWindow = "bShowWindow";
inline constexpr const char* kSpoolJobs = "bSpoolJobs";
inline constexpr const char* kTimeout = "lngTimeout";
inline constexpr const char* kFileToPDF = "FileToPDF";
inline constexpr const char* kFileToPDF2 = "FileToPDF2";
inline constexpr const char* kLastMessage = "strLastMessage";

// Events and their dispatch ids.
inline constexpr const char* kOnJobStart = "OnJobStart";
inline constexpr const char* kOnJobDone = "OnJobDone";
inline constexpr const char* kOnJobFail = "OnJobFail";
inline constexpr const char* kOnLogMessage = "OnLogMessage";
inline constexpr const char* kOnPercentDone = "OnPercentDone";
inline constexpr const char* kOnPageNumber = "OnPageNumber";
inline constexpr int kOnJobStartId = 1, kOnJobDoneId = 2, kOnJobFailId = 3, kOnLogMessageId = 4, kOnPercentDoneId = 5,
                     kOnPageNumberId = 6;

// The event declarations of the event-enabled class, as its member table
// carries them (and as a test stand-in declares them).
inline std::vector<EventSpec> eventSpecs() {
  auto paths = [] {
    return std::vector<ParamSpec>{P("strInputPostScript").path().as(VT::String),
                                  P("strOutputPDF").path().as(VT::String)};
  };
  return {EventSpec{kOnJobStart, kOnJobStartId, paths()},
          EventSpec{kOnJobDone, kOnJobDoneId, paths()},
          EventSpec{kOnJobFail, kOnJobFailId, paths()},
          EventSpec{kOnLogMessage, kOnLogMessageId, {P("strMessage").as(VT::String)}},
          EventSpec{kOnPercentDone, kOnPercentDoneId, {P("nPercentDone").as(VT::Long)}},
          EventSpec{kOnPageNumber, kOnPageNumberId, {P("nPageNumber").as(VT::Long)}}};
}

// The environment variable that sets the default time-out in seconds.
inline constexpr const char* kTimeoutEnv = "PRESSMARK_DISTILLER_TIMEOUT";
inline constexpr int kDefaultTimeoutSeconds = 600;

// The security keys of the job-options file.
inline constexpr const char* kOwnerPasswordKey = "OwnerPassword";
inline constexpr const char* kUserPasswordKey = "UserPassword";
inline constexpr const char* kPermissionsKey = "Permissions";

// The driver files this process wrote and the files each one runs. A job
// grants Ghostscript reading of a driver's parts only for a driver listed
// here: a PostScript file that merely starts like a driver file is an input
// like any other, and what its lines name is not made readable.
class WrittenDriver {
 public:
  // Lists the driver (already written and closed) for as long as this
  // object lives.
  WrittenDriver(const std::string& path, std::vector<std::string> entries) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return;
    key_ = Key{st.st_dev, st.st_ino};
    std::lock_guard<std::mutex> lock(mutex());
    table()[*key_] = std::move(entries);
  }
  ~WrittenDriver() {
    if (!key_) return;
    std::lock_guard<std::mutex> lock(mutex());
    table().erase(*key_);
  }
  WrittenDriver(const WrittenDriver&) = delete;
  WrittenDriver& operator=(const WrittenDriver&) = delete;

  // The files the driver at path runs, when it is one this process wrote.
  static std::optional<std::vector<std::string>> entriesOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex());
    auto it = table().find(Key{st.st_dev, st.st_ino});
    if (it == table().end()) return std::nullopt;
    return it->second;
  }

 private:
  using Key = std::pair<dev_t, ino_t>;
  // One table for the whole process, kept in the library: the component
  // writes drivers and the distiller module reads them.
  PM_INTERNAL static std::mutex& mutex();
  PM_INTERNAL static std::map<Key, std::vector<std::string>>& table();
  std::optional<Key> key_;
};

}  // namespace pm::distiller
