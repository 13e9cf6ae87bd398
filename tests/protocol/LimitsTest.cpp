// The limits read from "config.ini", each set small, over real sockets against the plug-in
// loaded by the stand-in host: connection cap, message length, page entries, required login
// and refused logins; a value out of range keeps its default with a trace. The unfinished-frame
// and idle time-outs each run against a host of their own, with time-outs of 1 or 2 s.
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tests/support/RawSocket.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

constexpr std::size_t kMaxConnections = 4;
constexpr std::size_t kMaxFrameBytes = 512;
constexpr int kMaxPageEntries = 2;
// Appears in no request but the refused logins: it must never reach a trace or the log.
constexpr const char* kSecretPassword = "Pw-never-traced-7319";

std::string limitsProject() {
    return projectFile(R"xml(<io-tree>
    <group name="Values">
      <tag name="T1" sig-type="0" rw="2" data-type="5" decimals="1">
        <drive kind="constant" value="1" scan-ms="100"/>
      </tag>
      <tag name="T2" sig-type="0" rw="2" data-type="5" decimals="1">
        <drive kind="constant" value="2" scan-ms="100"/>
      </tag>
      <tag name="T3" sig-type="0" rw="2" data-type="5" decimals="1">
        <drive kind="constant" value="3" scan-ms="100"/>
      </tag>
      <tag name="T4" sig-type="0" rw="2" data-type="5" decimals="1">
        <drive kind="constant" value="4" scan-ms="100"/>
      </tag>
    </group>
  </io-tree>)xml");
}

class Limits : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        HostOptions options;
        options.projectXml = limitsProject();
        options.configLines = {"MaxConnections=" + std::to_string(kMaxConnections),
                               "MaxFrameBytes=" + std::to_string(kMaxFrameBytes),
                               "MaxPageEntries=" + std::to_string(kMaxPageEntries),
                               "MaxOutputBacklog=lots",
                               "RequireLogin=1",
                               "IoThreads=0"};
        host_ = std::make_unique<SuiteHost>(std::move(options));
    }
    static void TearDownTestSuite() { host_.reset(); }
    void SetUp() override { ASSERT_TRUE(host_->started()) << host_->failure(); }

    static SuiteHost& host() { return *host_; }

    static std::unique_ptr<DaqClient> loggedIn() {
        auto client = host().connect();
        const auto login = client->login(kAdmin, kAdmin);
        EXPECT_TRUE(login && at(*login, "RESULT").IsTrue()) << client->lastError();
        return client;
    }

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

  private:
    static inline std::unique_ptr<SuiteHost> host_;
};

TEST_F(Limits, ValueOutOfRangeKeepsTheDefaultWithATrace) {
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError,
                      "config.ini : MaxOutputBacklog=lots is not in 4096..1073741824, "
                      "16777216 kept"),
        kTraceTimeout));
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError, "config.ini : IoThreads=0 is not in 1..16, 2 kept"),
        kTraceTimeout));
}

TEST_F(Limits, OnlyLoginAndAliveAreServedBeforeALogin) {
    auto client = host().connect();
    EXPECT_TRUE(answersNothing(*client, client::daqStatusRequest()));
    EXPECT_TRUE(answersNothing(*client, client::daqListCountRequest()));
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError, "DAQ Server login required : DAQSTATUS, from 127.0.0.1"),
        kTraceTimeout));
    const auto refused = client->login(kAdmin, "wrong");
    ASSERT_TRUE(refused) << client->lastError();
    EXPECT_TRUE(at(*refused, "RESULT").IsFalse());
    EXPECT_TRUE(answersNothing(*client, client::daqStatusRequest()));

    const auto accepted = client->login(kViewer, kViewer);
    ASSERT_TRUE(accepted && at(*accepted, "RESULT").IsTrue()) << client->lastError();
    const auto status = client->daqStatus();
    ASSERT_TRUE(status) << client->lastError();
    EXPECT_EQ(text(at(*status, "STATUS")), "RUNNING");
}

TEST_F(Limits, FifthRefusedLoginClosesTheConnectionAndNoTraceHoldsThePassword) {
    auto client = host().connect();
    for (int i = 0; i < 4; ++i) {
        const auto answer = client->login("intruder", kSecretPassword);
        ASSERT_TRUE(answer) << "login " << i << ": " << client->lastError();
        EXPECT_TRUE(at(*answer, "RESULT").IsFalse());
    }
    EXPECT_EQ(
        host().traces().waitForCount(
            traceContains(kTraceError, "LOGIN FAIL : intruder, from 127.0.0.1"), 4, kTraceTimeout),
        4u);
    // The fifth refusal is answered, then the connection is closed.
    ASSERT_TRUE(
        client->connection().sendMessage(client::loginRequest("intruder", kSecretPassword)));
    const auto fifth = client->connection().readFrame(kReplyTimeout);
    ASSERT_TRUE(fifth);
    EXPECT_NE(fifth->find(R"("RESULT":false)"), std::string::npos) << *fifth;
    const auto rest = client->connection().readUntilClosed(kReplyTimeout);
    ASSERT_TRUE(rest) << "not closed: " << client->connection().lastError();
    EXPECT_EQ(*rest, "");
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError,
                      "DAQ Server closes connection : 5 refused logins, from 127.0.0.1"),
        kTraceTimeout));

    const auto withPassword = host().traces().matching(
        [](const TraceLine& line) { return line.text.find(kSecretPassword) != std::string::npos; });
    EXPECT_TRUE(withPassword.empty()) << withPassword.front().text;
    EXPECT_EQ(host().process().log().find(kSecretPassword), std::string::npos);
}

TEST_F(Limits, ConnectionBeyondTheCapIsClosedAndSlotsComeBack) {
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<DaqClient>> clients;
        for (std::size_t i = 0; i < kMaxConnections; ++i) {
            clients.push_back(served());
            ASSERT_TRUE(clients.back()) << "round " << round << ", client " << i;
        }
        RawSocket beyond;
        ASSERT_TRUE(beyond.connect(host().port()));
        const auto drained = beyond.receiveUntilClosed(kReplyTimeout, 64);
        EXPECT_TRUE(drained.closed) << "round " << round;
        EXPECT_EQ(drained.bytes, "");
        // A slot comes back when a client leaves.
        clients.pop_back();
        EXPECT_TRUE(served()) << "round " << round;
    }
}

TEST_F(Limits, LongerMessageIsDroppedAndTheConnectionGoesOn) {
    // Served first: slots of an earlier test's clients may still be coming back.
    auto client = served();
    ASSERT_TRUE(client);
    const std::string tooLong =
        R"({"PS_ID":"ALIVE","PAD":")" + std::string(kMaxFrameBytes, 'x') + R"("})";
    EXPECT_TRUE(answersNothing(*client, tooLong));
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError, "DAQ Server frame dropped : longer than 512 bytes"),
        kTraceTimeout));
}

TEST_F(Limits, PageIsCutToTheEntryLimit) {
    auto client = loggedIn();
    const auto page = client->daqList(0, 10);
    ASSERT_TRUE(page) << client->lastError();
    const auto& list = at(*page, "LIST");
    ASSERT_TRUE(list.IsArray());
    EXPECT_EQ(list.Size(), static_cast<rapidjson::SizeType>(kMaxPageEntries));
}

// The limits project with these lines in the host's "config.ini".
HostOptions limitsHost(std::vector<std::string> configLines) {
    HostOptions options;
    options.projectXml = limitsProject();
    options.configLines = std::move(configLines);
    return options;
}

using Clock = std::chrono::steady_clock;

// How long after its time-out a connection may still be open: the listener's sweep runs every
// quarter of the time-out (at most every second), plus scheduling on a busy machine.
constexpr auto kSweepSlack = 1500ms;

// How long after `start` the server closed the socket without sending a byte; nothing when it
// sent bytes or did not close within `timeout` of now.
std::optional<Clock::duration> silentlyClosedAfter(RawSocket& socket, Clock::time_point start,
                                                   std::chrono::milliseconds timeout) {
    const auto drained = socket.receiveUntilClosed(timeout, 64);
    if (!drained.closed || !drained.bytes.empty()) {
        return std::nullopt;
    }
    return Clock::now() - start;
}

class UnfinishedFrameTimeout : public SharedHostTest<UnfinishedFrameTimeout> {
  public:
    static constexpr auto kTimeout = 2s;
    static HostOptions project() { return limitsHost({"UnfinishedFrameTimeout=2"}); }
};

TEST_F(UnfinishedFrameTimeout, TricklingFrameIsClosedWhileOtherClientsAreServed) {
    auto poller = host().connect();
    RawSocket trickler;
    ASSERT_TRUE(trickler.connect(host().port()));
    const auto start = Clock::now();
    ASSERT_TRUE(trickler.send("\x02{\"PS_ID\":\"ALIVE\",\"PAD\":\""));
    std::optional<Clock::duration> closedAfter;
    // One byte every 100 ms, and an "ALIVE" on the other connection, until the close.
    for (int tick = 0; tick < 60 && !closedAfter; ++tick) {
        trickler.send("x");
        const auto drained = trickler.receiveUntilClosed(100ms, 64);
        ASSERT_EQ(drained.bytes, "") << "tick " << tick;
        if (drained.closed) {
            closedAfter = Clock::now() - start;
        }
        ASSERT_TRUE(poller->alive()) << "tick " << tick << ": " << poller->lastError();
    }
    ASSERT_TRUE(closedAfter) << "still open after 6 s";
    EXPECT_GE(*closedAfter, kTimeout);
    EXPECT_LE(*closedAfter, kTimeout + kSweepSlack);
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError,
                      "DAQ Server closes connection : unfinished input for 2 s, from 127.0.0.1:"),
        kTraceTimeout));
    EXPECT_TRUE(nextAnswerIsAlive(*poller));
}

TEST_F(UnfinishedFrameTimeout, OtherProtocolsAreClosedUnanswered) {
    // An HTTP request, and the start of a TLS 1.2 ClientHello: bytes outside any frame.
    std::string clientHello("\x16\x03\x01\x00\x2f\x01\x00\x00\x2b\x03\x03", 11);
    clientHello += std::string(32, '\x5a');
    clientHello += std::string("\x00\x00\x04\x00\x2f\x00\x35\x01\x00", 9);
    RawSocket http;
    RawSocket tls;
    ASSERT_TRUE(http.connect(host().port()));
    ASSERT_TRUE(tls.connect(host().port()));
    const auto start = Clock::now();
    ASSERT_TRUE(http.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n"));
    ASSERT_TRUE(tls.send(clientHello));
    for (RawSocket* socket : {&http, &tls}) {
        const auto closedAfter = silentlyClosedAfter(*socket, start, kTimeout + kSweepSlack);
        ASSERT_TRUE(closedAfter) << (socket == &http ? "HTTP" : "TLS");
        EXPECT_GE(*closedAfter, kTimeout);
    }
}

// Clients that end every frame with CR LF, or whose every write completes one frame and starts
// the next, are answered for longer than the time-out and never closed by it.
TEST_F(UnfinishedFrameTimeout, PollingClientsAreNeverClosed) {
    const std::string alive = R"({"PS_ID":"ALIVE"})";
    auto lineEnds = host().connect();
    auto frameInFlight = host().connect();
    ASSERT_TRUE(frameInFlight->connection().sendRaw("\x02" + alive));
    for (int poll = 0; poll < 6; ++poll) {
        ASSERT_TRUE(lineEnds->connection().sendRaw("\x02" + alive + "\x03\r\n"));
        ASSERT_TRUE(frameInFlight->connection().sendRaw("\x03\x02" + alive));
        EXPECT_TRUE(isAliveAnswer(lineEnds->connection().readFrame(kReplyTimeout))) << poll;
        EXPECT_TRUE(isAliveAnswer(frameInFlight->connection().readFrame(kReplyTimeout))) << poll;
        std::this_thread::sleep_for(kTimeout / 4);
    }
    EXPECT_TRUE(nextAnswerIsAlive(*lineEnds));
    ASSERT_TRUE(frameInFlight->connection().sendRaw("\x03"));
    EXPECT_TRUE(isAliveAnswer(frameInFlight->connection().readFrame(kReplyTimeout)));
}

TEST_F(UnfinishedFrameTimeout, SilentConnectionStaysOpenWithTheIdleTimeOutOff) {
    RawSocket silent;
    ASSERT_TRUE(silent.connect(host().port()));
    // Longer than the idle time-out of the suite below, and than this suite's time-out.
    const auto drained = silent.receiveUntilClosed(kTimeout + kSweepSlack, 64);
    EXPECT_FALSE(drained.closed);
    EXPECT_EQ(drained.bytes, "");
    ASSERT_TRUE(silent.send(requestFrame(R"({"PS_ID":"ALIVE"})")));
    EXPECT_NE(silent.receive(1, kReplyTimeout), "");
}

class IdleTimeout : public SharedHostTest<IdleTimeout> {
  public:
    static constexpr auto kTimeout = 1s;
    static HostOptions project() { return limitsHost({"IdleTimeout=1"}); }
};

TEST_F(IdleTimeout, SilentConnectionIsClosedAndAPollingOneIsNot) {
    auto poller = host().connect();
    RawSocket silent;
    ASSERT_TRUE(silent.connect(host().port()));
    const auto start = Clock::now();
    std::optional<Clock::duration> closedAfter;
    // "ALIVE" every 300 ms for 3 s on one connection, nothing on the other.
    for (int tick = 0; tick < 20 && Clock::now() - start < 3s; ++tick) {
        ASSERT_TRUE(poller->alive()) << "tick " << tick << ": " << poller->lastError();
        if (closedAfter) {
            std::this_thread::sleep_for(300ms);
            continue;
        }
        const auto drained = silent.receiveUntilClosed(300ms, 64);
        EXPECT_EQ(drained.bytes, "");
        if (drained.closed) {
            closedAfter = Clock::now() - start;
        }
    }
    EXPECT_TRUE(nextAnswerIsAlive(*poller));
    ASSERT_TRUE(closedAfter) << "the silent connection is still open";
    // Counted from the accept, a little before the connect returned here.
    EXPECT_GE(*closedAfter, kTimeout * 9 / 10);
    EXPECT_LE(*closedAfter, kTimeout + kSweepSlack);
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError,
                      "DAQ Server closes connection : no input for 1 s, from 127.0.0.1:"),
        kTraceTimeout));
}

}  // namespace
}  // namespace daq::test
