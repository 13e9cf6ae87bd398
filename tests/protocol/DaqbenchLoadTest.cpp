// The load generator's loops over loopback: its loads against the echo limit server of the load
// figures, the closed loop over TLS against the host, and the fault loads (writers that never
// read, the connect storm) against a listener of the test that reads or closes when told.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "bench/echo-limit/EchoLimitServer.h"
#include "server/protocol/Frame.h"
#include "tests/support/HostProcess.h"
#include "tests/support/RawSocket.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsHost.h"
#include "tools/client/ClientConnection.h"
#include "tools/client/DaqClient.h"
#include "tools/client/TlsContext.h"
#include "tools/daqbench/LoadWorker.h"
#include "tools/daqbench/RequestMix.h"
#include "tools/daqbench/SilentWriter.h"
#include "tools/daqbench/StormWorker.h"

namespace {

using namespace std::chrono_literals;
using daq::bench::EchoLimitServer;
using daq::bench::EchoLimitSettings;
using daqbench::Clock;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The server on its own thread for the life of the test.
class RunningEcho {
  public:
    explicit RunningEcho(std::string answer)
        : server_(EchoLimitSettings{"127.0.0.1", 0, std::move(answer)}),
          thread_([this] { server_.run(); }) {}
    ~RunningEcho() {
        server_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return server_.port(); }

  private:
    EchoLimitServer server_;
    std::thread thread_;
};

// The echo limit server answers every frame once, whatever the segmentation and the bytes
// outside frames, and every answer of a burst that overflows the socket buffers.
TEST(EchoLimit, AnswersEveryFrameWithTheFixedAnswerWhateverTheSegmentation) {
    EXPECT_EQ(daq::bench::paddedAnswer(1).size(), daq::bench::kShortestPaddedAnswer);
    const std::string big = daq::bench::paddedAnswer(64 * 1024);
    ASSERT_EQ(big.size(), 64u * 1024);
    ASSERT_TRUE(daq::client::parseAnswer(big.substr(1, big.size() - 3)));
    RunningEcho echo(big);
    daq::client::ClientConnection client;
    ASSERT_TRUE(client.connect("127.0.0.1", echo.port()));
    std::string request;
    daq::protocol::buildFrame(R"({"PS_ID":"ALIVE"})", request, daq::protocol::FrameTrailer::None);
    std::string burst;
    for (int i = 0; i < 200; ++i) {
        burst += request;
    }
    ASSERT_TRUE(client.sendRaw("noise" + request + "more noise" + burst));
    ASSERT_TRUE(client.sendRaw(request.substr(0, 3)));
    ASSERT_TRUE(client.sendRaw(request.substr(3)));
    for (int i = 0; i < 202; ++i) {
        const auto text = client.readFrame();
        ASSERT_TRUE(text) << i << ": " << client.lastError();
        ASSERT_EQ(*text, big.substr(1, big.size() - 3)) << i;
    }
    EXPECT_FALSE(client.readFrame(50ms)) << "an answer for nothing";
}

daqbench::Timeline timelineOf(std::chrono::milliseconds duration) {
    daqbench::Timeline timeline;
    timeline.start = timeline.measureFrom = Clock::now();
    timeline.stopAt = timeline.start + duration;
    return timeline;
}

daqbench::WorkerPlan planFor(const sockaddr_in& address, daqbench::LoadMode mode,
                             const daqbench::RequestMix& mix) {
    daqbench::WorkerPlan plan;
    plan.address = address;
    plan.mode = mode;
    plan.mix = &mix;
    plan.timeout = 2000ms;
    return plan;
}

// Requests of one kind, with a login first when `login`.
daqbench::RequestMix mixOf(daqbench::RequestKind kind, bool login) {
    daqbench::BenchOptions options;
    options.mix = {{kind, 1}};
    options.indexes = 3;
    options.user = "admin";
    options.password = "secret";
    options.loginFirst = login;
    return daqbench::RequestMix(options, 100);
}

// Each loop against the echo limit server: answers counted (a storm counts its cycles), checked
// and timed, a run bound ending it long before its time.
TEST(EchoLimit, EachLoadCountsEveryAnswerItWaitedFor) {
    // The shape of a DAQ_DATA answer of three values, as the worker checks it.
    std::string data;
    daq::protocol::buildFrame(R"({"PS_ID":true,"LIST":[{"INDEX":"0"},{},{}]})", data);
    std::string result;
    daq::protocol::buildFrame(R"({"PS_ID":true,"RESULT":true})", result);
    const struct {
        const char* name;
        daqbench::LoadMode mode;
        daqbench::RequestKind kind;
        std::string answer;
        int connections;
        std::uint64_t requests;
        std::uint64_t values;
        std::uint64_t badAnswers;  // only the first answer of a connection is checked
    } loads[] = {
        {"closed", daqbench::LoadMode::Closed, daqbench::RequestKind::DaqData, data, 3, 500, 1500,
         0},
        {"open", daqbench::LoadMode::Open, daqbench::RequestKind::DaqData, data, 3, 500, 1500, 0},
        {"wrong shape", daqbench::LoadMode::Closed, daqbench::RequestKind::Alive,
         daq::bench::paddedAnswer(64), 2, 50, 0, 2},
        // Twelve cycles of four connections every 50 ms: three rounds, about 150 ms.
        {"storm", daqbench::LoadMode::Storm, daqbench::RequestKind::Alive, result, 4, 12, 0, 0},
    };
    for (const auto& load : loads) {
        SCOPED_TRACE(load.name);
        const bool storm = load.mode == daqbench::LoadMode::Storm;
        RunningEcho echo(load.answer);
        const auto mix = mixOf(load.kind, storm);
        daqbench::WorkerPlan plan = planFor(loopback(echo.port()), load.mode, mix);
        plan.loginFirst = storm;
        plan.connections = load.connections;
        plan.maxRequests = load.requests;
        plan.rate = 3000;
        plan.maxInFlight = daqbench::kMaxInFlightBound;  // a slow moment skips no send
        plan.hold = 20ms;
        plan.cycle = 50ms;
        const auto worker = storm ? std::unique_ptr<daqbench::LoadThread>(
                                        std::make_unique<daqbench::StormWorker>(plan))
                                  : std::make_unique<daqbench::LoadWorker>(plan);
        worker->connectAll();
        const auto timeline = timelineOf(5s);
        worker->run(timeline);

        const daqbench::WorkerResult& result = worker->result();
        EXPECT_EQ(result.answers, load.requests);
        EXPECT_EQ(result.values, load.values);
        EXPECT_EQ(result.errors.badAnswer, load.badAnswers);
        EXPECT_EQ(result.errors.total(), load.badAnswers)
            << "closed " << result.errors.closed << " timeout " << result.errors.timeout
            << " skipped " << result.errors.skipped;
        EXPECT_EQ(result.serverCloses, 0u);
        // A storm also times the cycles still holding at the end.
        EXPECT_GE(result.latency.count(), result.answers);
        EXPECT_GT(result.latency.min(), 0u);
        const auto took = result.finishedAt - timeline.start;
        EXPECT_LT(took, 2s);
        if (storm) {
            EXPECT_GE(took, 100ms + plan.hold);
        } else {
            EXPECT_EQ(result.ready, load.connections);
            EXPECT_EQ(result.bytesIn, load.answer.size() * result.answers);
        }
    }
}

// The closed loop and the handshakes mode over the host's TLS port: the handshakes are part of
// connecting, a server whose certificate the CA did not sign is not loaded at all.
TEST(DaqbenchTls, ClosedLoopAndHandshakesRunOverTlsToAVerifiedServerOnly) {
    const daq::test::TempDir dir;
    const daq::test::TestCertificates certificates(dir.path());
    const std::uint16_t tlsPort = daq::test::HostProcess::freePort();
    daq::test::HostProcess host(
        {.configLines = daq::test::tlsConfigLines(
             certificates, daq::test::TestCertificates::Server::Valid, tlsPort)});
    ASSERT_TRUE(host.start()) << host.log();
    const auto mix = mixOf(daqbench::RequestKind::Alive, false);
    for (const std::string& caFile : {certificates.caFile(), certificates.otherCaFile()}) {
        const bool trusted = caFile == certificates.caFile();
        SCOPED_TRACE(caFile);
        daq::client::TlsSettings tls;
        tls.caFile = caFile;
        tls.serverName = "127.0.0.1";
        std::string error;
        const auto context = daq::client::makeTlsContext(tls, error);
        ASSERT_TRUE(context) << error;
        daqbench::WorkerPlan plan = planFor(loopback(tlsPort), daqbench::LoadMode::Closed, mix);
        plan.tls = context.get();
        plan.tlsSettings = tls;
        plan.connections = 2;
        plan.maxRequests = 200;
        daqbench::LoadWorker worker(plan);
        worker.connectAll();
        worker.run(timelineOf(5s));
        const daqbench::WorkerResult& result = worker.result();
        EXPECT_EQ(result.ready, trusted ? 2 : 0);
        EXPECT_EQ(result.answers, trusted ? plan.maxRequests : 0u);
        EXPECT_EQ(result.errors.connect, trusted ? 0u : 2u);
        EXPECT_EQ(result.errors.total(), result.errors.connect);

        // Each connection's handshakes after its first resume the session of the one before.
        plan.mode = daqbench::LoadMode::Handshakes;
        plan.resume = true;
        plan.maxRequests = 20;
        daqbench::LoadWorker handshakes(plan);
        handshakes.run(timelineOf(5s));
        EXPECT_EQ(handshakes.result().answers, trusted ? plan.maxRequests : 0u);
        EXPECT_EQ(handshakes.result().resumed, trusted ? plan.maxRequests - 2 : 0u);
    }
}

// A listening socket on an ephemeral loopback port; accepts one connection at a time.
class Listener {
  public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "listener: " << errno;
        }
        address_ = address;
    }
    ~Listener() { ::close(fd_); }
    const sockaddr_in& address() const { return address_; }
    // The next connection, or none (-1) when none comes within the time.
    int accept(std::chrono::milliseconds within) const {
        pollfd wait{fd_, POLLIN, 0};
        return ::poll(&wait, 1, static_cast<int>(within.count())) == 1
                   ? ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)
                   : -1;
    }

  private:
    int fd_ = -1;
    sockaddr_in address_{};
};

// The writers that never read go on until the server closes and see the close without reading:
// an endless frame (STX, then chunks and never an ETX) and a stuck client (its login, then
// requests pipelined until both socket buffers are full).
TEST(DaqbenchFaults, SilentWritersSendUntilTheServerClosesAndSeeTheClose) {
    const auto mix = mixOf(daqbench::RequestKind::Alive, true);
    const std::string& alive = mix.at(0).frames.front();
    const std::string head = mix.loginFrame() + alive + alive + alive;
    for (const auto mode : {daqbench::LoadMode::Endless, daqbench::LoadMode::Stuck}) {
        const bool endless = mode == daqbench::LoadMode::Endless;
        SCOPED_TRACE(endless ? "endless" : "stuck");
        Listener listener;
        daqbench::WorkerPlan plan = planFor(listener.address(), mode, mix);
        plan.loginFirst = !endless;
        plan.chunkBytes = 100;
        plan.chunkInterval = 5ms;
        daqbench::SilentWriter writer(plan);
        writer.connectAll();
        ASSERT_EQ(writer.result().ready, 1);
        const auto timeline = timelineOf(5s);
        auto running = std::async(std::launch::async, [&] { writer.run(timeline); });
        daq::test::RawSocket server(listener.accept(2s));
        // The endless frame is read as it comes; the stuck client's requests stay unread until
        // it has filled the buffers and waits, then this side takes a little and closes.
        std::this_thread::sleep_for(endless ? 0ms : 100ms);
        const std::string bytes =
            server.receive(endless ? 1 << 20 : head.size(), endless ? 150ms : 50ms);
        server.close();

        ASSERT_EQ(running.wait_for(3s), std::future_status::ready) << "the close went unseen";
        const daqbench::WorkerResult& result = writer.result();
        EXPECT_EQ(result.serverCloses, 1u);
        EXPECT_LT(result.finishedAt, timeline.stopAt);
        EXPECT_EQ(result.errors.total(), 0u);
        if (!endless) {
            EXPECT_EQ(bytes, head);
            // Far more than the frames read: the writer went on until the buffers were full.
            EXPECT_GT(result.bytesOut, 64u * 1024);
            continue;
        }
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes.front(), daq::protocol::kStx);
        EXPECT_EQ(bytes.find(daq::protocol::kEtx), std::string::npos);
        EXPECT_EQ(bytes.find(daq::protocol::kStx, 1), std::string::npos);
        // About 30 chunks in 150 ms; a loaded machine gets far fewer, never more than one per
        // 5 ms.
        EXPECT_GE(bytes.size(), 1u + 2 * 100);
        EXPECT_LE(bytes.size(), 1u + 35 * 100);
        EXPECT_GE(result.closeAfter.max(), 150'000'000u * 97 / 100);  // histogram precision
        EXPECT_GE(result.bytesOut, bytes.size());
    }
}

TEST(DaqbenchFaults, StormCountsConnectionsTheServerClosesAtOnce) {
    Listener listener;
    const auto mix = mixOf(daqbench::RequestKind::Alive, false);
    daqbench::WorkerPlan plan = planFor(listener.address(), daqbench::LoadMode::Storm, mix);
    plan.hold = 1000ms;
    plan.cycle = 50ms;
    daqbench::StormWorker storm(plan);
    const auto timeline = timelineOf(300ms);
    auto running = std::async(std::launch::async, [&] { storm.run(timeline); });
    int closed = 0;
    // Accepted and closed at once for 200 ms; later ones wait unaccepted until the run ends.
    for (int i = 0; i < 10 && Clock::now() < timeline.start + 200ms; ++i) {
        const int server = listener.accept(25ms);
        if (server >= 0) {
            ::close(server);
            ++closed;
        }
    }
    running.get();
    const daqbench::WorkerResult& result = storm.result();
    EXPECT_GE(closed, 2);  // one start per 50 ms; fewer accepted on a loaded machine
    EXPECT_EQ(result.serverCloses, static_cast<std::uint64_t>(closed));
    EXPECT_EQ(result.answers, 0u) << "no cycle held its second";
    EXPECT_LT(result.closeAfter.max(), 200'000'000u);
    EXPECT_EQ(result.errors.total(), 0u);
}

}  // namespace
