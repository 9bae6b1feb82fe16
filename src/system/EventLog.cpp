#include "system/EventLog.h"

#include <syslog.h>

#include <mutex>

#include "automation/Error.h"

namespace pm {

namespace {
std::mutex gSinkMutex;
std::function<void(const std::string&, EventSeverity)> gSink;
}  // namespace

void logApplicationEvent(std::string_view message, EventSeverity severity) {
  int priority = severity == EventSeverity::Error     ? LOG_ERR
                 : severity == EventSeverity::Warning ? LOG_WARNING
                                                      : LOG_INFO;
  std::string text(message);
  // The text is an argument, never the format: messages may carry "%".
  ::syslog(LOG_USER | priority, "%s: %s", kComponentTitle, text.c_str());
  std::lock_guard<std::mutex> g(gSinkMutex);
  if (gSink) gSink(text, severity);
}

void setEventLogSinkForTesting(std::function<void(const std::string&, EventSeverity)> sink) {
  std::lock_guard<std::mutex> g(gSinkMutex);
  gSink = std::move(sink);
}

}  // namespace pm
