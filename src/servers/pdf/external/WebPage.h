// Fetching a web page for the JavaScript object's getURL and laying it out
// as PDF pages.
#pragma once

#include <string>

namespace pm::pdf {

struct Fetched {
  std::string body;
  std::string contentType;  // as the server said, "" for a file
};

// Limits of one fetch: the whole transfer, and the size of what comes back.
inline constexpr long kFetchTimeoutSeconds = 30;
inline constexpr size_t kFetchMaxBytes = 16u << 20;

// GET of an http, https or file address, following at most five
// redirections to http or https. Raises a clear error for another scheme,
// a failed transfer, an HTTP status of 400 or more, a time-out or a body
// above the size limit.
Fetched fetchUrl(const std::string& url);

// Lays out HTML (or plain text) with MuPDF's HTML engine on letter-size
// pages and writes them as a PDF file at path; returns the page count.
int layOutAsPdf(const Fetched& page, const std::string& path);

}  // namespace pm::pdf
