// "Word.Application" over LibreOffice Writer: the objects of the server and
// the state they share. Each object's members live in the file named after
// it (WordApplication.cpp, WordDocument.cpp, WordPageSetup.cpp,
// WordSections.cpp, WordFont.cpp).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/lang/XComponent.hpp>

#include "automation/Automation.h"
#include "automation/surfaces/Office.h"
#include "servers/office/OfficeBridge.h"
#include "servers/office/OpenModel.h"
#include "servers/office/UnoUtil.h"

namespace pm::office::word {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

using XPropSet = css::beans::XPropertySet;

inline constexpr const char* kSource = "Pressmark Word server";

// Word's own error numbers for the faults a client can provoke.
inline constexpr int32_t kErrBadPassword = 5408;
inline constexpr int32_t kErrNoSuchMember = 5941;
inline constexpr int32_t kErrOutOfRange = 4608;
inline constexpr int32_t kErrPrinter = 5216;
inline constexpr int32_t kErrCannotOpen = 5174;
inline constexpr int32_t kErrCommandFailed = 4198;

[[noreturn]] inline void fail(int32_t number, const std::string& description) {
  raise(number, description, kSource);
}

inline int32_t pointsTo100thMm(double points) {
  return static_cast<int32_t>(points * 2540.0 / 72.0 + (points >= 0 ? 0.5 : -0.5));
}
inline double hundredthMmToPoints(int32_t v) {
  return static_cast<double>(v) * 72.0 / 2540.0;
}

inline bool truthy(const Variant& v) {
  return CLng(v) != 0;
}

// The file format follows the extension, compared in lower case.
std::string lowerExtension(const std::string& path);

class WordApp;

// One open document: the office's model, of the office process that opened
// it. Closed when the client closes it, when its application quits, or when
// the last reference goes.
class WordDocument : public Dispatch {
 public:
  // commentsSetAside: the reviewer comments the office removed while it
  // opened the document (see loadTextHidden).
  WordDocument(Reference<css::lang::XComponent> model, uint64_t generation, std::string path,
               std::weak_ptr<WordApp> app, int commentsSetAside = 0)
      : model_(std::move(model)),
        generation_(generation),
        path_(std::move(path)),
        app_(std::move(app)),
        commentsSetAside_(commentsSetAside) {}
  ~WordDocument() override { closeQuietly(); }

  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Document"; }

  // Runs body on this document's model in its office process.
  void with(const std::string& what,
            const std::function<void(const Reference<css::lang::XComponent>&, Session&)>& body) {
    if (!model_.is()) fail(kErrCommandFailed, "The document " + path_ + " is closed.");
    OfficeBridge::instance().runIn(generation_, what + " of " + path_, [&](Session& s) { body(model_, s); });
  }

  void closeQuietly() {
    if (!model_.is()) return;
    Reference<css::lang::XComponent> m = model_;
    model_.clear();
    ignoreErrors([&] {
      if (!OfficeBridge::holds(generation_)) return;  // gone with its process
      OfficeBridge::instance().runIn(generation_, "closing " + path_, [&](Session&) { closeModel(m); });
    });
  }

  // The page styles the body text uses: what Word calls the page setup of
  // the document.
  static std::vector<Reference<XPropSet>> usedPageStyles(const Reference<css::lang::XComponent>& m);
  // The page style of the first paragraph: the first section's.
  static Reference<XPropSet> firstPageStyle(const Reference<css::lang::XComponent>& m);
  static int32_t pageCount(const Reference<css::lang::XComponent>& m);

  Variant PageSetup(Frame&);
  Variant Sections(Frame&);
  Variant Content(Frame&);
  Variant PrintOut(Frame&);
  Variant ExportAsFixedFormat(Frame&);
  Variant Close(Frame&);
  Variant SaveAs(Frame&);
  Variant FullName(Frame&) { return Variant(path_); }
  Variant ComputePages(Frame&) {
    int32_t n = 0;
    with("counting the pages", [&](const Reference<css::lang::XComponent>& m, Session&) { n = pageCount(m); });
    return Variant(n);
  }

  bool open() const { return model_.is(); }
  void requireOpen() const {
    if (!model_.is()) fail(kErrCommandFailed, "The document " + path_ + " is closed.");
  }

 private:
  Reference<css::lang::XComponent> model_;
  uint64_t generation_;
  std::string path_;
  std::weak_ptr<WordApp> app_;
  int commentsSetAside_ = 0;
};

using DocRef = std::shared_ptr<WordDocument>;

// The application: its open documents and its settings.
class WordApp : public Dispatch {
 public:
  WordApp() = default;
  ~WordApp() override { closeAll(); }
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return kWordProgId; }

  void closeAll() {
    for (auto& w : docs_)
      if (auto d = w.lock()) d->closeQuietly();
    docs_.clear();
  }
  void requireRunning() const {
    if (quit_) fail(kErrServerDied, "The application has quit.");
  }

  Variant Documents(Frame&);
  Variant GetDisplayAlerts(Frame&) { return Variant(displayAlerts_); }
  // wdAlertsNone 0, wdAlertsMessageBox -2, wdAlertsAll -1. No alert is
  // ever shown by this server; the setting is kept for the client.
  Variant LetDisplayAlerts(Frame& f) {
    int32_t v = CLng(f[0]);
    if (v != 0 && v != -1 && v != -2)
      fail(kErrOutOfRange, "Value out of range: DisplayAlerts " + std::to_string(v) + ".");
    displayAlerts_ = v;
    return {};
  }
  Variant GetActivePrinter(Frame&) {
    requireRunning();
    return Variant(activePrinter_);
  }
  Variant LetActivePrinter(Frame& f) {
    requireRunning();
    std::string p = CStr(f[0]);
    if (!printerKnown(p)) fail(kErrPrinter, "There is a printer error: the printer \"" + p + "\" is not installed.");
    activePrinter_ = p;
    return {};
  }
  Variant Quit(Frame&) {
    closeAll();
    quit_ = true;
    return {};
  }
  Variant Version(Frame&) { return Variant("16.0"); }
  Variant Name(Frame&) { return Variant("Pressmark Word server"); }

  DocRef open(const std::string& path, const Variant& password, const Variant& writePassword);
  const std::string& activePrinter() const { return activePrinter_; }

 private:
  friend class WordDocuments;
  std::vector<std::weak_ptr<WordDocument>> docs_;
  int32_t displayAlerts_ = -1;
  std::string activePrinter_ = kGenericPostScript;
  bool quit_ = false;
};

}  // namespace pm::office::word
