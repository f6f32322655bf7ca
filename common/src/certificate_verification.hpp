#pragma once

// How a server's certificate chain is judged against the trust set.
#include <openssl/types.h>

namespace kov::http {

// Makes `context` verify server chains with the trust set's rules on top of OpenSSL's: a trust
// anchor counts for its subject, public key and name constraints alone (its own dates, CA bit,
// key usages and path length are not looked at), it must issue the chain (a certificate of the
// set that is not self-signed does not vouch for itself), and a server certificate names its
// hosts in subjectAltName DNS and IP entries only, never in the subject's common name.
void use_certificate_verification(SSL_CTX* context);

} // namespace kov::http
