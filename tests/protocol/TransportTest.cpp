// Frames, reassembly, dispatch and keep-alive over real sockets, against the plug-in loaded by
// the stand-in host with its demo project.
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "server/core/ServerLimits.h"
#include "tests/protocol/ProtocolTestSupport.h"
#include "tests/support/RawSocket.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

// The bounds the host's server runs with: its defaults.
constexpr ServerLimits kLimits{};
// More than the kernels on both ends of a loopback connection hold in their socket buffers.
constexpr std::size_t kKernelBufferBytes = 8 * 1024 * 1024;

// A "DAQLISTCOUNT" request padded with a member so that its text is exactly `size` bytes.
std::string paddedRequest(std::size_t size) {
    const std::string head = R"({"PS_ID":"DAQLISTCOUNT","PAD":")";
    const std::string tail = R"("})";
    return head + std::string(size - head.size() - tail.size(), 'a') + tail;
}

// A "DAQ_DATA" request for record 0, `count` times.
std::string repeatedDataRequest(int count) {
    const std::vector<int> indexes(static_cast<std::size_t>(count), 0);
    return client::daqDataRequest(indexes);
}

class Transport : public SharedHostTest<Transport> {
  public:
    static std::string project() { return {}; }  // the host's demo project

  protected:
    // Reads one answer and parses it.
    static std::optional<Answer> readAnswer(DaqClient& client) {
        const auto text = client.connection().readFrame(kReplyTimeout);
        if (!text) {
            ADD_FAILURE() << "no answer: " << client.connection().lastError();
            return std::nullopt;
        }
        auto answer = client::parseAnswer(*text);
        if (!answer) {
            ADD_FAILURE() << "answer is not JSON: " << *text;
        }
        return answer;
    }
};

TEST_F(Transport, AnswerInOnePieceIsOneFrameEndingWithEtxAndZero) {
    RawSocket socket;
    ASSERT_TRUE(socket.connect(host().port()));
    ASSERT_TRUE(socket.send(requestFrame(client::aliveRequest())));
    // {"PS_ID":true,"TIME":"yyyy.mm.dd hh:nn.ss.zzz"} has a fixed length.
    const std::size_t answerBytes =
        std::string(R"({"PS_ID":true,"TIME":"2026.12.05 00:41.07.123"})").size() + 3;
    const std::string bytes = socket.receive(answerBytes, kReplyTimeout);
    ASSERT_EQ(bytes.size(), answerBytes) << bytes;
    EXPECT_EQ(bytes.front(), '\x02');
    EXPECT_EQ(bytes[bytes.size() - 2], '\x03');
    EXPECT_EQ(bytes.back(), '\x00');
    EXPECT_TRUE(isAliveAnswer(bytes.substr(1, bytes.size() - 3)));
    // Nothing trails the frame: the next bytes are the next answer's STX.
    ASSERT_TRUE(socket.send(requestFrame(client::daqStatusRequest())));
    EXPECT_EQ(socket.receive(1, kReplyTimeout), "\x02");
}

TEST_F(Transport, RequestSplitOverSeveralWritesIsAnsweredOnceWhenComplete) {
    auto client = host().connect();
    const std::string bytes = requestFrame(client::daqStatusRequest());
    for (std::size_t offset = 0; offset < bytes.size(); offset += 4) {
        ASSERT_TRUE(client->connection().sendRaw(bytes.substr(offset, 4)));
        // Gives the server the time to take each piece on its own.
        std::this_thread::sleep_for(5ms);
    }
    const auto answer = readAnswer(*client);
    ASSERT_TRUE(answer);
    EXPECT_EQ(text(at(*answer, "STATUS")), "RUNNING");
    EXPECT_TRUE(nextAnswerIsAlive(*client));
}

// Requests that run under the request lock and those that read the map without it, pipelined in
// one write, are answered in the order sent.
TEST_F(Transport, FramesInOneWriteAreAnsweredInOrder) {
    auto client = host().connect();
    ASSERT_TRUE(client->connection().sendRaw(
        requestFrame(client::daqListRequest(0, 45)) + requestFrame(client::daqListCountRequest()) +
        requestFrame(repeatedDataRequest(3)) + requestFrame(client::daqStatusRequest()) +
        requestFrame(client::daqListRequest(40, 2))));
    const std::vector<std::vector<std::string>> expected{{"PS_ID", "LIST"},
                                                         {"PS_ID", "COUNT"},
                                                         {"PS_ID", "LIST"},
                                                         {"PS_ID", "STATUS"},
                                                         {"PS_ID", "LIST"}};
    std::vector<std::size_t> listSizes;
    for (const auto& members : expected) {
        const auto answer = readAnswer(*client);
        ASSERT_TRUE(answer);
        EXPECT_EQ(memberNames(*answer), members);
        if (members.back() == "LIST") {
            listSizes.push_back((*answer)["LIST"].Size());
        }
    }
    EXPECT_EQ(listSizes, (std::vector<std::size_t>{45, 3, 2}));
}

TEST_F(Transport, BytesOutsideFramesAreIgnoredAndNothingIsReplayed) {
    auto client = host().connect();
    // Bytes before the STX, even a whole request without its STX, belong to no message.
    ASSERT_TRUE(client->connection().sendRaw(R"(noise{"PS_ID":"DAQSTATUS"})" +
                                             requestFrame(client::daqListCountRequest())));
    const auto answer = readAnswer(*client);
    ASSERT_TRUE(answer);
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "COUNT"}));
    EXPECT_TRUE(nextAnswerIsAlive(*client));

    // A frame without STX after a handled one, and a bare ETX: the earlier request is not run
    // again.
    ASSERT_TRUE(client->connection().sendRaw(R"({"PS_ID":"DAQSTATUS"})"
                                             "\x03"));
    ASSERT_TRUE(client->connection().sendRaw("\x03"));
    EXPECT_TRUE(nextAnswerIsAlive(*client));
}

TEST_F(Transport, MessageEndsAtItsFirstZeroByte) {
    auto client = host().connect();
    ASSERT_TRUE(client->connection().sendRaw(std::string("\x02") + client::daqStatusRequest() +
                                             std::string(1, '\0') + "trailing junk\x03"));
    const auto answer = readAnswer(*client);
    ASSERT_TRUE(answer);
    EXPECT_EQ(text(at(*answer, "STATUS")), "RUNNING");
    EXPECT_TRUE(nextAnswerIsAlive(*client));
}

TEST_F(Transport, FrameAtTheBoundIsAnsweredAndALongerOneIsDroppedAlone) {
    auto client = host().connect();
    auto other = host().connect();
    ASSERT_TRUE(client->connection().sendRaw(requestFrame(paddedRequest(kLimits.maxFrameBytes))));
    const auto atBound = readAnswer(*client);
    ASSERT_TRUE(atBound);
    EXPECT_EQ(memberNames(*atBound), (std::vector<std::string>{"PS_ID", "COUNT"}));

    // One byte more: dropped up to the next STX, the good frame behind it in the same write is
    // the only one answered.
    ASSERT_TRUE(
        client->connection().sendRaw(requestFrame(paddedRequest(kLimits.maxFrameBytes + 1)) +
                                     requestFrame(client::daqStatusRequest())));
    const auto answer = readAnswer(*client);
    ASSERT_TRUE(answer);
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "STATUS"}));
    EXPECT_TRUE(nextAnswerIsAlive(*client));
    EXPECT_TRUE(nextAnswerIsAlive(*other));
    EXPECT_TRUE(tracedBy(host().traces(), traceContains(kTraceError, "frame dropped"), [&] {
        ASSERT_TRUE(
            client->connection().sendRaw(requestFrame(paddedRequest(kLimits.maxFrameBytes + 1))));
        EXPECT_TRUE(nextAnswerIsAlive(*client));
    }));
}

TEST_F(Transport, MessagesThatAreNoRequestGetNoAnswer) {
    auto client = host().connect();
    for (const std::string request : {
             "",                                         // empty payload
             "not json",                                 // no JSON at all
             "[1,2,3]",                                  // JSON, but no object
             R"({"ID":"admin"})",                        // no id
             "{\"PS_ID\":\"ALIVE\xff\"}",                // malformed UTF-8
             R"({"PS_ID":"alive"})",                     // ids are upper case
             R"({"PS_ID":"IOLIST"})",                    // recognised, never answered
             R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":"0"})",  // an index list that is no array
         }) {
        EXPECT_TRUE(answersNothing(*client, request));
    }
}

TEST_F(Transport, IdsMatchBySubstringInTableOrder) {
    auto client = host().connect();
    const auto count = client->daqListCount();
    ASSERT_TRUE(count);
    EXPECT_EQ(memberNames(*count), (std::vector<std::string>{"PS_ID", "COUNT"}));

    const auto list =
        client->request(R"({"PS_ID":"MY_DAQLIST_PAGE","START_INDEX":0,"LIST_SIZE":1})");
    ASSERT_TRUE(list);
    EXPECT_EQ(memberNames(*list), (std::vector<std::string>{"PS_ID", "LIST"}));

    // "DAQ_DATA" comes before "ALIVE" in the table.
    const auto data = client->request(R"({"PS_ID":"ALIVE_DAQ_DATA","DAQ_INDEX":[0]})");
    ASSERT_TRUE(data);
    EXPECT_EQ(memberNames(*data), (std::vector<std::string>{"PS_ID", "LIST"}));
}

TEST_F(Transport, AliveAnswersTheServerTimeInItsOwnFormat) {
    auto client = host().connect();
    const std::time_t before = std::time(nullptr);
    const auto answer = client->alive();
    ASSERT_TRUE(answer) << client->lastError();
    ASSERT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "TIME"}));
    EXPECT_TRUE((*answer)["PS_ID"].IsTrue());
    const std::string time = text((*answer)["TIME"]);
    EXPECT_THAT(time, ::testing::MatchesRegex(
                          R"([0-9]{4}\.[0-9]{2}\.[0-9]{2} [0-9]{2}:[0-9]{2}\.[0-9]{2}\.[0-9]{3})"));
    // The host runs in this process's time zone: its local time is ours.
    std::tm local{};
    int milliseconds = 0;
    ASSERT_EQ(
        std::sscanf(time.c_str(), "%d.%d.%d %d:%d.%d.%d", &local.tm_year, &local.tm_mon,
                    &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec, &milliseconds),
        7);
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    EXPECT_LE(std::abs(std::difftime(std::mktime(&local), before)), 60.0) << time;
}

TEST_F(Transport, EachConnectionReassemblesItsOwnFrames) {
    auto first = host().connect();
    auto second = host().connect();
    const std::string status = requestFrame(client::daqStatusRequest());
    const std::size_t half = status.size() / 2;
    ASSERT_TRUE(first->connection().sendRaw(status.substr(0, half)));
    std::this_thread::sleep_for(5ms);  // the server takes the first half before the next bytes
    const auto count = second->daqListCount();
    ASSERT_TRUE(count) << second->lastError();
    EXPECT_EQ(memberNames(*count), (std::vector<std::string>{"PS_ID", "COUNT"}));
    ASSERT_TRUE(first->connection().sendRaw(status.substr(half)));
    const auto answer = readAnswer(*first);
    ASSERT_TRUE(answer);
    EXPECT_EQ(text(at(*answer, "STATUS")), "RUNNING");
}

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
            const auto answer = client->connection().readFrame(kReplyTimeout);
            ASSERT_TRUE(answer) << "split at " << split << ": " << client->connection().lastError();
            ASSERT_EQ(*answer, expected[static_cast<std::size_t>(i)]) << "split at " << split;
        }
    }
    EXPECT_TRUE(nextAnswerIsAlive(*client));
}

// A host whose output bound per connection is small, so that a client that never reads
// reaches it soon.
TEST_F(Transport, ClientClosingWhileItsAnswerIsWrittenDisturbsNobody) {
    auto other = host().connect();
    {
        RawSocket leaving;
        ASSERT_TRUE(leaving.connect(host().port(), 4096));
        std::string burst;
        for (int i = 0; i < 4; ++i) {
            burst += requestFrame(repeatedDataRequest(20000));
        }
        ASSERT_TRUE(leaving.send(burst));
        // The first answer is on its way when the connection is reset.
        EXPECT_FALSE(leaving.receive(1, kReplyTimeout).empty());
        leaving.abort();
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(nextAnswerIsAlive(*other)) << "poll " << i;
    }
    auto newcomer = host().connect();
    EXPECT_TRUE(nextAnswerIsAlive(*newcomer));
    EXPECT_EQ(::kill(host().process().pid(), 0), 0) << "the host ended";
}

}  // namespace
}  // namespace daq::test
