#include "test_certificates.hpp"

#include <cstdlib>
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace kov_test {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;

void require(bool ok) {
    if (!ok) {
        std::abort(); // a broken fixture, not a finding
    }
}

} // namespace

std::vector<unsigned char> make_certificate(const CertificateOptions& options) {
    const Key key(EVP_EC_gen("P-256"));
    require(key != nullptr);
    const Certificate certificate(X509_new());
    require(certificate != nullptr);
    X509* x = certificate.get();
    require(X509_set_version(x, 2) == 1);
    static long serial = 1;
    require(ASN1_INTEGER_set(X509_get_serialNumber(x), serial++) == 1);
    require(X509_gmtime_adj(X509_getm_notBefore(x), options.valid_from_days * 86400L) != nullptr);
    require(X509_gmtime_adj(X509_getm_notAfter(x), options.valid_until_days * 86400L) != nullptr);
    X509_NAME* name = X509_get_subject_name(x);
    require(X509_NAME_add_entry_by_txt(
                name, "CN", MBSTRING_UTF8,
                reinterpret_cast<const unsigned char*>(options.common_name.c_str()), -1, -1,
                0) == 1);
    require(X509_set_issuer_name(x, name) == 1);
    require(X509_set_pubkey(x, key.get()) == 1);
    X509V3_CTX context;
    X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
    const auto add_extension = [&](int nid, const char* value) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        require(extension != nullptr);
        require(X509_add_ext(x, extension, -1) == 1);
        X509_EXTENSION_free(extension);
    };
    add_extension(NID_basic_constraints, "critical,CA:TRUE");
    if (options.extended_key_usage) {
        add_extension(NID_ext_key_usage, options.extended_key_usage->c_str());
    }
    require(X509_sign(x, key.get(), EVP_sha256()) > 0);
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    require(length > 0);
    std::vector<unsigned char> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::string to_pem(const std::vector<unsigned char>& der) {
    const unsigned char* at = der.data();
    const Certificate certificate(d2i_X509(nullptr, &at, static_cast<long>(der.size())));
    require(certificate != nullptr);
    const std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>> out(BIO_new(BIO_s_mem()));
    require(PEM_write_bio_X509(out.get(), certificate.get()) == 1);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

} // namespace kov_test
