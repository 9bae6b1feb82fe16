// Form fields made, changed, reset and signed through Document and Field over
// the real PDF server, on a two-page PDF the test makes, read back from the
// saved files. Signing uses a certificate the test makes with the openssl
// command, checked by poppler's pdfsig as an outside verifier and by the
// component itself, before and after a byte of the signed range changes.
#include "support/PdfRead.h"

namespace pm::test {

class PdfForm : public PdfTest {
 protected:
  DocSpec layout() override { return textPages({{"Order form"}, {"Order form"}}); }
  void SetUp() override {
    PdfTest::SetUp();
    doc = openDocument(path);
  }
  // Saves the whole document to a new file and answers its name.
  std::string saveTo(const std::string& name) {
    std::string out = dir.file(name);
    call(doc, "Save", {Variant(int32_t(1)), Variant(out)});
    return out;
  }
  ObjectRef field(const std::string& name) { return objectOf(call(doc, "GetField", {name})); }
  ObjectRef doc;
};

inline Variant rect(double x0, double y0, double x1, double y1) {
  return V({x0, y0, x1, y1});
}

// Field flag bits of the saved files.
constexpr int kReadOnly = 1, kRequired = 2, kMultiSelect = 1 << 21, kEdit = 1 << 18;

int flags(const std::string& file, const std::string& name) {
  std::string ff = fieldEntry(file, name, "Ff");
  return ff.empty() ? 0 : std::stoi(ff);
}

TEST_F(PdfForm, EverySevenKindsWithTheirProperties) {
  call(doc, "CreateTextField",
       {"total", int32_t(1), rect(72, 700, 272, 680), Named("lngAlignment", int32_t(1)),
        Named("intCharLimit", Variant(int16_t(5))), Named("blnRequired", true),
        Named("varFillColor", V({"RGB", 1.0, 0.0, 0.0})), Named("lngFont", int32_t(4)),
        Named("intTextSize", Variant(int16_t(12))), Named("strToolTipText", "Total amount"),
        Named("lngTrigger", int32_t(6)), Named("strAction", "AFNumber_Keystroke(2,0,0,0,\"\",true);")});
  call(doc, "CreateCheckBoxField",
       {"agree", int32_t(1), rect(72, 650, 90, 632), V({"Yes"}), Named("lngGlyphStyle", int32_t(1)),
        Named("blnReadOnly", true)});
  call(doc, "CreateRadioButtonField", {"size", int32_t(2), rect(72, 600, 90, 582), V({"Large"})});
  call(doc, "CreateComboBoxField",
       {"city", int32_t(1), rect(72, 560, 272, 540), V({"Berlin", "Köln", "Paris"}),
        Named("varExportValues", V({"BER", "CGN"})), Named("blnEditable", false)});
  call(doc, "CreateListBoxField",
       {"pick", int32_t(1), rect(72, 520, 272, 460), V({"One", "Two"}), Named("blnMultipleSelection", true)});
  call(doc, "CreateButtonField",
       {"go", int32_t(2), rect(300, 700, 400, 680), "Go", Named("lngTrigger", int32_t(0)),
        Named("strAction", "app.alert('go');")});
  call(doc, "CreateSignatureField", {"sig", int32_t(2), rect(300, 600, 500, 550)});
  EXPECT_EQ(get(doc, "NumFields"), Variant(int32_t(7)));
  std::string out = saveTo("kinds.pdf");

  EXPECT_EQ(fieldNames(out), (std::vector<std::string>{"total", "agree", "size", "city", "pick", "go", "sig"}));
  EXPECT_EQ(fieldEntries(out, "total", {"FT", "MaxLen", "Q", "MK/BG", "DA", "TU", "AA/K/JS"}),
            "FT=/Tx MaxLen=5 Q=1 MK/BG=[1 0 0] DA=(/Helv 12 Tf 0 g) TU=(Total amount) "
            "AA/K/JS=(AFNumber_Keystroke\\(2,0,0,0,\"\",true\\);)");
  EXPECT_EQ(fieldEntries(out, "agree", {"FT", "MK/CA"}) + " " + fieldEntries(out, "city", {"FT", "Opt"}),
            "FT=/Btn MK/CA=(8) FT=/Ch Opt=[[(BER)(Berlin)][(CGN)<FEFF004B00F6006C006E>](Paris)]");
  EXPECT_EQ(fieldEntries(out, "go", {"MK/CA", "AA/U/JS"}) + " " + fieldEntries(out, "sig", {"FT"}),
            "MK/CA=(Go) AA/U/JS=(app.alert\\('go'\\);) FT=/Sig");
  EXPECT_THAT(fieldEntry(out, "agree", "AP/N") + fieldEntry(out, "size", "AP/N") + fieldEntry(out, "pick", "Opt"),
              HoldsAll({"/Yes", "/Large", "One"}));
  EXPECT_TRUE(flags(out, "total") & kRequired);
  EXPECT_TRUE(flags(out, "agree") & kReadOnly);
  EXPECT_TRUE(flags(out, "pick") & kMultiSelect);
  EXPECT_TRUE(flags(out, "city") & (1 << 17)) << "a combo box";
  EXPECT_FALSE(flags(out, "city") & kEdit) << "not editable";
}

TEST_F(PdfForm, FieldSetsReadOnlyRequiredAndReset) {
  for (const char* n : {"Straße", "größe", "Name", "name2"})
    call(doc, "CreateTextField", {n, int32_t(1), rect(72, 700, 272, 680)});
  call(doc, "SetReadOnly", {true});
  call(doc, "SetRequired", {true, V({"GRÖßE", "NAME"}), int32_t(2)});
  call(doc, "SetRequired", {true, "name2", int32_t(1)});
  let(field("Straße"), "Value", "a");
  let(field("größe"), "Value", "b");
  call(doc, "ResetFormFields", {"Straße"});
  std::string out = saveTo("sets.pdf");
  for (const char* n : {"Straße", "größe", "Name", "name2"}) EXPECT_TRUE(flags(out, n) & kReadOnly) << n;
  EXPECT_TRUE(flags(out, "Straße") & kRequired);
  EXPECT_FALSE(flags(out, "größe") & kRequired) << "excluded without regard to case";
  EXPECT_FALSE(flags(out, "Name") & kRequired);
  EXPECT_TRUE(flags(out, "name2") & kRequired);
  EXPECT_EQ(fieldEntry(out, "Straße", "V"), "") << "the one field named was reset";
  EXPECT_EQ(fieldEntry(out, "größe", "V"), "(b)");

  call(doc, "ResetFormFields");
  out = saveTo("reset.pdf");
  EXPECT_EQ(fieldEntry(out, "größe", "V"), "") << "no name: every field";
}

TEST_F(PdfForm, FieldPropertiesAcrossSessions) {
  call(doc, "CreateTextField", {"amount", int32_t(2), rect(72, 700, 272, 680)});
  ObjectRef f = field("amount");
  let(f, "Value", Variant(int32_t(42)));
  let(f, "TextSize", Variant(int16_t(14)));
  let(f, "UserName", "Amount due");
  let(f, "Alignment", "right");
  EXPECT_EQ(get(f, "Name"), Variant("amount"));
  EXPECT_EQ(get(f, "FieldType"), Variant("text"));
  EXPECT_EQ(get(f, "FieldPages"), Variant(int32_t(1)));
  std::string out = saveTo("props.pdf");
  EXPECT_EQ(fieldEntry(out, "amount", "V"), "(42)");
  EXPECT_EQ(fieldEntry(out, "amount", "Q"), "2");
  EXPECT_THAT(fieldEntry(out, "amount", "DA"), HasSubstr("14 Tf"));
  f.reset();
  doc.reset();

  doc = openDocument(out);
  ObjectRef again = field("amount");
  EXPECT_EQ(get(again, "ValueAsString"), Variant("42"));
  EXPECT_EQ(get(again, "UserName"), Variant("Amount due"));
  EXPECT_EQ(get(again, "Alignment"), Variant("right"));
}

TEST_F(PdfForm, ItemsAndBoxes) {
  call(doc, "CreateListBoxField", {"list", int32_t(1), rect(72, 700, 272, 600), V({"A", "B"})});
  call(doc, "CreateCheckBoxField", {"box", int32_t(1), rect(300, 700, 318, 682), V({"On"})});
  call(doc, "CreateRadioButtonField", {"size", int32_t(1), rect(300, 650, 318, 632), V({"Large"})});
  ObjectRef l = field("list");
  call(l, "InsertItem", {"C", "c", Variant(int16_t(-1))});
  EXPECT_EQ(get(l, "NumItems"), Variant(int16_t(3)));
  EXPECT_EQ(call(l, "GetItem", {Variant(int16_t(2)), true}), Variant("c"));
  EXPECT_EQ(call(l, "GetItem", {Variant(int16_t(0))}), Variant("A"));
  call(l, "DeleteItem", {Variant(int16_t(0))});
  EXPECT_EQ(get(l, "NumItems"), Variant(int16_t(2)));
  ObjectRef b = field("box");
  EXPECT_EQ(call(b, "IsBoxChecked", {Variant(int16_t(0))}), Variant(false));
  call(b, "SetCheckBox", {Variant(int16_t(0)), true});
  EXPECT_EQ(call(b, "IsBoxChecked", {Variant(int16_t(0))}), Variant(true));
  ObjectRef r = field("size");
  call(r, "SetCheckBox", {Variant(int16_t(0)), true});
  EXPECT_EQ(call(r, "IsBoxChecked", {Variant(int16_t(0))}), Variant(true));
  r.reset();
  std::string out = saveTo("items.pdf");
  EXPECT_EQ(fieldEntry(out, "size", "V"), "/Large");
  EXPECT_THAT(fieldEntry(out, "list", "Opt"), ::testing::AllOf(HasSubstr("[(c)(C)]"), Not(HasSubstr("(A)"))));
  EXPECT_EQ(fieldEntry(out, "box", "V"), "/On");
}

// Values in any script are drawn into the fields (their form font has no
// Cyrillic, Greek or CJK), show in both engines, and stay what flattening
// in a later session burns into the page.
TEST_F(PdfForm, FilledValuesShowInBothEnginesAndSurviveFlattening) {
  call(doc, "CreateTextField", {"name", int32_t(1), rect(72, 700, 372, 680)});
  call(doc, "CreateTextField",
       {"notes", int32_t(1), rect(72, 670, 372, 600), Named("blnMultiLine", true), Named("lngAlignment", int32_t(2))});
  call(doc, "CreateTextField",
       {"code", int32_t(1), rect(72, 590, 272, 570), Named("intCharLimit", Variant(int16_t(6))),
        Named("blnComb", true)});
  call(doc, "CreateComboBoxField", {"city", int32_t(1), rect(72, 560, 272, 540), V({"Berlin", "Москва", "東京"})});
  call(doc, "CreateListBoxField", {"pick", int32_t(1), rect(300, 560, 472, 500), V({"Ένα", "Δύο"})});
  call(doc, "CreateCheckBoxField", {"agree", int32_t(1), rect(72, 520, 90, 502), V({"Yes"})});
  call(doc, "CreateRadioButtonField", {"size", int32_t(1), rect(100, 520, 118, 502), V({"Large"})});
  const std::tuple<const char*, const char*, std::vector<std::string>> rows[] = {
      {"name", "Иван Петров", {"Иван Петров"}},
      {"notes", "Ελληνικά γράμματα και 中文 Zeilen", {"Ελληνικά", "中文"}},
      {"code", "AB12€", {"A", "B", "€"}},
      {"city", "東京", {"東京"}},
      {"pick", "Δύο", {"Δύο", "Ένα"}},
      {"agree", "Yes", {}},
      {"size", "Large", {}},
  };
  for (const auto& [name, value, shown] : rows) let(field(name), "Value", value);
  std::string filled = saveTo("filled.pdf");
  expectClean(filled);
  for (const auto& [name, value, shown] : rows) expectShown(filled, 1, shown);
  EXPECT_EQ(fieldEntry(filled, "agree", "AS"), "/Yes");
  EXPECT_EQ(fieldEntry(filled, "size", "AS"), "/Large");
  EXPECT_THAT(at(filled, "Root/AcroForm/NeedAppearances"), Not(HasSubstr("true")))
      << "viewers must not draw over the values in the form's font";
  doc.reset();

  // A later session flattens what the first one filled in.
  doc = openDocument(filled);
  call(doc, "FlattenPages");
  std::string flat = saveTo("flat.pdf");
  expectClean(flat);
  EXPECT_EQ(fieldNames(flat).size(), 0u);
  for (const auto& [name, value, shown] : rows) expectShown(flat, 1, shown);
}

// A check box and a radio button added to a form made elsewhere, whose
// resources lack the ZapfDingbats font their glyphs are drawn in.
TEST_F(PdfForm, NewButtonsOnAFormWithoutTheirFontDrawTheirGlyphs) {
  call(doc, "CreateTextField", {"name", int32_t(1), rect(72, 700, 372, 680)});
  std::string made = saveTo("made.pdf");
  doc.reset();
  std::string bytes = readFile(made);
  for (size_t at = bytes.find("/ZaDb"); at != std::string::npos; at = bytes.find("/ZaDb", at)) bytes[at + 4] = 'x';
  writeFile(made, bytes);
  ASSERT_EQ(at(made, "Root/AcroForm/DR/Font/ZaDb"), "");

  doc = openDocument(made);
  call(doc, "CreateCheckBoxField", {"agree", int32_t(1), rect(72, 650, 90, 632), V({"Yes"})});
  call(doc, "CreateRadioButtonField", {"size", int32_t(1), rect(100, 650, 118, 632), V({"Large"})});
  let(field("agree"), "Value", "Yes");
  let(field("size"), "Value", "Large");
  std::string out = saveTo("buttons.pdf");
  EXPECT_EQ(at(out, "Root/AcroForm/DR/Font/ZaDb/BaseFont"), "/ZapfDingbats");
  EXPECT_EQ(fieldEntry(out, "agree", "AP/N/Yes/Resources/Font/ZaDb/BaseFont"), "/ZapfDingbats");
  auto [poppler, mupdf] = shownText(out);
  for (const std::string* t : {&poppler, &mupdf}) {
    EXPECT_THAT(*t, Not(HasSubstr("4"))) << "the check mark, not a digit";
    EXPECT_THAT(*t, Not(HasSubstr("l"))) << "the radio's dot, not a letter";
  }
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
        run({"sh", "-c",
             "cd '" + certs->path() +
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
                 " && openssl pkcs12 -export -legacy -inkey signer.key -in signer.pem -out legacy.p12 -passout "
                 "pass:old 2>&1"},
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
  const std::tuple<std::string, std::string, std::string> bad[] = {
      {p12, "wrong", "password"}, {dir.file("none.p12"), "secret", "Cannot read"}, {path, "secret", "not a PKCS #12"}};
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
  EXPECT_THAT(CStr(get(info, "statusText")), HasSubstr("changed after signing"));
  EXPECT_THAT(pdfsig(path), HasSubstr("Signature is Valid"));
}

TEST_F(Signing, AnIdentityExportedByAnOlderToolSigns) {
  ObjectRef sig = field("sig");
  call(sig, "SignDocument", {certs->file("legacy.p12"), "old"});
  EXPECT_EQ(call(sig, "IsSigned"), Variant(true));
  EXPECT_THAT(pdfsig(path), HasSubstr("Signature is Valid"));
}

}  // namespace pm::test
