// Job-options files: read in either of their two forms (PostScript
// "<< ... >> setdistillerparams" or "Key = value" lines), checked to be
// data only, and turned into the PostScript handed to Ghostscript with the
// security keys taken out (see automation/surfaces/Distiller.h).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pm::distiller {

// A job-options file that is missing, unreadable or malformed; what()
// names the fault (and the line) for the job's log.
class JobOptionsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct JobOptions {
  // Statements for Ghostscript, one per line; "" when there are none.
  std::string postscript;
  std::optional<std::string> ownerPassword, userPassword;
  std::optional<int32_t> permissions;
};

JobOptions parseJobOptions(std::string_view text);
// The file at path; "" reads as no options at all.
JobOptions readJobOptions(const std::string& path);

// A PostScript string literal holding the bytes of s: "(", ")" and "\"
// escaped, control bytes in octal, so any text is safe inside it.
std::string psString(std::string_view s);

// Decodes a PostScript string literal that makes up the whole of text
// (surrounding white space allowed); false when text is anything else.
bool decodePsString(std::string_view text, std::string& out);

}  // namespace pm::distiller
