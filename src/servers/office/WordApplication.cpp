// Word.Application and its Documents over LibreOffice Writer: opening a
// document in the office, read-only, and the application's settings.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <com/sun/star/text/XTextDocument.hpp>

#include "system/CodePage.h"
#include "system/Files.h"
#include "system/Spooler.h"
#include "system/SystemServices.h"
#include "servers/office/WordObjects.h"

namespace pm::office::word {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Plain text files by their extensions, and the code pages whose text the
// office reads as it is (UTF-8, and ASCII, which is UTF-8 already).
constexpr std::string_view kTextExtensions[] = {".txt", ".text", ".log", ".csv", ".prn"};
constexpr std::string_view kUtf8CodePages[] = {"UTF-8", "UTF8", "ANSI_X3.4-1968", "ASCII", "US-ASCII"};
bool among(std::span<const std::string_view> names, std::string_view s) {
  return std::find(names.begin(), names.end(), s) != names.end();
}

}  // namespace

class WordDocuments : public Dispatch {
 public:
  explicit WordDocuments(std::shared_ptr<WordApp> app) : app_(std::move(app)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Documents"; }
  Variant Open(Frame& f) {
    app_->requireRunning();
    std::string path = CStr(f["FileName"]);
    DocRef d = app_->open(path, f["PasswordDocument"], f["WritePasswordDocument"]);
    return Variant(ObjectRef(d));
  }
  Variant Count(Frame&) {
    int32_t n = 0;
    for (auto& w : app_->docs_)
      if (auto d = w.lock(); d && d->open()) ++n;
    return Variant(n);
  }

 private:
  std::shared_ptr<WordApp> app_;
};

Variant WordApp::Documents(Frame&) {
  requireRunning();
  return Variant(ObjectRef(std::make_shared<WordDocuments>(std::static_pointer_cast<WordApp>(shared_from_this()))));
}

std::string lowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  return LCase(ext);
}

DocRef WordApp::open(const std::string& path, const Variant& password, const Variant& writePassword) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    fail(kErrCannotOpen, "This file could not be found: " + path);
  std::string pwd = password.isMissing() || password.isEmpty() ? std::string() : CStr(password);
  std::string wpwd = writePassword.isMissing() || writePassword.isEmpty() ? std::string() : CStr(writePassword);
  Reference<css::lang::XComponent> model;
  uint64_t gen = 0;
  LoadFailure failure;
  std::string textCopy;
  int comments = 0;
  struct RemoveCopy {
    std::string& p;
    ~RemoveCopy() {
      if (!p.empty()) ::unlink(p.c_str());
    }
  } removeCopy{textCopy};
  OfficeBridge::instance().run("opening " + path, [&](Session& s) {
    // Documents are only read: opened read-only, the office takes no lock
    // on them (a lock left by a killed office would keep the next one from
    // opening the same file) and a write password is never needed; the
    // formatting the conversions apply lives in memory only.
    (void)wpwd;
    // Plain text is 8-bit text in the system code page, its lines become
    // paragraphs, whatever the type detection guesses. The office reads it
    // as UTF-8: a file in another code page is read from a UTF-8 copy in
    // the office's private folder (ASCII is UTF-8 already).
    std::string ext = lowerExtension(path);
    std::string load = path;
    LoadFilter filter;
    if (among(kTextExtensions, ext)) {
      filter = {"Text (encoded)", "UTF8,CRLF,,,"};
      std::string cp = UCase(codePageName());
      if (!among(kUtf8CodePages, cp)) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        textCopy = OfficeBridge::instance().workDir() + "/text-" + GetRandomFileName() + ext;
        std::ofstream(textCopy, std::ios::binary) << fromCodePage(bytes);
        load = textCopy;
      }
    }
    model = loadTextHidden(s, load, pwd, failure, filter, comments);
    gen = s.generation;
    if (!model.is()) return;
    if (!Reference<css::text::XTextDocument>(model, UNO_QUERY).is()) {
      closeModel(model);
      model.clear();
      fail(kErrCannotOpen, "Word cannot open this file as a text document: " + path);
    }
  });
  if (!model.is()) {
    // A password request (answered "abort") means the password was wrong
    // or missing.
    if (failure.passwordAsked)
      fail(kErrBadPassword, "The password is incorrect. Word cannot open the document. (" + path + ")");
    fail(kErrCannotOpen, "Word cannot open the document " + path + (failure.why.empty() ? "" : ": " + failure.why));
  }
  auto doc =
      std::make_shared<WordDocument>(model, gen, path, std::static_pointer_cast<WordApp>(shared_from_this()), comments);
  docs_.push_back(doc);
  return doc;
}

// ---- Member tables ----
const MemberTable* WordApp::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Application");
    Members<WordApp> m(table);
    m.get("Documents", {}, &WordApp::Documents)
        .get("DisplayAlerts", {}, &WordApp::GetDisplayAlerts)
        .let("DisplayAlerts", {P("value").byVal()}, &WordApp::LetDisplayAlerts)
        .get("ActivePrinter", {}, &WordApp::GetActivePrinter)
        .let("ActivePrinter", {P("value").byVal()}, &WordApp::LetActivePrinter)
        .method("Quit", {P("SaveChanges").opt(), P("OriginalFormat").opt(), P("RouteDocument").opt()}, &WordApp::Quit)
        .get("Version", {}, &WordApp::Version)
        .get("Name", {}, &WordApp::Name);
    return table;
  }();
  return &t;
}

const MemberTable* WordDocuments::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Documents");
    Members<WordDocuments> m(table);
    m.method("Open",
             {P("FileName").path(), P("PasswordDocument").opt(), P("WritePasswordDocument").opt(),
              P("ConfirmConversions").opt(), P("ReadOnly").opt(), P("AddToRecentFiles").opt(),
              P("PasswordTemplate").opt(), P("Revert").opt(), P("WritePasswordTemplate").opt(), P("Format").opt(),
              P("Encoding").opt(), P("Visible").opt()},
             &WordDocuments::Open)
        .get("Count", {}, &WordDocuments::Count);
    return table;
  }();
  return &t;
}

namespace {

const RegisterClass regWord(
    kWordProgId, "", [] { return std::make_shared<WordApp>(); }, "Word documents through LibreOffice Writer");

}  // namespace

}  // namespace pm::office::word
