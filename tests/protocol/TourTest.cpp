// The README's five-minute tour, run as written: its shell lines against a host with the demo
// project, in one shell, in order. The host stands in for `scripts/demo`, the test's build for
// the build lines, and an endless `watch` is cut to two polls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/protocol/ProgramRun.h"
#include "tests/support/HostProcess.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

const std::string kReadme = std::string(DAQ_SOURCE_DIR) + "/README.md";
const std::string kBin = DAQ_BIN_DIR;

// The lines of the ```sh blocks of the README section that starts with `heading`.
std::vector<std::string> shellLines(const std::string& heading) {
    std::ifstream in(kReadme);
    std::vector<std::string> lines;
    bool inSection = false;
    bool inBlock = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("## ")) {
            inSection = line == heading;
        } else if (inSection && line.starts_with("```")) {
            inBlock = line == "```sh";
        } else if (inSection && inBlock && !line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

struct Tour {
    std::string script;  // the daqclient lines, in one shell
    std::vector<std::string> skipped;
    bool viewer = false;  // the tour opens the trace viewer
};

Tour tourFrom(const std::vector<std::string>& lines) {
    Tour tour;
    tour.script = "set -ex\n";
    for (const std::string& line : lines) {
        if (line == "scripts/demo" || line.starts_with("cmake --build") ||
            line.starts_with("export PATH=")) {
            tour.skipped.push_back(line);  // the test's host and build stand in for these
        } else if (line.starts_with("build/default/bin/trace-viewer")) {
            tour.viewer = true;
        } else if (line.find("daqclient watch") != std::string::npos &&
                   line.find(" -c ") == std::string::npos) {
            tour.script += line + " -c 2\n";  // until Ctrl-C, in the README
        } else {
            tour.script += line + "\n";
        }
    }
    return tour;
}

class ReadmeTour : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(host.start()) << host.log(); }

    // Runs shell text with daqclient pointed at the test's host.
    daq::test::ProgramRun shell(const std::string& script) {
        const std::string prelude = "daqclient() { command \"" + kBin + "/daqclient\" -p " +
                                    std::to_string(host.port()) + " \"$@\"; }\n";
        return daq::test::runProgram({"/bin/bash", "-c", prelude + script},
                                     {"DAQCLIENT_PASSWORD", "PATH=" + kBin + ":/usr/bin:/bin"});
    }

    daq::test::HostProcess host;
};

TEST_F(ReadmeTour, RunsAsWritten) {
    const Tour tour = tourFrom(shellLines("## Five-minute tour"));
    ASSERT_THAT(tour.skipped, ::testing::Contains("scripts/demo"));
    ASSERT_TRUE(tour.viewer) << "the tour opens the trace viewer";

    const auto run = shell(tour.script);
    ASSERT_EQ(run.code, 0) << tour.script << "\n" << run.err;
    EXPECT_THAT(run.out, HasSubstr("Riverside Water Works"));           // info
    EXPECT_THAT(run.out, HasSubstr("INTAKE.LEVEL,INTAKE.LEVEL time"));  // watch, piped: CSV
    EXPECT_THAT(run.out, HasSubstr("P101.STATE"));                      // tags
    EXPECT_THAT(run.out, HasSubstr("Remote valve V210"));               // devices
    EXPECT_THAT(run.out, HasSubstr("result,code\nOK,0\n"));             // the write
    EXPECT_THAT(run.out, HasSubstr("2,2,Manual,yes"));                  // its effect

    // Step 5: the viewer, started after the host, receives the next request's trace lines.
    ::setenv("KELVANE_TRACE_SOCKET", host.traceSocketPath().c_str(), 1);
    daq::test::BackgroundProgram viewer({kBin + "/trace-viewer"}, host.dir() / "viewer.log");
    ::unsetenv("KELVANE_TRACE_SOCKET");
    ASSERT_TRUE(viewer.waitForOutput("listening on", 10s)) << viewer.output();
    EXPECT_EQ(shell("daqclient status\n").code, 0);
    EXPECT_TRUE(viewer.waitForOutput("DAQ Server PS_ID = DAQSTATUS", 10s)) << viewer.output();
}

TEST_F(ReadmeTour, TheViewerCannotWriteAsTheTourSays) {
    const auto run =
        shell("DAQCLIENT_PASSWORD=viewer daqclient -u viewer write --station ST01 2 1");
    EXPECT_EQ(run.code, 6) << run.err;
    EXPECT_THAT(run.out, HasSubstr("FAILED,-2"));
}

}  // namespace
