// Document.TextFileToArray: the same delimited-text reader CreatePDF offers,
// for clients that hold only a Document.
#include "component/data/TextFileToArray.h"
#include "component/document/Document.h"

namespace pm {
namespace {

Variant TextFileToArray(Document&, Frame& f) {
  return Variant(TextFileToArrayCode(f["strTextFile"], f["varArray"], f["strDelimiter"], f["blnRemoveQuotes"]));
}

void describe(Members<Document>& m) {
  m.method("TextFileToArray",
           {P("strTextFile").path(), P("varArray"), P("strDelimiter").byVal().opt(Variant("")),
            P("blnRemoveQuotes").opt(Variant(false))},
           &TextFileToArray, "Read a delimited text file into a two-dimensional array.");
}

const DocumentMembers::Register reg("textfiles", &describe);

}  // namespace
}  // namespace pm
