// The README's five-minute tour, run as written: its shell lines against a host with the demo
// project, in one shell, in order. The host stands in for `scripts/demo`, the test's build for
// the build lines; watch polls every 10 ms and an endless one is cut to two polls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/HostProcess.h"
#include "tests/support/ProgramRun.h"

namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;

const std::string kBin = DAQ_BIN_DIR;

// The lines of the ```sh blocks of the README's "Five-minute tour", in one shell, but for those
// the test's build and host stand in for and the viewer's start.
std::string readTour() {
    std::ifstream in(std::string(DAQ_SOURCE_DIR) + "/README.md");
    std::string script = "set -ex\n";
    bool inSection = false;
    bool inBlock = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("## ")) {
            inSection = line == "## Five-minute tour";
        } else if (inSection && line.starts_with("```")) {
            inBlock = line == "```sh";
        } else if (!inSection || !inBlock || line.empty() || line.starts_with("cmake --build") ||
                   line.starts_with("export PATH=") || line == "scripts/demo" ||
                   line.starts_with("build/default/bin/trace-viewer")) {
            continue;
        } else if (line.find("daqclient watch") != std::string::npos) {
            // Until Ctrl-C in the README when no count is given.
            script += line + (line.find(" -c ") == std::string::npos ? " -c 2" : "") + " -l 10\n";
        } else {
            script += line + "\n";
        }
    }
    return script;
}

TEST(ReadmeTour, RunsAsWritten) {
    const std::string tour = readTour();
    daq::test::HostProcess host;
    ASSERT_TRUE(host.start()) << host.log();
    // Shell text with daqclient pointed at the test's host.
    const auto shell = [&](const std::string& script) {
        const std::string prelude = "daqclient() { command \"" + kBin + "/daqclient\" -p " +
                                    std::to_string(host.port()) + " \"$@\"; }\n";
        return daq::test::runProgram({"/bin/bash", "-c", prelude + script},
                                     {"DAQCLIENT_PASSWORD", "PATH=" + kBin + ":/usr/bin:/bin"});
    };

    const auto run = shell(tour);
    ASSERT_EQ(run.code, 0) << tour << "\n" << run.err;
    // The outputs are DaqclientTest's; the tour's own is the write and its effect.
    EXPECT_THAT(run.out, AllOf(HasSubstr("result,code\nOK,0\n"), HasSubstr("2,2,Manual,yes")));

    // Step 5: the viewer, started after the host, receives the next request's trace lines.
    daq::test::Program viewer({kBin + "/trace-viewer"},
                              {"KELVANE_TRACE_SOCKET=" + host.traceSocketPath().string()});
    ASSERT_TRUE(viewer.waitForOutput("listening on", 10s)) << viewer.err();
    EXPECT_EQ(shell("daqclient status\n").code, 0);
    EXPECT_TRUE(viewer.waitForOutput("DAQ Server PS_ID = DAQSTATUS", 10s)) << viewer.out();
}

}  // namespace
