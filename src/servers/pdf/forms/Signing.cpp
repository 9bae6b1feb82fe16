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
#include "servers/pdf/engine/PdfObj.h"
#include "system/SystemLibrary.h"

namespace pm::pdf {

// ---- OpenSSL, loaded the first time a document is signed or a signature
// checked: the PDF server's other work (text, thumbnails, merging) does not
// map libcrypto. ----
namespace {
struct OpenSsl {
  decltype(&::EVP_PKEY_free) EVP_PKEY_free;
  decltype(&::X509_free) X509_free;
  decltype(&::PKCS12_free) PKCS12_free;
  decltype(&::BIO_free) BIO_free;
  decltype(&::CMS_ContentInfo_free) CMS_ContentInfo_free;
  decltype(&::X509_STORE_free) X509_STORE_free;
  decltype(&::X509_STORE_CTX_free) X509_STORE_CTX_free;
  decltype(&::ERR_clear_error) ERR_clear_error;
  decltype(&::ERR_peek_last_error) ERR_peek_last_error;
  decltype(&::ERR_error_string_n) ERR_error_string_n;
  decltype(&::X509_NAME_get_index_by_NID) X509_NAME_get_index_by_NID;
  decltype(&::X509_NAME_ENTRY_get_data) X509_NAME_ENTRY_get_data;
  decltype(&::X509_NAME_get_entry) X509_NAME_get_entry;
  decltype(&::ASN1_STRING_to_UTF8) ASN1_STRING_to_UTF8;
  decltype(&::CRYPTO_free) CRYPTO_free;
  decltype(&::BIO_new_mem_buf) BIO_new_mem_buf;
  decltype(&::CMS_sign) CMS_sign;
  decltype(&::i2d_CMS_ContentInfo) i2d_CMS_ContentInfo;
  decltype(&::d2i_PKCS12_fp) d2i_PKCS12_fp;
  decltype(&::PKCS12_verify_mac) PKCS12_verify_mac;
  decltype(&::PKCS12_parse) PKCS12_parse;
  decltype(&::OSSL_PROVIDER_try_load) OSSL_PROVIDER_try_load;
  decltype(&::OSSL_PROVIDER_unload) OSSL_PROVIDER_unload;
  decltype(&::X509_check_private_key) X509_check_private_key;
  decltype(&::X509_get_subject_name) X509_get_subject_name;
  decltype(&::d2i_CMS_ContentInfo) d2i_CMS_ContentInfo;
  decltype(&::CMS_verify) CMS_verify;
  decltype(&::CMS_get0_SignerInfos) CMS_get0_SignerInfos;
  decltype(&::CMS_SignerInfo_cert_cmp) CMS_SignerInfo_cert_cmp;
  decltype(&::CMS_get1_certs) CMS_get1_certs;
  decltype(&::X509_STORE_new) X509_STORE_new;
  decltype(&::X509_STORE_set_default_paths) X509_STORE_set_default_paths;
  decltype(&::X509_STORE_CTX_new) X509_STORE_CTX_new;
  decltype(&::X509_STORE_CTX_init) X509_STORE_CTX_init;
  decltype(&::X509_verify_cert) X509_verify_cert;
  decltype(&::X509_STORE_CTX_get_error) X509_STORE_CTX_get_error;
  decltype(&::OPENSSL_sk_num) OPENSSL_sk_num;
  decltype(&::OPENSSL_sk_value) OPENSSL_sk_value;
  decltype(&::OPENSSL_sk_pop) OPENSSL_sk_pop;
  decltype(&::OPENSSL_sk_free) OPENSSL_sk_free;
};

OpenSsl loadOpenSsl() {
  SystemLibrary lib("libcrypto.so.3", "The cryptography library");
  OpenSsl o{};
  lib.bind(o.EVP_PKEY_free, "EVP_PKEY_free");
  lib.bind(o.X509_free, "X509_free");
  lib.bind(o.PKCS12_free, "PKCS12_free");
  lib.bind(o.BIO_free, "BIO_free");
  lib.bind(o.CMS_ContentInfo_free, "CMS_ContentInfo_free");
  lib.bind(o.X509_STORE_free, "X509_STORE_free");
  lib.bind(o.X509_STORE_CTX_free, "X509_STORE_CTX_free");
  lib.bind(o.ERR_clear_error, "ERR_clear_error");
  lib.bind(o.ERR_peek_last_error, "ERR_peek_last_error");
  lib.bind(o.ERR_error_string_n, "ERR_error_string_n");
  lib.bind(o.X509_NAME_get_index_by_NID, "X509_NAME_get_index_by_NID");
  lib.bind(o.X509_NAME_ENTRY_get_data, "X509_NAME_ENTRY_get_data");
  lib.bind(o.X509_NAME_get_entry, "X509_NAME_get_entry");
  lib.bind(o.ASN1_STRING_to_UTF8, "ASN1_STRING_to_UTF8");
  lib.bind(o.CRYPTO_free, "CRYPTO_free");
  lib.bind(o.BIO_new_mem_buf, "BIO_new_mem_buf");
  lib.bind(o.CMS_sign, "CMS_sign");
  lib.bind(o.i2d_CMS_ContentInfo, "i2d_CMS_ContentInfo");
  lib.bind(o.d2i_PKCS12_fp, "d2i_PKCS12_fp");
  lib.bind(o.PKCS12_verify_mac, "PKCS12_verify_mac");
  lib.bind(o.PKCS12_parse, "PKCS12_parse");
  lib.bind(o.OSSL_PROVIDER_try_load, "OSSL_PROVIDER_try_load");
  lib.bind(o.OSSL_PROVIDER_unload, "OSSL_PROVIDER_unload");
  lib.bind(o.X509_check_private_key, "X509_check_private_key");
  lib.bind(o.X509_get_subject_name, "X509_get_subject_name");
  lib.bind(o.d2i_CMS_ContentInfo, "d2i_CMS_ContentInfo");
  lib.bind(o.CMS_verify, "CMS_verify");
  lib.bind(o.CMS_get0_SignerInfos, "CMS_get0_SignerInfos");
  lib.bind(o.CMS_SignerInfo_cert_cmp, "CMS_SignerInfo_cert_cmp");
  lib.bind(o.CMS_get1_certs, "CMS_get1_certs");
  lib.bind(o.X509_STORE_new, "X509_STORE_new");
  lib.bind(o.X509_STORE_set_default_paths, "X509_STORE_set_default_paths");
  lib.bind(o.X509_STORE_CTX_new, "X509_STORE_CTX_new");
  lib.bind(o.X509_STORE_CTX_init, "X509_STORE_CTX_init");
  lib.bind(o.X509_verify_cert, "X509_verify_cert");
  lib.bind(o.X509_STORE_CTX_get_error, "X509_STORE_CTX_get_error");
  lib.bind(o.OPENSSL_sk_num, "OPENSSL_sk_num");
  lib.bind(o.OPENSSL_sk_value, "OPENSSL_sk_value");
  lib.bind(o.OPENSSL_sk_pop, "OPENSSL_sk_pop");
  lib.bind(o.OPENSSL_sk_free, "OPENSSL_sk_free");
  return o;
}

// A failed load is tried again at the next use (the static is not set).
const OpenSsl& ssl() {
  static const OpenSsl library = loadOpenSsl();
  return library;
}
}  // namespace

// ---- OpenSSL owners ----
namespace {
struct FreeKey {
  void operator()(EVP_PKEY* p) const { ssl().EVP_PKEY_free(p); }
};
struct FreeCert {
  void operator()(X509* p) const { ssl().X509_free(p); }
};
struct FreeCerts {
  void operator()(STACK_OF(X509) * p) const {
    auto* stack = reinterpret_cast<OPENSSL_STACK*>(p);
    while (ssl().OPENSSL_sk_num(stack) > 0) ssl().X509_free(static_cast<X509*>(ssl().OPENSSL_sk_pop(stack)));
    ssl().OPENSSL_sk_free(stack);
  }
};
struct FreeP12 {
  void operator()(PKCS12* p) const { ssl().PKCS12_free(p); }
};
struct FreeBio {
  void operator()(BIO* p) const { ssl().BIO_free(p); }
};
struct FreeCms {
  void operator()(CMS_ContentInfo* p) const { ssl().CMS_ContentInfo_free(p); }
};
struct FreeStore {
  void operator()(X509_STORE* p) const { ssl().X509_STORE_free(p); }
};
struct FreeStoreCtx {
  void operator()(X509_STORE_CTX* p) const { ssl().X509_STORE_CTX_free(p); }
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
  ssl().ERR_clear_error();
  throw AutomationError(mu::kErrEngine, mu::kEngineSource, what);
}

std::string opensslReason() {
  unsigned long e = ssl().ERR_peek_last_error();
  char buf[256] = {0};
  if (e) ssl().ERR_error_string_n(e, buf, sizeof buf);
  ssl().ERR_clear_error();
  return buf;
}

std::string entry(X509_NAME* n, int nid) {
  int i = ssl().X509_NAME_get_index_by_NID(n, nid, -1);
  if (i < 0) return {};
  ASN1_STRING* s = ssl().X509_NAME_ENTRY_get_data(ssl().X509_NAME_get_entry(n, i));
  unsigned char* utf8 = nullptr;
  int len = ssl().ASN1_STRING_to_UTF8(&utf8, s);
  if (len < 0) return {};
  std::string out(reinterpret_cast<char*>(utf8), static_cast<size_t>(len));
  ssl().CRYPTO_free(utf8, OPENSSL_FILE, OPENSSL_LINE);
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
  BioPtr in(ssl().BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  if (!in) failSigning("Signing: out of memory");
  CmsPtr cms(
      ssl().CMS_sign(c.cert.get(), c.key.get(), c.chain.get(), in.get(), CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP));
  if (!cms) failSigning("Signing failed: " + opensslReason());
  int len = ssl().i2d_CMS_ContentInfo(cms.get(), nullptr);
  if (len <= 0) failSigning("Signing failed: " + opensslReason());
  std::vector<unsigned char> out(static_cast<size_t>(len));
  unsigned char* p = out.data();
  ssl().i2d_CMS_ContentInfo(cms.get(), &p);
  return out;
}

std::shared_ptr<const Credentials> loadPkcs12(const std::string& file, const std::string& password) {
  errno = 0;
  FilePtr f(std::fopen(file.c_str(), "rb"));
  if (!f) failSigning("Cannot read the certificate file " + file + ": " + std::strerror(errno));
  P12Ptr p12(ssl().d2i_PKCS12_fp(f.get(), nullptr));
  if (!p12) failSigning("The file " + file + " is not a PKCS #12 certificate file");
  if (!ssl().PKCS12_verify_mac(p12.get(), password.c_str(), static_cast<int>(password.size())))
    failSigning("The password does not open the certificate file " + file);
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (!ssl().PKCS12_parse(p12.get(), password.c_str(), &key, &cert, &chain)) {
    // Files exported by older tools encrypt with RC2, which OpenSSL keeps in
    // its legacy provider; the default one stays loaded beside it. Loaded
    // once, when first needed, and unloaded at exit before OpenSSL's own
    // clean-up, so none of it outlives the process's other objects.
    struct LegacyProvider {
      OSSL_PROVIDER* provider = ssl().OSSL_PROVIDER_try_load(nullptr, "legacy", 1);
      ~LegacyProvider() {
        if (provider) ssl().OSSL_PROVIDER_unload(provider);
      }
    };
    ssl().ERR_clear_error();
    static const LegacyProvider legacy;
    if (!legacy.provider || !ssl().PKCS12_parse(p12.get(), password.c_str(), &key, &cert, &chain))
      failSigning("Cannot read the certificate file " + file + ": " + opensslReason());
  }
  auto c = std::make_shared<Credentials>();
  c->key.reset(key);
  c->cert.reset(cert);
  c->chain.reset(chain);
  if (!c->key || !c->cert) failSigning("The certificate file " + file + " holds no private key and certificate");
  if (ssl().X509_check_private_key(c->cert.get(), c->key.get()) != 1)
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
    X509_NAME* n = ssl().X509_get_subject_name(cert);
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
  return CmsPtr(ssl().d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(len)));
}

pdf_signature_error checkDigest(fz_context*, pdf_pkcs7_verifier*, fz_stream* in, unsigned char* sig,
                                size_t len) noexcept {
  try {
    std::string data = readAll(in);
    // The signature's DER length is shorter than the zero-padded space.
    CmsPtr cms = readCms(sig, len);
    if (!cms) return PDF_SIGNATURE_ERROR_NO_SIGNATURES;
    BioPtr content(ssl().BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    int ok =
        ssl().CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY);
    ssl().ERR_clear_error();
    return ok == 1 ? PDF_SIGNATURE_ERROR_OKAY : PDF_SIGNATURE_ERROR_DIGEST_FAILURE;
  } catch (...) {
    ssl().ERR_clear_error();
    return PDF_SIGNATURE_ERROR_UNKNOWN;
  }
}

// The certificate of the (first) signer of a CMS signature.
X509* signerCert(CMS_ContentInfo* cms, STACK_OF(X509) * certs) {
  STACK_OF(CMS_SignerInfo)* infos = ssl().CMS_get0_SignerInfos(cms);
  const auto* signers = reinterpret_cast<const OPENSSL_STACK*>(infos);
  if (!infos || ssl().OPENSSL_sk_num(signers) < 1) return nullptr;
  auto* si = static_cast<CMS_SignerInfo*>(ssl().OPENSSL_sk_value(signers, 0));
  const auto* list = reinterpret_cast<const OPENSSL_STACK*>(certs);
  for (int i = 0; i < ssl().OPENSSL_sk_num(list); ++i) {
    auto* cert = static_cast<X509*>(ssl().OPENSSL_sk_value(list, i));
    if (ssl().CMS_SignerInfo_cert_cmp(si, cert) == 0) return cert;
  }
  return nullptr;
}

pdf_signature_error checkCertificate(fz_context*, pdf_pkcs7_verifier*, unsigned char* sig, size_t len) noexcept {
  try {
    CmsPtr cms = readCms(sig, len);
    if (!cms) return PDF_SIGNATURE_ERROR_NO_SIGNATURES;
    CertsPtr certs(ssl().CMS_get1_certs(cms.get()));
    X509* cert = certs ? signerCert(cms.get(), certs.get()) : nullptr;
    if (!cert) return PDF_SIGNATURE_ERROR_NO_CERTIFICATE;
    StorePtr store(ssl().X509_STORE_new());
    ssl().X509_STORE_set_default_paths(store.get());
    StoreCtxPtr vc(ssl().X509_STORE_CTX_new());
    if (!store || !vc || ssl().X509_STORE_CTX_init(vc.get(), store.get(), cert, certs.get()) != 1)
      return PDF_SIGNATURE_ERROR_UNKNOWN;
    int ok = ssl().X509_verify_cert(vc.get());
    int err = ssl().X509_STORE_CTX_get_error(vc.get());
    ssl().ERR_clear_error();
    if (ok == 1) return PDF_SIGNATURE_ERROR_OKAY;
    if (err == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT) return PDF_SIGNATURE_ERROR_SELF_SIGNED;
    if (err == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN) return PDF_SIGNATURE_ERROR_SELF_SIGNED_IN_CHAIN;
    return PDF_SIGNATURE_ERROR_NOT_TRUSTED;
  } catch (...) {
    ssl().ERR_clear_error();
    return PDF_SIGNATURE_ERROR_UNKNOWN;
  }
}

void signatoryParts(const unsigned char* sig, size_t len, NameParts& p) noexcept {
  std::memset(&p, 0, sizeof p);
  try {
    CmsPtr cms = readCms(sig, len);
    if (!cms) return;
    CertsPtr certs(ssl().CMS_get1_certs(cms.get()));
    X509* cert = certs ? signerCert(cms.get(), certs.get()) : nullptr;
    if (cert) nameParts(cert, p);
  } catch (...) {
  }
  ssl().ERR_clear_error();
}

pdf_pkcs7_distinguished_name* signatory(fz_context* c, pdf_pkcs7_verifier*, unsigned char* sig, size_t len) {
  NameParts p;
  signatoryParts(sig, len, p);
  return mupdfName(c, p);
}

void dropVerifier(fz_context*, pdf_pkcs7_verifier*) {}

pdf_pkcs7_verifier verifier() {
  // Loaded here, where a missing library can still be raised: the callbacks
  // run inside MuPDF and only return error codes.
  ssl();
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
  if (!c) mu::fail("Log in to the security handler before signing");
  std::string to = target.empty() ? d.path() : target;
  if (to.empty()) mu::fail("Save the document to a file before signing it");
  pdf_document* doc = d.pdf();
  std::vector<pdf_obj*> widgets = form::widgets(field);
  if (widgets.empty()) mu::fail("The signature field has no widget on a page");
  pdf_obj* wobj = widgets.front();
  int page = po::pageNumberOf(doc, po::get(wobj, PDF_NAME(P)));
  if (page < 0) mu::fail("The signature field's widget is on no page");
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
  if (!widget) mu::fail("The signature field's widget is not on its page");

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
    m.method("login", {P("cPassword"), P("cDIPath").path()}, &SecurityHandler::login)
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
    if (name != "Adobe.PPKLite") mu::fail("There is no security handler \"" + name + "\" (Adobe.PPKLite)");
    return Variant(ObjectRef(std::make_shared<SecurityHandler>()));
  }
};

}  // namespace

ObjectRef makeSecurity() {
  return std::make_shared<Security>();
}

}  // namespace pm::pdf
