// kelvane-host as a program, with the real plug-in: what it prints, its exit codes, where its
// server listens or why not, and an orderly stop on SIGTERM with --save.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/core/DemoProject.h"
#include "host/core/ProjectFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/unit/HostTestSupport.h"

using namespace daq::test;

namespace {

constexpr auto npos = std::string::npos;

class ProgramTest : public ::testing::Test {
  protected:
    // The host with a config dir of its own.
    Args host(Args args) const {
        args.insert(args.begin(),
                    {DAQ_BIN_DIR "/kelvane-host", "--config-dir", dir_.path().string()});
        return args;
    }
    // No display (a window is drawn offscreen) and a trace socket of its own.
    EnvChanges env() const {
        return {"DISPLAY", "WAYLAND_DISPLAY",
                "KELVANE_TRACE_SOCKET=" + (dir_.path() / "trace.sock").string()};
    }

    TempDir dir_;
};

}  // namespace

TEST_F(ProgramTest, EndsWithTheExitCodeAndTextOfWhatItWasAsked) {
    const auto broken =
        dir_.write("broken.xml", "<kelvane-project>\n<io-tree>\n</kelvane-project>\n");
    const auto bare = dir_.write("bare.xml", "<kelvane-project format=\"1\"/>\n");
    const struct {
        Args args;
        int code;
        std::string err;
        std::vector<host::IoNode> printed{};  // the IO tree of the project on standard output
    } cases[] = {
        // The same projects but for the users' salts.
        {{"--print-demo-project"}, 0, "", host::makeDemoProject().ioTree},
        {{"--print-demo-project", "--synthetic-tags", "3"},
         0,
         "",
         host::makeSyntheticProject(3).ioTree},
        {{"--no-such-option"}, 1, "--no-such-option"},
        {{"--project", broken.string()}, 2, broken.string() + ":3: malformed XML"},
        {{"--plugin", "/nonexistent/lib.so"}, 2, "/nonexistent/lib.so: cannot load the plug-in"},
        {{"--plugin", DAQ_BIN_DIR "/libKVReadMap.so"}, 2, "does not export \"CreatePinzInstance\""},
        // With a window a host whose server does not listen runs on and says so (headless, it
        // fails: see the next test).
        {{"--gui", "--exit-after", "1", "--project", bare.string()},
         0,
         "; not listening: no DAQ run has opened it (RunMode 0)"},
    };
    for (const auto& each : cases) {
        const ProgramRun run = runProgram(host(each.args), env());
        EXPECT_EQ(run.code, each.code) << each.args[0] << ": " << run.err;
        EXPECT_NE(run.err.find(each.err), npos) << run.err;
        EXPECT_EQ(run.out.empty() ? std::vector<host::IoNode>{}
                                  : host::ProjectFile::fromText(run.out, "out").model().ioTree,
                  each.printed);
    }
}

// --address and --port go over config.ini, whose bad settings are reported; SIGTERM stops the
// host in order and --save writes the plug-in's settings back into the project file.
TEST_F(ProgramTest, ServesWhereTheOptionsSayAndStopsInOrderOnSigterm) {
    dir_.write("config.ini",
               "[config]\nDAQServer Addr=192.0.2.1\nDAQServer Port=1\nMaxConnections=0\n");
    // Without the "Active" setting that the plug-in writes back.
    std::string text = host::projectFileText(host::makeDemoProject());
    text.erase(text.find(" Active=\"0\""), 11);
    const auto project = dir_.write("plant.xml", text);
    Program running(host({"--headless", "--address", "127.0.0.1", "--port", "0", "--project",
                          project.string(), "--save"}),
                    env());
    const std::string listening = "; listening on 127.0.0.1:";
    ASSERT_TRUE(running.waitForOutput(listening, std::chrono::seconds(15))) << running.err();
    EXPECT_NE(running.err().find("DAQ run started with project \"Riverside Water Works\""), npos);
    const std::string port = std::to_string(
        std::atoi(running.err().c_str() + running.err().find(listening) + listening.size()));
    EXPECT_NE(port, "1") << "the port of config.ini, not of the command line";

    // Headless, a host that serves nothing fails, so that its service manager restarts it. The
    // one test here that waits out the server's open time-out.
    const ProgramRun taken =
        runProgram(host({"--headless", "--address", "127.0.0.1", "--port", port}), env());
    EXPECT_EQ(taken.code, 4) << taken.err;
    EXPECT_NE(taken.err.find("kelvane-host: the server cannot listen: bind 127.0.0.1:" + port +
                             ": Address already in use"),
              npos)
        << taken.err;
    EXPECT_NE(running.err().find(
                  "DAQServer: config.ini : MaxConnections=0 is not in 1..65536, 1024 kept"),
              npos)
        << running.err();
    EXPECT_EQ(running.stop(SIGTERM), 0) << running.err();
    EXPECT_NE(running.err().find("kelvane-host: stopped on a signal"), npos) << running.err();
    host::ProjectFile saved = host::ProjectFile::load(project);
    EXPECT_STREQ(saved.pluginSettings().child("TCPServer").attribute("Active").value(), "1");
    EXPECT_EQ(saved.model(), host::ProjectFile::fromText(text, "plant.xml").model());
    EXPECT_FALSE(std::filesystem::exists(project.string() + ".new"));
}
