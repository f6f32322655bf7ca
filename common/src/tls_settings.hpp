#pragma once

// The client's TLS settings for one transfer: versions, suites, groups and the trust set.
#include "kov/trust_store.hpp"

#include <curl/curl.h>
#include <expected>
#include <string>

namespace kov::http {

// TLS 1.3 and 1.2 only, the listed suites and groups in order, peer and host name checked
// against `trust` alone, no revocation check. Also for an https proxy. The trust set's store is
// asked for only when a handshake needs it.
std::expected<void, std::string> apply_tls_settings(CURL* easy, const TrustStore& trust);

} // namespace kov::http
