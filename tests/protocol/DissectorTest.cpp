// The Wireshark dissector on a real session: tshark captures a short exchange with the host on
// loopback, then dissects the capture with tools/wireshark/daq.lua.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/protocol/ProgramRun.h"
#include "tests/support/HostProcess.h"
#include "tools/client/DaqClient.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr const char* kTshark = "/usr/bin/tshark";
constexpr auto kCaptureStart = 20s;
constexpr auto kCaptureStop = 10s;

const std::filesystem::path kDissector =
    std::filesystem::path(DAQ_SOURCE_DIR) / "tools" / "wireshark" / "daq.lua";

// One dissected DAQ frame: the fields asked of tshark, in order.
struct Dissected {
    std::string info;
    std::string kind;  // 1 request, 2 answer
    std::string psId;
    std::string trailer;
    std::string outsideText;
    std::string members;  // json.member_with_value, comma separated
};

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> result;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        result.push_back(field);
    }
    result.resize(6);
    return result;
}

class DissectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(kTshark))
            << "tshark is not installed; scripts/setup installs it";
        ASSERT_TRUE(host.start()) << host.log();
        capturePath = host.dir() / "session.pcapng";
    }

    // Starts tshark on loopback for the host's port and waits until it sees packets; nothing
    // when it may not capture here.
    std::unique_ptr<daq::test::BackgroundProgram> startCapture() {
        auto capture = std::make_unique<daq::test::BackgroundProgram>(
            daq::test::Args{kTshark, "-i", "lo", "-f", "tcp port " + std::to_string(host.port()),
                            "-w", capturePath.string(), "-P", "-l"},
            host.dir() / "tshark.log");
        if (!capture->started() || !capture->waitForOutput("Capturing on", kCaptureStart)) {
            const std::string why = capture->output();
            if (why.find("ermission") == std::string::npos &&
                why.find("not permitted") == std::string::npos) {
                ADD_FAILURE() << "tshark did not start capturing: " << why;
            }
            return nullptr;
        }
        // "Capturing on" comes a moment before the capture does: probe with connections until
        // tshark shows one.
        const auto deadline = std::chrono::steady_clock::now() + kCaptureStart;
        while (std::chrono::steady_clock::now() < deadline) {
            daq::client::ClientConnection probe;
            probe.connect("127.0.0.1", host.port());
            if (capture->waitForOutput("[SYN]", 200ms)) {
                return capture;
            }
        }
        ADD_FAILURE() << "tshark captured nothing: " << capture->output();
        return nullptr;
    }

    std::vector<Dissected> dissect() {
        const auto run = daq::test::runProgram({kTshark,
                                                "-r",
                                                capturePath.string(),
                                                "-X",
                                                "lua_script:" + kDissector.string(),
                                                "-d",
                                                "tcp.port==" + std::to_string(host.port()) + ",daq",
                                                "-Y",
                                                "daq",
                                                "-T",
                                                "fields",
                                                "-e",
                                                "_ws.col.Info",
                                                "-e",
                                                "daq.kind",
                                                "-e",
                                                "daq.ps_id",
                                                "-e",
                                                "daq.trailer",
                                                "-e",
                                                "daq.outside_text",
                                                "-e",
                                                "json.member_with_value"});
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_THAT(run.err, ::testing::Not(HasSubstr("Lua: Error"))) << run.err;
        dissected = run.out;
        std::vector<Dissected> frames;
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);) {
            const auto f = fields(line);
            frames.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
        }
        return frames;
    }

    daq::test::HostProcess host;
    std::filesystem::path capturePath;
    std::string dissected;  // tshark's lines, for failure messages
};

TEST_F(DissectorTest, ReassemblesFramesShowsIdsAndMarksServerTrailers) {
    auto capture = startCapture();
    if (capture == nullptr) {
        if (!HasFailure()) {
            GTEST_SKIP() << "tshark may not capture on loopback here (no permission); the "
                            "dissector is not tried";
        }
        return;
    }

    daq::client::DaqClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", host.port())) << client.lastError();
    ASSERT_TRUE(client.alive()) << client.lastError();
    const auto login = client.login("admin", "admin");
    ASSERT_TRUE(login) << client.lastError();
    // One request in two segments: the dissector waits for its ETX.
    auto& connection = client.connection();
    ASSERT_TRUE(connection.sendRaw("\x02{\"PS_ID\":\"DAQ_DA"));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(connection.sendRaw("TA\",\"DAQ_INDEX\":[0,5]}\x03"));
    ASSERT_TRUE(connection.readFrame()) << connection.lastError();
    // Bytes outside frames, then two requests in one segment.
    ASSERT_TRUE(
        connection.sendRaw("junk\x02{\"PS_ID\":\"DAQSTATUS\"}\x03"
                           "\x02{\"PS_ID\":\"ALIVE\"}\x03"));
    ASSERT_TRUE(connection.readFrame()) << connection.lastError();
    ASSERT_TRUE(connection.readFrame()) << connection.lastError();
    // The host stops: a logged-in client gets the stop notice, unframed.
    EXPECT_EQ(host.stop(), 0);
    const auto notice = connection.readUntilClosed(5s);
    ASSERT_TRUE(notice) << connection.lastError();
    EXPECT_THAT(*notice, HasSubstr(R"({"PS_ID":true})"));
    client.close();
    std::this_thread::sleep_for(500ms);  // the last segments reach the capture
    EXPECT_EQ(capture->stop(SIGINT, kCaptureStop), 0) << capture->output();

    // One line per packet; a packet with several frames has their fields comma-separated.
    std::vector<Dissected> requests;
    std::vector<Dissected> answers;
    std::vector<Dissected> outside;
    for (Dissected& packet : dissect()) {
        auto& group = packet.kind.starts_with("1")   ? requests
                      : packet.kind.starts_with("2") ? answers
                                                     : outside;
        group.push_back(std::move(packet));
    }
    // Requests: the id in the info column and in daq.ps_id; the JSON text to the JSON dissector.
    ASSERT_EQ(requests.size(), 4u) << dissected;
    EXPECT_EQ(requests[0].info, "DAQ ALIVE");
    EXPECT_EQ(requests[0].members, "PS_ID:ALIVE");
    EXPECT_EQ(requests[1].psId, "LOGIN");
    EXPECT_THAT(requests[1].members, HasSubstr("ID:admin"));
    // Reassembled from its two segments.
    EXPECT_EQ(requests[2].info, "DAQ DAQ_DATA");
    EXPECT_EQ(requests[2].members, "PS_ID:DAQ_DATA,[]:0,[]:5");
    EXPECT_EQ(requests[3].info, "DAQ outside frames, DAQSTATUS, ALIVE");
    EXPECT_EQ(requests[3].kind, "1,1");
    EXPECT_EQ(requests[3].outsideText, "junk");
    EXPECT_EQ(requests[3].psId, "DAQSTATUS,ALIVE");
    // Answers: "answer" in the info column, each frame's trailing zero marked.
    std::string kinds;
    std::string trailers;
    std::string members;
    for (const Dissected& packet : answers) {
        EXPECT_THAT(packet.info, ::testing::MatchesRegex("DAQ answer(, answer)*"));
        EXPECT_THAT(packet.members, ::testing::StartsWith("PS_ID:true"));
        kinds += packet.kind + ",";
        trailers += packet.trailer + ",";
        members += packet.members + ",";
    }
    EXPECT_EQ(kinds, "2,2,2,2,2,");
    EXPECT_EQ(trailers, "0x00,0x00,0x00,0x00,0x00,");
    EXPECT_THAT(members, HasSubstr("PS_ID:true,RESULT:true,"));
    EXPECT_THAT(members, HasSubstr("INDEX:5"));
    EXPECT_THAT(members, HasSubstr("STATUS:RUNNING"));
    // The stop notice: text outside any frame.
    ASSERT_EQ(outside.size(), 1u) << dissected;
    EXPECT_EQ(outside[0].info, "DAQ outside frames");
    EXPECT_EQ(outside[0].outsideText, R"({"PS_ID":true})");
}

}  // namespace
