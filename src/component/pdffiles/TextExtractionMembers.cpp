// The text of every page of a PDF file, written line by line to a text file
// in the system code page with CR LF line ends, single- or double-spaced.
#include <optional>

#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/data/TextFiles.h"

namespace pm {
namespace {

// A word that ends a text line in the viewer carries this.
constexpr std::string_view kLineBreak = "\r\n";

void removeLineBreaks(std::string& line) {
  for (size_t at = line.find(kLineBreak); at != std::string::npos; at = line.find(kLineBreak, at))
    line.erase(at, kLineBreak.size());
}

// The objects the method holds and the file it writes. The file keeps the
// lines written before a failure.
struct TextSession {
  std::optional<datafiles::TextFileWriter> out;
  ObjectRef app, doc, rect, page, size, selection;

  void release() {
    page.reset();
    size.reset();
    rect.reset();
    selection.reset();
    doc.reset();
    app.reset();
  }
};

void writePages(TextSession& s, const Variant& strPDFFile, const Variant& blnDoubleSpace) {
  datafiles::TextFileWriter& out = *s.out;
  // What Open answers is not looked at: a document that did not open
  // reports its own pages, or fails.
  s.app = CreateObject(acrobat::kApp);
  s.doc = CreateObject(acrobat::kPDDoc);
  s.rect = CreateObject(acrobat::kRect);
  call(s.doc, "Open", {strPDFFile});
  const int32_t pages = CLng(call(s.doc, "GetNumPages"));
  std::string line;
  for (int32_t p = 0; p < pages; ++p) {
    // 3.1 A rectangle ten times the page takes all of its text.
    s.page = objectOf(call(s.doc, "AcquirePage", {Variant(p)}));
    s.size = objectOf(call(s.page, "GetSize"));
    let(s.rect, "Left", Variant(int16_t(0)));
    let(s.rect, "Right", Variant(CDbl(get(s.size, "x")) * 10));
    let(s.rect, "bottom", Variant(int16_t(0)));
    let(s.rect, "Top", Variant(CDbl(get(s.size, "y")) * 10));
    // 3.2
    s.selection = objectOf(call(s.doc, "CreateTextSelect", {Variant(p), Variant(s.rect)}));
    line.clear();
    // 3.3 (No window messages wait here: the process has no message
    // queue, so there is nothing to let through between words.)
    const int32_t words = CLng(call(s.selection, "GetNumText"));
    for (int32_t w = 0; w < words; ++w) {
      const std::string t = CStr(call(s.selection, "GetText", {Variant(w)}));
      line += t;
      if (t.find(kLineBreak) == std::string::npos) continue;
      if (!CBool(blnDoubleSpace)) removeLineBreaks(line);
      out.line(line);
      line.clear();
    }
    // 3.4
    out.line(line);
    if (CBool(blnDoubleSpace)) out.line("");
  }
  call(s.doc, "Close");
  out.commit();
  s.out.reset();
  call(s.app, "Exit");
}

Variant CreateTextfileFromPDF(CreatePDF&, Frame& f) {
  TextSession s;
  try {
    s.out.emplace(CStr(f["strTextFile"]));
    writePages(s, f["strPDFFile"], f["blnDoubleSpace"]);
    s.release();
  } catch (...) {
    AutomationError e = currentAsAutomationError();
    if (s.out) ignoreErrors([&] { s.out->commit(); });
    s.out.reset();
    if (s.doc) ignoreErrors([&] { call(s.doc, "Close"); });
    if (s.app) ignoreErrors([&] { call(s.app, "Exit"); });
    s.release();
    throw AutomationError(e.number(), kComponentTitle, e.description());
  }
  return {};
}

void describe(Members<CreatePDF>& m) {
  m.method("CreateTextfileFromPDF", {P("strPDFFile").path(), P("strTextFile").path(), P("blnDoubleSpace").opt(false)},
           &CreateTextfileFromPDF, "Write the text of every page of a PDF file to a text file, one text line a line.");
}

const CreatePDFMembers::Register reg("pdffiles_text", &describe);

}  // namespace
}  // namespace pm
