// A client's session against the plug-in loaded by the stand-in host, over real sockets, on the
// plain port and inside TLS: the login it needs (RequireLogin=1), the session's requests and the
// stop notice. The answers' rules are the core tests'; the IO, device and parameter requests
// meet the real host in DaqclientTest.
#include <gmock/gmock.h>

#include <cmath>
#include <ctime>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsHost.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

using client::loginRequest;
using ::testing::HasSubstr;

constexpr const char* kAccepted = R"({"PS_ID":true,"RESULT":true})";
constexpr const char* kRefused = R"({"PS_ID":true,"RESULT":false})";

// The session on the plain port, and the same inside TLS with a client certificate.
struct OverPlain {
    static std::vector<std::string> configLines() { return {}; }
    static std::unique_ptr<DaqClient> connect(SuiteHost& host) { return host.connect(); }
};

struct OverTls {
    static const TestCertificates& certificates() {
        static const TempDir dir;
        static const TestCertificates files(dir.path());
        return files;
    }
    static std::uint16_t port() {
        static const std::uint16_t free = HostProcess::freePort();
        return free;
    }
    static std::vector<std::string> configLines() {
        return tlsConfigLines(certificates(), TestCertificates::Server::Valid, port(), "required");
    }
    static std::unique_ptr<DaqClient> connect(SuiteHost&) {
        auto client = std::make_unique<DaqClient>(client::ClientSettings{
            .replyTimeout = kReplyTimeout,
            .tls = client::TlsSettings{.caFile = certificates().caFile(),
                                       .certFile = certificates().clientCert(),
                                       .keyFile = certificates().clientKey()}});
        EXPECT_TRUE(client->connect("127.0.0.1", port())) << client->connection().lastError();
        return client;
    }
};

template <class Transport>
class Scenario : public SharedHostTest<Scenario<Transport>> {
  public:
    static HostOptions options() {
        std::vector<std::string> config = Transport::configLines();
        config.emplace_back("RequireLogin=1");
        return hostWith(projectFile(R"xml(<project>
    <PROJECT_NAME>Wasserwerk Süd</PROJECT_NAME>
    <COMPANY>Stadtwerke "Nord" &amp; Co</COMPANY>
  </project>)xml"),
                        config);
    }

  protected:
    static SuiteHost& host() { return SharedHostTest<Scenario<Transport>>::host(); }
    static std::unique_ptr<DaqClient> connect() { return Transport::connect(host()); }
    static std::unique_ptr<DaqClient> loggedIn(const char* user) {
        auto client = connect();
        EXPECT_EQ(ask(*client, loginRequest(user, user)), kAccepted) << user;
        return client;
    }
};

using Transports = ::testing::Types<OverPlain, OverTls>;
TYPED_TEST_SUITE(Scenario, Transports);

// Before a login nothing but "LOGIN" and "ALIVE" is answered; the fifth refused login closes.
TYPED_TEST(Scenario, LoginOpensTheConnectionToEveryRequest) {
    auto client = this->connect();
    ASSERT_TRUE(client->connection().sendMessage(client::daqStatusRequest()));
    EXPECT_TRUE(nextAnswerIsAlive(*client)) << "the status came before the login";
    EXPECT_EQ(ask(*client, loginRequest(kViewer, kViewer)), kAccepted);
    EXPECT_EQ(ask(*client, client::daqStatusRequest()), R"({"PS_ID":true,"STATUS":"RUNNING"})");
    EXPECT_THAT(
        ask(*client, client::projectInfoRequest()),
        HasSubstr(R"("PROJECT_NAME":"Wasserwerk Süd","COMPANY":"Stadtwerke \"Nord\" & Co")"));
    // The host runs in this process's time zone: its clock is ours.
    const std::string alive = ask(*client, client::aliveRequest());
    std::tm shown{};
    ASSERT_TRUE(strptime(alive.c_str(), R"({"PS_ID":true,"TIME":"%Y.%m.%d %H:%M.%S)", &shown))
        << alive;
    shown.tm_isdst = -1;
    EXPECT_LE(std::abs(std::difftime(std::mktime(&shown), std::time(nullptr))), 60.0) << alive;

    auto intruder = this->connect();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ask(*intruder, loginRequest(kAdmin, "wrong")), kRefused) << i;
    }
    EXPECT_EQ(intruder->connection().readUntilClosed(kReplyTimeout), "");
}

// Last: it stops the host. The notice reaches a connection once however often it logged in.
TYPED_TEST(Scenario, StopNoticeGoesUnframedToEachLoggedInConnectionOnly) {
    auto twice = this->loggedIn(kAdmin);
    EXPECT_EQ(ask(*twice, loginRequest(kViewer, kViewer)), kAccepted);
    auto anonymous = this->connect();
    this->loggedIn(kViewer)->close();  // a login whose connection leaves before the stop

    // The host must end cleanly: a row booked twice would bring it down on the way out.
    ASSERT_TRUE(this->host().stop());
    EXPECT_EQ(twice->connection().readUntilClosed(kReplyTimeout), R"({"PS_ID":true})");
    EXPECT_EQ(anonymous->connection().readUntilClosed(kReplyTimeout), "");
}

}  // namespace
}  // namespace daq::test
