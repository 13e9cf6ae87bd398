// The TLS listener of the plug-in loaded by the stand-in host: the same answers as on the plain
// port, key files with which a headless host refuses to run, and the certificate reloaded on
// SIGHUP. Who is served over TLS and its time-out: TcpServerTest.
#include <gmock/gmock.h>

#include <csignal>
#include <filesystem>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsSocket.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

using ::testing::HasSubstr;
using Server = TestCertificates::Server;
namespace fs = std::filesystem;

std::vector<std::string> tlsLines(uint16_t port, const std::string& cert, const std::string& key) {
    return {"TlsPort=" + std::to_string(port), "TlsCertFile=" + cert, "TlsKeyFile=" + key};
}

// Sends the requests in one write and reads the bytes of `count` answers (each frame the server
// sends ends with a zero byte).
template <class Socket>
std::string answers(Socket& socket, const std::string& requests, std::size_t count) {
    EXPECT_TRUE(socket.send(requests));
    std::string got;
    while (std::count(got.begin(), got.end(), '\0') < static_cast<long>(count)) {
        const std::string next = socket.receive(1, kReplyTimeout);
        if (next.empty()) {
            break;
        }
        got += next;
    }
    return got;
}

class Tls : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        certs_ = std::make_unique<TestCertificates>(dir_->path());
        install(Server::Valid);
        host_ = std::make_unique<HostProcess>(
            HostOptions{.configLines = tlsLines(tlsPort_, live("pem"), live("key"))});
        started_ = host_->start();
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(host_->stop(), 0);
        host_.reset();
        certs_.reset();
        dir_.reset();
    }
    void SetUp() override { ASSERT_TRUE(started_) << host_->log(); }

    // The files config.ini names: a copy of one of the test certificates and its key.
    static std::string live(const char* extension) {
        return dir_->file(std::string("live.") + extension);
    }
    static void install(Server cert, Server key) {
        fs::copy_file(certs_->serverCert(cert), live("pem"), fs::copy_options::overwrite_existing);
        fs::copy_file(certs_->serverKey(key), live("key"), fs::copy_options::overwrite_existing);
    }
    static void install(Server kind) { install(kind, kind); }

    // A client that completed its handshake, or fails the test.
    static std::unique_ptr<TlsSocket> tlsClient() {
        auto client = std::make_unique<TlsSocket>(TlsSocket::Options{});
        EXPECT_EQ(client->connect(tlsPort_), "");
        return client;
    }
    static bool served(TlsSocket& client) {
        return !answers(client, requestFrame(client::daqListCountRequest()), 1).empty();
    }

    static inline std::unique_ptr<TempDir> dir_;
    static inline std::unique_ptr<TestCertificates> certs_;
    static inline const uint16_t tlsPort_ = HostProcess::freePort();
    static inline std::unique_ptr<HostProcess> host_;
    static inline bool started_ = false;
};

TEST_F(Tls, RequestsAreAnsweredWithTheBytesOfThePlainPort) {
    const std::string requests = requestFrame(client::projectInfoRequest()) +
                                 requestFrame(client::daqListCountRequest()) +
                                 requestFrame(client::daqStatusRequest());
    RawSocket plain;
    ASSERT_TRUE(plain.connect(host_->port()));
    const std::string expected = answers(plain, requests, 3);
    EXPECT_THAT(expected, HasSubstr("PROJECT_NAME"));
    EXPECT_EQ(answers(*tlsClient(), requests, 3), expected);
}

// New handshakes take the files as they are at the SIGHUP; a connection open before it stays
// served; files that do not load leave the certificate as it was.
TEST_F(Tls, SighupReloadsTheCertificateForNewConnectionsOnly) {
    auto before = tlsClient();
    ASSERT_EQ(before->peerSerial(), TestCertificates::serial(Server::Valid));
    install(Server::UnrelatedCa);
    host_->signal(SIGHUP);
    ASSERT_TRUE(host_->waitForLog("DAQServer: TCP/IP Server : TLS certificate reloaded from " +
                                  live("pem") + " and " + live("key")));
    EXPECT_EQ(tlsClient()->peerSerial(), TestCertificates::serial(Server::UnrelatedCa));
    EXPECT_TRUE(served(*before));

    install(Server::Valid, Server::OtherHost);  // a key that is not the certificate's
    host_->signal(SIGHUP);
    ASSERT_TRUE(host_->waitForLog(
        "DAQServer: TCP/IP Server : TLS reload failed, the previous certificate stays : "
        "TlsKeyFile " +
        live("key") + ": key values mismatch"));
    EXPECT_EQ(tlsClient()->peerSerial(), TestCertificates::serial(Server::UnrelatedCa));
    EXPECT_TRUE(served(*before));
}

// TLS asked for and not served ends a headless host as a listener that cannot open does: with
// exit code 4 and the reason on stderr. A refused TLS setting counts: the value kept instead
// would serve less than was asked.
TEST(TlsAskedFor, ButNotServableEndsAHeadlessHost) {
    TempDir dir;
    const TestCertificates certs(dir.path());
    const std::string open = dir.file("open.key");
    fs::copy_file(certs.serverKey(), open);
    fs::permissions(open, fs::perms::group_read, fs::perm_options::add);
    const uint16_t port = HostProcess::freePort();
    const std::string notServed = "TLS port " + std::to_string(port) + " not served : ";
    const auto lines = [&](const std::string& key, std::vector<std::string> more = {}) {
        std::vector<std::string> all = tlsLines(port, certs.serverCert(), key);
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const struct {
        std::vector<std::string> configLines;
        std::string reason;
    } cases[] = {
        {lines(open), notServed + "TlsKeyFile " + open +
                          ": readable by group or others (mode 0640); make it readable by its "
                          "owner only"},
        {lines(certs.serverKey(Server::OtherHost)),
         notServed + "TlsKeyFile " + certs.serverKey(Server::OtherHost) + ": key values mismatch"},
        {lines(dir.file("missing.key")),
         notServed + "TlsKeyFile " + dir.file("missing.key") + ": No such file or directory"},
        {lines(certs.serverKey(), {"TlsCaFile=" + certs.caFile(), "TlsClientCerts=require"}),
         notServed +
             "config.ini : TlsClientCerts=require is not one of off, optional, required, off kept"},
        {{"TlsPort=70000"},
         "TLS not served : config.ini : TlsPort=70000 is not in 0..65535, 0 kept"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.reason);
        HostProcess host({.configLines = each.configLines});
        EXPECT_FALSE(host.start());
        EXPECT_EQ(host.stop(), 4);
        EXPECT_THAT(host.log(), HasSubstr("DAQServer: TCP/IP Server : " + each.reason));
    }
}

}  // namespace
}  // namespace daq::test
