#include "servers/pdf/forms/Signing.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include "servers/pdf/forms/Form.h"
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/engine/PdfObj.h"

namespace pm::pdf {

// ---- OpenSSL owners ----
namespace {
struct FreeKey {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct FreeCert {
  void operator()(X509* p) const { X509_free(p); }
};
struct FreeCerts {
  void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};
struct FreeP12 {
  void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct FreeBio {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct FreeCms {
  void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
};
struct FreeStore {
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
};
struct FreeStoreCtx {
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
};
struct CloseFile {
  void operator()(FILE* f) const { std::fclose(f); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, FreeKey>;
using CertPtr = std::unique_ptr<X509, FreeCert>;
using CertsPtr = std::unique_ptr<STACK_OF(X509), FreeCerts>;
using P12Ptr = std::unique_ptr<PKCS12, FreeP12>;
using BioPtr = std::unique_ptr<BIO, FreeBio>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, FreeCms>;
using StorePtr = std::unique_ptr<X509_STORE, FreeStore>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, FreeStoreCtx>;
using FilePtr = std::unique_ptr<FILE, CloseFile>;

[[noreturn]] void failSigning(const std::string& what) {
  ERR_clear_error();
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, what);
}

std::string opensslReason() {
  unsigned long e = ERR_peek_last_error();
  char buf[256] = {0};
  if (e) ERR_error_string_n(e, buf, sizeof buf);
  ERR_clear_error();
  return buf;
}

std::string entry(X509_NAME* n, int nid) {
  int i = X509_NAME_get_index_by_NID(n, nid, -1);
  if (i < 0) return {};
  ASN1_STRING* s = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(n, i));
  unsigned char* utf8 = nullptr;
  int len = ASN1_STRING_to_UTF8(&utf8, s);
  if (len < 0) return {};
  std::string out(reinterpret_cast<char*>(utf8), static_cast<size_t>(len));
  OPENSSL_free(utf8);
  return out;
}

}  // namespace

struct Credentials {
  KeyPtr key;
  CertPtr cert;
  CertsPtr chain;
  size_t signatureSpace = 0;  // bytes reserved in the file for the signature
};

namespace {

// A detached CMS signature over data, DER encoded.
std::vector<unsigned char> cmsSign(const Credentials& c, const std::string& data) {
  BioPtr in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  if (!in) failSigning("Signing: out of memory");
  CmsPtr cms(CMS_sign(c.cert.get(), c.key.get(), c.chain.get(), in.get(), CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP));
  if (!cms) failSigning("Signing failed: " + opensslReason());
  int len = i2d_CMS_ContentInfo(cms.get(), nullptr);
  if (len <= 0) failSigning("Signing failed: " + opensslReason());
  std::vector<unsigned char> out(static_cast<size_t>(len));
  unsigned char* p = out.data();
  i2d_CMS_ContentInfo(cms.get(), &p);
  return out;
}

std::shared_ptr<const Credentials> loadPkcs12(const std::string& file, const std::string& password) {
  errno = 0;
  FilePtr f(std::fopen(file.c_str(), "rb"));
  if (!f) failSigning("Cannot read the certificate file " + file + ": " + std::strerror(errno));
  P12Ptr p12(d2i_PKCS12_fp(f.get(), nullptr));
  if (!p12) failSigning("The file " + file + " is not a PKCS #12 certificate file");
  if (!PKCS12_verify_mac(p12.get(), password.c_str(), static_cast<int>(password.size())))
    failSigning("The password does not open the certificate file " + file);
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (!PKCS12_parse(p12.get(), password.c_str(), &key, &cert, &chain)) {
    // Files exported by older tools encrypt with RC2, which OpenSSL keeps in
    // its legacy provider; the default one stays loaded beside it. Loaded
    // once, when first needed, and unloaded at exit before OpenSSL's own
    // clean-up, so none of it outlives the process's other objects.
    struct LegacyProvider {
      OSSL_PROVIDER* provider = OSSL_PROVIDER_try_load(nullptr, "legacy", 1);
      ~LegacyProvider() {
        if (provider) OSSL_PROVIDER_unload(provider);
      }
    };
    ERR_clear_error();
    static const LegacyProvider legacy;
    if (!legacy.provider || !PKCS12_parse(p12.get(), password.c_str(), &key, &cert, &chain))
      failSigning("Cannot read the certificate file " + file + ": " + opensslReason());
  }
  auto c = std::make_shared<Credentials>();
  c->key.reset(key);
  c->cert.reset(cert);
  c->chain.reset(chain);
  if (!c->key || !c->cert) failSigning("The certificate file " + file + " holds no private key and certificate");
  if (X509_check_private_key(c->cert.get(), c->key.get()) != 1)
    failSigning("The private key of " + file + " does not belong to its certificate");
  // The signature's size depends on the key and the chain, not on the data;
  // what is left over is written as zeros.
  c->signatureSpace = cmsSign(*c, std::string()).size() + 1024;
  return c;
}

// ---- MuPDF's signer: the identity behind its callbacks ----
// MuPDF calls these from inside its own error handling. They never let a
// C++ exception out: failures become a return value, and the message is
// kept for the error the signing raises afterwards.
struct SignerState {
  int refs = 1;
  std::shared_ptr<const Credentials> creds;
  std::string failure;
};
// Standard layout, so MuPDF's pointer to the first member is this object's.
struct Signer {
  pdf_pkcs7_signer base;
  SignerState* state;
};
static_assert(std::is_standard_layout_v<Signer>);

SignerState* self(pdf_pkcs7_signer* s) {
  return reinterpret_cast<Signer*>(s)->state;
}

// The bytes of a MuPDF stream; a read failure becomes an exception here,
// outside MuPDF's frames.
std::string readAll(fz_stream* in) {
  fz_buffer* b = nullptr;
  mu::guard("Reading the signed bytes", [&](fz_context* c) { b = fz_read_all(c, in, 0); });
  mu::BufferPtr owner(b);
  unsigned char* data = nullptr;
  size_t n = fz_buffer_storage(mu::ctx(), b, &data);
  return std::string(reinterpret_cast<char*>(data), n);
}

pdf_pkcs7_signer* keepSigner(fz_context*, pdf_pkcs7_signer* s) {
  ++self(s)->refs;
  return s;
}

void dropSigner(fz_context*, pdf_pkcs7_signer* s) {
  if (!s || --self(s)->refs > 0) return;
  delete self(s);
  delete reinterpret_cast<Signer*>(s);
}

size_t maxDigestSize(fz_context*, pdf_pkcs7_signer* s) {
  return self(s)->creds->signatureSpace;
}

int createDigest(fz_context*, pdf_pkcs7_signer* s, fz_stream* in, unsigned char* digest, size_t len) noexcept {
  SignerState* me = self(s);
  try {
    std::vector<unsigned char> sig = cmsSign(*me->creds, readAll(in));
    if (sig.size() > len) {
      me->failure = "The signature does not fit the space reserved for it";
      return 0;
    }
    std::memcpy(digest, sig.data(), sig.size());
    return static_cast<int>(sig.size());
  } catch (const AutomationError& e) {
    me->failure = e.description();
  } catch (...) {
    me->failure = "Signing failed";
  }
  return 0;
}

// The signer's name parts, gathered before MuPDF allocates its copies.
struct NameParts {
  char cn[256], o[256], ou[256], email[256], c[64];
};

void nameParts(X509* cert, NameParts& p) noexcept {
  std::memset(&p, 0, sizeof p);
  try {
    X509_NAME* n = X509_get_subject_name(cert);
    auto put = [&](char* out, size_t size, int nid) { std::snprintf(out, size, "%s", entry(n, nid).c_str()); };
    put(p.cn, sizeof p.cn, NID_commonName);
    put(p.o, sizeof p.o, NID_organizationName);
    put(p.ou, sizeof p.ou, NID_organizationalUnitName);
    put(p.email, sizeof p.email, NID_pkcs9_emailAddress);
    put(p.c, sizeof p.c, NID_countryName);
  } catch (...) {
  }
}

// MuPDF owns the name it is given and frees it with its own allocator. An
// allocation failure here unwinds through MuPDF's handler, which is why
// this frame holds nothing with a destructor.
pdf_pkcs7_distinguished_name* mupdfName(fz_context* c, const NameParts& p) {
  pdf_pkcs7_distinguished_name* dn = fz_malloc_struct(c, pdf_pkcs7_distinguished_name);
  dn->cn = p.cn[0] ? fz_strdup(c, p.cn) : nullptr;
  dn->o = p.o[0] ? fz_strdup(c, p.o) : nullptr;
  dn->ou = p.ou[0] ? fz_strdup(c, p.ou) : nullptr;
  dn->email = p.email[0] ? fz_strdup(c, p.email) : nullptr;
  dn->c = p.c[0] ? fz_strdup(c, p.c) : nullptr;
  return dn;
}

pdf_pkcs7_distinguished_name* signingName(fz_context* c, pdf_pkcs7_signer* s) {
  NameParts p;
  nameParts(self(s)->creds->cert.get(), p);
  return mupdfName(c, p);
}

// ---- MuPDF's verifier ----
CmsPtr readCms(const unsigned char* sig, size_t len) {
  const unsigned char* p = sig;
  return CmsPtr(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(len)));
}

pdf_signature_error checkDigest(fz_context*, pdf_pkcs7_verifier*, fz_stream* in, unsigned char* sig,
                                size_t len) noexcept {
  try {
    std::string data = readAll(in);
    // The signature's DER length is shorter than the zero-padded space.
    CmsPtr cms = readCms(sig, len);
    if (!cms) return PDF_SIGNATURE_ERROR_NO_SIGNATURES;
    BioPtr content(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    int ok = CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY);
    ERR_clear_error();
    return ok == 1 ? PDF_SIGNATURE_ERROR_OKAY : PDF_SIGNATURE_ERROR_DIGEST_FAILURE;
  } catch (...) {
    ERR_clear_error();
    return PDF_SIGNATURE_ERROR_UNKNOWN;
  }
}

// The certificate of the (first) signer of a CMS signature.
X509* signerCert(CMS_ContentInfo* cms, STACK_OF(X509) * certs) {
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
  if (!infos || sk_CMS_SignerInfo_num(infos) < 1) return nullptr;
  CMS_SignerInfo* si = sk_CMS_SignerInfo_value(infos, 0);
  for (int i = 0; i < sk_X509_num(certs); ++i)
    if (CMS_SignerInfo_cert_cmp(si, sk_X509_value(certs, i)) == 0) return sk_X509_value(certs, i);
  return nullptr;
}

pdf_signature_error checkCertificate(fz_context*, pdf_pkcs7_verifier*, unsigned char* sig, size_t len) noexcept {
  try {
    CmsPtr cms = readCms(sig, len);
    if (!cms) return PDF_SIGNATURE_ERROR_NO_SIGNATURES;
    CertsPtr certs(CMS_get1_certs(cms.get()));
    X509* cert = certs ? signerCert(cms.get(), certs.get()) : nullptr;
    if (!cert) return PDF_SIGNATURE_ERROR_NO_CERTIFICATE;
    StorePtr store(X509_STORE_new());
    X509_STORE_set_default_paths(store.get());
    StoreCtxPtr vc(X509_STORE_CTX_new());
    if (!store || !vc || X509_STORE_CTX_init(vc.get(), store.get(), cert, certs.get()) != 1)
      return PDF_SIGNATURE_ERROR_UNKNOWN;
    int ok = X509_verify_cert(vc.get());
    int err = X509_STORE_CTX_get_error(vc.get());
    ERR_clear_error();
    if (ok == 1) return PDF_SIGNATURE_ERROR_OKAY;
    if (err == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT) return PDF_SIGNATURE_ERROR_SELF_SIGNED;
    if (err == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN) return PDF_SIGNATURE_ERROR_SELF_SIGNED_IN_CHAIN;
    return PDF_SIGNATURE_ERROR_NOT_TRUSTED;
  } catch (...) {
    ERR_clear_error();
    return PDF_SIGNATURE_ERROR_UNKNOWN;
  }
}

void signatoryParts(const unsigned char* sig, size_t len, NameParts& p) noexcept {
  std::memset(&p, 0, sizeof p);
  try {
    CmsPtr cms = readCms(sig, len);
    if (!cms) return;
    CertsPtr certs(CMS_get1_certs(cms.get()));
    X509* cert = certs ? signerCert(cms.get(), certs.get()) : nullptr;
    if (cert) nameParts(cert, p);
  } catch (...) {
  }
  ERR_clear_error();
}

pdf_pkcs7_distinguished_name* signatory(fz_context* c, pdf_pkcs7_verifier*, unsigned char* sig, size_t len) {
  NameParts p;
  signatoryParts(sig, len, p);
  return mupdfName(c, p);
}

void dropVerifier(fz_context*, pdf_pkcs7_verifier*) {}

pdf_pkcs7_verifier verifier() {
  pdf_pkcs7_verifier v{};
  v.drop = dropVerifier;
  v.check_certificate = checkCertificate;
  v.check_digest = checkDigest;
  v.get_signatory = signatory;
  return v;
}

}  // namespace

// ---- Signing ----
void signField(Doc& d, pdf_obj* field, std::shared_ptr<const Credentials> c, const std::string& target) {
  if (!c) js::fail("Log in to the security handler before signing");
  std::string to = target.empty() ? d.path() : target;
  if (to.empty()) js::fail("Save the document to a file before signing it");
  pdf_document* doc = d.pdf();
  std::vector<pdf_obj*> widgets = form::widgets(field);
  if (widgets.empty()) js::fail("The signature field has no widget on a page");
  pdf_obj* wobj = widgets.front();
  int page = po::pageNumberOf(doc, po::get(wobj, PDF_NAME(P)));
  if (page < 0) js::fail("The signature field's widget is on no page");
  mu::PagePtr pg = d.loadPage(page);
  pdf_page* pp = pdf_page_from_fz_page(mu::ctx(), pg.get());
  pdf_annot* widget = nullptr;
  mu::guard("Finding the signature field's widget", [&](fz_context* ctx) {
    // The page holds the widget resolved; the field may hold a reference.
    pdf_obj* want = pdf_resolve_indirect(ctx, wobj);
    for (pdf_annot* w = pdf_first_widget(ctx, pp); w; w = pdf_next_widget(ctx, w)) {
      pdf_obj* a = pdf_annot_obj(ctx, w);
      if (pdf_resolve_indirect(ctx, a) == want ||
          (pdf_to_num(ctx, a) > 0 && pdf_to_num(ctx, a) == pdf_to_num(ctx, wobj)))
        widget = w;
    }
  });
  if (!widget) js::fail("The signature field's widget is not on its page");

  auto state = std::make_unique<SignerState>();
  state->creds = std::move(c);
  auto* s = new Signer{};
  s->state = state.release();
  s->base.keep = keepSigner;
  s->base.drop = dropSigner;
  s->base.get_signing_name = signingName;
  s->base.max_digest_size = maxDigestSize;
  s->base.create_digest = createDigest;
  // MuPDF keeps its own reference until the signature is written.
  struct Release {
    Signer* s;
    ~Release() { dropSigner(nullptr, &s->base); }
  };
  Release mine{s};
  std::string failure;
  try {
    pdf_pkcs7_signer* sp = &s->base;
    mu::guard("Signing the field", [&](fz_context* ctx) {
      pdf_sign_signature(ctx, widget, sp, PDF_SIGNATURE_DEFAULT_APPEARANCE & ~PDF_SIGNATURE_SHOW_LOGO, nullptr, nullptr,
                         nullptr);
    });
    pg.reset();
    d.changed();
    d.save(to, false, false, false, true);
    return;
  } catch (const AutomationError& e) {
    failure = s->state->failure.empty() ? e.description() : "Signing failed: " + s->state->failure;
  }
  // The half-made signature goes with the document read again from its file.
  pg.reset();
  ignoreErrors([&] { d.revert(); });
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, failure);
}

SignatureState signatureState(Doc& d, pdf_obj* field) {
  SignatureState st;
  pdf_document* doc = d.pdf();
  int isSigned = 0;
  mu::guard("Reading the signature", [&](fz_context* c) { isSigned = pdf_signature_is_signed(c, doc, field); });
  if (!isSigned) {
    st.description = "Not signed";
    return st;
  }
  pdf_pkcs7_verifier v = verifier();
  pdf_signature_error digest = PDF_SIGNATURE_ERROR_UNKNOWN, cert = PDF_SIGNATURE_ERROR_UNKNOWN;
  int changedSince = 0;
  pdf_pkcs7_distinguished_name* dn = nullptr;
  mu::guard("Checking the signature", [&](fz_context* c) {
    digest = pdf_check_digest(c, &v, doc, field);
    cert = pdf_check_certificate(c, &v, doc, field);
    changedSince = pdf_signature_incremental_change_since_signing(c, doc, field);
    dn = pdf_signature_get_signatory(c, &v, doc, field);
  });
  if (dn) {
    if (dn->cn) st.signer = dn->cn;
    mu::guard("Reading the signer", [&](fz_context* c) { pdf_signature_drop_distinguished_name(c, dn); });
  }
  if (digest == PDF_SIGNATURE_ERROR_DIGEST_FAILURE) {
    st.status = 2;
    st.description = "Invalid: the signed bytes were changed or the signature does not match them";
  } else if (digest != PDF_SIGNATURE_ERROR_OKAY) {
    st.status = 1;
    st.description = "The signature cannot be checked";
  } else if (cert != PDF_SIGNATURE_ERROR_OKAY) {
    st.status = 3;
    st.description = "Valid, but the signer's certificate is not trusted";
  } else if (changedSince) {
    st.status = 3;
    st.description = "Valid, but the document was changed after signing";
  } else {
    st.status = 4;
    st.description = "Valid";
  }
  if (st.status >= 3 && changedSince && cert != PDF_SIGNATURE_ERROR_OKAY)
    st.description += "; the document was changed after signing";
  return st;
}

// ---- The security objects of the JavaScript object ----
const MemberTable* SecurityHandler::memberTable() const {
  static const MemberTable t = [] {
    MemberTable t("SecurityHandler");
    Members<SecurityHandler> m(t);
    m.method("login", {P("cPassword"), P("cDIPath")}, &SecurityHandler::login)
        .method("logout", {}, &SecurityHandler::logout)
        .get("isLoggedIn", {}, &SecurityHandler::isLoggedIn)
        .get("name", {}, &SecurityHandler::name);
    return t;
  }();
  return &t;
}

Variant SecurityHandler::login(Frame& f) {
  creds_.reset();
  creds_ = loadPkcs12(CStr(f["cDIPath"]), CStr(f["cPassword"]));
  return Variant(true);
}

Variant SecurityHandler::logout(Frame&) {
  creds_.reset();
  return Variant(true);
}

Variant SecurityHandler::isLoggedIn(Frame&) {
  return Variant(creds_ != nullptr);
}
Variant SecurityHandler::name(Frame&) {
  return Variant("Adobe.PPKLite");
}

namespace {

class Security : public Dispatch {
 public:
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable t("security");
      Members<Security> m(t);
      m.method("getHandler", {P("cName"), P("bUIEngine").opt()}, &Security::getHandler);
      return t;
    }();
    return &t;
  }
  std::string typeName() const override { return "security"; }

 private:
  Variant getHandler(Frame& f) {
    std::string name = CStr(f["cName"]);
    if (name != "Adobe.PPKLite") js::fail("There is no security handler \"" + name + "\" (Adobe.PPKLite)");
    return Variant(ObjectRef(std::make_shared<SecurityHandler>()));
  }
};

}  // namespace

ObjectRef makeSecurity() {
  return std::make_shared<Security>();
}

}  // namespace pm::pdf
