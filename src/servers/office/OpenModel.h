// What the spreadsheet, presentation and publishing servers share about one
// document the office holds for them: loading it hidden and read-only with
// its password, running work on it in the office process that loaded it,
// and closing it without saving.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <com/sun/star/lang/XComponent.hpp>

#include "servers/office/OfficeBridge.h"

namespace pm::office {

// Why a load gave no document: the office asked for a password (a wrong or
// a missing one), or it could not read the file; why holds what it said.
struct LoadFailure {
  bool passwordAsked = false;
  std::string why;
};

// Loads path hidden, read-only, with macros off and every question of the
// office answered "abort". An empty password is not passed. Returns an
// empty reference and fills failure when nothing was loaded. A workbook
// reader passes asWorkbook: delimited text (.csv) is then read by the
// spreadsheet's text import with fixed options instead of the office's
// guess, which would ask how to split it.
css::uno::Reference<css::lang::XComponent> loadHidden(Session& s, const std::string& path, const std::string& password,
                                                      LoadFailure& failure, bool asWorkbook = false);

// The same with a filter the caller chooses instead of the office's guess.
struct LoadFilter {
  std::string name, options;
};
css::uno::Reference<css::lang::XComponent> loadHidden(Session& s, const std::string& path, const std::string& password,
                                                      LoadFailure& failure, const LoadFilter& filter);

// A text document loaded as loadHidden does, but in two steps: the model
// is read first, its reviewer comments are set aside (counted in
// commentsSetAside), and only then is it given its hidden view. A view
// draws each comment in a side window built from a dialog description this
// office is installed without, and the office ends when it tries; its own
// command-line conversion never makes a view. A file the office does not
// read as a text document is loaded by loadHidden.
css::uno::Reference<css::lang::XComponent> loadTextHidden(Session& s, const std::string& path,
                                                          const std::string& password, LoadFailure& failure,
                                                          const LoadFilter& filter, int& commentsSetAside);

// Closes a model (a veto is overruled by disposing it).
void closeModel(const css::uno::Reference<css::lang::XComponent>& m);

// One open document of one office process. Closing is quiet when the
// process has gone (the document went with it).
class OpenModel {
 public:
  OpenModel(css::uno::Reference<css::lang::XComponent> model, uint64_t generation, std::string path)
      : model_(std::move(model)), generation_(generation), path_(std::move(path)) {}
  ~OpenModel() { close(); }
  OpenModel(const OpenModel&) = delete;
  OpenModel& operator=(const OpenModel&) = delete;

  bool isOpen() const { return model_.is(); }
  const std::string& path() const { return path_; }
  uint64_t generation() const { return generation_; }

  // Runs body on the model in its own office process; raises closedNumber
  // (with source) when the document is closed, the lost-document error when
  // its process has ended.
  void with(const std::string& what, const std::function<void(const css::uno::Reference<css::lang::XComponent>&)>& body,
            int32_t closedNumber, const std::string& source) const;
  // The same for a body that also works with the office process's session.
  void with(const std::string& what,
            const std::function<void(const css::uno::Reference<css::lang::XComponent>&, Session&)>& body,
            int32_t closedNumber, const std::string& source) const;
  // Closes quietly: for destructors and for an application closing all.
  void close();
  // Closes for a client that asked to: a failure of the office is raised.
  // The document counts as closed either way.
  void closeOrRaise();

 private:
  css::uno::Reference<css::lang::XComponent> model_;
  uint64_t generation_;
  std::string path_;
};

// The printer names the office servers print to: the queue-less PostScript
// printers (the generic one, the Distiller printer under its names and the
// names the Distiller registry keys give) and every CUPS queue.
bool printerKnown(const std::string& name);
inline constexpr const char* kGenericPostScript = "Generic PostScript Printer";

// Prints a model to a PostScript file: the office exports the pages as PDF
// with the given export filter and filter data into its private folder,
// and printPdfToPostScript turns that into PostScript that keeps its text.
// gray converts every colour to grey. Failures raise errorNumber with source.
struct PrintJob {
  std::string filter;       // e.g. "calc_pdf_Export"
  std::string pageRange;    // "" every page, else "2-3"
  css::uno::Any selection;  // a range or shapes to print instead of the whole document
  bool gray = false;
};
void printToPostScript(const OpenModel& doc, const PrintJob& job, const std::string& out, int32_t errorNumber,
                       const std::string& source);
// The office's own PDF of a model, the pages and selection as in a print
// job (gray is not taken: a PDF export keeps the colours), into out: written
// beside out and renamed into place when complete, so the caller needs no
// wait for the file. What printing turns into PostScript, handed on as it is.
void exportToPdf(const OpenModel& doc, const PrintJob& job, const std::string& out, int32_t errorNumber,
                 const std::string& source);

// A file the office writes for a client: in the office's own folder (it can
// write nowhere else), under the target's name, removed with the object.
class WorkFile {
 public:
  explicit WorkFile(const std::string& target);
  ~WorkFile();
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string folder_, path_;
};

// Copies a file the office wrote into out: written beside out and renamed
// into place when complete. Failures raise errorNumber with source, naming
// member.
void deliverWorkFile(const std::string& work, const std::string& out, const std::string& member, int32_t errorNumber,
                     const std::string& source);

}  // namespace pm::office
