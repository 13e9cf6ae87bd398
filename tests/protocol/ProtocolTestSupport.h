// What the protocol tests against the real host share: a host started once per test suite with
// its traces captured, project files, clients, and the checks of answers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/HostProcess.h"
#include "tests/support/RequestFrame.h"
#include "tests/support/TraceCapture.h"
#include "tools/client/DaqClient.h"
#include "trace/Trace.h"

namespace daq::test {

using client::DaqClient;
using namespace std::chrono_literals;

// How long a test waits for an answer, and for a trace line, before it counts as missing.
inline constexpr std::chrono::milliseconds kReplyTimeout = 2000ms;
inline constexpr std::chrono::milliseconds kTraceTimeout = 3000ms;

// Users of every project file below: "admin" may write parameters, "viewer" may not; each
// one's password is its id.
inline constexpr const char* kAdmin = "admin";
inline constexpr const char* kViewer = "viewer";

// A project file around `sections` (any of <project>, <io-tree>, <system-tree>) with the two
// users and the server following the host's connect and DAQ run.
std::string projectFile(std::string_view sections);

// Options of a host with this project file (empty: the host's built-in demo project) and these
// lines in the "config" section of its config.ini.
HostOptions hostWith(std::string projectXml, std::vector<std::string> configLines = {});

// A running host with its trace messages captured from its first one.
class SuiteHost {
  public:
    explicit SuiteHost(HostOptions options);

    bool started() const { return started_; }
    // Why the host did not start, with its log.
    std::string failure() const;
    // Stops the host with SIGTERM: success when it exits normally (a sanitizer's report on
    // the way out is a failure too), with the log otherwise. started() is false afterwards.
    ::testing::AssertionResult stop();
    uint16_t port() const { return process_.port(); }
    TraceCapture& traces() { return traces_; }

    // A client connected to the host, answers awaited for at most kReplyTimeout.
    std::unique_ptr<DaqClient> connect();

  private:
    HostProcess process_;
    TraceCapture traces_;
    bool started_ = false;
};

// A fixture whose test cases share one host, started for the suite with Suite::options().
template <typename Suite>
class SharedHostTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { host_ = std::make_unique<SuiteHost>(Suite::options()); }
    static void TearDownTestSuite() {
        if (host_->started()) {
            EXPECT_TRUE(host_->stop());
        }
        host_.reset();
    }
    void SetUp() override { ASSERT_TRUE(host_->started()) << host_->failure(); }

    static SuiteHost& host() { return *host_; }

  private:
    static inline std::unique_ptr<SuiteHost> host_;
};

// Sends the request and gives the text of the next answer frame, or "(none: why)".
std::string ask(DaqClient& client, std::string_view request);

// Whether `answer` is the answer to "ALIVE": exactly "PS_ID" true and a "TIME" text.
::testing::AssertionResult isAliveAnswer(const std::optional<std::string>& answer);
// Sends "ALIVE" and checks that the next answer read is its answer.
::testing::AssertionResult nextAnswerIsAlive(DaqClient& client);

}  // namespace daq::test
