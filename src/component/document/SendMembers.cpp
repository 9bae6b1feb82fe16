// Sending the document or its form data away: by e-mail, or to a web
// address. The mail members forward their six parameters; SubmitFormToURL
// composes the argument list the installed viewer version takes.
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"

namespace pm {
namespace {

Variant forwardSix(Document& d, Frame& f, const char* member) {
  call(d.objJSO, member, {f["blnShowWindow"], f["strTo"], f["strCC"], f["strBCC"], f["strSubject"], f["strBody"]});
  return {};
}
Variant EmailDocument(Document& d, Frame& f) {
  return forwardSix(d, f, "MailDoc");
}
Variant EmailForm(Document& d, Frame& f) {
  return forwardSix(d, f, "MailForm");
}

Variant SubmitFormToURL(Document& d, Frame& f) {
  Variant fields = f["varFields"].isArray() ? f["varFields"] : Variant(std::string());
  std::vector<Arg> args{f["URL"],
                        f["blnFDF"],
                        f["blnEmpty"],
                        fields,
                        f["blnGet"],
                        f["blnAnnotations"],
                        f["blnXML"],
                        f["blnIncrementalChanges"],
                        f["blnPDF"],
                        f["blnCanonical"],
                        f["blnExclNonUserAnnots"],
                        f["blnExclFKey"],
                        f["strPassword"]};
  // Viewers after version 5 take the embedded-form flag as a fourteenth
  // argument; older ones know only thirteen.
  if (Val(moduleState().strAcrobatVersion) > 5) args.emplace_back(f["blnEmbedForm"]);
  call(d.objJSO, "submitForm", std::span<const Arg>(args));
  return {};
}

std::vector<ParamSpec> mailParams() {
  const std::string none;
  return {P("blnShowWindow").opt(true), P("strTo").opt(none),      P("strCC").opt(none),
          P("strBCC").opt(none),        P("strSubject").opt(none), P("strBody").opt(none)};
}

void describe(Members<Document>& m) {
  m.method("EmailDocument", mailParams(), &EmailDocument,
           "Saves the current PDF document and mails it as an attachment to all recipients, with or without user "
           "interaction.")
      .method("EmailForm", mailParams(), &EmailForm,
              "Exports the form data and mails the resulting FDF file as an attachment to all recipients, with or "
              "without user interaction. The method does not support signed signature fields.")
      .method("SubmitFormToURL",
              {P("URL").path(), P("blnFDF").opt(true), P("blnEmpty").opt(false), P("varFields").opt(Variant::nothing()),
               P("blnGet").opt(false), P("blnAnnotations").opt(false), P("blnXML").opt(false),
               P("blnIncrementalChanges").opt(false), P("blnPDF").opt(false), P("blnCanonical").opt(false),
               P("blnExclNonUserAnnots").opt(false), P("blnExclFKey").opt(false), P("strPassword").opt(std::string()),
               P("blnEmbedForm").opt(false)},
              &SubmitFormToURL, "Submits the form to a specified URL.");
}

const DocumentMembers::Register reg("send", &describe);

}  // namespace
}  // namespace pm
