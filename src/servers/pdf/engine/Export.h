// saveAs of the JavaScript object: the document written as PDF or converted
// to another file type, chosen by the conversion identifier.
#pragma once

#include <string>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// convId empty or "com.adobe.acrobat.pdf": the PDF itself (the document then
// continues from the new file). Other identifiers convert; one that MuPDF
// cannot write raises a clear error and writes nothing.
void exportDocument(Doc& d, const std::string& target, const std::string& convId);

}  // namespace pm::pdf
