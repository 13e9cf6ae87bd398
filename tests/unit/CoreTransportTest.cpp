// The receive pass: frames per connection, every frame in order, bounded frames, parse
// failures, the answer frame, and the dispatch table.
#include <gtest/gtest.h>

#include <string>

#include "tests/unit/CoreFixture.h"
#include "server/protocol/Dispatcher.h"

namespace core_test {
namespace {

const std::string kAlive = R"({"PS_ID":"DAQSTATUS"})";
const std::string kStatusAnswer = R"({"PS_ID":true,"STATUS":"RUNNING"})";

TEST(CoreTransport, AnswersOneFrameInOnePieceWithTheTrailingZero) {
    CoreHarness harness;
    auto client = harness.connect();
    harness.core().onData(client, requestFrame(kAlive));
    const auto writes = client->takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], "\x02" + kStatusAnswer + std::string("\x03\x00", 2));
}

TEST(CoreTransport, FrameSplitOverSeveralChunksIsHandledOnceWhenItsEtxArrives) {
    CoreHarness harness;
    auto client = harness.connect();
    const std::string frame = requestFrame(kAlive);
    EXPECT_TRUE(harness.sendBytes(client, frame.substr(0, 1)).empty());
    EXPECT_TRUE(harness.sendBytes(client, frame.substr(1, 7)).empty());
    EXPECT_TRUE(harness.sendBytes(client, frame.substr(8, frame.size() - 9)).empty());
    EXPECT_EQ(harness.sendBytes(client, frame.substr(frame.size() - 1)),
              std::vector<std::string>{kStatusAnswer});
}

TEST(CoreTransport, EveryFrameOfAChunkIsAnsweredInOrder) {
    CoreHarness harness;
    auto client = harness.connect();
    const std::string chunk = requestFrame(R"({"PS_ID":"DAQLISTCOUNT"})") + requestFrame(kAlive) +
                              requestFrame(R"({"PS_ID":"DAQLISTCOUNT"})");
    EXPECT_EQ(harness.sendBytes(client, chunk),
              (std::vector<std::string>{R"({"PS_ID":true,"COUNT":"0"})", kStatusAnswer,
                                        R"({"PS_ID":true,"COUNT":"0"})"}));
}

TEST(CoreTransport, BytesOutsideFramesAreDroppedAndNeverReplayAMessage) {
    CoreHarness harness;
    auto client = harness.connect();
    EXPECT_EQ(harness.sendBytes(client, "junk" + requestFrame(kAlive) + "tail"),
              std::vector<std::string>{kStatusAnswer});
    // A frame without its STX: the bytes belong to no message; the previous one is not rerun.
    EXPECT_TRUE(harness.sendBytes(client, kAlive + "\x03").empty());
    EXPECT_EQ(harness.sendBytes(client, requestFrame(kAlive)),
              std::vector<std::string>{kStatusAnswer});
}

TEST(CoreTransport, EachConnectionReassemblesItsOwnFrames) {
    CoreHarness harness;
    auto first = harness.connect("10.0.0.1");
    auto second = harness.connect("10.0.0.2");
    const std::string frameA = requestFrame(R"({"PS_ID":"DAQLISTCOUNT"})");
    const std::string frameB = requestFrame(kAlive);
    EXPECT_TRUE(harness.sendBytes(first, frameA.substr(0, 10)).empty());
    EXPECT_TRUE(harness.sendBytes(second, frameB.substr(0, 5)).empty());
    EXPECT_EQ(harness.sendBytes(second, frameB.substr(5)), std::vector<std::string>{kStatusAnswer});
    EXPECT_EQ(harness.sendBytes(first, frameA.substr(10)),
              std::vector<std::string>{R"({"PS_ID":true,"COUNT":"0"})"});
}

TEST(CoreTransport, OversizedFrameIsDroppedWithATraceAndTheNextOneIsAnswered) {
    TraceCapture traces;
    daq::ServerLimits limits;
    limits.maxFrameBytes = 64;
    CoreHarness harness(limits);
    auto client = harness.connect("10.1.2.3");
    const std::string big =
        requestFrame(R"({"PS_ID":"DAQSTATUS","PAD":")" + std::string(100, 'x') + R"("})");
    EXPECT_EQ(harness.sendBytes(client, big + requestFrame(kAlive)),
              std::vector<std::string>{kStatusAnswer});
    const auto lines = traces.take();
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "longer than 64 bytes, from 10.1.2.3"));
}

TEST(CoreTransport, MessagesThatAreNoJsonObjectGetNoAnswerAndAnEmptyIdTrace) {
    TraceCapture traces;
    CoreHarness harness;
    auto client = harness.connect();
    for (const std::string& payload :
         {std::string(), std::string("not json"), std::string(R"(["PS_ID","DAQSTATUS"])"),
          std::string("{\"PS_ID\":\"DAQ\xC0\xAFSTATUS\"}"),
          std::string(R"({"PS_ID":"daqstatus"})")}) {
        EXPECT_TRUE(harness.sendBytes(client, requestFrame(payload)).empty()) << payload;
    }
    const auto lines = traces.take();
    int emptyIds = 0;
    for (const TraceLine& line : lines) {
        emptyIds += line.text == "DAQ Server PS_ID = " && line.level == 0 &&
                    line.operation == "IdTCPServer1Execute" && line.file == "FormTray.cpp";
    }
    EXPECT_EQ(emptyIds, 4);
    EXPECT_TRUE(TraceCapture::contains(lines, 0, "DAQ Server PS_ID = daqstatus"));
    // The connection still answers.
    EXPECT_EQ(harness.request(client, kAlive), kStatusAnswer);
}

TEST(CoreTransport, ZeroByteEndsTheMessage) {
    CoreHarness harness;
    auto client = harness.connect();
    EXPECT_EQ(harness.sendBytes(client, "\x02" + kAlive + std::string("\0garbage\x03", 9)),
              std::vector<std::string>{kStatusAnswer});
}

TEST(CoreTransport, HandlerErrorsAreTracedWithTheIdAndAnswerNothing) {
    TraceCapture traces;
    CoreHarness harness;
    auto client = harness.connect();
    EXPECT_FALSE(harness.request(client, R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":5})"));
    EXPECT_FALSE(harness.request(client, R"({"PS_ID":{"A":1}})"));
    const auto lines = traces.take();
    EXPECT_TRUE(
        TraceCapture::contains(lines, 2, "TCP Server Error : DAQ_DATA, DAQ_INDEX is not an array"));
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "TCP server error : value is an object"));
}

TEST(CoreTransport, AnswerToAClosedConnectionIsTracedAsASendError) {
    TraceCapture traces;
    CoreHarness harness;
    auto client = harness.connect();
    client->close();
    harness.core().onData(client, requestFrame(kAlive));
    EXPECT_TRUE(client->takeWrites().empty());
    EXPECT_TRUE(TraceCapture::contains(traces.take(), 2, "tcp server send error : "));
}

TEST(CoreDispatch, SubstringTestsInTableOrder) {
    using daq::protocol::findRoute;
    EXPECT_EQ(findRoute("DAQLISTCOUNT")->id, "DAQLISTCOUNT");
    EXPECT_EQ(findRoute("MY_DAQLIST_PLEASE")->id, "DAQLIST");
    EXPECT_EQ(findRoute("PARAMETERLISTCOUNT")->id, "PARAMETERLISTCOUNT");
    EXPECT_EQ(findRoute("PARAMETERLIST")->id, "PARAMETERLIST");
    EXPECT_EQ(findRoute("XLOGINX")->id, "LOGIN");
    // "LOGIN" comes first, so an id holding both is a login.
    EXPECT_EQ(findRoute("ALIVE_LOGIN")->id, "LOGIN");
    EXPECT_EQ(findRoute("alive"), nullptr);
    EXPECT_EQ(findRoute(""), nullptr);
}

TEST(CoreDispatch, RecognisedRequestsWithoutAnswer) {
    CoreHarness harness;
    auto client = harness.connect();
    for (const char* id : {"MYSYSTEM", "IOLIST", "DAQPERMISSION", "UNKNOWN"}) {
        EXPECT_FALSE(harness.request(client, std::string(R"({"PS_ID":")") + id + "\"}")) << id;
    }
}

}  // namespace
}  // namespace core_test
