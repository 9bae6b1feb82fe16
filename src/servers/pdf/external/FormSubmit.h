// Sending form data to a web address over HTTP or HTTPS with libcurl.
#pragma once

#include <string>

namespace pm::pdf::submit {

struct Request {
  std::string url;
  std::string contentType;  // of the body; empty with get
  std::string body;         // with get: the query appended to the address
  bool get = false;
};

// Sends the request and waits for the answer, at most
// PRESSMARK_SUBMIT_TIMEOUT seconds (default 60). Raises a clear automation
// error for an address that is not http:// or https://, a connection that
// fails or times out, or an answer that is an HTTP error. Answers the body
// of the server's answer.
std::string send(const Request& r);

}  // namespace pm::pdf::submit
