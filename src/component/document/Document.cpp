// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "component/document/Document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>

#include "automation/ClassTables.h"
#include "automation/surfaces/Acrobat.h"
#include "component/frame/DocumentFactory.h"
#include "component/frame/ModuleState.h"

namespace pm {

namespace {

// Why a file did not open as a PDF, as far as the file itself tells.
std::string whyNotOpened(const std::string& path) {
  if (path.empty()) return "no file name was given";
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? "the file does not exist"
                           : std::string("the file cannot be reached: ") + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder, not a file";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string("the file cannot be read: ") + std::strerror(errno);
  char head[1024];
  ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n <= 0) return "the file is empty";
  if (std::string_view(head, static_cast<size_t>(n)).find("%PDF-") == std::string_view::npos)
    return "it is not a PDF file (it has no PDF header)";
  return "the PDF viewer cannot read it: it is damaged beyond repair, has no pages or needs a password";
}

// The viewer counts pages from 0, the caller from 1: page numbers in the
// viewer's page errors are told as the caller gave them.
std::string callerPages(const std::string& d) {
  static const std::regex viewerPageError(
      "does not exist|do not exist|needs pages|only when it exists|Cannot delete pages|Cannot insert after page");
  if (!std::regex_search(d, viewerPageError)) return d;
  static const std::regex number("(\\b[Pp]ages? (from page |after page )?)(-?[0-9]+)( to )?(-?[0-9]+)?");
  std::string out;
  auto plusOne = [](const std::string& n) { return std::to_string(std::stol(n) + 1); };
  auto it = std::sregex_iterator(d.begin(), d.end(), number);
  size_t at = 0;
  for (; it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    out += d.substr(at, static_cast<size_t>(m.position(0)) - at);
    out += m[1].str() + plusOne(m[3].str());
    if (m[4].matched && m[5].matched)
      out += m[4].str() + plusOne(m[5].str());
    else if (m[4].matched)
      out += m[4].str();
    at = static_cast<size_t>(m.position(0) + m.length(0));
  }
  out += d.substr(at);
  out = std::regex_replace(out, std::regex("page numbers start at 0"), "page numbers start at 1");
  return std::regex_replace(out, std::regex("\\(-1: before the first page\\)"), "(0: before the first page)");
}

}  // namespace

Variant Document::invoke(std::string_view name, Invoke kind, std::span<const Arg> args) {
  uint64_t unset = unsetObjectUses();
  auto notOpen = [&] {
    raise(basic::ObjectVariableNotSet, std::string(basicDescription(basic::ObjectVariableNotSet)) + ": the document " +
                                           strDocumentPath + " did not open: " + strOpenFailure);
  };
  // Closing a document that never opened has nothing to do, and says so by
  // succeeding.
  bool failed = !strOpenFailure.empty() && !TextEquals(std::string(name), "CloseDoc");
  try {
    Variant r = Dispatch::invoke(name, kind, args);
    if (failed && unsetObjectUses() != unset) notOpen();
    return r;
  } catch (const AutomationError& e) {
    if (failed && e.number() == basic::ObjectVariableNotSet) notOpen();
    std::string told = callerPages(e.description());
    if (told != e.description()) throw AutomationError(e.number(), e.source(), told);
    throw;
  }
}

Document::Document() {
  // Opening never raises: whatever fails leaves the document in the failed
  // state, both references empty.
  strDocumentPath = moduleState().strOpenDocumentPath;
  ObjectRef pd;
  ignoreErrors([&] { pd = CreateObject(acrobat::kPDDoc); });
  if (!pd) {
    strOpenFailure = "the PDF viewer could not be started";
    return;
  }
  bool opened = false;
  ignoreErrors([&] {
    Variant path(strDocumentPath);
    Variant r = call(pd, "Open", {ByRef(path)});
    opened = !r.isNull() && CBool(r);
  });
  if (!opened) {
    strOpenFailure = whyNotOpened(strDocumentPath);
    return;
  }
  objPDDoc = pd;
  ignoreErrors([&] { objJSO = objectOf(call(objPDDoc, "GetJSObject")); });
  blnDocOpen = true;
}

Document::~Document() {
  if (blnDocOpen) ignoreErrors([&] { call(objJSO, "CloseDoc", {true}); });
  objJSO.reset();
  objPDDoc.reset();
}

const MemberTable& Document::table() {
  static const MemberTable t = [] {
    MemberTable t("Document");
    DocumentMembers::applyAll(
        t, {"frame", "vocabulary", "bookmarks", "fields", "field sets", "annotations", "markup", "pages", "templates",
            "watermarks", "scripts", "form_data", "send", "spelling", "bookmark_building", "textfiles"});
    return t;
  }();
  return t;
}

const MemberTable* Document::memberTable() const {
  return &table();
}

namespace {

// Basic counts in a 16-bit Integer; a longer text overflows.
int16_t checkedLength(const std::string& s) {
  if (s.size() > 32767) raise(basic::Overflow);
  return static_cast<int16_t>(s.size());
}

}  // namespace

int16_t Document::CountLeadingSpaces(const std::string& s) {
  int16_t n = checkedLength(s);
  for (int16_t i = 0; i < n; ++i)
    if (s[static_cast<size_t>(i)] != ' ') return i;
  return n;
}

int16_t Document::CountSpaces(const std::string& s) {
  int16_t n = checkedLength(s), count = 0;
  for (int16_t i = 0; i < n; ++i)
    if (s[static_cast<size_t>(i)] == ' ') ++count;
  return count;
}

int16_t Document::CountPeriods(const std::string& s) {
  int16_t n = checkedLength(s), count = 0;
  for (int16_t i = 0; i < n; ++i)
    if (s[static_cast<size_t>(i)] == '.') ++count;
  return count;
}

bool Document::StartsWithDigit(const std::string& s) {
  return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

ObjectRef createDocument() {
  return std::make_shared<Document>();
}

namespace {
// CreatePDF.OpenDocument finds the factory here.
const bool installed = (setDocumentFactory(&createDocument), true);
const RegisterClassTable listed(&Document::table);
}  // namespace

}  // namespace pm
