// Sending a message with one attachment through an SMTP server, with
// libcurl. The server and the sender come from the environment
// (PRESSMARK_SMTP_*) or the registry stand-in (see the README).
#pragma once

#include <string>
#include <vector>

namespace pm::pdf::mail {

struct Message {
  std::string to, cc, bcc;  // lists of addresses separated by ";" or ","
  std::string subject, body;
  std::string attachmentName, attachmentType, attachment;
};

// Splits an address list; empty entries are dropped.
std::vector<std::string> addresses(const std::string& list);

// The message as sent: headers (no Bcc) and a MIME body with the text and
// the attachment in base64. date and id are given so tests can compare.
std::string compose(const Message& m, const std::string& from, const std::string& date, const std::string& id);

// Sends the message; raises a clear automation error when no server is
// set, when there is no recipient, or when the server refuses.
void send(const Message& m);

}  // namespace pm::pdf::mail
