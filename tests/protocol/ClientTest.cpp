// The client library against a loopback server that echoes every request as its answer, so the
// answers show what the client put on the wire, and that answers broken in each way it meets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/protocol/TcpEchoServer.h"
#include "tools/client/DaqClient.h"

namespace daq::client {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using tcp::testing::EchoServer;

// What the other requests carry reaches the real server in the protocol tests; these two carry
// what it does not look at (the device) or never meets there (frame bytes in a text).
TEST(DaqClient, RequestsGoOutAsTheServerReadsThem) {
    EchoServer echo;
    DaqClient client{ClientSettings{.replyTimeout = 2s}};
    ASSERT_TRUE(client.connect("127.0.0.1", echo.port())) << client.lastError();
    const struct {
        std::string request;
        std::string sent;
    } cases[] = {
        {loginRequest("user", "secret", {"Linux", "6.1", "Bench", "Lab 2"}, "PC"),
         R"({"PS_ID":"LOGIN","CLIENT_TYPE":"PC","ID":"user","PW":"secret","DEVICE":{"OS":"Linux",)"
         R"("VERSION":"6.1","MODEL NAME":"Bench","LOCATION":"Lab 2"}})"},
        {parameterWriteRequest(1, 4,
                               "a\x02"
                               "b\x03"
                               "c\0d\xEC\x82\xAC"s),
         R"({"PS_ID":"PARAMETERWRITE","GROUPINDEX":"1","PARAMINDEX":"4",)"
         R"("VALUE":"a\u0002b\u0003c\u0000d)"
         "\xEC\x82\xAC\"}"},
    };
    for (const auto& each : cases) {
        ASSERT_TRUE(client.connection().sendMessage(each.request));
        EXPECT_EQ(client.connection().readFrame(), each.sent);
    }
}

// Each failure of an answer is reported by its kind; after a missing one the connection stays
// usable.
TEST(DaqClient, FailedAnswersAreReportedByKind) {
    EchoServer echo;
    const struct {
        const char* sent;  // what the echo server is told to answer
        ClientErrorKind kind;
        const char* error;
    } cases[] = {
        {"SILENT", ClientErrorKind::Timeout, "no answer in time"},
        {"UNFRAMED:{}", ClientErrorKind::BadReply, "instead of STX"},
        {"NOZERO:{}", ClientErrorKind::BadReply, "after ETX"},
        {"not json", ClientErrorKind::BadReply, "not JSON"},
        {"CLOSE", ClientErrorKind::Closed, "the server stopped"},
        {"THROW", ClientErrorKind::Closed, "the server closed the connection"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.sent);
        // Only the missing answer waits out its time-out.
        DaqClient fresh{
            ClientSettings{.replyTimeout = each.kind == ClientErrorKind::Timeout ? 100ms : 5000ms}};
        ASSERT_TRUE(fresh.connect("127.0.0.1", echo.port()));
        EXPECT_FALSE(fresh.request(each.sent));
        EXPECT_EQ(fresh.lastErrorKind(), each.kind);
        EXPECT_THAT(fresh.lastError(), ::testing::HasSubstr(each.error));
        if (each.kind == ClientErrorKind::Timeout) {
            EXPECT_TRUE(fresh.alive()) << fresh.lastError();
        }
    }
}

}  // namespace
}  // namespace daq::client
