// The limits read from "config.ini", each set small, over real sockets against the plug-in
// loaded by the stand-in host: connection cap, message length, page entries, required login
// and refused logins; a value out of range keeps its default with a trace.
#include <thread>
#include <vector>

#include "tests/protocol/protocol_test_support.h"
#include "tests/support/RawSocket.h"
#include "tools/client/requests.h"

namespace daq::test {
namespace {

namespace requests = client::requests;

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
                               "MaxOutputBacklog=lots", "RequireLogin=1"};
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
}

TEST_F(Limits, OnlyLoginAndAliveAreServedBeforeALogin) {
    auto client = host().connect();
    EXPECT_TRUE(answersNothing(*client, requests::daqStatus()));
    EXPECT_TRUE(answersNothing(*client, requests::daqListCount()));
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError, "DAQ Server login required : DAQSTATUS, from 127.0.0.1"),
        kTraceTimeout));
    const auto refused = client->login(kAdmin, "wrong");
    ASSERT_TRUE(refused) << client->lastError();
    EXPECT_TRUE(at(*refused, "RESULT").IsFalse());
    EXPECT_TRUE(answersNothing(*client, requests::daqStatus()));

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
    ASSERT_TRUE(client->connection().sendMessage(requests::login("intruder", kSecretPassword)));
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

}  // namespace
}  // namespace daq::test
