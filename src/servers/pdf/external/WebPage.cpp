#include "servers/pdf/external/WebPage.h"
#include "servers/pdf/external/CurlLibrary.h"

#include <memory>

#include "automation/Error.h"
#include "servers/pdf/engine/Mu.h"
#include "servers/pdf/engine/PageWriter.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fetchFailed(const std::string& url, const std::string& why) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, "Cannot fetch " + url + ": " + why);
}

struct CurlDeleter {
  void operator()(CURL* c) const { curlLibrary().easy_cleanup(c); }
};

struct Sink {
  std::string* body;
  bool tooBig = false;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
  auto* s = static_cast<Sink*>(user);
  size_t n = size * count;
  if (s->body->size() + n > kFetchMaxBytes) {
    s->tooBig = true;
    return 0;  // stops the transfer
  }
  s->body->append(data, n);
  return n;
}

bool startsWith(const std::string& s, const char* p) {
  std::string lower;
  for (char ch : s.substr(0, std::string(p).size()))
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return lower == p;
}

}  // namespace

Fetched fetchUrl(const std::string& url) {
  if (!startsWith(url, "http://") && !startsWith(url, "https://") && !startsWith(url, "file://"))
    fetchFailed(url, "only http, https and file addresses can be fetched");
  std::unique_ptr<CURL, CurlDeleter> h(curlLibrary().easy_init());
  if (!h) fetchFailed(url, "the transfer library could not start");
  Fetched out;
  Sink sink{&out.body};
  char error[CURL_ERROR_SIZE] = {};
  CURL* c = h.get();
  curlLibrary().easy_setopt(c, CURLOPT_URL, url.c_str());
  curlLibrary().easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https,file");
  curlLibrary().easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curlLibrary().easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curlLibrary().easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curlLibrary().easy_setopt(c, CURLOPT_TIMEOUT, kFetchTimeoutSeconds);
  curlLibrary().easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
  curlLibrary().easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curlLibrary().easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curlLibrary().easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kFetchMaxBytes));
  curlLibrary().easy_setopt(c, CURLOPT_USERAGENT, "Pressmark");
  curlLibrary().easy_setopt(c, CURLOPT_WRITEFUNCTION, &collect);
  curlLibrary().easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curlLibrary().easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  CURLcode rc = curlLibrary().easy_perform(c);
  if (sink.tooBig || rc == CURLE_FILESIZE_EXCEEDED)
    fetchFailed(url, "the page is larger than " + std::to_string(kFetchMaxBytes >> 20) + " MB");
  if (rc == CURLE_OPERATION_TIMEDOUT)
    fetchFailed(url, "no complete answer within " + std::to_string(kFetchTimeoutSeconds) + " seconds");
  if (rc != CURLE_OK) fetchFailed(url, error[0] ? std::string(error) : std::string(curlLibrary().easy_strerror(rc)));
  char* type = nullptr;
  if (curlLibrary().easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) out.contentType = type;
  return out;
}

int layOutAsPdf(const Fetched& page, const std::string& path) {
  // Plain text is shown as it is; everything else goes to the HTML engine.
  std::string magic = startsWith(page.contentType, "text/plain") ? "text/plain" : "text/html";
  const std::string& body = page.body;
  const char* out = path.c_str();
  int pages = 0;
  mu::guard("Laying out the fetched page", [&](fz_context* c) {
    fz_buffer* buf = nullptr;
    fz_stream* stm = nullptr;
    fz_document* doc = nullptr;
    fz_document_writer* w = nullptr;
    fz_var(buf);
    fz_var(stm);
    fz_var(doc);
    fz_var(w);
    fz_try(c) {
      buf = fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(body.data()), body.size());
      stm = fz_open_buffer(c, buf);
      doc = fz_open_document_with_stream(c, magic.c_str(), stm);
      fz_layout_document(c, doc, 612, 792, 12);
      int n = fz_count_pages(c, doc);
      w = fz_new_pdf_writer(c, out, "");
      writePages(c, doc, w, 0, n - 1);
      fz_close_document_writer(c, w);
      pages = n;
    }
    fz_always(c) {
      fz_drop_document_writer(c, w);
      fz_drop_document(c, doc);
      fz_drop_stream(c, stm);
      fz_drop_buffer(c, buf);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
  return pages;
}

}  // namespace pm::pdf
