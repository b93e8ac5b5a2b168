#include "self_signed.h"

#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace telvario::serve {
namespace {

constexpr long kHour = 60 * 60;
constexpr long kMonth = 30 * 24 * kHour;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

bool AddExtension(X509* certificate, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

bool Describe(X509* certificate, const std::string& host) {
  // A random serial number: a browser that saw an earlier run's certificate must not take this
  // one for it.
  ASN1_INTEGER* serial = X509_get_serialNumber(certificate);
  BIGNUM* number = BN_new();
  const bool serialSet = number != nullptr &&
                         BN_rand(number, 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
                         BN_to_ASN1_INTEGER(number, serial) != nullptr;
  BN_free(number);
  X509_NAME* name = X509_get_subject_name(certificate);
  const auto* common = reinterpret_cast<const unsigned char*>(host.c_str());
  return serialSet && X509_set_version(certificate, 2) == 1 &&
         X509_gmtime_adj(X509_getm_notBefore(certificate), -kHour) != nullptr &&
         X509_gmtime_adj(X509_getm_notAfter(certificate), kMonth) != nullptr &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, common, -1, -1, 0) == 1 &&
         X509_set_issuer_name(certificate, name) == 1 &&
         AddExtension(certificate, NID_subject_alt_name,
                      "DNS:" + host + ",DNS:localhost,IP:127.0.0.1,IP:::1") &&
         AddExtension(certificate, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExtension(certificate, NID_ext_key_usage, "serverAuth");
}

}  // namespace

bool UseSelfSignedCertificate(SSL_CTX* context) {
  const std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
  const std::unique_ptr<X509, CertificateFree> certificate(X509_new());
  if (key == nullptr || certificate == nullptr) return false;
  return Describe(certificate.get(), HostName()) &&
         X509_set_pubkey(certificate.get(), key.get()) == 1 &&
         X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0 &&
         SSL_CTX_use_certificate(context, certificate.get()) == 1 &&
         SSL_CTX_use_PrivateKey(context, key.get()) == 1;
}

}  // namespace telvario::serve
