// The Wireshark dissector on a real session: tshark captures a short exchange with the host on
// loopback, then dissects the capture with tools/wireshark/daq.lua.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/HostProcess.h"
#include "tests/support/ProgramRun.h"
#include "tools/client/DaqClient.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr const char* kTshark = "/usr/bin/tshark";

// One dissected packet: the fields asked of tshark, in order; a packet with several frames has
// their values comma-separated.
struct Dissected {
    std::string info;
    std::string kind;  // 1 request, 2 answer
    std::string psId;
    std::string trailer;
    std::string outsideText;
    std::string members;  // json.member_with_value
};

// Starts tshark on loopback for the port and waits until it sees packets; nothing when it may
// not capture here.
std::unique_ptr<daq::test::Program> startCapture(uint16_t port, const std::filesystem::path& file) {
    auto capture = std::make_unique<daq::test::Program>(daq::test::Args{
        kTshark, "-i", "lo", "-f", "tcp port " + std::to_string(port), "-w", file, "-P", "-l"});
    if (!capture->waitForOutput("Capturing on", 20s)) {
        const std::string why = capture->err();
        if (why.find("ermission") == std::string::npos &&
            why.find("not permitted") == std::string::npos) {
            ADD_FAILURE() << "tshark did not start capturing: " << why;
        }
        return nullptr;
    }
    // "Capturing on" comes a moment before the capture does: probe until tshark shows a probe.
    for (int probes = 0; probes < 100; ++probes) {
        daq::client::ClientConnection probe;
        probe.connect("127.0.0.1", port);
        if (capture->waitForOutput("[SYN]", 200ms)) {
            return capture;
        }
    }
    ADD_FAILURE() << "tshark captured nothing: " << capture->out() << capture->err();
    return nullptr;
}

std::vector<Dissected> dissect(const std::filesystem::path& file, uint16_t port) {
    daq::test::Args args{kTshark,
                         "-r",
                         file,
                         "-X",
                         "lua_script:" + std::string(DAQ_SOURCE_DIR) + "/tools/wireshark/daq.lua",
                         "-d",
                         "tcp.port==" + std::to_string(port) + ",daq",
                         "-Y",
                         "daq",
                         "-T",
                         "fields"};
    for (const char* field : {"_ws.col.Info", "daq.kind", "daq.ps_id", "daq.trailer",
                              "daq.outside_text", "json.member_with_value"}) {
        args.insert(args.end(), {"-e", field});
    }
    const auto run = daq::test::runProgram(args);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_THAT(run.err, ::testing::Not(HasSubstr("Lua: Error")));
    std::vector<Dissected> packets;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) {
            f.push_back(field);
        }
        f.resize(6);
        packets.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
    }
    return packets;
}

TEST(Dissector, ReassemblesFramesShowsIdsAndMarksServerTrailers) {
    ASSERT_TRUE(std::filesystem::exists(kTshark)) << "scripts/setup installs tshark";
    daq::test::HostProcess host;
    ASSERT_TRUE(host.start()) << host.log();
    const auto file = host.dir() / "session.pcapng";
    auto capture = startCapture(host.port(), file);
    if (capture == nullptr) {
        if (!::testing::Test::HasFailure()) {
            GTEST_SKIP() << "tshark may not capture on loopback here (no permission)";
        }
        return;
    }

    daq::client::DaqClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", host.port())) << client.lastError();
    ASSERT_TRUE(client.alive()) << client.lastError();
    ASSERT_TRUE(client.login("admin", "admin")) << client.lastError();
    // One request in two segments (the first leaves at once, the second after it): the
    // dissector waits for its ETX.
    auto& connection = client.connection();
    ASSERT_TRUE(connection.sendRaw("\x02{\"PS_ID\":\"DAQ_DA"));
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
    EXPECT_EQ(connection.readUntilClosed(5s), R"({"PS_ID":true})") << connection.lastError();
    client.close();
    // A connect to the closed port is refused; once tshark shows the refusal, everything before
    // it is in the capture file.
    daq::client::ClientConnection late;
    EXPECT_FALSE(late.connect("127.0.0.1", host.port()));
    EXPECT_TRUE(capture->waitForOutput("[RST", 10s)) << capture->out();
    EXPECT_EQ(capture->stop(SIGINT), 0) << capture->err();

    std::vector<Dissected> requests;
    std::vector<Dissected> answers;
    std::vector<Dissected> outside;
    for (Dissected& packet : dissect(file, host.port())) {
        auto& group = packet.kind.starts_with("1")   ? requests
                      : packet.kind.starts_with("2") ? answers
                                                     : outside;
        group.push_back(std::move(packet));
    }
    // Requests: the id in the info column and in daq.ps_id; the JSON text to the JSON dissector.
    ASSERT_EQ(requests.size(), 4u);
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
    ASSERT_EQ(outside.size(), 1u);
    EXPECT_EQ(outside[0].info, "DAQ outside frames");
    EXPECT_EQ(outside[0].outsideText, R"({"PS_ID":true})");
}

}  // namespace
