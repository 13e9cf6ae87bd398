// The client library against a loopback server that echoes every request as its answer, so the
// answers show what the client put on the wire.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/protocol/TcpEchoServer.h"
#include "tools/client/DaqClient.h"

namespace daq::client {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using tcp::testing::EchoServer;

std::vector<std::string> memberNames(const rapidjson::Value& object) {
    std::vector<std::string> names;
    for (const auto& member : object.GetObject()) {
        names.emplace_back(member.name.GetString());
    }
    return names;
}

std::string text(const rapidjson::Value& value) {
    return {value.GetString(), value.GetStringLength()};
}

class DaqClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(client.connect("127.0.0.1", echo.port())) << client.lastError();
    }

    EchoServer echo;
    DaqClient client{ClientSettings{.replyTimeout = 2s}};
};

TEST_F(DaqClientTest, TypedRequestsCarryTheirIdAndMembersInOrder) {
    const struct {
        std::optional<Answer> (DaqClient::*call)();
        const char* id;
    } plain[] = {
        {&DaqClient::alive, "ALIVE"},
        {&DaqClient::projectInfo, "PROJECTINFO"},
        {&DaqClient::daqListCount, "DAQLISTCOUNT"},
        {&DaqClient::deviceList, "DEVICELIST"},
        {&DaqClient::daqStatus, "DAQSTATUS"},
    };
    for (const auto& request : plain) {
        const auto echoed = (client.*request.call)();
        ASSERT_TRUE(echoed) << client.lastError();
        EXPECT_EQ(memberNames(*echoed), std::vector<std::string>{"PS_ID"});
        EXPECT_EQ(text((*echoed)["PS_ID"]), request.id);
    }

    const auto list = client.daqList(2, 3);
    ASSERT_TRUE(list);
    EXPECT_EQ(memberNames(*list), (std::vector<std::string>{"PS_ID", "START_INDEX", "LIST_SIZE"}));
    EXPECT_EQ(text((*list)["START_INDEX"]), "2");
    EXPECT_EQ(text((*list)["LIST_SIZE"]), "3");

    const int indexes[] = {5, 2, 5};
    const auto data = client.daqData(indexes);
    ASSERT_TRUE(data);
    EXPECT_EQ(text((*data)["PS_ID"]), "DAQ_DATA");
    const auto& sent = (*data)["DAQ_INDEX"];
    ASSERT_TRUE(sent.IsArray());
    ASSERT_EQ(sent.Size(), 3U);
    EXPECT_EQ(sent[0].GetInt(), 5);
    EXPECT_EQ(sent[1].GetInt(), 2);

    const auto count = client.parameterListCount("COM1", "Meter", "Station 1");
    ASSERT_TRUE(count);
    EXPECT_EQ(memberNames(*count),
              (std::vector<std::string>{"PS_ID", "INTERFACE", "DEVICENAME", "STATION"}));
    EXPECT_EQ(text((*count)["STATION"]), "Station 1");

    const auto page = client.parameterList(0, 10);
    ASSERT_TRUE(page);
    EXPECT_EQ(text((*page)["PS_ID"]), "PARAMETERLIST");
    EXPECT_EQ(text((*page)["LIST_SIZE"]), "10");

    const auto detail = client.parameterDetail(7);
    ASSERT_TRUE(detail);
    EXPECT_EQ(text((*detail)["PARAMINDEX"]), "7");

    const auto write = client.parameterWrite(1, 4, "12.5");
    ASSERT_TRUE(write);
    EXPECT_EQ(memberNames(*write),
              (std::vector<std::string>{"PS_ID", "GROUPINDEX", "PARAMINDEX", "VALUE"}));
    EXPECT_EQ(text((*write)["GROUPINDEX"]), "1");
    EXPECT_EQ(text((*write)["VALUE"]), "12.5");
}

TEST_F(DaqClientTest, LoginSendsTheDeviceAsANestedObject) {
    const auto echoed = client.login(
        "user", "secret",
        {.os = "Linux", .version = "6.1", .modelName = "Bench", .location = "Lab 2"}, "PC");
    ASSERT_TRUE(echoed) << client.lastError();
    EXPECT_EQ(memberNames(*echoed),
              (std::vector<std::string>{"PS_ID", "CLIENT_TYPE", "ID", "PW", "DEVICE"}));
    EXPECT_EQ(text((*echoed)["ID"]), "user");
    EXPECT_EQ(text((*echoed)["PW"]), "secret");
    const auto& device = (*echoed)["DEVICE"];
    EXPECT_EQ(memberNames(device),
              (std::vector<std::string>{"OS", "VERSION", "MODEL NAME", "LOCATION"}));
    EXPECT_EQ(text(device["MODEL NAME"]), "Bench");
}

TEST_F(DaqClientTest, FrameBytesInTextsAreEscapedNeverSentRaw) {
    const std::string value =
        "a\x02"
        "b\x03"
        "c\0d\xEC\x82\xAC"s;
    const auto echoed = client.parameterWrite(0, 0, value);
    ASSERT_TRUE(echoed) << client.lastError();
    EXPECT_EQ(text((*echoed)["VALUE"]), value);
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.messages == 1; }));
}

TEST_F(DaqClientTest, AnswerKeepsMemberOrderAndDuplicatedNames) {
    const auto answer = client.request(R"({"PS_ID":true,"RESULT":"FAILED","RESULT":"-2"})");
    ASSERT_TRUE(answer) << client.lastError();
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "RESULT", "RESULT"}));
    const auto& members = answer->GetObject();
    EXPECT_TRUE(members.begin()->value.IsTrue());
    EXPECT_EQ(text((members.begin() + 1)->value), "FAILED");
    EXPECT_EQ(text((members.begin() + 2)->value), "-2");
}

TEST_F(DaqClientTest, MissingAnswerTimesOutAndTheConnectionStaysUsable) {
    ASSERT_TRUE(client.connection().sendMessage("SILENT"));
    EXPECT_FALSE(client.connection().readFrame(100ms));
    EXPECT_EQ(client.connection().lastErrorKind(), ClientErrorKind::Timeout);
    EXPECT_TRUE(client.alive()) << client.lastError();
}

TEST_F(DaqClientTest, AnswersThatBreakTheFrameRulesAreBadReplies) {
    auto& connection = client.connection();
    ASSERT_TRUE(connection.sendMessage("UNFRAMED:{}"));
    EXPECT_FALSE(connection.readFrame());
    EXPECT_EQ(connection.lastErrorKind(), ClientErrorKind::BadReply);

    ASSERT_TRUE(connection.sendMessage("NOZERO:{}"));
    EXPECT_FALSE(connection.readFrame());
    EXPECT_EQ(connection.lastErrorKind(), ClientErrorKind::BadReply);
    EXPECT_NE(connection.lastError().find("after ETX"), std::string::npos);

    EXPECT_FALSE(client.request("not json"));
    EXPECT_EQ(client.lastErrorKind(), ClientErrorKind::BadReply);
    EXPECT_NE(client.lastError().find("not JSON"), std::string::npos);
}

TEST_F(DaqClientTest, StopNoticeIsReadUnframedUntilTheClose) {
    ASSERT_TRUE(client.connection().sendMessage("CLOSE"));
    EXPECT_EQ(client.connection().readUntilClosed(), R"({"PS_ID":true})");
    EXPECT_FALSE(client.isOpen());
    EXPECT_FALSE(client.alive());
    EXPECT_EQ(client.lastErrorKind(), ClientErrorKind::Closed);
}

TEST_F(DaqClientTest, AnswerOfAClosedConnectionIsReportedAsClosed) {
    ASSERT_TRUE(echo.log.waitUntil([&] { return echo.log.connects.size() == 1; }));
    echo.server.connections().at(0)->close();
    EXPECT_FALSE(client.connection().readFrame());
    EXPECT_EQ(client.connection().lastErrorKind(), ClientErrorKind::Closed);
}

}  // namespace
}  // namespace daq::client
