#include "servers/pdf/external/Spelling.h"

#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <hunspell/hunspell.hxx>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "servers/pdf/engine/Mu.h"

namespace pm::pdf {

namespace {

[[noreturn]] void fail(const std::string& d) {
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, d);
}

bool isFile(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The language part of a locale name: "de_DE.UTF-8@euro" gives "de_DE".
std::string localeDictionary() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (!v || !*v) continue;
    std::string s = v;
    s = s.substr(0, s.find_first_of(".@"));
    if (s == "C" || s == "POSIX" || s.empty()) return "en_US";
    return s;
  }
  return "en_US";
}

// The folders Debian's dictionary packages install into, after DICPATH.
std::vector<std::string> dictionaryFolders() {
  std::vector<std::string> out;
  if (const char* p = std::getenv("DICPATH")) {
    std::string s = p;
    size_t start = 0;
    while (start <= s.size()) {
      size_t colon = s.find(':', start);
      std::string dir = s.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (!dir.empty()) out.push_back(dir);
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  for (const char* d : {"/usr/share/hunspell", "/usr/share/myspell/dicts", "/usr/share/myspell"}) out.push_back(d);
  return out;
}

// Text between UTF-8 and the dictionary's encoding; bytes that cannot be
// converted make the conversion fail (an empty result and false).
bool convert(const std::string& from, const std::string& to, const std::string& in, std::string& out) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::unique_ptr<void, int (*)(iconv_t)> hold(cd, &iconv_close);
  out.assign(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
  out.resize(out.size() - dstLeft);
  return true;
}

struct Dictionary {
  std::string name;
  std::unique_ptr<Hunspell> hs;
  std::string encoding;  // empty: UTF-8
  std::mutex lock;       // Hunspell keeps state between calls
};

Dictionary& load(const std::string& wanted) {
  static std::mutex cacheLock;
  static std::map<std::string, std::unique_ptr<Dictionary>>* cache =
      new std::map<std::string, std::unique_ptr<Dictionary>>;  // kept for the process's life
  std::lock_guard<std::mutex> g(cacheLock);
  auto it = cache->find(wanted);
  if (it != cache->end()) return *it->second;
  std::string base;
  if (wanted.find('/') != std::string::npos) {
    base =
        wanted.size() > 4 && wanted.substr(wanted.size() - 4) == ".dic" ? wanted.substr(0, wanted.size() - 4) : wanted;
    if (!isFile(base + ".dic") || !isFile(base + ".aff"))
      fail("The spelling dictionary " + base + ".dic (with its .aff file) does not exist");
  } else {
    for (const std::string& dir : dictionaryFolders())
      if (isFile(dir + "/" + wanted + ".dic") && isFile(dir + "/" + wanted + ".aff")) {
        base = dir + "/" + wanted;
        break;
      }
    if (base.empty())
      fail("No spelling dictionary for " + wanted + " is installed (install hunspell-" + wanted.substr(0, 2) +
           " or a similar package, or name one in PRESSMARK_SPELL_DICTIONARY)");
  }
  auto d = std::make_unique<Dictionary>();
  d->name = wanted;
  d->hs = std::make_unique<Hunspell>((base + ".aff").c_str(), (base + ".dic").c_str());
  std::string enc = d->hs->get_dict_encoding();
  for (char& ch : enc) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (enc != "UTF-8" && enc != "UTF8") d->encoding = d->hs->get_dict_encoding();
  Dictionary& out = *d;
  cache->emplace(wanted, std::move(d));
  return out;
}

class SpellChecker : public Dispatch {
 public:
  explicit SpellChecker(Dictionary& d) : dict_(d) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("spell");
      Members<SpellChecker> m(t);
      m.method("checkWord", {P("cWord"), P("aMainDictionary").opt()}, &SpellChecker::checkWord);
      m.get("available", {}, &SpellChecker::available);
      m.get("dictionaryNames", {}, &SpellChecker::dictionaryNames);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "spell"; }

 private:
  // Null for a word the dictionary knows; otherwise its suggestions, best
  // first (possibly none).
  Variant checkWord(Frame& f) {
    checkChosen(f["aMainDictionary"]);
    std::string word = CStr(f["cWord"]);
    if (word.empty()) return Variant::null();
    std::string w = word;
    if (!dict_.encoding.empty() && !convert("UTF-8", dict_.encoding, word, w)) {
      // The dictionary's alphabet cannot write the word: it is not one of
      // its words, and nothing can be suggested.
      return Variant(Array::vector({}));
    }
    std::vector<std::string> s;
    {
      std::lock_guard<std::mutex> g(dict_.lock);
      if (dict_.hs->spell(w)) return Variant::null();
      s = dict_.hs->suggest(w);
    }
    std::vector<Variant> out;
    for (std::string& x : s) {
      std::string u = x;
      if (!dict_.encoding.empty() && !convert(dict_.encoding, "UTF-8", x, u)) continue;
      out.emplace_back(u);
    }
    return Variant(Array::vector(std::move(out)));
  }
  Variant available(Frame&) { return Variant(true); }
  Variant dictionaryNames(Frame&) { return V({dict_.name}); }
  // Dictionaries a caller names must be the one loaded.
  void checkChosen(const Variant& dicts) {
    if (dicts.isMissing() || dicts.isEmpty() || dicts.isNull()) return;
    for (const Variant& v : dicts.isArray() ? dicts.array().data() : std::vector<Variant>{dicts})
      if (CStr(v) != dict_.name)
        fail("Only the dictionary " + dict_.name + " is loaded; choose another with PRESSMARK_SPELL_DICTIONARY");
  }

  Dictionary& dict_;
};

}  // namespace

std::string spellDictionaryName() {
  const char* s = std::getenv("PRESSMARK_SPELL_DICTIONARY");
  if (s && *s) return s;
  return localeDictionary();
}

ObjectRef makeSpellChecker() {
  return std::make_shared<SpellChecker>(load(spellDictionaryName()));
}

}  // namespace pm::pdf
