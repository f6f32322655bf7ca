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

// Serials of the two makers' certificates, apart so that no two certificates of a run share one.
long root_serial = 1;
long chain_serial = 1000;

// Version 3, the serial, the validity in days from now and the subject's common name.
void set_serial_validity_and_name(X509* x, long serial, long from_days, long until_days,
                                  const std::string& common_name) {
    require(X509_set_version(x, 2) == 1);
    require(ASN1_INTEGER_set(X509_get_serialNumber(x), serial) == 1);
    require(X509_gmtime_adj(X509_getm_notBefore(x), from_days * 86400L) != nullptr);
    require(X509_gmtime_adj(X509_getm_notAfter(x), until_days * 86400L) != nullptr);
    require(X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(common_name.c_str()),
                                       -1, -1, 0) == 1);
}

} // namespace

std::vector<unsigned char> make_certificate(const CertificateOptions& options) {
    const Key key(EVP_EC_gen("P-256"));
    require(key != nullptr);
    const Certificate certificate(X509_new());
    require(certificate != nullptr);
    X509* x = certificate.get();
    set_serial_validity_and_name(x, root_serial++, options.valid_from_days,
                                 options.valid_until_days, options.common_name);
    X509_NAME* name = X509_get_subject_name(x);
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

namespace {

Key read_key(const std::string& pem) {
    const std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>> in(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    require(in != nullptr);
    Key key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    require(key != nullptr);
    return key;
}

std::string write_key(EVP_PKEY* key) {
    const std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>> out(BIO_new(BIO_s_mem()));
    require(PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

Certificate read_certificate(const std::vector<unsigned char>& der) {
    const unsigned char* at = der.data();
    Certificate certificate(d2i_X509(nullptr, &at, static_cast<long>(der.size())));
    require(certificate != nullptr);
    return certificate;
}

} // namespace

ChainCertificate ChainCertificate::make(const ChainCertificateOptions& options,
                                        const ChainCertificate* issuer) {
    const Key key(EVP_EC_gen("P-256"));
    require(key != nullptr);
    const Certificate certificate(X509_new());
    require(certificate != nullptr);
    X509* x = certificate.get();
    set_serial_validity_and_name(x, chain_serial++, options.valid_from_days,
                                 options.valid_until_days, options.common_name);
    require(X509_set_pubkey(x, key.get()) == 1);

    Certificate issuer_certificate;
    Key issuer_key;
    if (issuer != nullptr) {
        issuer_certificate = read_certificate(issuer->der_);
        issuer_key = read_key(issuer->key_pem_);
    }
    X509* signer = issuer != nullptr ? issuer_certificate.get() : x;
    require(X509_set_issuer_name(x, X509_get_subject_name(signer)) == 1);

    X509V3_CTX context;
    X509V3_set_ctx(&context, signer, x, nullptr, nullptr, 0);
    const auto add_extension = [&](int nid, const char* value) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        require(extension != nullptr);
        require(X509_add_ext(x, extension, -1) == 1);
        X509_EXTENSION_free(extension);
    };
    const auto add_if = [&](int nid, const std::optional<std::string>& value) {
        if (value) {
            add_extension(nid, value->c_str());
        }
    };
    add_if(NID_basic_constraints, options.basic_constraints);
    add_if(NID_key_usage, options.key_usage);
    add_if(NID_ext_key_usage, options.extended_key_usage);
    add_if(NID_subject_alt_name, options.subject_alt_names);
    add_if(NID_name_constraints, options.name_constraints);
    add_extension(NID_subject_key_identifier, "hash");
    if (issuer != nullptr) {
        add_extension(NID_authority_key_identifier, "keyid:always");
    } else {
        // A self-signed certificate names itself: its subject key is already written.
        X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
        add_extension(NID_authority_key_identifier, "keyid:always");
    }
    require(X509_sign(x, issuer != nullptr ? issuer_key.get() : key.get(), EVP_sha256()) > 0);

    ChainCertificate out;
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    require(length > 0);
    out.der_.assign(der, der + length);
    OPENSSL_free(der);
    out.key_pem_ = write_key(key.get());
    return out;
}

ChainCertificateOptions root_options(std::string common_name) {
    ChainCertificateOptions options;
    options.common_name = std::move(common_name);
    options.basic_constraints = "critical,CA:TRUE";
    options.key_usage = "critical,keyCertSign,cRLSign";
    return options;
}

ChainCertificateOptions intermediate_options(std::string common_name) {
    return root_options(std::move(common_name));
}

ChainCertificateOptions server_options(std::string common_name,
                                       std::optional<std::string> alt_names) {
    ChainCertificateOptions options;
    options.common_name = std::move(common_name);
    options.basic_constraints = "critical,CA:FALSE";
    options.key_usage = "critical,digitalSignature";
    options.extended_key_usage = "serverAuth";
    options.subject_alt_names = std::move(alt_names);
    return options;
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
