// Signing a signature field with a certificate the test makes with the
// openssl command, checked by poppler's pdfsig as an outside verifier and
// by the component itself, before and after a byte of the signed range
// changes.
#include "Session.h"

namespace pm::test {
// A shell command's exit status, its output and errors in *out.
int sh(const std::string& command, std::string* out = nullptr) {
  return run({"sh", "-c", command + " 2>&1"}, out);
}
// What poppler's pdfsig reports about a file.
std::string pdfsig(const std::string& file) {
  std::string report;
  run({"pdfsig", file}, &report);
  return report;
}

class Signing : public PdfForm {
 protected:
  // One identity for every test: making a key is the slow part.
  static void SetUpTestSuite() {
    certs = new TempDir();
    std::string log;
    // key NAME SUBJECT [options]: a new P-256 key in NAME.key and a request
    // for it, or with -x509 a self-signed certificate, in NAME.pem.
    made =
        sh("cd '" + certs->path() +
               "' && key() { n=$1 subj=$2; shift 2; openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
               "-nodes -keyout $n.key -subj \"$subj\" -days 2 \"$@\"; }"
               " && key signer '/CN=Pressmark Test/O=Pressmark' -x509 -out signer.pem"
               " && openssl pkcs12 -export -inkey signer.key -in signer.pem -out signer.p12 -passout pass:secret"
               // A certificate authority of the test's own and an identity it issued.
               " && key ca '/CN=Pressmark Test CA' -x509 -out ca.pem && key leaf '/CN=Pressmark Clerk' -out leaf.csr"
               " && openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out leaf.pem"
               " && openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile ca.pem -out clerk.p12"
               " -passout pass:clerk"
               // The same identity as older tools export it (RC2 encryption).
               " && openssl pkcs12 -export -legacy -inkey signer.key -in signer.pem -out legacy.p12 -passout pass:old",
           &log);
    if (made != 0) std::fprintf(stderr, "%s\n", log.c_str());
  }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void SetUp() override {
    PdfForm::SetUp();
    ASSERT_EQ(made, 0) << "openssl could not make the test's certificate";
    p12 = certs->file("signer.p12");
    call(doc, "CreateTextField", {"name", int32_t(1), rect(72, 700, 272, 680)});
    call(doc, "CreateSignatureField", {"sig", int32_t(1), rect(72, 600, 272, 540)});
    let(field("name"), "Value", "Ada");
    call(doc, "Save", {Variant(int32_t(1))});
  }
  static inline TempDir* certs = nullptr;
  static inline int made = -1;
  std::string p12;
};

TEST_F(Signing, SignedFileVerifiesAndATamperedOneDoesNot) {
  ObjectRef sig = field("sig");
  EXPECT_EQ(call(sig, "IsSigned"), Variant(false));

  // A signing that cannot happen says why and leaves the file as it was.
  std::string before = readFile(path);
  const std::tuple<std::string, std::string, std::string> bad[] = {{p12, "wrong", "password"},
                                                                   {dir.file("none.p12"), "secret", "Cannot read"},
                                                                   {dir.file("form.pdf"), "secret", "not a PKCS #12"}};
  for (const auto& [file, password, says] : bad) {
    Raised r = raised([&] { call(sig, "SignDocument", {file, password}); });
    EXPECT_EQ(r.source, "Pressmark");
    EXPECT_THAT(r.description, HasSubstr(says));
  }
  EXPECT_EQ(readFile(path), before);
  EXPECT_EQ(call(sig, "IsSigned"), Variant(false));

  call(sig, "SignDocument", {p12, "secret"});
  std::string report = pdfsig(path);
  EXPECT_THAT(report, HoldsAll({"Signature is Valid", "Pressmark Test"}));
  EXPECT_EQ(call(sig, "IsSigned"), Variant(true));
  ObjectRef info = objectOf(call(sig, "GetSignatureInfo"));
  EXPECT_EQ(get(info, "Status"), Variant(int32_t(3))) << "valid, the test's own certificate is not trusted";
  EXPECT_EQ(get(info, "Name"), Variant("Pressmark Test"));
  EXPECT_RAISES("already signed", call(sig, "SignDocument", {p12, "secret"}));
  info.reset();
  sig.reset();
  doc.reset();

  // A second session sees the signature; the filled value is in the file.
  doc = openDocument(path);
  EXPECT_EQ(call(field("sig"), "IsSigned"), Variant(true));
  EXPECT_EQ(get(field("name"), "Value"), Variant("Ada"));
  doc.reset();

  // One byte of the signed range changes: the binary comment after the header.
  std::string bytes = readFile(path);
  size_t at = bytes.find("\n%") + 2;
  ASSERT_LT(at, 20u);
  bytes[at] = static_cast<char>(bytes[at] ^ 1);
  std::string tampered = dir.file("tampered.pdf");
  writeFile(tampered, bytes);
  report = pdfsig(tampered);
  EXPECT_THAT(report, Not(HasSubstr("Signature is Valid")));
  EXPECT_THAT(report, ::testing::AnyOf(HasSubstr("Digest Mismatch"), HasSubstr("Invalid")));
  doc = openDocument(tampered);
  ObjectRef t = field("sig");
  EXPECT_EQ(call(t, "IsSigned"), Variant(false));
  EXPECT_EQ(get(objectOf(call(t, "GetSignatureInfo")), "Status"), Variant(int32_t(2)));
}

TEST_F(Signing, ATrustedIssuerMakesTheSignatureFullyValid) {
  ObjectRef sig = field("sig");
  call(sig, "SignDocument", {certs->file("clerk.p12"), "clerk"});
  EXPECT_EQ(get(objectOf(call(sig, "GetSignatureInfo")), "Status"), Variant(int32_t(3))) << "issuer not trusted";
  // OpenSSL's default trust store follows SSL_CERT_FILE.
  test::ScopedEnv trust("SSL_CERT_FILE", certs->file("ca.pem"));
  ObjectRef info = objectOf(call(sig, "GetSignatureInfo"));
  EXPECT_EQ(get(info, "Status"), Variant(int32_t(4))) << CStr(get(info, "statusText"));
  EXPECT_EQ(get(info, "Name"), Variant("Pressmark Clerk"));
  EXPECT_EQ(call(sig, "IsSigned"), Variant(true));
  // A later save, even of the entire file, appends and keeps the signature.
  let(field("name"), "Value", "Bob");
  call(doc, "Save", {Variant(int32_t(1))});
  info = objectOf(call(sig, "GetSignatureInfo"));
  EXPECT_EQ(get(info, "Status"), Variant(int32_t(3))) << CStr(get(info, "statusText"));
  EXPECT_THAT(CStr(get(info, HasSubstr("statusText")), "changed after signing"));
  EXPECT_THAT(pdfsig(path), HasSubstr("Signature is Valid"));
}

TEST_F(Signing, AnIdentityExportedByAnOlderToolSigns) {
  ObjectRef sig = field("sig");
  call(sig, "SignDocument", {certs->file("legacy.p12"), "old"});
  EXPECT_EQ(call(sig, "IsSigned"), Variant(true));
  EXPECT_THAT(pdfsig(path), HasSubstr("Signature is Valid"));
}

TEST_F(Signing, LockScriptOfTheSignatureField) {
  call(field("sig"), "SetSignatureFieldLocks", {"it's", int32_t(1)});
  call(field("sig"), "SetSignatureFieldLocks");
  std::string out = saveTo("locks.pdf");
  std::string js = fieldEntry(out, "sig", "AA/F/JS");
  EXPECT_THAT(js, HoldsAll({"(var f0 = this.getField\\(\"name\"\\);\\r\\nvar f1", "f1.readonly = true;"}));
}

}  // namespace pm::test
