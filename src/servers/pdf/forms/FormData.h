// The form data of a document as the files and requests that carry it:
// FDF, XFDF and HTML form encoding. The export members, mail and form
// submission all write it through here.
#pragma once

#include <string>

#include "automation/Variant.h"
#include "servers/pdf/engine/Doc.h"

namespace pm::pdf::formdata {

struct Choice {
  bool allFields = false;    // fields without a value too
  bool noPassword = true;    // leave password fields out
  Variant fields;            // names to export (a name includes the fields below it); none: all
  bool flags = false;        // FDF: field and widget flags
  bool annotations = false;  // the annotations of the pages too
  bool fileKey = true;       // name the document the data belongs to
};

std::string fdf(Doc& d, const Choice& c);
std::string xfdf(Doc& d, const Choice& c);
// name=value pairs joined by "&", names and values percent-encoded in UTF-8.
std::string urlEncoded(Doc& d, const Choice& c);

}  // namespace pm::pdf::formdata
