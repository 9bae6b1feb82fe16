#include "servers/office/OpenModel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XLoadable.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include "automation/Automation.h"
#include "servers/office/PackageSize.h"
#include "servers/office/PostScriptText.h"
#include "servers/office/UnoUtil.h"
#include "system/AtomicFile.h"
#include "system/Files.h"
#include "system/Process.h"
#include "system/Spooler.h"
#include "system/SystemServices.h"
#include "system/clsRegistry.h"

namespace pm::office {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Whatever the office would ask a user while loading is answered "abort"
// and remembered, so the client gets the reason instead of a dialog nobody
// sees.
class AbortingHandler : public ::cppu::WeakImplHelper1<css::task::XInteractionHandler> {
 public:
  void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
    Any r = request->getRequest();
    all += toUtf8(r.getValueTypeName()) + ";";
    css::task::ErrorCodeRequest code;
    if (r >>= code) errorCode = code.ErrCode;
    for (const Reference<css::task::XInteractionContinuation>& c : request->getContinuations()) {
      Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
      if (abort.is()) {
        abort->select();
        return;
      }
    }
  }
  std::string all;
  sal_Int32 errorCode = 0;
};

}  // namespace

Reference<css::lang::XComponent> loadHidden(Session& s, const std::string& path, const std::string& password,
                                            LoadFailure& failure, bool asWorkbook) {
  // Comma-separated, double quotes around fields, UTF-8, read from the
  // first line on (it is data, not a header), numbers in the English form
  // so a decimal comma cannot be taken for a separator.
  LoadFilter csv;
  if (asWorkbook && LCase(std::filesystem::path(path).extension().string()) == ".csv")
    csv = {"Text - txt - csv (StarCalc)", "44,34,76,1,,1033,false,true"};
  return loadHidden(s, path, password, failure, csv);
}

namespace {

std::vector<css::beans::PropertyValue> loadProperties(const std::string& password, const LoadFilter& filter,
                                                      const Reference<css::task::XInteractionHandler>& handler) {
  std::vector<css::beans::PropertyValue> md = {
      prop("Hidden", true),
      prop("MacroExecutionMode", sal_Int16(css::document::MacroExecMode::NEVER_EXECUTE)),
      prop("UpdateDocMode", sal_Int16(css::document::UpdateDocMode::NO_UPDATE)),
      // Read-only: the office takes no lock on the client's file, and the
      // page set-up the conversions apply lives in memory only.
      prop("ReadOnly", true),
      prop("InteractionHandler", handler),
  };
  if (!password.empty()) md.push_back(prop("Password", fromUtf8(password)));
  if (!filter.name.empty()) {
    md.push_back(prop("FilterName", fromUtf8(filter.name)));
    md.push_back(prop("FilterOptions", fromUtf8(filter.options)));
  }
  return md;
}

// A value of a property list (the office's descriptions of types and
// filters are such lists); empty when it is not there.
::rtl::OUString textOf(const css::uno::Sequence<css::beans::PropertyValue>& list, const char* name) {
  ::rtl::OUString v;
  for (const css::beans::PropertyValue& p : list)
    if (p.Name.equalsAscii(name)) p.Value >>= v;
  return v;
}

// The filter the office would read the file with, when that filter makes
// a text document; empty otherwise (and when it does not know the file).
::rtl::OUString textFilter(Session& s, const std::string& path) {
  Reference<css::lang::XMultiComponentFactory> factory = s.context->getServiceManager();
  Reference<css::document::XTypeDetection> detection(
      factory->createInstanceWithContext("com.sun.star.document.TypeDetection", s.context), UNO_QUERY_THROW);
  css::uno::Sequence<css::beans::PropertyValue> md = props({prop("URL", fileUrl(path))});
  ::rtl::OUString type = detection->queryTypeByDescriptor(md, true);
  if (type.isEmpty()) return {};
  ::rtl::OUString filter = textOf(md, "FilterName");
  css::uno::Sequence<css::beans::PropertyValue> about;
  if (filter.isEmpty()) {
    Reference<css::container::XNameAccess>(detection, UNO_QUERY_THROW)->getByName(type) >>= about;
    filter = textOf(about, "PreferredFilter");
  }
  if (filter.isEmpty()) return {};
  Reference<css::container::XNameAccess> filters(
      factory->createInstanceWithContext("com.sun.star.document.FilterFactory", s.context), UNO_QUERY_THROW);
  filters->getByName(filter) >>= about;
  return textOf(about, "DocumentService") == "com.sun.star.text.TextDocument" ? filter : ::rtl::OUString();
}

// Removes the document's comments; answers how many there were.
int setCommentsAside(const Reference<css::lang::XComponent>& model) {
  Reference<css::text::XTextFieldsSupplier> supplier(model, UNO_QUERY);
  if (!supplier.is()) return 0;
  std::vector<Reference<css::lang::XComponent>> comments;
  Reference<css::container::XEnumeration> e = supplier->getTextFields()->createEnumeration();
  while (e->hasMoreElements()) {
    Reference<css::lang::XServiceInfo> field(e->nextElement(), UNO_QUERY);
    if (field.is() && field->supportsService("com.sun.star.text.textfield.Annotation"))
      comments.emplace_back(field, UNO_QUERY);
  }
  for (const Reference<css::lang::XComponent>& c : comments)
    if (c.is()) c->dispose();
  return static_cast<int>(comments.size());
}

// A package the office must not unpack: refused with the reason before
// the office sees it.
bool refusedPackage(const std::string& path, LoadFailure& failure) {
  PackageVerdict v = inspectPackageFile(path, packageLimits());
  if (v.refusal.empty()) return false;
  failure.why = v.refusal;
  return true;
}

// The copies of the documents the office holds open, by model: removed when
// the model is closed.
std::mutex copiesMu;
std::map<const void*, std::string> copies;

// The office reads a copy of the document in its own folder, under the
// document's name: confined to that folder (officeConfinement), it reaches
// no other file of the caller's, and relative links find nothing beside the
// copy. Removed with the object unless kept for the loaded model.
struct InputCopy {
  std::string folder, path;
  explicit InputCopy(const std::string& original) {
    folder = OfficeBridge::instance().workDir() + "/input-" + GetRandomFileName();
    if (::mkdir(folder.c_str(), 0700) != 0) raiseFileError(errno, folder);
    std::string name = std::filesystem::path(original).filename().string();
    path = folder + "/" + (name.empty() ? "document" : name);
    std::error_code ec;
    if (!std::filesystem::copy_file(original, path, ec)) {
      std::filesystem::remove_all(folder, ec);
      folder.clear();
      // Whatever keeps the original from being read, the office says it
      // the usual way (a missing file, no access).
      path = original;
    }
  }
  void keepFor(const Reference<css::lang::XComponent>& model) {
    if (folder.empty() || !model.is()) return;
    std::lock_guard<std::mutex> l(copiesMu);
    copies[model.get()] = folder;
    folder.clear();
  }
  ~InputCopy() {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  }
  InputCopy(const InputCopy&) = delete;
  InputCopy& operator=(const InputCopy&) = delete;
};

void removeCopyOf(const Reference<css::lang::XComponent>& model) {
  std::string folder;
  {
    std::lock_guard<std::mutex> l(copiesMu);
    auto it = copies.find(model.get());
    if (it == copies.end()) return;
    folder = it->second;
    copies.erase(it);
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

}  // namespace

Reference<css::lang::XComponent> loadHidden(Session& s, const std::string& path, const std::string& password,
                                            LoadFailure& failure, const LoadFilter& filter) {
  if (refusedPackage(path, failure)) return {};
  InputCopy copy(path);
  ::rtl::Reference<AbortingHandler> handler = new AbortingHandler;
  std::vector<css::beans::PropertyValue> md =
      loadProperties(password, filter, Reference<css::task::XInteractionHandler>(handler.get()));
  Reference<css::lang::XComponent> model;
  Reference<css::frame::XComponentLoader> loader(s.desktop, UNO_QUERY_THROW);
  try {
    model = loader->loadComponentFromURL(fileUrl(copy.path), "_blank", 0, props(md));
  } catch (const css::lang::IllegalArgumentException&) {
    model.clear();
  } catch (const css::io::IOException&) {
    model.clear();
  }
  copy.keepFor(model);
  if (model.is()) OfficeBridge::instance().documentOpened();
  if (!model.is()) {
    failure.passwordAsked = handler->all.find("PasswordRequest") != std::string::npos;
    failure.why = handler->all;
    if (handler->errorCode) failure.why += " (office error " + std::to_string(handler->errorCode) + ")";
  }
  return model;
}

Reference<css::lang::XComponent> loadTextHidden(Session& s, const std::string& path, const std::string& password,
                                                LoadFailure& failure, const LoadFilter& filter, int& commentsSetAside) {
  commentsSetAside = 0;
  if (refusedPackage(path, failure)) return {};
  InputCopy copy(path);
  ::rtl::OUString filterName = filter.name.empty() ? textFilter(s, copy.path) : fromUtf8(filter.name);
  if (filterName.isEmpty()) return loadHidden(s, path, password, failure, filter);
  ::rtl::Reference<AbortingHandler> handler = new AbortingHandler;
  LoadFilter chosen{toUtf8(filterName), filter.options};
  std::vector<css::beans::PropertyValue> md =
      loadProperties(password, chosen, Reference<css::task::XInteractionHandler>(handler.get()));
  md.push_back(prop("URL", fileUrl(copy.path)));
  Reference<css::lang::XComponent> model(
      s.context->getServiceManager()->createInstanceWithContext("com.sun.star.text.TextDocument", s.context),
      UNO_QUERY_THROW);
  try {
    Reference<css::frame::XLoadable>(model, UNO_QUERY_THROW)->load(props(md));
  } catch (const css::uno::Exception&) {
    // Whatever kept the file from loading, the usual load says it the
    // usual way (a password asked, the office's reason).
    try {
      model->dispose();
    } catch (const css::uno::Exception&) {
    }
    return loadHidden(s, path, password, failure, filter);
  }
  try {
    commentsSetAside = setCommentsAside(model);
    Reference<css::frame::XComponentLoader> loader(s.desktop, UNO_QUERY_THROW);
    loader->loadComponentFromURL("private:object", "_blank", 0, props({prop("Model", model), prop("Hidden", true)}));
  } catch (...) {
    try {
      Reference<css::util::XCloseable>(model, UNO_QUERY_THROW)->close(true);
    } catch (const css::uno::Exception&) {
    }
    throw;
  }
  copy.keepFor(model);
  OfficeBridge::instance().documentOpened();
  return model;
}

void closeModel(const Reference<css::lang::XComponent>& m) {
  OfficeBridge::instance().documentClosed();
  struct RemoveCopy {
    const Reference<css::lang::XComponent>& m;
    ~RemoveCopy() { removeCopyOf(m); }
  } removeCopy{m};
  Reference<css::util::XCloseable> c(m, UNO_QUERY);
  try {
    if (c.is()) {
      c->close(true);
      return;
    }
  } catch (const css::util::CloseVetoException&) {
  }
  m->dispose();
}

void OpenModel::with(const std::string& what, const std::function<void(const Reference<css::lang::XComponent>&)>& body,
                     int32_t closedNumber, const std::string& source) const {
  with(
      what, [&](const Reference<css::lang::XComponent>& m, Session&) { body(m); }, closedNumber, source);
}

void OpenModel::with(const std::string& what,
                     const std::function<void(const Reference<css::lang::XComponent>&, Session&)>& body,
                     int32_t closedNumber, const std::string& source) const {
  if (!model_.is()) raise(closedNumber, "The document " + path_ + " is closed.", source);
  OfficeBridge::instance().runIn(generation_, what + " of " + path_, [&](Session& s) { body(model_, s); });
}

void OpenModel::close() {
  ignoreErrors([&] { closeOrRaise(); });
}

void OpenModel::closeOrRaise() {
  if (!model_.is()) return;
  Reference<css::lang::XComponent> m = model_;
  model_.clear();
  if (!OfficeBridge::holds(generation_)) return;  // gone with its process
  OfficeBridge::instance().runIn(generation_, "closing " + path_, [&](Session&) { closeModel(m); });
}

bool printerKnown(const std::string& name) {
  if (Trim(name).empty()) return false;
  for (const char* n : {kGenericPostScript, "Acrobat Distiller", "Adobe PDF"})
    if (LCase(name) == LCase(n)) return true;
  bool found = false;
  ignoreErrors([&] {
    clsRegistry reg;
    for (const char* v : {"5.0", "6.0", "7.0", "8.0", "9.0", "10.0"}) {
      std::string key = std::string("SOFTWARE\\Adobe\\Acrobat Distiller\\") + v + "\\PrinterName";
      if (reg.OpenRegistry(HKEY_LOCAL_MACHINE, key) != 0) {
        bool raw = false;
        if (LCase(CStr(reg.GetValue("", raw))) == LCase(name)) found = true;
      }
    }
  });
  if (found) return true;
  ignoreErrors([&] {
    auto spooler = makeCupsSpooler();
    Spooler::Handle h = 0;
    if (spooler && spooler->openPrinter(name, kPrinterAllAccess, h)) {
      found = true;
      spooler->closePrinter(h);
    }
  });
  return found;
}

namespace {

// The office's PDF of the model as the job chooses its pages, in the
// office's private folder; removed with the object.
struct ExportedPdf {
  std::string path;
  ExportedPdf(const OpenModel& doc, const PrintJob& job, const std::string& member, int32_t errorNumber,
              const std::string& source) {
    doc.with(
        member == "PrintOut" ? "printing" : "exporting",
        [&](const Reference<css::lang::XComponent>& m) {
          path = OfficeBridge::instance().workDir() + "/print-" + GetRandomFileName() + ".pdf";
          std::vector<css::beans::PropertyValue> filterData;
          if (!job.pageRange.empty()) filterData.push_back(prop("PageRange", fromUtf8(job.pageRange)));
          if (job.selection.hasValue()) {
            css::beans::PropertyValue p;
            p.Name = "Selection";
            p.Value = job.selection;
            filterData.push_back(p);
          }
          css::uno::Sequence<css::beans::PropertyValue> fd = props(filterData);
          std::vector<css::beans::PropertyValue> md = {prop("FilterName", fromUtf8(job.filter)),
                                                       prop("FilterData", fd)};
          Reference<css::frame::XStorable> store(m, UNO_QUERY_THROW);
          store->storeToURL(fileUrl(path), props(md));
        },
        errorNumber, source);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_size == 0) {
      ::unlink(path.c_str());
      raise(errorNumber, member + ": the office wrote no pages.", source);
    }
  }
  ~ExportedPdf() { ::unlink(path.c_str()); }
  ExportedPdf(const ExportedPdf&) = delete;
  ExportedPdf& operator=(const ExportedPdf&) = delete;
};

}  // namespace

void printToPostScript(const OpenModel& doc, const PrintJob& job, const std::string& out, int32_t errorNumber,
                       const std::string& source) {
  if (Trim(out).empty())
    raise(errorNumber, "PrintOut: this server prints to files only; give the output file name.", source);
  ExportedPdf pdf(doc, job, "PrintOut", errorNumber, source);
  PostScriptJob ps;
  ps.gray = job.gray;
  ps.timeout = OfficeBridge::instance().callTimeout();
  ps.errorNumber = errorNumber;
  ps.source = source;
  printPdfToPostScript(pdf.path, out, ps);
}

void exportToPdf(const OpenModel& doc, const PrintJob& job, const std::string& out, int32_t errorNumber,
                 const std::string& source) {
  if (Trim(out).empty()) raise(errorNumber, "ExportAsFixedFormat: give the output file name.", source);
  ExportedPdf pdf(doc, job, "ExportAsFixedFormat", errorNumber, source);
  deliverWorkFile(pdf.path, out, "ExportAsFixedFormat", errorNumber, source);
}

WorkFile::WorkFile(const std::string& target) {
  folder_ = OfficeBridge::instance().workDir() + "/save-" + GetRandomFileName();
  if (::mkdir(folder_.c_str(), 0700) != 0) raiseFileError(errno, folder_);
  // The target's name: a format that names files after what it writes
  // (a sheet's text) starts from it.
  std::string name = std::filesystem::path(target).filename().string();
  path_ = folder_ + "/" + (name.empty() ? "document" : name);
}

WorkFile::~WorkFile() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

void deliverWorkFile(const std::string& work, const std::string& out, const std::string& member, int32_t errorNumber,
                     const std::string& source) {
  int in = ::open(work.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) raise(errorNumber, member + ": the office's file cannot be read.", source);
  struct CloseIn {
    int fd;
    ~CloseIn() { ::close(fd); }
  } closeIn{in};
  try {
    AtomicFile target(out);
    char buf[1 << 16];
    for (;;) {
      ssize_t n = ::read(in, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) raise(errorNumber, member + ": the office's file cannot be read.", source);
      if (n == 0) break;
      target.write(std::string_view(buf, static_cast<size_t>(n)));
    }
    target.commit();
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), out);
  }
}

}  // namespace pm::office
