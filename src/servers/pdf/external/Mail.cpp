#include "servers/pdf/external/Mail.h"
#include "servers/pdf/external/CurlLibrary.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>

#include "automation/Automation.h"
#include "servers/pdf/engine/Mu.h"
#include "system/RegistryStore.h"
#include "system/clsRegistry.h"

namespace pm::pdf::mail {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

// A text value of the mail settings key of the registry stand-in; "" when
// there is none.
std::string registryValue(const std::string& name) {
  constexpr uint32_t kRead = 0x20019;
  int32_t key = 0;
  if (registry::regOpenKeyEx(HKEY_CURRENT_USER, "Software\\Pressmark\\Mail", 0, kRead, key) != registry::kSuccess)
    return "";
  struct Close {
    int32_t k;
    ~Close() { registry::regCloseKey(k); }
  } close{key};
  uint32_t type = 0, size = 0;
  if (registry::regQueryValueEx(key, name, &type, nullptr, &size) != registry::kSuccess) return "";
  if (type == regtype::DWord && size == 4) {
    uint32_t v = 0;
    if (registry::regQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(&v), &size) != registry::kSuccess)
      return "";
    return std::to_string(v);
  }
  if (type != regtype::String && type != regtype::ExpandString) return "";
  std::string buffer(size, '\0');
  if (registry::regQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(buffer.data()), &size) !=
      registry::kSuccess)
    return "";
  buffer.resize(std::min<size_t>(size, buffer.size()));
  while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
  return buffer;
}

// A mail setting: the environment variable PRESSMARK_SMTP_<NAME>, else the
// value <Name> of HKEY_CURRENT_USER\Software\Pressmark\Mail.
std::string env(const char* name, const std::string& def = {}) {
  const char* v = std::getenv(name);
  if (v && *v) return v;
  static const std::pair<const char*, const char*> kValues[] = {
      {"PRESSMARK_SMTP_SERVER", "Server"},         {"PRESSMARK_SMTP_PORT", "Port"},
      {"PRESSMARK_SMTP_SENDER", "Sender"},         {"PRESSMARK_SMTP_USER", "User"},
      {"PRESSMARK_SMTP_PASSWORD", "Password"},     {"PRESSMARK_SMTP_TIMEOUT", "Timeout"},
      {"PRESSMARK_SMTP_ALLOW_PLAIN", "AllowPlain"}};
  for (auto& [var, value] : kValues)
    if (std::strcmp(var, name) == 0) {
      std::string r;
      try {
        r = registryValue(value);
      } catch (...) {
        // A registry file that cannot be read counts as no setting.
      }
      return r.empty() ? def : r;
    }
  return def;
}

std::string base64(const std::string& in, size_t lineLength) {
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t col = 0;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t n = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) n |= static_cast<uint8_t>(in[i + 1]) << 8;
    if (i + 2 < in.size()) n |= static_cast<uint8_t>(in[i + 2]);
    out += t[(n >> 18) & 63];
    out += t[(n >> 12) & 63];
    out += i + 1 < in.size() ? t[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? t[n & 63] : '=';
    col += 4;
    if (lineLength && col >= lineLength) {
      out += "\r\n";
      col = 0;
    }
  }
  if (lineLength && col) out += "\r\n";
  return out;
}

bool ascii(const std::string& s) {
  for (unsigned char ch : s)
    if (ch >= 0x80 || ch == '\r' || ch == '\n') return false;
  return true;
}

// A header text: kept when it is plain ASCII, otherwise an encoded word.
// Line ends are never kept, so a caller's text cannot add headers.
std::string headerText(const std::string& s) {
  if (ascii(s)) return s;
  std::string clean;
  for (char ch : s) clean += ch == '\r' || ch == '\n' ? ' ' : ch;
  if (ascii(clean)) return clean;
  // Encoded words are at most 75 characters: the text goes in pieces of
  // whole characters, one word each, on folded lines.
  std::string out;
  size_t i = 0;
  while (i < clean.size()) {
    size_t end = std::min(clean.size(), i + 39);
    while (end < clean.size() && (static_cast<unsigned char>(clean[end]) & 0xC0) == 0x80) --end;
    out += (out.empty() ? "" : "\r\n ") + ("=?UTF-8?B?" + base64(clean.substr(i, end - i), 0) + "?=");
    i = end;
  }
  return out;
}

// A parameter value as a quoted string: quotes and backslashes escaped,
// control characters (line ends above all) and anything past ASCII
// replaced, so the value stays one header's parameter.
std::string quotedParameter(const std::string& v) {
  std::string o = "\"";
  for (unsigned char ch : v) {
    if (ch == '"' || ch == '\\') o += '\\';
    o += ch < 32 || ch >= 127 ? '_' : static_cast<char>(ch);
  }
  return o + "\"";
}

// The file name parameters of an attachment: a plain ASCII fallback and,
// for any other name, its exact UTF-8 form (RFC 2231) in percent encoding,
// folded into numbered pieces that keep the lines short.
std::string fileNameParameter(const std::string& name) {
  bool plain = true;
  for (unsigned char ch : name)
    if (ch < 32 || ch >= 127 || ch == '"' || ch == '\\') plain = false;
  if (plain && name.size() <= 60) return "filename=" + quotedParameter(name);
  static const char* hex = "0123456789ABCDEF";
  std::vector<std::string> pieces(1);
  for (unsigned char ch : name) {
    std::string e;
    if (std::isalnum(ch) || std::strchr("!#$&+-.^_`|~", ch)) {
      e = static_cast<char>(ch);
    } else {
      e = {'%', hex[ch >> 4], hex[ch & 15]};
    }
    // A character's bytes stay in one piece.
    if (pieces.back().size() + e.size() > 48 && (ch & 0xC0) != 0x80) pieces.emplace_back();
    pieces.back() += e;
  }
  std::string o = "filename=" + quotedParameter(name);
  for (size_t i = 0; i < pieces.size(); ++i)
    o += ";\r\n filename*" + std::to_string(i) + "*=" + (i ? "" : "UTF-8''") + pieces[i];
  return o;
}

// An address as the envelope takes it: "Name <a@b>" gives "a@b".
std::string bare(const std::string& a) {
  auto lt = a.find('<');
  auto gt = a.rfind('>');
  if (lt != std::string::npos && gt != std::string::npos && gt > lt) return a.substr(lt + 1, gt - lt - 1);
  return a;
}

void checkAddress(const std::string& a) {
  for (unsigned char ch : a)
    if (ch < 32 || ch == 127) fail("The mail address \"" + a + "\" holds a control character");
  if (bare(a).find('@') == std::string::npos) fail("\"" + a + "\" is not a mail address");
}

// An address for a header: a display name that is not plain ASCII is
// encoded; the address itself stays as it is.
std::string addressHeader(const std::string& a) {
  auto lt = a.find('<');
  if (ascii(a) || lt == std::string::npos) return a;
  std::string name = a.substr(0, lt);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
  return headerText(name) + " " + a.substr(lt);
}

// An address list for a header, folded so that no line grows past the
// limit of the mail format.
std::string join(const std::vector<std::string>& v) {
  std::string s;
  size_t line = 4;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i && line + v[i].size() > 76) {
      s += ",\r\n ";
      line = 1;
    } else if (i) {
      s += ", ";
      line += 2;
    }
    s += addressHeader(v[i]);
    line += v[i].size();
  }
  return s;
}

struct Reader {
  const std::string* text;
  size_t pos = 0;
};
size_t readChunk(char* buf, size_t size, size_t n, void* p) {
  Reader* r = static_cast<Reader*>(p);
  size_t len = std::min(size * n, r->text->size() - r->pos);
  std::memcpy(buf, r->text->data() + r->pos, len);
  r->pos += len;
  return len;
}

struct CurlDrop {
  void operator()(CURL* c) const { curlLibrary().easy_cleanup(c); }
};
struct ListDrop {
  void operator()(curl_slist* l) const { curlLibrary().slist_free_all(l); }
};

}  // namespace

std::vector<std::string> addresses(const std::string& list) {
  std::vector<std::string> out;
  std::string cur;
  for (char ch : list + ";") {
    if (ch == ';' || ch == ',') {
      size_t a = cur.find_first_not_of(" \t"), b = cur.find_last_not_of(" \t");
      if (a != std::string::npos) out.push_back(cur.substr(a, b - a + 1));
      cur.clear();
    } else {
      cur += ch;
    }
  }
  return out;
}

std::string compose(const Message& m, const std::string& from, const std::string& date, const std::string& id) {
  std::string boundary = "=_pressmark_" + id;
  std::string s;
  s += "From: " + addressHeader(from) + "\r\n";
  if (!addresses(m.to).empty()) s += "To: " + join(addresses(m.to)) + "\r\n";
  if (!addresses(m.cc).empty()) s += "Cc: " + join(addresses(m.cc)) + "\r\n";
  s += "Subject: " + headerText(m.subject) + "\r\n";
  s += "Date: " + date + "\r\n";
  s += "Message-ID: <" + id + "@pressmark>\r\n";
  s += "MIME-Version: 1.0\r\n";
  s += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  s += "--" + boundary + "\r\n";
  s += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  s += base64(m.body, 76);
  s += "--" + boundary + "\r\n";
  s += "Content-Type: " + m.attachmentType + "; name=" + quotedParameter(m.attachmentName) + "\r\n";
  s += "Content-Transfer-Encoding: base64\r\n";
  s += "Content-Disposition: attachment; " + fileNameParameter(m.attachmentName) + "\r\n\r\n";
  s += base64(m.attachment, 76);
  s += "--" + boundary + "--\r\n";
  return s;
}

void send(const Message& m) {
  std::string server = env("PRESSMARK_SMTP_SERVER");
  if (server.empty())
    fail(
        "No mail server is set: name one in PRESSMARK_SMTP_SERVER (with PRESSMARK_SMTP_PORT and "
        "PRESSMARK_SMTP_SENDER) or in the value Server of HKEY_CURRENT_USER\\Software\\Pressmark\\Mail");
  std::vector<std::string> rcpt;
  for (const std::string* list : {&m.to, &m.cc, &m.bcc})
    for (const std::string& a : addresses(*list)) {
      checkAddress(a);
      rcpt.push_back(a);
    }
  if (rcpt.empty()) fail("Sending mail needs at least one recipient (To, Cc or Bcc)");
  std::string user = env("PRESSMARK_SMTP_USER");
  std::string from = env("PRESSMARK_SMTP_SENDER");
  if (from.empty()) {
    if (user.find('@') != std::string::npos) {
      from = user;
    } else {
      char host[256] = "localhost";
      gethostname(host, sizeof host - 1);
      from = env("USER", "pressmark") + "@" + host;
    }
  }
  checkAddress(from);

  std::string url = server;
  if (url.find("://") == std::string::npos) url = "smtp://" + url;
  if (url.rfind("smtp://", 0) != 0 && url.rfind("smtps://", 0) != 0)
    fail("The mail server \"" + server + "\" is no smtp:// or smtps:// address");
  size_t hostStart = url.find("://") + 3;
  size_t slash = url.find('/', hostStart);
  std::string authority = url.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
  // "user:password@" in the address are credentials too.
  size_t sign = authority.rfind('@');
  bool urlCredentials = sign != std::string::npos;
  std::string port = env("PRESSMARK_SMTP_PORT");
  if (!port.empty()) {
    // A port given apart replaces the one of the address, if any.
    std::string userInfo = urlCredentials ? authority.substr(0, sign + 1) : std::string();
    std::string host = urlCredentials ? authority.substr(sign + 1) : authority;
    if (host.find(']') != std::string::npos ? host.rfind(':') > host.find(']') : host.find(':') != std::string::npos)
      host = host.substr(0, host.rfind(':'));
    url = url.substr(0, hostStart) + userInfo + host + ":" + port;
  }
  long timeout = std::strtol(env("PRESSMARK_SMTP_TIMEOUT", "60").c_str(), nullptr, 10);
  if (timeout <= 0) timeout = 60;

  char date[64];
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  std::random_device rd;
  std::string id = std::to_string(now) + "." + std::to_string(rd()) + "." + std::to_string(getpid());
  std::string text = compose(m, from, date, id);

  std::unique_ptr<CURL, CurlDrop> c(curlLibrary().easy_init());
  if (!c) fail("The mail library could not start");
  std::unique_ptr<curl_slist, ListDrop> list;
  for (const std::string& a : rcpt) {
    curl_slist* l = curlLibrary().slist_append(list.get(), ("<" + bare(a) + ">").c_str());
    if (!l) fail("Out of memory building the recipients");
    list.release();
    list.reset(l);
  }
  Reader reader{&text};
  char err[CURL_ERROR_SIZE] = "";
  std::string mailFrom = "<" + bare(from) + ">";
  curlLibrary().easy_setopt(c.get(), CURLOPT_URL, url.c_str());
  curlLibrary().easy_setopt(c.get(), CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curlLibrary().easy_setopt(c.get(), CURLOPT_MAIL_FROM, mailFrom.c_str());
  curlLibrary().easy_setopt(c.get(), CURLOPT_MAIL_RCPT, list.get());
  curlLibrary().easy_setopt(c.get(), CURLOPT_READFUNCTION, &readChunk);
  curlLibrary().easy_setopt(c.get(), CURLOPT_READDATA, &reader);
  curlLibrary().easy_setopt(c.get(), CURLOPT_UPLOAD, 1L);
  curlLibrary().easy_setopt(c.get(), CURLOPT_TIMEOUT, timeout);
  curlLibrary().easy_setopt(c.get(), CURLOPT_NOSIGNAL, 1L);
  curlLibrary().easy_setopt(c.get(), CURLOPT_ERRORBUFFER, err);
  // TLS whenever the server offers it; with credentials, TLS or nothing,
  // unless plain text is allowed in so many words.
  std::string allow = env("PRESSMARK_SMTP_ALLOW_PLAIN");
  bool plainAllowed = allow == "1" || allow == "00000001";
  bool requireTls = (!user.empty() || urlCredentials) && !plainAllowed;
  curlLibrary().easy_setopt(c.get(), CURLOPT_USE_SSL, static_cast<long>(requireTls ? CURLUSESSL_ALL : CURLUSESSL_TRY));
  std::string password = env("PRESSMARK_SMTP_PASSWORD");
  if (!user.empty()) {
    curlLibrary().easy_setopt(c.get(), CURLOPT_USERNAME, user.c_str());
    curlLibrary().easy_setopt(c.get(), CURLOPT_PASSWORD, password.c_str());
  }
  CURLcode rc = curlLibrary().easy_perform(c.get());
  if (rc == CURLE_USE_SSL_FAILED && requireTls)
    fail("The mail server " + url +
         " offers no TLS, and the mail credentials are not sent in clear text (set PRESSMARK_SMTP_ALLOW_PLAIN=1 "
         "or the value AllowPlain of HKEY_CURRENT_USER\\Software\\Pressmark\\Mail to 1 to allow it)");
  if (rc != CURLE_OK)
    fail("The mail could not be sent through " + url + ": " +
         (*err ? std::string(err) : curlLibrary().easy_strerror(rc)));
}

}  // namespace pm::pdf::mail
