// What the receive pass adds to the frame rules (FrameTest): one answer frame per request, each
// connection's own unfinished frame, the traces of dropped and unreadable messages, and the
// dispatch table.
#include <gtest/gtest.h>

#include <string>

#include "server/protocol/Dispatcher.h"
#include "tests/unit/CoreFixture.h"

namespace daq::test {
namespace {

const std::string kStatus = R"({"PS_ID":"DAQSTATUS"})";
const std::string kStatusAnswer = R"({"PS_ID":true,"STATUS":"RUNNING"})";
const std::string kCount = R"({"PS_ID":"DAQLISTCOUNT"})";
const std::string kCountAnswer = R"({"PS_ID":true,"COUNT":"0"})";

// One message a call: the listener hands the rest again, so that a connection's requests take
// turns with the others'.
TEST(CoreTransport, EachCallAnswersOneRequestInOneFrame) {
    CoreHarness harness;
    auto client = harness.connect();
    const std::string first = requestFrame(kCount);
    const std::string rest = requestFrame(kStatus) + requestFrame(kCount);
    EXPECT_EQ(harness.core().onData(client, first + rest), first.size());
    EXPECT_EQ(client->takeWrites(),
              std::vector<std::string>{"\x02" + kCountAnswer + std::string("\x03\x00", 2)});
    EXPECT_EQ(harness.sendBytes(client, rest),
              (std::vector<std::string>{kStatusAnswer, kCountAnswer}));
}

TEST(CoreTransport, EachConnectionKeepsItsOwnUnfinishedFrame) {
    CoreHarness harness;
    auto first = harness.connect("10.0.0.1");
    auto second = harness.connect("10.0.0.2");
    const std::string frameA = requestFrame(kCount);
    const std::string frameB = requestFrame(kStatus);
    EXPECT_TRUE(harness.sendBytes(first, frameA.substr(0, 10)).empty());
    EXPECT_TRUE(harness.sendBytes(second, frameB.substr(0, 5)).empty());
    EXPECT_EQ(harness.sendBytes(second, frameB.substr(5)), std::vector<std::string>{kStatusAnswer});
    EXPECT_EQ(harness.sendBytes(first, frameA.substr(10)), std::vector<std::string>{kCountAnswer});
}

TEST(CoreTransport, OversizedFrameIsDroppedWithATraceAndTheNextOneIsAnswered) {
    TraceCapture traces;
    daq::ServerLimits limits;
    limits.maxFrameBytes = 64;
    CoreHarness harness(limits);
    auto client = harness.connect("10.1.2.3");
    const std::string big =
        requestFrame(R"({"PS_ID":"DAQSTATUS","PAD":")" + std::string(100, 'x') + R"("})");
    EXPECT_EQ(harness.sendBytes(client, big + requestFrame(kStatus)),
              std::vector<std::string>{kStatusAnswer});
    EXPECT_TRUE(TraceCapture::contains(traces.take(), 2, "longer than 64 bytes, from 10.1.2.3"));
}

TEST(CoreTransport, MessagesThatAreNoRequestGetNoAnswerAndAnIdTrace) {
    TraceCapture traces;
    CoreHarness harness;
    auto client = harness.connect();
    for (const std::string& payload :
         {std::string(), std::string("not json"), std::string(R"(["PS_ID","DAQSTATUS"])"),
          std::string("{\"PS_ID\":\"DAQ\xC0\xAFSTATUS\"}"), std::string(R"({"PS_ID":"daqstatus"})"),
          std::string(R"({"PS_ID":"UNKNOWN"})"), std::string(R"({"PS_ID":"IOLIST"})")}) {
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
    EXPECT_EQ(harness.request(client, kStatus), kStatusAnswer);  // the connection still answers
}

TEST(CoreTransport, HandlerErrorsAndSendErrorsAreTracedAndAnswerNothing) {
    TraceCapture traces;
    CoreHarness harness;
    auto client = harness.connect();
    EXPECT_FALSE(harness.request(client, R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":5})"));
    EXPECT_FALSE(harness.request(client, R"({"PS_ID":{"A":1}})"));
    client->close();
    harness.core().onData(client, requestFrame(kStatus));
    EXPECT_TRUE(client->takeWrites().empty());
    const auto lines = traces.take();
    EXPECT_TRUE(
        TraceCapture::contains(lines, 2, "TCP Server Error : DAQ_DATA, DAQ_INDEX is not an array"));
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "TCP server error : value is an object"));
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "tcp server send error : "));
}

// Ids match by substring, in the order of the table: the first entry a text holds wins.
TEST(CoreDispatch, IdsMatchBySubstringInTableOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {"DAQLISTCOUNT", "DAQLISTCOUNT"},
        {"MY_DAQLIST_PLEASE", "DAQLIST"},
        {"PARAMETERLISTCOUNT", "PARAMETERLISTCOUNT"},
        {"PARAMETERLIST", "PARAMETERLIST"},
        {"XLOGINX", "LOGIN"},
        {"ALIVE_LOGIN", "LOGIN"},
        {"alive", ""},  // no route
        {"", ""},
    };
    for (const auto& [id, route] : cases) {
        const daq::protocol::RequestRoute* found = daq::protocol::findRoute(id);
        EXPECT_EQ(found == nullptr ? std::string() : std::string(found->id), route) << id;
    }
}

}  // namespace
}  // namespace daq::test
