#include "tls_context.h"

#include <h2o.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "self_signed.h"

namespace telvario::serve {
namespace {

// OpenSSL's reason for the last failure, or the system's where the file could not be opened.
std::string FileProblem(const std::string& option, const std::string& path) {
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
  } else {
    return option + " " + path + ": " + std::strerror(errno);
  }
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  const char* reason = ERR_reason_error_string(code);
  return option + " " + path + ": " + (reason != nullptr ? reason : "not a PEM file OpenSSL reads");
}

void UseFiles(SSL_CTX* context, const ServeOptions& options) {
  if (SSL_CTX_use_certificate_chain_file(context, options.tlsCertificate.c_str()) != 1) {
    throw ServeFailure(FileProblem("--tls-cert", options.tlsCertificate));
  }
  if (SSL_CTX_use_PrivateKey_file(context, options.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw ServeFailure(FileProblem("--tls-key", options.tlsKey));
  }
  if (SSL_CTX_check_private_key(context) != 1) {
    ERR_clear_error();
    throw ServeFailure("--tls-key " + options.tlsKey + ": not the key of " +
                       options.tlsCertificate);
  }
}

std::string Fingerprint(SSL_CTX* context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  X509* certificate = SSL_CTX_get0_certificate(context);
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &size) != 1) {
    return "?";
  }
  std::string text;
  for (unsigned i = 0; i < size; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

}  // namespace

TlsContext MakeTlsContext(const ServeOptions& options, std::string* about) {
  if (!options.selfSigned && options.tlsCertificate.empty()) return nullptr;
  TlsContext context(SSL_CTX_new(TLS_server_method()));
  if (context == nullptr) throw ServeFailure("OpenSSL could not make a TLS context");
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(context.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  if (options.selfSigned) {
    if (!UseSelfSignedCertificate(context.get())) {
      throw ServeFailure("--self-signed: OpenSSL could not make a certificate");
    }
  } else {
    UseFiles(context.get(), options);
  }
  h2o_ssl_register_alpn_protocols(context.get(), h2o_alpn_protocols);
  *about = (options.selfSigned ? "a certificate made for this run, SHA-256 "
                               : "certificate " + options.tlsCertificate + ", SHA-256 ") +
           Fingerprint(context.get());
  return context;
}

}  // namespace telvario::serve
