// Certificates and keys for TLS tests, made with OpenSSL into a directory: a CA, server and
// client certificates it signed, and the faulty ones a client must refuse. Keys are written with
// mode 0600, as a server requires of its key file.
#pragma once

#include <filesystem>
#include <string>

namespace daq::test {

class TestCertificates {
  public:
    enum class Server {
        Valid,        // signed by the CA, for IP 127.0.0.1 and DNS localhost
        Expired,      // validity ended a day ago
        NotYetValid,  // validity starts in a day
        OtherHost,    // for DNS other.example only
        UnrelatedCa,  // for 127.0.0.1 and localhost, signed by a second, unrelated CA
    };

    // Writes everything into `dir`, which must exist.
    explicit TestCertificates(std::filesystem::path dir);

    std::string caFile() const { return file("ca.pem"); }
    std::string otherCaFile() const { return file("other-ca.pem"); }
    std::string serverCert(Server kind = Server::Valid) const;
    std::string serverKey(Server kind = Server::Valid) const;
    std::string clientCert() const { return file("client.pem"); }
    std::string clientKey() const { return file("client.key"); }
    // The decimal serial number each certificate of this set carries (they are all distinct).
    static long serial(Server kind);

  private:
    std::string file(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

}  // namespace daq::test
