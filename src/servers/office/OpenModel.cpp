#include "servers/office/OpenModel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include "automation/Automation.h"
#include "servers/office/PostScriptText.h"
#include "servers/office/UnoUtil.h"
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

Reference<css::lang::XComponent> loadHidden(Session& s, const std::string& path, const std::string& password,
                                            LoadFailure& failure, const LoadFilter& filter) {
  ::rtl::Reference<AbortingHandler> handler = new AbortingHandler;
  std::vector<css::beans::PropertyValue> md = {
      prop("Hidden", true),
      prop("MacroExecutionMode", sal_Int16(css::document::MacroExecMode::NEVER_EXECUTE)),
      prop("UpdateDocMode", sal_Int16(css::document::UpdateDocMode::NO_UPDATE)),
      // Read-only: the office takes no lock on the client's file, and the
      // page set-up the conversions apply lives in memory only.
      prop("ReadOnly", true),
      prop("InteractionHandler", Reference<css::task::XInteractionHandler>(handler.get())),
  };
  if (!password.empty()) md.push_back(prop("Password", fromUtf8(password)));
  if (!filter.name.empty()) {
    md.push_back(prop("FilterName", fromUtf8(filter.name)));
    md.push_back(prop("FilterOptions", fromUtf8(filter.options)));
  }
  Reference<css::lang::XComponent> model;
  Reference<css::frame::XComponentLoader> loader(s.desktop, UNO_QUERY_THROW);
  try {
    model = loader->loadComponentFromURL(fileUrl(path), "_blank", 0, props(md));
  } catch (const css::lang::IllegalArgumentException&) {
    model.clear();
  } catch (const css::io::IOException&) {
    model.clear();
  }
  if (model.is()) OfficeBridge::instance().documentOpened();
  if (!model.is()) {
    failure.passwordAsked = handler->all.find("PasswordRequest") != std::string::npos;
    failure.why = handler->all;
    if (handler->errorCode) failure.why += " (office error " + std::to_string(handler->errorCode) + ")";
  }
  return model;
}

void closeModel(const Reference<css::lang::XComponent>& m) {
  OfficeBridge::instance().documentClosed();
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
  if (OfficeBridge::instance().generation() != generation_) return;  // gone with its process
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

void printToPostScript(const OpenModel& doc, const PrintJob& job, const std::string& out, int32_t errorNumber,
                       const std::string& source) {
  if (Trim(out).empty())
    raise(errorNumber, "PrintOut: this server prints to files only; give the output file name.", source);
  std::string pdf;
  doc.with(
      "printing",
      [&](const Reference<css::lang::XComponent>& m) {
        pdf = OfficeBridge::instance().workDir() + "/print-" + GetRandomFileName() + ".pdf";
        std::vector<css::beans::PropertyValue> filterData;
        if (!job.pageRange.empty()) filterData.push_back(prop("PageRange", fromUtf8(job.pageRange)));
        if (job.selection.hasValue()) {
          css::beans::PropertyValue p;
          p.Name = "Selection";
          p.Value = job.selection;
          filterData.push_back(p);
        }
        css::uno::Sequence<css::beans::PropertyValue> fd = props(filterData);
        std::vector<css::beans::PropertyValue> md = {prop("FilterName", fromUtf8(job.filter)), prop("FilterData", fd)};
        Reference<css::frame::XStorable> store(m, UNO_QUERY_THROW);
        store->storeToURL(fileUrl(pdf), props(md));
      },
      errorNumber, source);
  struct RemovePdf {
    std::string p;
    ~RemovePdf() { ::unlink(p.c_str()); }
  } removePdf{pdf};
  struct stat st {};
  if (::stat(pdf.c_str(), &st) != 0 || st.st_size == 0)
    raise(errorNumber, "PrintOut: the office wrote no pages.", source);

  PostScriptJob ps;
  ps.gray = job.gray;
  ps.timeout = OfficeBridge::instance().callTimeout();
  ps.errorNumber = errorNumber;
  ps.source = source;
  printPdfToPostScript(pdf, out, ps);
}

}  // namespace pm::office
