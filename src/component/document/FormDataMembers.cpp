// Form data in and out of the open document: FDF, XFDF, tab-delimited text
// and XFA data. Each forwards its parameters in their declared order to the
// JavaScript object member of the same name.
#include "component/document/Document.h"

namespace pm {
namespace {

// Forwards every parameter of the call, in order, to the member of the
// JavaScript object that carries the same name as the Document's member.
Variant forwardAll(Document& d, Frame& f) {
  std::vector<Arg> args;
  args.reserve(f.size());
  for (size_t i = 0; i < f.size(); ++i) args.emplace_back(f[i]);
  call(d.objJSO, f.member().name, std::span<const Arg>(args));
  return {};
}

void describe(Members<Document>& m) {
  const std::string none;
  m.method("ExportAsFDF",
           {P("blnAllFields").opt(false), P("blnNoPassword").opt(true), P("varFields").opt(Variant::nothing()),
            P("blnFlags").opt(false), P("strPath").path().opt(none), P("blnAnnotations").opt(false)},
           &forwardAll, "Exports form fields as a FDF file to the local hard drive.")
      .method("ExportAsXFDF",
              {P("blnAllFields").opt(false), P("blnNoPassword").opt(true), P("varFields").opt(Variant::nothing()),
               P("strPath").path().opt(none), P("blnAnnotations").opt(false)},
              &forwardAll, "Exports form fields an XFDF file to the local hard drive.")
      .method("ExportAsText",
              {P("blnNoPassword").opt(true), P("varFields").opt(Variant::nothing()), P("strPath").path().opt(none)},
              &forwardAll,
              "Exports form fields as a tab-delimited text file to a local hard disk. The text file that is created "
              "follows the conventions specified by Microsoft Excel.")
      .method("ExportXFAData", {P("strPath").path().opt(none), P("blnXDP").opt(true)}, &forwardAll,
              "Exports an XFA data file to the local hard drive.")
      .method("ImportAnFDF", {P("strPath").path().opt(none)}, &forwardAll, "Imports the specified FDF file.")
      .method("ImportAnXFDF", {P("strPath").path().opt(none)}, &forwardAll,
              "Imports the specified XFDF file containing XML form data.")
      .method("ImportTextData", {P("strPath").path().opt(none), P("lngRow").opt(int32_t(0))}, &forwardAll,
              "Imports a row of data from a text file. Each row must be tab delimited.")
      .method("ImportXFAData", {P("strPath").path().opt(none)}, &forwardAll,
              "Imports the specified XFA file. See also ImportAnXFDF and ImportTextData.");
}

const DocumentMembers::Register reg("form_data", &describe);

}  // namespace
}  // namespace pm
