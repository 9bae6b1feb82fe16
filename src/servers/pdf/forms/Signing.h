// Digital signatures for the viewer's objects: the "Adobe.PPKLite" security
// handler that logs in with a PKCS #12 file, signing a signature field with
// a detached CMS signature over the file's byte ranges, and checking a
// signed field. MuPDF does the PDF side through its signer and verifier
// interfaces; OpenSSL does the cryptography.
#pragma once

#include <memory>
#include <string>

#include "automation/Automation.h"
#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// A signing identity: private key, certificate and the chain that came with
// it in the PKCS #12 file.
struct Credentials;

// What the JavaScript object's security.getHandler("Adobe.PPKLite") hands
// out: login(password, file) opens the identity, logout() forgets it.
class SecurityHandler : public Dispatch {
 public:
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "SecurityHandler"; }
  // The identity logged in with; nullptr before login and after logout.
  std::shared_ptr<const Credentials> credentials() const { return creds_; }

 private:
  Variant login(Frame& f);
  Variant logout(Frame& f);
  Variant isLoggedIn(Frame& f);
  Variant name(Frame& f);
  std::shared_ptr<const Credentials> creds_;
};

// The JavaScript object's "security" object.
ObjectRef makeSecurity();

// Signs the signature field (a terminal field dictionary) with the identity
// and writes the document to target, its own file when target is empty;
// the document then continues from the file written. On any failure the
// document is read again from its file, so no half-made signature stays
// behind, and the failure is raised.
void signField(Doc& d, pdf_obj* field, std::shared_ptr<const Credentials> c, const std::string& target);

// The state of a signature field as SignatureInfo reports it.
struct SignatureState {
  // 0 not signed, 1 signed but not checkable, 2 invalid (the signed bytes
  // changed or the signature does not match them), 3 valid but the signer's
  // certificate is not trusted or the document changed after signing,
  // 4 valid, trusted and unchanged since.
  int status = 0;
  std::string signer;       // the signer's common name
  std::string description;  // the state in words
};
SignatureState signatureState(Doc& d, pdf_obj* field);
// The signatureInfo object of a signature field, a snapshot of its state.
ObjectRef makeSignatureInfo(SignatureState s);

}  // namespace pm::pdf
