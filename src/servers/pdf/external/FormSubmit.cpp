#include "servers/pdf/external/FormSubmit.h"
#include "servers/pdf/external/CurlLibrary.h"

#include <cstdlib>
#include <memory>

#include "automation/Automation.h"
#include "servers/pdf/engine/Mu.h"

namespace pm::pdf::submit {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

struct CurlDrop {
  void operator()(CURL* c) const { curlLibrary().easy_cleanup(c); }
};
struct ListDrop {
  void operator()(curl_slist* l) const { curlLibrary().slist_free_all(l); }
};

// The answer is kept up to a bound: a server cannot fill the memory.
constexpr size_t kMaxAnswer = 16 * 1024 * 1024;
size_t collect(char* data, size_t size, size_t n, void* p) {
  std::string* s = static_cast<std::string*>(p);
  if (s->size() + size * n > kMaxAnswer) return 0;
  s->append(data, size * n);
  return size * n;
}

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

std::string send(const Request& r) {
  std::string scheme = lower(r.url.substr(0, r.url.find("://") == std::string::npos ? 0 : r.url.find("://")));
  if (scheme != "http" && scheme != "https")
    fail("A form is submitted to an http:// or https:// address, not \"" + r.url + "\"");
  for (unsigned char ch : r.url)
    if (ch <= 32 || ch == 127) fail("The address \"" + r.url + "\" holds a space or a control character");
  const char* t = std::getenv("PRESSMARK_SUBMIT_TIMEOUT");
  long timeout = t ? std::strtol(t, nullptr, 10) : 60;
  if (timeout <= 0) timeout = 60;

  std::string url = r.url;
  if (r.get && !r.body.empty()) url += (url.find('?') == std::string::npos ? "?" : "&") + r.body;
  std::unique_ptr<CURL, CurlDrop> c(curlLibrary().easy_init());
  if (!c) fail("The web library could not start");
  std::unique_ptr<curl_slist, ListDrop> headers;
  if (!r.get) {
    curl_slist* h = curlLibrary().slist_append(nullptr, ("Content-Type: " + r.contentType).c_str());
    if (!h) fail("Out of memory building the request");
    headers.reset(h);
    // Some servers answer 417 to a body announced with "Expect: 100-continue".
    h = curlLibrary().slist_append(headers.get(), "Expect:");
    if (!h) fail("Out of memory building the request");
    headers.release();
    headers.reset(h);
  }
  std::string answer;
  char err[CURL_ERROR_SIZE] = "";
  curlLibrary().easy_setopt(c.get(), CURLOPT_URL, url.c_str());
  curlLibrary().easy_setopt(c.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curlLibrary().easy_setopt(c.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curlLibrary().easy_setopt(c.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curlLibrary().easy_setopt(c.get(), CURLOPT_MAXREDIRS, 5L);
  curlLibrary().easy_setopt(c.get(), CURLOPT_TIMEOUT, timeout);
  curlLibrary().easy_setopt(c.get(), CURLOPT_NOSIGNAL, 1L);
  curlLibrary().easy_setopt(c.get(), CURLOPT_ERRORBUFFER, err);
  curlLibrary().easy_setopt(c.get(), CURLOPT_USERAGENT, "Pressmark");
  curlLibrary().easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, &collect);
  curlLibrary().easy_setopt(c.get(), CURLOPT_WRITEDATA, &answer);
  if (!r.get) {
    curlLibrary().easy_setopt(c.get(), CURLOPT_POST, 1L);
    curlLibrary().easy_setopt(c.get(), CURLOPT_POSTFIELDS, r.body.data());
    curlLibrary().easy_setopt(c.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
    curlLibrary().easy_setopt(c.get(), CURLOPT_HTTPHEADER, headers.get());
  } else {
    curlLibrary().easy_setopt(c.get(), CURLOPT_HTTPGET, 1L);
  }
  CURLcode rc = curlLibrary().easy_perform(c.get());
  if (rc != CURLE_OK)
    fail("The form could not be submitted to " + r.url + ": " +
         (*err ? std::string(err) : curlLibrary().easy_strerror(rc)));
  long status = 0;
  curlLibrary().easy_getinfo(c.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) fail("The server at " + r.url + " refused the form: HTTP status " + std::to_string(status));
  return answer;
}

}  // namespace pm::pdf::submit
