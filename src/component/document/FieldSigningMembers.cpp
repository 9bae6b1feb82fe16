// Signature members of Field: the signed test, the signature information,
// signing through the document's security handler, and the script that
// locks fields once the signature field is signed.
#include "component/document/Field.h"
#include "component/document/ScriptText.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

Variant IsSigned(Field& x, Frame&) {
  ObjectRef info = objectOf(get(x.objField, "SignatureInfo"));
  return Variant(Compare(get(info, "Status"), Variant(int32_t(3))) >= 0);
}

Variant GetSignatureInfo(Field& x, Frame&) {
  return Variant(objectOf(get(x.objField, "SignatureInfo")));
}

// Logged in to the security handler for as long as it lives; the logout
// runs whether or not the signing went through.
class Login {
 public:
  explicit Login(ObjectRef handler) : handler_(std::move(handler)) {}
  ~Login() {
    ignoreErrors([&] { call(handler_, "logout"); });
  }
  Login(const Login&) = delete;
  Login& operator=(const Login&) = delete;

 private:
  ObjectRef handler_;
};

// A signing that did not happen is reported: a wrong password, an
// unreadable certificate or an already signed field each raise with the
// component as source instead of returning as if the document were signed.
Variant SignDocument(Field& x, Frame& f) {
  passErrorsOn({}, [&] {
    ObjectRef handler = objectOf(call(objectOf(get(x.objJSO, "security")), "getHandler", {"Adobe.PPKLite"}));
    if (!CBool(call(handler, "login", {f["strPassword"], f["strCertificateFile"]})))
      raise(kErrComponent, "The certificate file could not be opened with the password given.");
    Login session(handler);
    ObjectRef info = objectOf(get(x.objField, "SignatureInfo"));
    if (!vocab::codeIs(get(info, "Status"), 0)) raise(kErrComponent, "The signature field is already signed.");
    info.reset();
    call(x.objField, "signatureSign", {Variant(handler)});
  });
  return {};
}

// The lock script: one variable per field to lock, then its readonly flag.
// Names go in as escaped string literals, so no name can end the literal.
struct LockScript {
  std::string declarations, locks, both;
  void add(const std::string& counter, const std::string& name, bool together) {
    std::string decl = "var f" + counter + " = this.getField(" + script::Quote(name) + ");\r\n";
    std::string lock = "f" + counter + ".readonly = true;\r\n";
    if (together) {
      both += decl + lock;
    } else {
      declarations += decl;
      locks += lock;
    }
  }
  std::string text() const { return both.empty() ? declarations + locks : both; }
};

Variant SetSignatureFieldLocks(Field& x, Frame& f) {
  const Variant& fields = f["varFields"];
  const Variant& lock = f["lngLock"];
  LockScript s;
  auto lastIndex = [&]() -> int16_t {
    int32_t n = CLng(get(x.objJSO, "NumFields")) - 1;
    if (n > 32767) raise(basic::Overflow);
    return static_cast<int16_t>(n);
  };
  auto nameAt = [&](int16_t i) { return CStr(call(x.objJSO, "GetNthFieldName", {i})); };
  // Every field whose name the test does not exclude, each field's two lines together.
  auto allBut = [&](auto&& excluded) {
    ignoreErrors([&] {
      int16_t last = lastIndex();
      for (int16_t i = 0; i <= last; ++i)
        ignoreErrors([&] {
          std::string name = nameAt(i);
          if (!excluded(name)) s.add(std::to_string(i), name, true);
        });
    });
  };
  bool all = false, include = false, exclude = false;
  ignoreErrors([&] {
    all = vocab::codeIs(lock, 0);
    include = vocab::codeIs(lock, 1);
    exclude = vocab::codeIs(lock, 2);
  });
  if (all) {
    ignoreErrors([&] {
      int16_t last = lastIndex();
      for (int16_t i = 0; i <= last; ++i) ignoreErrors([&] { s.add(std::to_string(i), nameAt(i), false); });
    });
  } else if (!fields.isArray()) {
    if (fields.isString()) {
      if (include)
        s.both = "var f = this.getField(" + script::Quote(fields.asString()) + ");\r\nf.readonly = true;\r\n";
      else if (exclude)
        allBut([&](const std::string& name) { return TextEquals(name, fields.asString()); });
    }
  } else {
    const Array& list = fields.array();
    if (include) {
      ignoreErrors([&] {
        for (int32_t j = list.lbound(1); j <= list.ubound(1); ++j)
          ignoreErrors([&] { s.add(std::to_string(j), CStr(list.at({j})), false); });
      });
    } else if (exclude) {
      allBut([&](const std::string& name) {
        bool hit = false;
        ignoreErrors([&] {
          for (int32_t j = list.lbound(1); j <= list.ubound(1) && !hit; ++j)
            ignoreErrors([&] { hit = TextEquals(CStr(list.at({j})), name); });
        });
        return hit;
      });
    }
  }
  ignoreErrors([&] { call(x.objField, "setAction", {"Format", s.text()}); });
  return {};
}

void describe(Members<Field>& m) {
  m.method("IsSigned", {}, &IsSigned, "Determines whether the signature field is signed or not.")
      .method("SetSignatureFieldLocks", {P("varFields").opt(Variant::nothing()), P("lngLock").opt(Variant(int32_t(0)))},
              &SetSignatureFieldLocks,
              "Set the fields to be locked (set to ReadOnly) when this signature field is signed.")
      .method("GetSignatureInfo", {}, &GetSignatureInfo,
              "Returns a SignatureInfo Object that contains the properties of the signature. The object is a "
              "snapshot taken at the time of the call.")
      .method("SignDocument", {P("strCertificateFile").path(), P("strPassword")}, &SignDocument,
              "Sign the document via this signature field.");
}

const FieldMembers::Register reg("signatures", &describe);

}  // namespace
}  // namespace pm
