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
using ::testing::HasSubstr;

const std::string kBin = DAQ_BIN_DIR;

struct Tour {
    std::string script = "set -ex\n";  // the daqclient lines, in one shell
    bool demo = false;                 // the tour starts the host with scripts/demo
    bool viewer = false;               // and opens the trace viewer
};

// The ```sh blocks of the README's "Five-minute tour".
Tour readTour() {
    std::ifstream in(std::string(DAQ_SOURCE_DIR) + "/README.md");
    Tour tour;
    bool inSection = false;
    bool inBlock = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("## ")) {
            inSection = line == "## Five-minute tour";
        } else if (inSection && line.starts_with("```")) {
            inBlock = line == "```sh";
        } else if (!inSection || !inBlock || line.empty() || line.starts_with("cmake --build") ||
                   line.starts_with("export PATH=")) {
            continue;  // the test's build stands in for these
        } else if (line == "scripts/demo") {
            tour.demo = true;
        } else if (line.starts_with("build/default/bin/trace-viewer")) {
            tour.viewer = true;
        } else if (line.find("daqclient watch") != std::string::npos) {
            // Until Ctrl-C in the README when no count is given.
            tour.script +=
                line + (line.find(" -c ") == std::string::npos ? " -c 2" : "") + " -l 10\n";
        } else {
            tour.script += line + "\n";
        }
    }
    return tour;
}

TEST(ReadmeTour, RunsAsWritten) {
    const Tour tour = readTour();
    ASSERT_TRUE(tour.demo && tour.viewer) << "the tour starts the host and opens the viewer";
    daq::test::HostProcess host;
    ASSERT_TRUE(host.start()) << host.log();
    // Shell text with daqclient pointed at the test's host.
    const auto shell = [&](const std::string& script) {
        const std::string prelude = "daqclient() { command \"" + kBin + "/daqclient\" -p " +
                                    std::to_string(host.port()) + " \"$@\"; }\n";
        return daq::test::runProgram({"/bin/bash", "-c", prelude + script},
                                     {"DAQCLIENT_PASSWORD", "PATH=" + kBin + ":/usr/bin:/bin"});
    };

    const auto run = shell(tour.script);
    ASSERT_EQ(run.code, 0) << tour.script << "\n" << run.err;
    EXPECT_THAT(run.out, HasSubstr("Riverside Water Works"));           // info
    EXPECT_THAT(run.out, HasSubstr("INTAKE.LEVEL,INTAKE.LEVEL time"));  // watch, piped: CSV
    EXPECT_THAT(run.out, HasSubstr("P101.STATE"));                      // tags
    EXPECT_THAT(run.out, HasSubstr("Remote valve V210"));               // devices
    EXPECT_THAT(run.out, HasSubstr("result,code\nOK,0\n"));             // the write
    EXPECT_THAT(run.out, HasSubstr("2,2,Manual,yes"));                  // its effect

    // Step 5: the viewer, started after the host, receives the next request's trace lines.
    daq::test::Program viewer({kBin + "/trace-viewer"},
                              {"KELVANE_TRACE_SOCKET=" + host.traceSocketPath().string()});
    ASSERT_TRUE(viewer.waitForOutput("listening on", 10s)) << viewer.err();
    EXPECT_EQ(shell("daqclient status\n").code, 0);
    EXPECT_TRUE(viewer.waitForOutput("DAQ Server PS_ID = DAQSTATUS", 10s)) << viewer.out();
}

}  // namespace
