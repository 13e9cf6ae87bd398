#include "TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>

namespace daq::test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 60 * 60;
constexpr long kYear = 365 * kDay;

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test certificates: ") + what);
    }
}

// P-256 keys: made in microseconds, unlike RSA, and every TLS library takes them.
Key newKey() {
    Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    check(key != nullptr, "EC key generation failed");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    check(ext != nullptr && X509_add_ext(cert, ext, -1) == 1, "extension refused");
    X509_EXTENSION_free(ext);
}

struct Spec {
    const char* commonName;
    const char* subjectAltName;  // nullptr: none
    bool ca;
    long notBefore;  // seconds from now
    long notAfter;
    long serial;
};

// A certificate for `key`, signed by `issuerKey` under `issuer` (self-signed when issuer is null).
Cert makeCert(const Spec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
    Cert cert(X509_new(), &X509_free);
    check(cert != nullptr, "X509_new failed");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), spec.serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), spec.notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), spec.notAfter);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("DAQServer tests"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(spec.commonName), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    addExtension(cert.get(), signer, NID_basic_constraints,
                 spec.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (spec.ca) {
        addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
        addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
        addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth,clientAuth");
    }
    if (spec.subjectAltName != nullptr) {
        addExtension(cert.get(), signer, NID_subject_alt_name, spec.subjectAltName);
    }
    check(X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0,
          "signing failed");
    return cert;
}

// The file is made afresh with exactly `mode`, whatever the umask.
std::unique_ptr<FILE, decltype(&std::fclose)> openForWriting(const std::string& path, mode_t mode) {
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    check(fd >= 0 && ::fchmod(fd, mode) == 0, "cannot write a file");
    std::unique_ptr<FILE, decltype(&std::fclose)> file(::fdopen(fd, "w"), &std::fclose);
    check(file != nullptr, "cannot write a file");
    return file;
}

void writeCert(const std::string& path, X509* cert) {
    auto file = openForWriting(path, 0644);
    check(PEM_write_X509(file.get(), cert) == 1, "cannot write a certificate");
}

void writeKey(const std::string& path, EVP_PKEY* key) {
    auto file = openForWriting(path, 0600);
    check(PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "cannot write a key");
}

constexpr const char* kLoopbackNames = "IP:127.0.0.1,DNS:localhost";

struct ServerSpec {
    TestCertificates::Server kind;
    const char* name;
    Spec spec;
};

const ServerSpec kServers[] = {
    {TestCertificates::Server::Valid,
     "server",
     {"localhost", kLoopbackNames, false, -kDay, kYear, 10}},
    {TestCertificates::Server::Expired,
     "server-expired",
     {"localhost", kLoopbackNames, false, -2 * kYear, -kDay, 11}},
    {TestCertificates::Server::NotYetValid,
     "server-not-yet-valid",
     {"localhost", kLoopbackNames, false, kDay, kYear, 12}},
    {TestCertificates::Server::OtherHost,
     "server-other-host",
     {"other.example", "DNS:other.example", false, -kDay, kYear, 13}},
    {TestCertificates::Server::UnrelatedCa,
     "server-unrelated-ca",
     {"localhost", kLoopbackNames, false, -kDay, kYear, 14}},
};

const ServerSpec& serverSpec(TestCertificates::Server kind) {
    for (const ServerSpec& s : kServers) {
        if (s.kind == kind) {
            return s;
        }
    }
    throw std::logic_error("unknown server certificate kind");
}

}  // namespace

TestCertificates::TestCertificates(std::filesystem::path dir) : dir_(std::move(dir)) {
    const Key caKey = newKey();
    const Cert ca = makeCert({"DAQServer test CA", nullptr, true, -kDay, 10 * kYear, 1},
                             caKey.get(), nullptr, nullptr);
    writeCert(caFile(), ca.get());
    const Key otherCaKey = newKey();
    const Cert otherCa = makeCert({"Unrelated test CA", nullptr, true, -kDay, 10 * kYear, 2},
                                  otherCaKey.get(), nullptr, nullptr);
    writeCert(otherCaFile(), otherCa.get());

    for (const ServerSpec& s : kServers) {
        const bool unrelated = s.kind == Server::UnrelatedCa;
        const Key key = newKey();
        const Cert cert = makeCert(s.spec, key.get(), unrelated ? otherCa.get() : ca.get(),
                                   unrelated ? otherCaKey.get() : caKey.get());
        writeCert(serverCert(s.kind), cert.get());
        writeKey(serverKey(s.kind), key.get());
    }
    const Key clientKeyPair = newKey();
    const Cert client = makeCert({"daq test client", nullptr, false, -kDay, kYear, 20},
                                 clientKeyPair.get(), ca.get(), caKey.get());
    writeCert(clientCert(), client.get());
    writeKey(clientKey(), clientKeyPair.get());
}

std::string TestCertificates::serverCert(Server kind) const {
    return file(std::string(serverSpec(kind).name) + ".pem");
}

std::string TestCertificates::serverKey(Server kind) const {
    return file(std::string(serverSpec(kind).name) + ".key");
}

long TestCertificates::serial(Server kind) {
    return serverSpec(kind).spec.serial;
}

}  // namespace daq::test
