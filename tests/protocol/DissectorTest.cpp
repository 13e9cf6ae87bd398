// The Wireshark dissector on a real session: tshark captures a short exchange with the host on
// loopback, then dissects the capture with tools/wireshark/daq.lua.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/HostProcess.h"
#include "tests/support/ProgramRun.h"
#include "tools/client/DaqClient.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr const char* kTshark = "/usr/bin/tshark";

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

// The packets tshark shows, one line each: the info column, daq.kind (1 request, 2 answer),
// daq.ps_id, daq.trailer, daq.outside_text and json.member_with_value, tab-separated; a packet
// with several frames has their values comma-separated.
std::string dissect(const std::filesystem::path& file, uint16_t port) {
    const std::string script =
        "lua_script:" + std::string(DAQ_SOURCE_DIR) + "/tools/wireshark/daq.lua";
    const std::string decodeAs = "tcp.port==" + std::to_string(port) + ",daq";
    daq::test::Args args{kTshark,  "-r", file,  "-X", script,  "-d",
                         decodeAs, "-Y", "daq", "-T", "fields"};
    for (const char* field : {"_ws.col.Info", "daq.kind", "daq.ps_id", "daq.trailer",
                              "daq.outside_text", "json.member_with_value"}) {
        args.insert(args.end(), {"-e", field});
    }
    const auto run = daq::test::runProgram(args);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_THAT(run.err, ::testing::Not(HasSubstr("Lua: Error")));
    return run.out;
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

    // Each packet in turn (regular expressions, one a line); answers sent together may share a
    // packet.
    const char* const packets[] = {
        "DAQ ALIVE\t1\tALIVE\t\t\tPS_ID:ALIVE",
        "DAQ answer\t2\t\t0x00\t\tPS_ID:true,TIME:[^,]+",
        "DAQ LOGIN\t1\tLOGIN\t\t\tPS_ID:LOGIN,.*ID:admin,.*",
        "DAQ answer\t2\t\t0x00\t\tPS_ID:true,RESULT:true",
        // Reassembled from its two segments.
        "DAQ DAQ_DATA\t1\tDAQ_DATA\t\t\tPS_ID:DAQ_DATA,\\[\\]:0,\\[\\]:5",
        "DAQ answer\t2\t\t0x00\t\tPS_ID:true,.*INDEX:5.*",
        "DAQ outside frames, DAQSTATUS, ALIVE\t1,1\tDAQSTATUS,ALIVE\t\tjunk\t.*",
        "DAQ answer(, answer)?\t2(,2)?\t\t0x00(,0x00)?\t\tPS_ID:true,STATUS:RUNNING[^\n]*"
        "(\nDAQ answer\t2\t\t0x00\t\tPS_ID:true,TIME:[^\n]+)?",
        // The stop notice: text outside any frame.
        "DAQ outside frames\t\t\t\t\\{\"PS_ID\":true\\}\t",
    };
    std::string pattern;
    for (const char* packet : packets) {
        pattern += std::string(packet) + "\n";
    }
    EXPECT_THAT(dissect(file, host.port()), ::testing::MatchesRegex(pattern));
}

}  // namespace
