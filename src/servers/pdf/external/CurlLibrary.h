// libcurl, loaded the first time a mail is sent, a form submitted or a web
// page fetched: the PDF server's other work does not map it, nor the TLS,
// Kerberos, LDAP and SSH libraries it brings.
#pragma once

#include <curl/curl.h>

namespace pm::pdf {

struct CurlLibrary {
  decltype(&::curl_global_init) global_init;
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_setopt) easy_setopt;
  decltype(&::curl_easy_perform) easy_perform;
  decltype(&::curl_easy_getinfo) easy_getinfo;
  decltype(&::curl_easy_strerror) easy_strerror;
  decltype(&::curl_easy_cleanup) easy_cleanup;
  decltype(&::curl_slist_append) slist_append;
  decltype(&::curl_slist_free_all) slist_free_all;
};

// Loads the system's libcurl once, by its soname, and initialises it.
// Raises error 429 naming the library and the loader's reason when it is
// missing or lacks a function.
const CurlLibrary& curlLibrary();

}  // namespace pm::pdf
