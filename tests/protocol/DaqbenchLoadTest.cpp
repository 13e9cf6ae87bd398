// The load generator's loops over loopback: the load loop against the echo limit server of the
// load figures, the fault loads (writers that never read, the connect storm) against a listener
// of the test that reads or closes when told, and against the echo limit server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "bench/echo-limit/EchoLimitServer.h"
#include "server/protocol/Frame.h"
#include "tools/client/ClientConnection.h"
#include "tools/client/DaqClient.h"
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

std::string frameOf(const std::string& json) {
    std::string frame;
    daq::protocol::buildFrame(json, frame, daq::protocol::FrameTrailer::None);
    return frame;
}

TEST(EchoLimit, AnswersEveryFrameWithTheFixedAnswerWhateverTheSegmentation) {
    using daq::bench::kShortestPaddedAnswer;
    EXPECT_EQ(daq::bench::paddedAnswer(kShortestPaddedAnswer).size(), kShortestPaddedAnswer);
    EXPECT_EQ(daq::bench::paddedAnswer(1).size(), kShortestPaddedAnswer);  // none is shorter
    const std::string answer = daq::bench::paddedAnswer(100);
    ASSERT_EQ(answer.size(), 100u);
    ASSERT_TRUE(daq::client::parseAnswer(answer.substr(1, answer.size() - 3)));

    RunningEcho echo(answer);
    daq::client::ClientSettings settings;
    settings.replyTimeout = 3000ms;
    daq::client::ClientConnection client(settings);
    ASSERT_TRUE(client.connect("127.0.0.1", echo.port()));

    const std::string request = frameOf(R"({"PS_ID":"ALIVE"})");
    // Two frames in one write with bytes outside frames around them, then one split in three.
    ASSERT_TRUE(client.sendRaw("noise" + request + "more noise" + request));
    ASSERT_TRUE(client.sendRaw(request.substr(0, 3)));
    std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(client.sendRaw(request.substr(3, 5)));
    ASSERT_TRUE(client.sendRaw(request.substr(8)));
    for (int i = 0; i < 3; ++i) {
        const auto text = client.readFrame();
        ASSERT_TRUE(text) << i << ": " << client.lastError();
        EXPECT_EQ(*text, answer.substr(1, answer.size() - 3));
    }
    EXPECT_FALSE(client.readFrame(50ms)) << "an answer for nothing";

    // 200 requests at once whose answers (64 KiB each) overflow the socket buffers: every one
    // still comes, whole and in order.
    const std::string big = daq::bench::paddedAnswer(64 * 1024);
    RunningEcho bigEcho(big);
    daq::client::ClientConnection bulk(settings);
    ASSERT_TRUE(bulk.connect("127.0.0.1", bigEcho.port()));
    std::string requests;
    for (int i = 0; i < 200; ++i) {
        requests += request;
    }
    ASSERT_TRUE(bulk.sendRaw(requests));
    for (int i = 0; i < 200; ++i) {
        const auto text = bulk.readFrame();
        ASSERT_TRUE(text) << i << ": " << bulk.lastError();
        ASSERT_EQ(text->size(), big.size() - 3) << i;
    }
}

// The load loop of daqbench: answers counted, checked and timed, in both loop modes.
TEST(EchoLimit, LoadWorkerCountsEveryAnswerItWaitedFor) {
    // The shape of a DAQ_DATA answer of three values, as the worker checks it.
    std::string answer;
    daq::protocol::buildFrame(R"({"PS_ID":true,"LIST":[{"INDEX":"0"},{},{}]})", answer);
    RunningEcho echo(answer);

    daqbench::BenchOptions options;
    options.mix = {{daqbench::RequestKind::DaqData, 1}};
    options.indexes = 3;
    const daqbench::RequestMix mix(options, 100);

    for (const auto mode : {daqbench::LoadMode::Closed, daqbench::LoadMode::Open}) {
        daqbench::WorkerPlan plan;
        plan.address = loopback(echo.port());
        plan.connections = 3;
        plan.mode = mode;
        plan.rate = 3000;
        plan.maxInFlight = daqbench::kMaxInFlightBound;  // a slow moment skips no send
        plan.maxRequests = 500;
        plan.mix = &mix;
        daqbench::LoadWorker worker(plan);
        worker.connectAll();
        daqbench::Timeline timeline;
        timeline.start = Clock::now();
        timeline.measureFrom = timeline.start + 20ms;
        timeline.stopAt = timeline.measureFrom + 2s;
        worker.run(timeline);

        const daqbench::WorkerResult& result = worker.result();
        const bool closed = mode == daqbench::LoadMode::Closed;
        EXPECT_EQ(result.ready, 3);
        EXPECT_EQ(result.errors.total(), 0u)
            << closed << " closed " << result.errors.closed << " timeout " << result.errors.timeout
            << " bad " << result.errors.badAnswer << " skipped " << result.errors.skipped;
        // The bound of 500 ends the run long before the two seconds (the open loop gives 3000
        // requests a second).
        EXPECT_EQ(result.answers, 500u) << closed;
        EXPECT_LT(result.finishedAt, timeline.stopAt);
        EXPECT_EQ(result.latency.count(), result.answers);
        EXPECT_EQ(result.values, 3 * result.answers);
        EXPECT_EQ(result.bytesIn, answer.size() * result.answers);
        EXPECT_GT(result.latency.min(), 0u);
    }
}

// A connection whose answers do not match is counted as a bad answer, not as a good one.
TEST(EchoLimit, LoadWorkerCountsAnswersOfTheWrongShape) {
    RunningEcho echo(daq::bench::paddedAnswer(64));
    daqbench::BenchOptions options;
    options.mix = {{daqbench::RequestKind::Alive, 1}};
    const daqbench::RequestMix mix(options, 0);
    daqbench::WorkerPlan plan;
    plan.address = loopback(echo.port());
    plan.connections = 2;
    plan.maxRequests = 50;
    plan.mix = &mix;
    daqbench::LoadWorker worker(plan);
    worker.connectAll();
    const auto now = Clock::now();
    worker.run({now, now, now + 2s});
    // Only the first answer of each connection is checked by default: one bad answer each.
    EXPECT_EQ(worker.result().errors.badAnswer, 2u);
    EXPECT_EQ(worker.result().answers, 50u);
}

// A listening socket on an ephemeral loopback port; accepts one connection at a time.
class Listener {
  public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
    // The next connection, or -1 when none comes within the time.
    int accept(std::chrono::milliseconds within) const {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(within.count())) != 1) {
            return -1;
        }
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

  private:
    int fd_ = -1;
    sockaddr_in address_{};
};

// What arrives on `fd` within the time, at most `limit` bytes.
std::string readFor(int fd, std::chrono::milliseconds time, std::size_t limit) {
    std::string bytes;
    const auto until = Clock::now() + time;
    char buffer[4096];
    while (Clock::now() < until && bytes.size() < limit) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 10) == 1) {
            const ssize_t got =
                ::recv(fd, buffer, std::min(sizeof buffer, limit - bytes.size()), 0);
            if (got <= 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
    }
    return bytes;
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

daqbench::BenchOptions loginOptions() {
    daqbench::BenchOptions options;
    options.mix = {{daqbench::RequestKind::Alive, 1}};
    options.user = "admin";
    options.password = "secret";
    return options;
}

TEST(DaqbenchFaults, EndlessFrameSendsStxThenChunksWithoutEtxUntilTheServerCloses) {
    Listener listener;
    const daqbench::RequestMix mix(loginOptions(), 0);
    daqbench::WorkerPlan plan = planFor(listener.address(), daqbench::LoadMode::Endless, mix);
    plan.chunkBytes = 100;
    plan.chunkInterval = 10ms;
    daqbench::SilentWriter writer(plan);
    writer.connectAll();
    ASSERT_EQ(writer.result().ready, 1);
    const auto timeline = timelineOf(5s);
    auto running = std::async(std::launch::async, [&] { writer.run(timeline); });

    const int server = listener.accept(2s);
    ASSERT_GE(server, 0);
    const std::string bytes = readFor(server, 300ms, 1 << 20);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.front(), daq::protocol::kStx);
    EXPECT_EQ(bytes.find(daq::protocol::kEtx), std::string::npos);
    EXPECT_EQ(bytes.find(daq::protocol::kStx, 1), std::string::npos);
    // About 30 chunks in 300 ms; a loaded machine gets fewer, never more than one per 10 ms.
    EXPECT_GE(bytes.size(), 1u + 5 * 100);
    EXPECT_LE(bytes.size(), 1u + 35 * 100);
    ::close(server);

    ASSERT_EQ(running.wait_for(3s), std::future_status::ready) << "the close went unseen";
    const daqbench::WorkerResult& result = writer.result();
    EXPECT_EQ(result.serverCloses, 1u);
    EXPECT_GE(result.closeAfter.max(), 300'000'000u * 97 / 100);  // histogram precision
    EXPECT_LT(result.finishedAt, timeline.stopAt);
    EXPECT_GE(result.bytesOut, bytes.size());
    EXPECT_EQ(result.errors.total(), 0u);
}

TEST(DaqbenchFaults, StuckWriterLogsInThenPipelinesRequestsAndSeesTheCloseWithoutReading) {
    Listener listener;
    daqbench::BenchOptions options = loginOptions();
    options.loginFirst = true;
    const daqbench::RequestMix mix(options, 0);
    daqbench::WorkerPlan plan = planFor(listener.address(), daqbench::LoadMode::Stuck, mix);
    plan.loginFirst = true;
    daqbench::SilentWriter writer(plan);
    writer.connectAll();
    const auto timeline = timelineOf(5s);
    auto running = std::async(std::launch::async, [&] { writer.run(timeline); });

    const int server = listener.accept(2s);
    ASSERT_GE(server, 0);
    // Unread for a while: the writer fills both socket buffers and waits, then this side
    // takes a little and closes with the rest unread.
    std::this_thread::sleep_for(200ms);
    const std::string& login = mix.loginFrame();
    const std::string& alive = mix.at(0).frames.front();
    const std::string head = readFor(server, 100ms, login.size() + 3 * alive.size());
    ASSERT_EQ(head.size(), login.size() + 3 * alive.size());
    EXPECT_EQ(head, login + alive + alive + alive);
    ::close(server);

    ASSERT_EQ(running.wait_for(3s), std::future_status::ready) << "the close went unseen";
    const daqbench::WorkerResult& result = writer.result();
    EXPECT_EQ(result.serverCloses, 1u);
    // Far more than the frames read: the writer went on until the buffers were full.
    EXPECT_GT(result.bytesOut, 64u * 1024);
    EXPECT_EQ(result.errors.total(), 0u);
}

TEST(DaqbenchFaults, StormCyclesConnectLoginHoldAndLeave) {
    std::string answer;
    daq::protocol::buildFrame(R"({"PS_ID":true,"RESULT":true})", answer);
    std::optional<RunningEcho> echo(std::in_place, answer);
    daqbench::BenchOptions options = loginOptions();
    options.loginFirst = true;
    const daqbench::RequestMix mix(options, 0);
    daqbench::WorkerPlan plan = planFor(loopback(echo->port()), daqbench::LoadMode::Storm, mix);
    plan.connections = 4;
    plan.loginFirst = true;
    plan.hold = 20ms;
    plan.cycle = 50ms;
    plan.maxRequests = 12;
    daqbench::StormWorker storm(plan);
    storm.connectAll();
    const auto timeline = timelineOf(5s);
    storm.run(timeline);
    echo.reset();

    const daqbench::WorkerResult& result = storm.result();
    EXPECT_EQ(result.answers, 12u);
    EXPECT_GE(result.latency.count(), 12u);  // cycles still holding at the end were set up too
    EXPECT_EQ(result.serverCloses, 0u);
    EXPECT_EQ(result.errors.total(), 0u);
    // Twelve cycles of four connections every 50 ms: three rounds, about 150 ms.
    const auto took = result.finishedAt - timeline.start;
    EXPECT_GE(took, 100ms + plan.hold);
    EXPECT_LT(took, 2s);
}

TEST(DaqbenchFaults, StormCountsConnectionsTheServerClosesAtOnce) {
    Listener listener;
    const daqbench::RequestMix mix(loginOptions(), 0);
    daqbench::WorkerPlan plan = planFor(listener.address(), daqbench::LoadMode::Storm, mix);
    plan.hold = 1000ms;
    plan.cycle = 100ms;
    daqbench::StormWorker storm(plan);
    const auto timeline = timelineOf(600ms);
    auto running = std::async(std::launch::async, [&] { storm.run(timeline); });
    int closed = 0;
    // Accepted and closed at once for 350 ms; later ones wait unaccepted until the run ends.
    for (int i = 0; i < 10 && Clock::now() < timeline.start + 350ms; ++i) {
        const int server = listener.accept(50ms);
        if (server >= 0) {
            ::close(server);
            ++closed;
        }
    }
    running.get();
    const daqbench::WorkerResult& result = storm.result();
    EXPECT_GE(closed, 3);  // one start per 100 ms
    EXPECT_EQ(result.serverCloses, static_cast<std::uint64_t>(closed));
    EXPECT_EQ(result.answers, 0u) << "no cycle held its second";
    EXPECT_LT(result.closeAfter.max(), 200'000'000u);
    EXPECT_EQ(result.errors.total(), 0u);
}

}  // namespace
