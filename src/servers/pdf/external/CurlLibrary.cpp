#include "servers/pdf/external/CurlLibrary.h"

#include "system/SystemLibrary.h"

namespace pm::pdf {

namespace {

CurlLibrary load() {
  SystemLibrary lib("libcurl.so.4", "The network library");
  CurlLibrary c{};
  lib.bind(c.global_init, "curl_global_init");
  lib.bind(c.easy_init, "curl_easy_init");
  lib.bind(c.easy_setopt, "curl_easy_setopt");
  lib.bind(c.easy_perform, "curl_easy_perform");
  lib.bind(c.easy_getinfo, "curl_easy_getinfo");
  lib.bind(c.easy_strerror, "curl_easy_strerror");
  lib.bind(c.easy_cleanup, "curl_easy_cleanup");
  lib.bind(c.slist_append, "curl_slist_append");
  lib.bind(c.slist_free_all, "curl_slist_free_all");
  // Once per process, before any handle, as libcurl asks.
  if (c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) lib.unavailable("it could not be initialised");
  return c;
}

}  // namespace

const CurlLibrary& curlLibrary() {
  // A failed load is tried again at the next use (the static is not set).
  static const CurlLibrary library = load();
  return library;
}

}  // namespace pm::pdf
