// Sending the document or its form data away: mailDoc and mailForm through
// an SMTP server, submitForm to a web address.
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "servers/pdf/forms/FormData.h"
#include "servers/pdf/external/FormSubmit.h"
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/external/Mail.h"
#include "system/Files.h"

namespace pm::pdf {

namespace {

using namespace js;

std::string baseName(Doc& d, const std::string& ext) {
  std::string p = d.path();
  auto s = p.rfind('/');
  std::string b = s == std::string::npos ? p : p.substr(s + 1);
  if (b.empty()) b = "document.pdf";
  if (!ext.empty()) {
    auto dot = b.rfind('.');
    b = (dot == std::string::npos ? b : b.substr(0, dot)) + ext;
  }
  return b;
}

// The document as it is now, written as a copy: the open document keeps
// its own file.
std::string currentBytes(Doc& d) {
  std::string tmp = privateTempDir() + "send-" + std::to_string(getpid()) + "-" +
                    std::to_string(reinterpret_cast<uintptr_t>(&d)) + ".pdf";
  struct Remove {
    std::string p;
    ~Remove() { std::remove(p.c_str()); }
  } cleanup{tmp};
  d.save(tmp, true, false, false, false);
  std::ifstream in(tmp, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) fail("The document could not be written for sending");
  return bytes;
}

// The six parameters of both mail members. A mail window cannot be shown
// here: the message goes out as given whatever bUI says.
mail::Message message(Frame& f) {
  mail::Message m;
  m.to = textArg(f["cTo"]);
  m.cc = textArg(f["cCc"]);
  m.bcc = textArg(f["cBcc"]);
  m.subject = textArg(f["cSubject"]);
  m.body = textArg(f["cMsg"]);
  return m;
}

Variant mailDoc(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  mail::Message m = message(f);
  m.attachmentName = baseName(d, "");
  m.attachmentType = "application/pdf";
  m.attachment = currentBytes(d);
  mail::send(m);
  return {};
}

Variant mailForm(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  mail::Message m = message(f);
  m.attachmentName = baseName(d, ".fdf");
  m.attachmentType = "application/vnd.fdf";
  m.attachment = formdata::fdf(d, formdata::Choice{});
  mail::send(m);
  return {};
}

Variant submitForm(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string url = textArg(f["cURL"]);
  if (url.empty()) fail("Submitting a form needs the address to send it to");
  bool asFdf = boolArg(f["bFDF"], true), empty = boolArg(f["bEmpty"], false), get = boolArg(f["bGet"], false);
  bool annots = boolArg(f["bAnnotations"], false), xml = boolArg(f["bXML"], false),
       incremental = boolArg(f["bIncrChanges"], false);
  bool pdf = boolArg(f["bPDF"], false), canonical = boolArg(f["bCanonical"], false),
       exclNonUser = boolArg(f["bExclNonUserAnnots"], false);
  bool exclF = boolArg(f["bExclFKey"], false), embed = boolArg(f["bEmbedForm"], false);
  std::string password = textArg(f["cPassword"]);
  if (incremental) notSupported("Submitting the incremental changes of a document");
  if (embed) notSupported("Embedding the form in the submitted data");
  if (!password.empty()) notSupported("Encrypting the submitted data with a password");
  if (canonical) notSupported("Submitting dates and numbers in canonical form");
  if (exclNonUser && annots) notSupported("Leaving out annotations not made by a user");
  for (size_t i = 14; i < f.size(); ++i)
    if (!f[i].isMissing()) notSupported("Parameter " + f.member().params[i].name + " of submitForm");

  formdata::Choice c;
  c.allFields = empty;
  c.fields = f["aFields"].isArray() ? f["aFields"] : Variant();
  c.annotations = annots;
  c.fileKey = !exclF;
  submit::Request r;
  r.url = url;
  if (pdf) {
    r.contentType = "application/pdf";
    r.body = currentBytes(d);
  } else if (xml) {
    r.contentType = "application/vnd.adobe.xfdf";
    r.body = formdata::xfdf(d, c);
  } else if (asFdf) {
    r.contentType = "application/vnd.fdf";
    r.body = formdata::fdf(d, c);
  } else {
    r.contentType = "application/x-www-form-urlencoded";
    r.body = formdata::urlEncoded(d, c);
    r.get = get;
  }
  submit::send(r);
  return {};
}

void describe(Members<DocHolder>& m) {
  const std::vector<ParamSpec> mailParams = {P("bUI").opt(),  P("cTo").opt(),      P("cCc").opt(),
                                             P("cBcc").opt(), P("cSubject").opt(), P("cMsg").opt()};
  m.method("mailDoc", mailParams, &mailDoc);
  m.method("mailForm", mailParams, &mailForm);
  m.method("submitForm",
           {P("cURL").path(),
            P("bFDF").opt(),
            P("bEmpty").opt(),
            P("aFields").opt(),
            P("bGet").opt(),
            P("bAnnotations").opt(),
            P("bXML").opt(),
            P("bIncrChanges").opt(),
            P("bPDF").opt(),
            P("bCanonical").opt(),
            P("bExclNonUserAnnots").opt(),
            P("bExclFKey").opt(),
            P("cPassword").opt(),
            P("bEmbedForm").opt(),
            P("oJavaScript").opt(),
            P("cSubmitAs").opt(),
            P("bInclNMKey").opt(),
            P("aPackets").opt(),
            P("cCharset").opt(),
            P("oXML").opt(),
            P("cPermID").opt(),
            P("cInstID").opt(),
            P("cUsageRights").opt()},
           &submitForm);
}

const Groups::Register reg("send", &describe);

}  // namespace

}  // namespace pm::pdf
