#include "system/CodePage.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>

#include "automation/Error.h"

namespace pm {

namespace {

std::string detectCodePage() {
  const char* env = std::getenv("PRESSMARK_CODEPAGE");
  if (env && *env) return env;
  // A private locale object: setlocale() would change the host's locale for
  // every thread.
  locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) loc = ::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  std::string name = "ANSI_X3.4-1968";
  if (loc != static_cast<locale_t>(0)) {
    const char* cs = ::nl_langinfo_l(CODESET, loc);
    if (cs && *cs) name = cs;
    ::freelocale(loc);
  }
  // No locale set (the C or POSIX locale, as daemons, cron jobs, containers
  // and CI run) names 7-bit ASCII, which would turn every other character
  // into a replacement while the methods report success; UTF-8 is what
  // such text almost always is.
  if (name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") name = "UTF-8";
  return name;
}

struct Converter {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd);
  }
};

// One converter per direction and code page per thread (iconv_t keeps
// shift state and may not be shared between threads).
iconv_t converter(const std::string& to, const std::string& from) {
  thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> cache;
  auto& slot = cache[{to, from}];
  if (!slot) {
    auto c = std::make_unique<Converter>();
    c->cd = ::iconv_open(to.c_str(), from.c_str());
    if (c->cd == reinterpret_cast<iconv_t>(-1)) {
      cache.erase({to, from});
      const std::string& unknown = to == "UTF-8" ? from : to;
      raise(basic::InvalidProcedureCall,
            "The code page \"" + unknown + "\" is not known to the character conversion library.");
    }
    slot = std::move(c);
  }
  ::iconv(slot->cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  return slot->cd;
}

// Length of the UTF-8 sequence starting with byte c (1 for a stray byte).
size_t utf8Length(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

// Runs the conversion, calling onBad(position, input) for each place the
// converter refuses; onBad returns how many input bytes to skip and
// appends its replacement to out.
template <class OnBad>
std::string convert(iconv_t cd, std::string_view input, OnBad onBad) {
  std::string out;
  out.reserve(input.size() + input.size() / 2 + 16);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char buf[4096];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t rc = ::iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno == EILSEQ || errno == EINVAL) {
      size_t skip = onBad(std::string_view(in, inLeft), out);
      if (skip > inLeft) skip = inLeft;
      in += skip;
      inLeft -= skip;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    raise(basic::InternalError, "Character conversion failed.");
  }
  // Flush any shift state back to the initial one.
  char* o = buf;
  size_t oLeft = sizeof buf;
  ::iconv(cd, nullptr, nullptr, &o, &oLeft);
  out.append(buf, static_cast<size_t>(o - buf));
  return out;
}

// "?" as the code page writes it (0x3F in every ASCII-based one).
std::string questionMark(const std::string& codePage) {
  thread_local std::map<std::string, std::string> cache;
  auto it = cache.find(codePage);
  if (it != cache.end()) return it->second;
  std::string q = "?";
  iconv_t cd = ::iconv_open(codePage.c_str(), "UTF-8");
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    char src[] = "?";
    char* in = src;
    size_t inLeft = 1;
    char buf[16];
    char* o = buf;
    size_t oLeft = sizeof buf;
    if (::iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1) &&
        ::iconv(cd, nullptr, nullptr, &o, &oLeft) != static_cast<size_t>(-1))
      q.assign(buf, static_cast<size_t>(o - buf));
    ::iconv_close(cd);
  }
  cache[codePage] = q;
  return q;
}

}  // namespace

const std::string& codePageName() {
  static const std::string name = detectCodePage();
  return name;
}

std::string detectCodePageForTesting() {
  return detectCodePage();
}

std::string toCodePage(std::string_view utf8) {
  return toCodePage(utf8, codePageName());
}
std::string fromCodePage(std::string_view bytes) {
  return fromCodePage(bytes, codePageName());
}

std::string toCodePage(std::string_view utf8, const std::string& codePage) {
  iconv_t cd = converter(codePage, "UTF-8");
  return convert(cd, utf8, [&](std::string_view rest, std::string& out) -> size_t {
    // One "?" for one character: skip the whole UTF-8 sequence when it is
    // well formed, else just the stray byte.
    size_t n = utf8Length(static_cast<unsigned char>(rest[0]));
    if (n > rest.size()) n = 1;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(rest[k]) & 0xC0) != 0x80) n = 1;
    out += questionMark(codePage);
    return n;
  });
}

std::string fromCodePage(std::string_view bytes, const std::string& codePage) {
  iconv_t cd = converter("UTF-8", codePage);
  return convert(cd, bytes, [](std::string_view, std::string& out) -> size_t {
    out += "\xEF\xBF\xBD";
    return 1;
  });
}

}  // namespace pm
