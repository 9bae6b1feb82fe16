// The JavaScript object's "security" object, whose "Adobe.PPKLite" handler
// signs signature fields, and the signature information of a signed field.
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/forms/Signing.h"

namespace pm::pdf {
namespace {

Variant security(DocHolder&, Frame&) {
  return Variant(makeSecurity());
}

// An encrypted copy of the document with passwords and permissions: the
// standard security handler, AES-256. The viewer's own scripts have no such
// member; this engine offers it so that a client can protect a document
// without a round through the distiller, which rewrites it.
Variant saveProtected(DocHolder& self, Frame& f) {
  Doc::Protection p{CStr(f["cUserPassword"]), CStr(f["cOwnerPassword"]), CLng(f["nPermissions"])};
  if (p.user.empty() && p.owner.empty()) js::fail("An encrypted copy needs a user or an owner password");
  js::docOf(self).saveProtected(CStr(f["cPath"]), p);
  return {};
}

void describe(Members<DocHolder>& m) {
  m.get("security", {}, &security);
  m.method("saveProtected",
           {P("cPath").path(), P("cUserPassword").opt(std::string()), P("cOwnerPassword").opt(std::string()),
            P("nPermissions").opt(int32_t(-4))},
           &saveProtected);
}

const js::Groups::Register reg("security", &describe);

// The signature information: a snapshot of the field's signature state.
class SignatureInfo : public Dispatch {
 public:
  explicit SignatureInfo(SignatureState s) : s_(std::move(s)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("SignatureInfo");
      Members<SignatureInfo> m(t);
      m.get("status", {}, &SignatureInfo::status);
      m.get("name", {}, &SignatureInfo::name);
      m.get("statusText", {}, &SignatureInfo::statusText);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "SignatureInfo"; }

 private:
  Variant status(Frame&) { return Variant(int32_t(s_.status)); }
  Variant name(Frame&) { return Variant(s_.signer); }
  Variant statusText(Frame&) { return Variant(s_.description); }
  SignatureState s_;
};

}  // namespace

ObjectRef makeSignatureInfo(SignatureState s) {
  return std::make_shared<SignatureInfo>(std::move(s));
}

}  // namespace pm::pdf
