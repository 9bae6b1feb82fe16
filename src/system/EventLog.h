// The system's application log: the component runs unattended, so the few
// messages it has for a person go to syslog instead of a dialog.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "automation/Internal.h"

namespace pm {

enum class EventSeverity { Information, Warning, Error };

// Writes one entry, tagged "Pressmark", to syslog (facility user). The
// host's openlog settings are left alone.
PM_INTERNAL void logApplicationEvent(std::string_view message, EventSeverity severity = EventSeverity::Warning);

// Tests watch the entries through a sink that receives each one as well;
// an empty function removes it.
void setEventLogSinkForTesting(std::function<void(const std::string&, EventSeverity)> sink);

}  // namespace pm
