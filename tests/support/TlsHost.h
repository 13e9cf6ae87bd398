// The config.ini lines of a stand-in host that serves TLS beside its plain port, with the test
// certificates (see HostOptions::configLines).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestCertificates.h"

namespace daq::test {

// TLS on `port` (a free one: TlsPort=0 means none) with the server certificate `kind`; client
// certificates, checked against the test CA, as `clientCerts` says: off, optional, required.
inline std::vector<std::string> tlsConfigLines(const TestCertificates& certificates,
                                               TestCertificates::Server kind, std::uint16_t port,
                                               const std::string& clientCerts = "off") {
    return {"TlsPort=" + std::to_string(port), "TlsCertFile=" + certificates.serverCert(kind),
            "TlsKeyFile=" + certificates.serverKey(kind), "TlsCaFile=" + certificates.caFile(),
            "TlsClientCerts=" + clientCerts};
}

}  // namespace daq::test
