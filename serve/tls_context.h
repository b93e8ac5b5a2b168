// The TLS side of `telvario serve`: the certificate and key the user gives, or one made for the
// run, offered with HTTP/2 first and HTTP/1.1 beside it (ALPN).
#ifndef TELVARIO_SERVE_TLS_CONTEXT_H
#define TELVARIO_SERVE_TLS_CONTEXT_H

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "serve_options.h"

namespace telvario::serve {

struct TlsContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using TlsContext = std::unique_ptr<SSL_CTX, TlsContextFree>;

// Null where the options ask for plain HTTP; ServeFailure where a file cannot be read or the
// key is not the certificate's. `about` says which certificate it serves (its SHA-256
// fingerprint, for a client to check a made one by).
TlsContext MakeTlsContext(const ServeOptions& options, std::string* about);

}  // namespace telvario::serve

#endif
