// Switching the default printer: the attribute method, the profile method,
// and the small procedures they share. All of them run over a Spooler and
// report nothing: a printer that cannot be found or switched leaves the
// default as it was.
#pragma once

#include <cstddef>
#include <string>

#include "system/Spooler.h"

namespace pm {

// Names copied out of spooler memory go through a buffer of this many
// characters, NUL included.
inline constexpr size_t kPtrStringBuffer = 512;
// The profile value of a printer is read into a buffer of this many.
inline constexpr size_t kProfileBuffer = 1024;

// Makes the named printer the default through the platform's method:
// the attribute method on platform 1, the profile method elsewhere.
// Never raises.
void SetDefaultPrinter(Spooler& spooler, const std::string& name);

// Attribute method: open the printer, read its level-5 record, set the
// default attribute and write the record back.
void SetDefaultPrinter9x(Spooler& spooler, std::string& name);

// Profile method: the printer's "PrinterPorts" value gives driver and
// port; with both present, "windows"/"Device" names it the default.
void SetDefaultPrinterNT(Spooler& spooler, std::string& name);

// Driver = the text before the first comma, port = the text between the
// first and the second comma. Both stay "" where the commas are missing
// (port alone stays "" without a second comma).
void ParsePrinterPorts(const std::string& value, std::string& driver, std::string& port);

// Writes "windows"/"Device" = name,driver,port and broadcasts the change.
void WriteDefaultPrinter(Spooler& spooler, const std::string& name, const std::string& driver, const std::string& port);

// The NUL-terminated string at address, of which at most available bytes
// may be read, as a 512-character buffer takes it: cut at 511 characters;
// "" when address is null or no NUL comes within the readable bytes before
// the buffer is full. Never reads past address + available.
std::string PtrToString(const char* address, size_t available);

// The device name of the current default printer (the part of
// "windows"/"Device" before the first comma), "" when there is none. This
// is the text to hand back to SetDefaultPrinter to restore it.
std::string CurrentDefaultPrinter(Spooler& spooler);

}  // namespace pm
