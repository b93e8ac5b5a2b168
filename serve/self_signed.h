// A certificate made at start for `--self-signed`: a new P-256 key, valid for a month from an
// hour ago, for this machine's name, localhost and its loopback addresses. A client trusts it
// by its fingerprint, or not at all (curl -k).
#ifndef TELVARIO_SERVE_SELF_SIGNED_H
#define TELVARIO_SERVE_SELF_SIGNED_H

#include <openssl/ssl.h>

namespace telvario::serve {

// Puts a new key and its certificate into the context; false where OpenSSL could not.
bool UseSelfSignedCertificate(SSL_CTX* context);

}  // namespace telvario::serve

#endif
