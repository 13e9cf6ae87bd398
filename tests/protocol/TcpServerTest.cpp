// The TCP component over loopback, with the frame-echo handler of tcp_echo_server.h.
#include <gtest/gtest.h>

#include <openssl/ssl.h>
#include <asio/ip/tcp.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/tcp/TcpServer.h"
#include "server/tcp/TimeoutSweep.h"
#include "tests/protocol/TcpEchoServer.h"
#include "tests/support/RawSocket.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsSocket.h"
#include "tools/client/ClientConnection.h"

namespace daq::tcp {
namespace {

using namespace std::chrono_literals;
using client::ClientConnection;
using testing::EchoServer;

constexpr std::uint16_t kNoPort = 0;

// `count` request frames of the message, to send in one write.
std::string repeatedFrames(const std::string& message, int count) {
    std::string frames;
    for (int i = 0; i < count; ++i) {
        frames.append(1, '\x02').append(message).append(1, '\x03');
    }
    return frames;
}

// The time the listener measures its time-outs in, moved on by the test.
class TestClock {
  public:
    using Clock = std::chrono::steady_clock;

    std::function<Clock::time_point()> source() const {
        return [now = now_] { return Clock::time_point(Clock::duration(now->load())); };
    }
    void advance(Clock::duration step) { *now_ += step.count(); }

  private:
    std::shared_ptr<std::atomic<Clock::rep>> now_ =
        std::make_shared<std::atomic<Clock::rep>>(Clock::now().time_since_epoch().count());
};

std::unique_ptr<ClientConnection> connectTo(const EchoServer& echo) {
    auto connection = std::make_unique<ClientConnection>();
    EXPECT_TRUE(connection->connect("127.0.0.1", echo.port())) << connection->lastError();
    return connection;
}

// Connect, data and disconnect are reported once per connection, whichever side closes (the
// server sends its queued output first), writes go out whole and in order, and activation after
// a deactivation listens again with fresh ids. Two IO threads: events of one connection never
// overlap, however the threads take them.
TEST(TcpServer, ConnectionsAreReportedOnceFromListeningToTheServersEnd) {
    EchoServer echo({.ioThreads = 2});
    ASSERT_TRUE(echo.log.waitUntil([&] { return !echo.log.statuses.empty(); }));
    EXPECT_EQ(echo.log.statuses.front(), "listening on 127.0.0.1:" + std::to_string(echo.port()));
    auto client = connectTo(echo);
    auto closed = connectTo(echo);
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.connects.size() == 2; }));
    const auto connections = echo.server.connections();
    ASSERT_EQ(connections.size(), 2U);
    ASSERT_TRUE(client->sendMessage("REPEAT:300"));
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(client->readFrame(), std::to_string(i)) << client->lastError();
    }
    ASSERT_TRUE(closed->sendMessage("CLOSE"));
    EXPECT_EQ(closed->readUntilClosed(), R"({"PS_ID":true})");
    client->close();
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.disconnects.size() == 2; }));
    for (const auto& connection : connections) {
        EXPECT_EQ(connection->peerAddress(), "127.0.0.1");
        EXPECT_NE(connection->peerPort(), kNoPort);
        EXPECT_FALSE(connection->connected());
    }
    EXPECT_EQ(echo.server.connectionCount(), 0U);

    echo.server.deactivate();
    echo.server.activate();
    auto again = connectTo(echo);
    ASSERT_TRUE(again->sendMessage("again"));
    EXPECT_EQ(again->readFrame(), "again");
    std::lock_guard lock(echo.log.mutex());
    EXPECT_EQ(std::set(echo.log.disconnects.begin(), echo.log.disconnects.end()),
              std::set(echo.log.connects.begin(), echo.log.connects.begin() + 2));
    EXPECT_GT(echo.log.connects.at(2), std::max(echo.log.connects[0], echo.log.connects[1]));
    EXPECT_TRUE(echo.log.exceptions.empty());
}

// A failure is reported with its code and ends only its own connection (an accept's, or one
// over the cap: the one being accepted, with no connection id); the others go on, and a place
// a connection frees is taken again.
TEST(TcpServer, FailuresAreReportedAndEndOnlyTheirConnection) {
    const struct {
        TcpServerSettings settings;
        std::optional<TcpFault> fault;
        const char* sent;  // nullptr: the failure comes with the connect
        int code;          // -1: not a SocketError
    } cases[] = {
        {{}, std::nullopt, "THROW", -1},
        {{}, TcpFault::NextWrite, "lost", 10054},
        {{}, TcpFault::NextAccept, nullptr, 10053},
        {{.maxConnections = 1}, std::nullopt, nullptr, 10024},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.code);
        EchoServer echo(each.settings);
        auto other = connectTo(echo);
        ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.connects.size() == 1; }));
        if (each.fault) {
            echo.server.injectFault(*each.fault);
        }
        auto failing = connectTo(echo);
        if (each.sent != nullptr) {
            ASSERT_TRUE(failing->sendMessage(each.sent));
        }
        EXPECT_EQ(failing->readUntilClosed(), "");
        ASSERT_TRUE(echo.log.waitUntil([&] { return !echo.log.exceptions.empty(); }));
        const testing::ExceptionRecord failure = echo.log.exceptions.at(0);
        EXPECT_EQ(failure.code, each.code);
        const std::size_t accepted = each.sent != nullptr ? 2 : 1;
        ASSERT_TRUE(
            echo.log.waitUntil([&] { return echo.log.disconnects.size() == accepted - 1; }));
        EXPECT_EQ(echo.log.connects.size(), accepted);
        EXPECT_EQ(failure.connectionId, accepted == 2 ? echo.log.connects[1] : 0U);

        ASSERT_TRUE(other->sendMessage("still here"));
        EXPECT_EQ(other->readFrame(), "still here");
        other->close();
        ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.disconnects.size() == accepted; }));
        auto next = connectTo(echo);
        ASSERT_TRUE(next->sendMessage("next"));
        EXPECT_EQ(next->readFrame(), "next");
    }
}

// A client that pipelines requests and reads nothing holds no more than its output bound: its
// further requests wait while others are served, and the unfinished-input time-out closes it.
TEST(TcpServer, ClientThatNeverReadsIsHeldAtItsBacklogBoundUntilTheUnfinishedInputTimeOut) {
    constexpr std::size_t kBound = 1024 * 1024;
    constexpr int kRequests = 64;  // 16 MiB of answers
    TestClock clock;
    // The close gives up on the answers the client does not take after the drain time-out.
    EchoServer echo({.maxOutputBacklog = kBound,
                     .closeDrainTimeout = 10ms,
                     .unfinishedInputTimeout = 30s,
                     .timeoutSweepPeriod = 5ms,
                     .clock = clock.source()});
    auto reader = connectTo(echo);
    test::RawSocket stuck;
    ASSERT_TRUE(stuck.connect(echo.port(), 4096));
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.connects.size() == 2; }));
    ASSERT_TRUE(stuck.send(repeatedFrames("BIG:262144", kRequests)));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(reader->sendMessage("ping " + std::to_string(i)));
        ASSERT_EQ(reader->readFrame(), "ping " + std::to_string(i));
    }
    {
        std::lock_guard lock(echo.log.mutex());
        EXPECT_TRUE(echo.log.exceptions.empty()) << echo.log.exceptions[0].message;
        EXPECT_LT(echo.log.answered, std::size_t{20 + kRequests}) << "every request was answered";
    }
    // The first looks may still see the kernel move a last part to the client.
    bool closed = false;
    for (int look = 0; look < 20 && !closed; ++look) {
        clock.advance(31s);
        closed = echo.log.waitUntil([&] { return echo.log.disconnects.size() == 1; }, 100ms);
    }
    ASSERT_TRUE(closed);
    ASSERT_EQ(echo.log.exceptions.size(), 1U);
    EXPECT_EQ(echo.log.exceptions[0].code, kConnectionTimedOut);
    EXPECT_TRUE(echo.log.exceptions[0].message.starts_with("unfinished input for 30 s"))
        << echo.log.exceptions[0].message;
    ASSERT_TRUE(reader->sendMessage("after"));
    EXPECT_EQ(reader->readFrame(), "after");
}

// Each answer leaves as soon as it is queued: none waits for the requests behind it in the same
// read.
TEST(TcpServer, PipelinedAnswerLeavesBeforeTheNextRequestIsHandled) {
    EchoServer echo;
    std::promise<void> firstRead;
    echo.onHold = [read = firstRead.get_future().share()] { read.wait_for(10s); };
    auto client = connectTo(echo);
    ASSERT_TRUE(
        client->sendRaw("\x02"
                        "BIG:400000"
                        "\x03\x02HOLD\x03"));
    const auto answer = client->readFrame(5s);
    firstRead.set_value();
    ASSERT_TRUE(answer) << client->lastError();
    EXPECT_EQ(answer->size(), 400000U);
    EXPECT_EQ(client->readFrame(), "HOLD");
}

// What netcat -N and many scripts do: send the requests, shut down the sending side, read
// slowly. However many answers are pipelined, each larger than the output bound, the client gets
// them all before the close: requests held back meanwhile are not unfinished input, however long
// one answer takes, and the close waits on as long as the client takes some of its output.
TEST(TcpServer, HalfClosedSlowReaderOfPipelinedAnswersLargerThanTheBoundGetsThemAll) {
    // Eight times the bound; the last answer is more than the kernels hold, so that the close
    // finds most of it still queued.
    const std::string requests =
        repeatedFrames("BIG:2000000", 2) + repeatedFrames("BIG:4000000", 1);
    constexpr std::size_t kPart = 256 * 1024;
    constexpr std::size_t kExpected = 2 * (2'000'000 + 3) + 4'000'000 + 3;
    constexpr std::size_t kLastAnswer = 4'000'000 + 3;
    TestClock clock;
    EchoServer echo({.maxOutputBacklog = 1024 * 1024,
                     .closeDrainTimeout = 200ms,
                     .unfinishedInputTimeout = 30s,
                     .timeoutSweepPeriod = 1ms,
                     .clock = clock.source()});
    test::RawSocket client;
    ASSERT_TRUE(client.connect(echo.port(), 4096));
    ASSERT_TRUE(client.send(requests));
    client.shutdownSending();
    std::string received;
    // Fifteen seconds of the server's clock for every part read: each answer takes two minutes.
    // The last answer, queued when the close begins, is read in pauses each well shorter than
    // the drain time-out, together longer than it.
    for (int i = 0; i < 1000 && received.size() < kExpected; ++i) {
        const bool last = received.size() >= kExpected - kLastAnswer;
        const std::string bytes =
            client.receive(std::min(last ? kPart / 4 : kPart, kExpected - received.size()), 5s);
        ASSERT_FALSE(bytes.empty()) << "closed after " << received.size() << " bytes";
        received += bytes;
        clock.advance(15s);
        std::this_thread::sleep_for(last ? 15ms : 3ms);
    }
    EXPECT_TRUE(client.receiveUntilClosed(5s, 16).closed);
    std::lock_guard lock(echo.log.mutex());
    EXPECT_TRUE(echo.log.exceptions.empty()) << echo.log.exceptions[0].message;
}

// Deactivation closes every connection, gives up on output a peer does not take and returns
// once every handler has run; it is refused from an IO thread. Connections held past it, and
// past the server's end, take writes and closes quietly.
TEST(TcpServer, DeactivateClosesLiveConnectionsAndWaitsForTheirHandlers) {
    constexpr std::size_t kAnswer = 8 * 1024 * 1024;  // more than the socket buffers hold
    std::vector<ConnectionPtr> held;
    auto echoServer = std::make_unique<EchoServer>(
        TcpServerSettings{.maxOutputBacklog = 2 * kAnswer, .closeDrainTimeout = 20ms});
    EchoServer& echo = *echoServer;
    std::atomic<int> finished{0};
    echo.onDisconnectHook = [&] {
        std::this_thread::sleep_for(10ms);  // a slow handler deactivate must wait for
        ++finished;
    };
    bool refused = false;
    echo.onHold = [&] {
        try {
            echo.server.deactivate();
        } catch (const std::logic_error&) {
            refused = true;
        }
    };
    std::vector<std::unique_ptr<ClientConnection>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(connectTo(echo));
    }
    ASSERT_TRUE(clients[0]->sendMessage("HOLD"));
    EXPECT_EQ(clients[0]->readFrame(), "HOLD");
    EXPECT_TRUE(refused);
    test::RawSocket stuck;
    ASSERT_TRUE(stuck.connect(echo.port(), 4096));
    ASSERT_TRUE(stuck.send(repeatedFrames("BIG:" + std::to_string(kAnswer), 1)));
    // Building the answer takes seconds under ThreadSanitizer.
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.answered == 2; }, 60s));
    held = echo.server.connections();
    const std::uint16_t port = echo.port();

    echo.server.deactivate();
    EXPECT_EQ(finished.load(), 4);
    EXPECT_FALSE(echo.server.active());
    EXPECT_EQ(echo.server.connectionCount(), 0U);
    EXPECT_EQ(echo.server.localPort(), kNoPort);
    const std::size_t eventsAtReturn = echo.log.events;

    // Writes and closes on held connections raise no event; clients see the close.
    for (const auto& connection : held) {
        EXPECT_FALSE(connection->connected());
        connection->write("late");
        connection->close();
    }
    for (auto& client : clients) {
        EXPECT_EQ(client->readUntilClosed(), "");
    }
    std::unique_lock lock(echo.log.mutex());
    EXPECT_EQ(echo.log.events, eventsAtReturn);
    EXPECT_EQ(echo.log.disconnects.size(), 4U);
    EXPECT_TRUE(echo.log.exceptions.empty());
    EXPECT_EQ(echo.log.statuses.back(), "stopped listening on 127.0.0.1:" + std::to_string(port));
    lock.unlock();
    echoServer.reset();
    for (const auto& connection : held) {
        connection->write("after the end");
        connection->close();
    }
}

// A binding that fails leaves the ones before it closed: the same server activates again.
TEST(TcpServer, ActivationFailuresCarryWindowsSocketsCodesAndLeaveNothingOpen) {
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::make_address("127.0.0.1"), 0});
    const struct {
        const char* address;
        std::uint16_t port;
        int code;
    } cases[] = {
        {"127.0.0.1", taken.local_endpoint().port(), 10048},  // port in use
        {"192.0.2.1", 0, 10049},  // documentation address, on no machine
        {"300.1.2.3", 0, 10022},  // not an address
    };
    for (const auto& c : cases) {
        TcpServer server;
        server.addBinding("127.0.0.1", 0);
        server.addBinding(c.address, c.port);
        try {
            server.activate();
            ADD_FAILURE() << c.address << " activated";
        } catch (const SocketError& error) {
            EXPECT_EQ(error.code(), c.code) << c.address << ": " << error.what();
        }
        EXPECT_FALSE(server.active());
        EXPECT_EQ(server.localPort(), kNoPort);
        server.clearBindings();
        server.addBinding("127.0.0.1", 0);
        EXPECT_NO_THROW(server.activate());
    }
}

TEST(TcpServer, TimeOutSweepRunsAtAQuarterOfTheShortestTimeOutAtMostEverySecond) {
    TcpServerSettings settings;
    settings.idleTimeout = 60s;
    EXPECT_EQ(TimeoutSweep::period(settings), 1000ms);
    settings.unfinishedInputTimeout = 2s;
    EXPECT_EQ(TimeoutSweep::period(settings), 500ms);
    settings.idleTimeout = 1s;
    EXPECT_EQ(TimeoutSweep::period(settings), 250ms);
    settings = {.tlsHandshakeTimeout = 1s};
    EXPECT_EQ(TimeoutSweep::period(settings), 250ms);
}

// An idle connection is reported once per idle period, so that its owner can give memory back.
TEST(TcpServer, IdleConnectionIsReportedOncePerIdlePeriod) {
    TestClock clock;
    EchoServer echo({.idleTrimDelay = 1s, .timeoutSweepPeriod = 5ms, .clock = clock.source()});
    auto client = connectTo(echo);
    for (std::size_t period = 1; period <= 2; ++period) {
        ASSERT_TRUE(client->sendMessage("ping"));
        ASSERT_EQ(client->readFrame(), "ping");
        clock.advance(2s);
        ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.idles.size() == period; }));
        clock.advance(2s);
        std::this_thread::sleep_for(50ms);  // ten sweeps that must not report it again
        std::lock_guard lock(echo.log.mutex());
        EXPECT_EQ(echo.log.idles.size(), period);
    }
}

// TLS: certificates made once for the tests below.
class TcpServerTls : public ::testing::Test {
  protected:
    static TlsContextPtr context(TlsSettings settings = {}) {
        settings.certFile = certs().serverCert();
        settings.keyFile = certs().serverKey();
        settings.caFile = certs().caFile();
        return std::make_shared<TlsContext>(settings);
    }
    static const test::TestCertificates& certs() {
        static const test::TempDir dir;
        static const test::TestCertificates made(dir.path());
        return made;
    }
    static std::string frame(std::string_view text) {
        std::string framed;
        protocol::buildFrame(text, framed);
        return framed;
    }
    // Whether the client's message comes back framed, as a served client's does.
    static bool echoed(test::TlsSocket& client, std::string_view message) {
        const std::string answer = frame(message);
        return client.send(frame(message).substr(0, message.size() + 2)) &&
               client.receive(answer.size(), 2s) == answer;
    }
    // Connections are counted from their accept to just after their close, with no event.
    static bool connectionsBecome(const EchoServer& echo, std::size_t count) {
        for (int look = 0; look < 400 && echo.server.connectionCount() != count; ++look) {
            std::this_thread::sleep_for(5ms);
        }
        return echo.server.connectionCount() == count;
    }
    // Waits for the one exception a refused client causes: reported without a connection,
    // naming the peer.
    static void expectRefusal(EchoServer& echo, int code, const std::string& text) {
        ASSERT_TRUE(echo.log.waitUntil([&] { return !echo.log.exceptions.empty(); }));
        std::lock_guard lock(echo.log.mutex());
        EXPECT_EQ(echo.log.exceptions[0].code, code);
        EXPECT_EQ(echo.log.exceptions[0].connectionId, 0U);
        EXPECT_NE(echo.log.exceptions[0].message.find(" 127.0.0.1:"), std::string::npos);
        EXPECT_NE(echo.log.exceptions[0].message.find(text), std::string::npos)
            << echo.log.exceptions[0].message;
        EXPECT_TRUE(echo.log.connects.empty());
    }
};

// A client is served over TLS only with the certificate and the version the server asks for; a
// refused one reaches none of the owner's events but the exception, with the peer and the reason.
TEST_F(TcpServerTls, ClientIsServedOnlyWithTheCertificateAndVersionAsked) {
    using Certs = TlsSettings::ClientCerts;
    using Version = TlsSettings::MinVersion;
    const struct {
        const char* name;
        TlsSettings server;
        bool clientCert;
        int clientMin;
        int clientMax;
        const char* refusal;  // OpenSSL's reason; nullptr: served
    } cases[] = {
        {"no certificate asked", {}, false, 0, 0, nullptr},
        {"certificate required, none",
         {.clientCerts = Certs::Required},
         false,
         0,
         0,
         "peer did not return a certificate"},
        {"certificate optional, none", {.clientCerts = Certs::Optional}, false, 0, 0, nullptr},
        {"certificate required, shown", {.clientCerts = Certs::Required}, true, 0, 0, nullptr},
        {"TLS 1.0", {}, false, TLS1_VERSION, TLS1_VERSION, "unsupported protocol"},
        {"TLS 1.1", {}, false, TLS1_VERSION, TLS1_1_VERSION, "unsupported protocol"},
        {"TLS 1.2", {}, false, 0, TLS1_2_VERSION, nullptr},
        {"TLS 1.2 below a 1.3 minimum",
         {.minVersion = Version::Tls13},
         false,
         0,
         TLS1_2_VERSION,
         "unsupported protocol"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        EchoServer echo({}, context(each.server));
        test::TlsSocket client({.caFile = certs().caFile(),
                                .certFile = each.clientCert ? certs().clientCert() : "",
                                .keyFile = each.clientCert ? certs().clientKey() : "",
                                .minVersion = each.clientMin,
                                .maxVersion = each.clientMax});
        // A TLS 1.3 client learns of a missing certificate only at its first read.
        const std::string handshake = client.connect(echo.tlsPort());
        const bool served = handshake.empty() && echoed(client, "hello");
        EXPECT_EQ(served, each.refusal == nullptr) << handshake;
        if (each.refusal != nullptr) {
            expectRefusal(echo, kTlsHandshakeFailed, each.refusal);
            EXPECT_TRUE(client.receiveUntilClosed(2s, 1024).closed);
        }
    }
}

// A handshake that stalls (nothing sent, or part of a ClientHello) holds a place under the
// connection cap, shared with the plain port, until the handshake time-out closes it; the
// shorter idle time-out is not the one of a connection the owner has not seen.
TEST_F(TcpServerTls, StalledHandshakeHoldsAPlaceUntilItsTimeOut) {
    for (const std::string& sent : {std::string(), std::string("\x16\x03\x01\x02\x00\x01", 6)}) {
        SCOPED_TRACE(sent.size());
        TestClock clock;
        EchoServer echo({.maxConnections = 1,
                         .idleTimeout = 1s,
                         .timeoutSweepPeriod = 5ms,
                         .tlsHandshakeTimeout = 2s,
                         .clock = clock.source()},
                        context());
        test::RawSocket stalled;
        ASSERT_TRUE(stalled.connect(echo.tlsPort()));
        ASSERT_TRUE(stalled.send(sent));
        ASSERT_TRUE(connectionsBecome(echo, 1));
        test::RawSocket refused;
        ASSERT_TRUE(refused.connect(echo.port()));
        EXPECT_TRUE(refused.receiveUntilClosed(2s, 1).closed);
        clock.advance(1s);
        EXPECT_FALSE(stalled.receiveUntilClosed(50ms, 1).closed);
        clock.advance(1s);
        EXPECT_TRUE(stalled.receiveUntilClosed(2s, 1).closed);
        {
            std::lock_guard lock(echo.log.mutex());
            ASSERT_EQ(echo.log.exceptions.size(), 2U);
            echo.log.exceptions.erase(echo.log.exceptions.begin());  // the refused client's
        }
        expectRefusal(echo, kConnectionTimedOut, "TLS handshake not done in 2 s, from 127.0.0.1:");
        ASSERT_TRUE(connectionsBecome(echo, 0));  // given back just after the close
        auto plain = connectTo(echo);
        ASSERT_TRUE(plain->sendMessage("after"));
        EXPECT_EQ(plain->readFrame(), "after");
    }
}

// A plain client on the TLS port fails its handshake and a TLS client on the plain port is
// closed as input that completes no frame; clients of the right kind are served meanwhile.
TEST_F(TcpServerTls, ClientOnThePortOfTheOtherKindIsClosedAndOthersAreServed) {
    TestClock clock;
    EchoServer echo(
        {.unfinishedInputTimeout = 1s, .timeoutSweepPeriod = 5ms, .clock = clock.source()},
        context());
    test::RawSocket plainOnTls;
    ASSERT_TRUE(plainOnTls.connect(echo.tlsPort()));
    ASSERT_TRUE(plainOnTls.send(frame("hello")));
    EXPECT_TRUE(plainOnTls.receiveUntilClosed(2s, 1024).closed);
    expectRefusal(echo, kTlsHandshakeFailed, "TLS handshake with 127.0.0.1:");

    test::TlsSocket tlsOnPlain({.caFile = certs().caFile()});
    EXPECT_NE(tlsOnPlain.connect(echo.port(), 200ms), "");
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.connects.size() == 1; }));
    clock.advance(2s);
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.disconnects.size() == 1; }));

    auto plain = connectTo(echo);
    ASSERT_TRUE(plain->sendMessage("plain"));
    EXPECT_EQ(plain->readFrame(), "plain");
    test::TlsSocket tls({.caFile = certs().caFile()});
    ASSERT_EQ(tls.connect(echo.tlsPort()), "");
    EXPECT_TRUE(echoed(tls, "tls"));
    // The server's close says so in TLS too.
    ASSERT_TRUE(tls.send(frame("CLOSE").substr(0, 7)));
    EXPECT_EQ(tls.receiveUntilClosed(2s, 1024).bytes, R"({"PS_ID":true})");
    EXPECT_TRUE(tls.closeNotified());
    std::lock_guard lock(echo.log.mutex());
    EXPECT_EQ(echo.log.exceptions.size(), 2U);  // the plain client's, the time-out's
}

}  // namespace
}  // namespace daq::tcp
