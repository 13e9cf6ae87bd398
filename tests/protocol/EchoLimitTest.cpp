// The echo limit server over loopback, and the load generator's load loop against it.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <string>
#include <thread>

#include "bench/echo-limit/EchoLimitServer.h"
#include "server/protocol/Frame.h"
#include "tools/client/ClientConnection.h"
#include "tools/client/DaqClient.h"
#include "tools/daqbench/LoadWorker.h"
#include "tools/daqbench/RequestMix.h"

namespace {

using namespace std::chrono_literals;
using daq::bench::EchoLimitServer;
using daq::bench::EchoLimitSettings;

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
    using daqbench::Clock;
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
        plan.address.sin_family = AF_INET;
        plan.address.sin_port = htons(echo.port());
        plan.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
    using daqbench::Clock;
    RunningEcho echo(daq::bench::paddedAnswer(64));
    daqbench::BenchOptions options;
    options.mix = {{daqbench::RequestKind::Alive, 1}};
    const daqbench::RequestMix mix(options, 0);
    daqbench::WorkerPlan plan;
    plan.address.sin_family = AF_INET;
    plan.address.sin_port = htons(echo.port());
    plan.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

}  // namespace
