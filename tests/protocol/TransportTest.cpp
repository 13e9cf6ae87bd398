// What only sockets show, against the plug-in loaded by the stand-in host with its demo project
// and small limits in its config.ini: requests cut anywhere and pipelined, the connection cap,
// the frame bound and both time-outs (back-pressure and resets: TcpServerTest).
#include <optional>
#include <thread>
#include <vector>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tests/support/RawSocket.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

using Clock = std::chrono::steady_clock;

// More than the time-out test uses at once.
constexpr std::size_t kMaxConnections = 5;
constexpr std::size_t kMaxFrameBytes = 512;
// The time-outs, and how long after one a connection may still be open: the listener's sweep
// runs every quarter of the shortest time-out, plus scheduling on a busy machine.
constexpr auto kTimeout = 1s;
constexpr auto kSweepSlack = 1500ms;

// A "DAQLISTCOUNT" request padded with a member so that its text is exactly `size` bytes.
std::string paddedRequest(std::size_t size) {
    const std::string head = R"({"PS_ID":"DAQLISTCOUNT","PAD":")";
    const std::string tail = R"("})";
    return head + std::string(size - head.size() - tail.size(), 'a') + tail;
}

class Transport : public SharedHostTest<Transport> {
  public:
    static HostOptions options() {
        return hostWith({}, {"MaxConnections=" + std::to_string(kMaxConnections),
                             "MaxFrameBytes=" + std::to_string(kMaxFrameBytes),
                             "UnfinishedFrameTimeout=1", "IdleTimeout=1"});
    }

  protected:
    // A client the server answers, trying again while slots of clients that left are still
    // being given back (the server sees a close a little after the client).
    static std::unique_ptr<DaqClient> served() {
        for (int attempt = 0; attempt < 40; ++attempt) {
            auto next = std::make_unique<DaqClient>(
                client::ClientSettings{.connectTimeout = kReplyTimeout, .replyTimeout = 500ms});
            if (next->connect("127.0.0.1", host().port()) && next->alive()) {
                return next;
            }
            std::this_thread::sleep_for(50ms);
        }
        return nullptr;
    }
};

TEST_F(Transport, EverySplitPointOfARequestStreamGivesTheSameAnswers) {
    auto client = host().connect();
    const std::string stream = requestFrame(client::daqListCountRequest()) +
                               requestFrame(client::daqStatusRequest()) +
                               requestFrame(client::projectInfoRequest());
    constexpr int kAnswers = 3;
    ASSERT_TRUE(client->connection().sendRaw(stream));
    std::vector<std::string> expected;
    for (int i = 0; i < kAnswers; ++i) {
        const auto answer = client->connection().readFrame(kReplyTimeout);
        ASSERT_TRUE(answer) << client->connection().lastError();
        expected.push_back(*answer);
    }
    for (std::size_t split = 1; split < stream.size(); ++split) {
        ASSERT_TRUE(client->connection().sendRaw(stream.substr(0, split)));
        ASSERT_TRUE(client->connection().sendRaw(stream.substr(split)));
        for (int i = 0; i < kAnswers; ++i) {
            ASSERT_EQ(client->connection().readFrame(kReplyTimeout), expected[i])
                << "split at " << split << ": " << client->connection().lastError();
        }
    }
}

// Requests that run under the request lock and those that read the map beside others, pipelined
// in one write with frames at and over the frame bound of config.ini, are answered in the order
// sent; the one over the bound is dropped alone (its trace: CoreTransportTest).
TEST_F(Transport, FramesInOneWriteAreAnsweredInOrderAndOnlyTheOneOverTheBoundIsDropped) {
    auto client = host().connect();
    const std::vector<int> record0{0, 0};
    ASSERT_TRUE(client->connection().sendRaw(requestFrame(client::daqListRequest(0, 3)) +
                                             requestFrame(paddedRequest(kMaxFrameBytes)) +
                                             requestFrame(client::daqDataRequest(record0)) +
                                             requestFrame(paddedRequest(kMaxFrameBytes + 1)) +
                                             requestFrame(client::daqStatusRequest())));
    for (const char* start :
         {R"({"PS_ID":true,"LIST":[{"INDEX":"0","TAGNAME")", R"({"PS_ID":true,"COUNT":")",
          R"({"PS_ID":true,"LIST":[{"INDEX":"0","GUID")", R"({"PS_ID":true,"STATUS":"RUNNING"})"}) {
        const auto answer = client->connection().readFrame(kReplyTimeout);
        ASSERT_TRUE(answer) << client->connection().lastError();
        EXPECT_TRUE(answer->starts_with(start)) << *answer;
    }
}

TEST_F(Transport, ConnectionBeyondTheCapIsClosedAndSlotsComeBack) {
    std::vector<std::unique_ptr<DaqClient>> clients;
    for (std::size_t i = 0; i < kMaxConnections; ++i) {
        clients.push_back(served());
        ASSERT_TRUE(clients.back()) << "client " << i;
    }
    RawSocket beyond;
    ASSERT_TRUE(beyond.connect(host().port()));
    // At once: well before the idle time-out would close it.
    const auto drained = beyond.receiveUntilClosed(500ms, 64);
    EXPECT_TRUE(drained.closed);
    EXPECT_EQ(drained.bytes, "");
    clients.pop_back();
    EXPECT_TRUE(served());
}

// A silent connection meets the idle time-out, a trickling frame the unfinished-frame one; a
// client whose every write completes a frame, ends it with CR LF and starts the next is never
// closed.
TEST_F(Transport, TimeOutsCloseSilentAndUnfinishedInputButNotPollingClients) {
    const std::string alive = client::aliveRequest();
    // The previous test's slots may still be on their way back; a connection beyond the cap
    // is closed at once, so one that stays open a moment holds a slot.
    const auto start = Clock::now();
    auto poller = served();
    ASSERT_TRUE(poller);
    RawSocket silent;
    RawSocket trickling;
    for (RawSocket* socket : {&silent, &trickling}) {
        bool kept = false;
        for (int attempt = 0; attempt < 5 && !kept; ++attempt) {
            kept = socket->connect(host().port()) && !socket->receiveUntilClosed(150ms, 1).closed;
        }
        ASSERT_TRUE(kept);
    }
    const auto opened = Clock::now();
    ASSERT_TRUE(poller->connection().sendRaw("\x02" + alive));
    std::optional<Clock::duration> closedAfter[2];
    for (int tick = 0; tick < 100 && !(closedAfter[0] && closedAfter[1]) &&
                       Clock::now() - opened < kTimeout + kSweepSlack;
         ++tick) {
        ASSERT_TRUE(poller->connection().sendRaw("\x03\r\n\x02" + alive));
        ASSERT_TRUE(isAliveAnswer(poller->connection().readFrame(kReplyTimeout))) << tick;
        trickling.send(tick == 0 ? "\x02{" : "x");  // bytes, but never a whole frame
        for (RawSocket* socket : {&silent, &trickling}) {
            auto& closed = closedAfter[socket == &trickling];
            if (!closed && socket->receiveUntilClosed(25ms, 64).closed) {
                closed = Clock::now() - start;
            }
        }
    }
    for (const auto& closed : closedAfter) {
        ASSERT_TRUE(closed) << "still open";
        // Counted from the accept, which is after `start`.
        EXPECT_GE(*closed, kTimeout);
    }
    ASSERT_TRUE(poller->connection().sendRaw("\x03"));
    EXPECT_TRUE(isAliveAnswer(poller->connection().readFrame(kReplyTimeout)));
    for (const char* reason : {"no input for 1 s", "unfinished input for 1 s"}) {
        EXPECT_TRUE(host().traces().waitFor(
            traceContains(kTraceError,
                          std::string("DAQ Server closes connection : ") + reason + ", from "),
            kTraceTimeout))
            << reason;
    }
}

}  // namespace
}  // namespace daq::test
