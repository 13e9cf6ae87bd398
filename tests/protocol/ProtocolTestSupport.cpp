#include "tests/protocol/ProtocolTestSupport.h"

#include <regex>

#include "server/protocol/Frame.h"
#include "tools/client/Requests.h"

namespace daq::test {

namespace {

// The users' password hashes (yescrypt at its lowest cost, so that a login costs little).
constexpr const char* kUsers = R"(<users>
    <user id="admin" hash="$y$j75$eeg/6ulEb7BG7sHOjP1zS.$nCJWgyD.zJ0C/sk7vKHtqK8w7rfHBhcRKs7yOtXzL/A" may-write="true"/>
    <user id="viewer" hash="$y$j75$pkZ689IXcccinpmetz2vL1$86mdaK7Xmim3zswLoc/52kt3W0JYxY7fzoGOHXnrmVD" may-write="false"/>
  </users>)";

}  // namespace

std::string projectFile(std::string_view sections) {
    std::string file = R"(<?xml version="1.0" encoding="UTF-8"?>
<kelvane-project format="1">
  )";
    file += kUsers;
    file += "\n  ";
    file += sections;
    file += R"(
  <plugin-settings><TCPServer RunMode="1" Active="0"/></plugin-settings>
</kelvane-project>
)";
    return file;
}

HostOptions hostWith(std::string projectXml, std::vector<std::string> configLines) {
    return {.projectXml = std::move(projectXml), .configLines = std::move(configLines)};
}

SuiteHost::SuiteHost(HostOptions options)
    : process_(std::move(options)), traces_(process_.traceSocketPath()) {
    started_ = process_.start();
}

std::string SuiteHost::failure() const {
    return "the host did not start; its log:\n" + process_.log();
}

::testing::AssertionResult SuiteHost::stop() {
    started_ = false;
    const int status = process_.stop();
    if (status != 0) {
        return ::testing::AssertionFailure()
               << "the host ended with status " << status << "; its log:\n"
               << process_.log();
    }
    return ::testing::AssertionSuccess();
}

std::unique_ptr<DaqClient> SuiteHost::connect() {
    auto client =
        std::make_unique<DaqClient>(client::ClientSettings{.replyTimeout = kReplyTimeout});
    if (!client->connect("127.0.0.1", port())) {
        ADD_FAILURE() << "cannot connect: " << client->connection().lastError();
    }
    return client;
}

std::string ask(DaqClient& client, std::string_view request) {
    auto& connection = client.connection();
    if (!connection.sendMessage(request)) {
        return "(none: " + connection.lastError() + ")";
    }
    return connection.readFrame(kReplyTimeout).value_or("(none: " + connection.lastError() + ")");
}

::testing::AssertionResult isAliveAnswer(const std::optional<std::string>& answer) {
    static const std::regex kAlive(R"(\{"PS_ID":true,"TIME":"[^"]*"\})");
    if (!answer || !std::regex_match(*answer, kAlive)) {
        return ::testing::AssertionFailure()
               << "not the answer to ALIVE: " << answer.value_or("(none)");
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult nextAnswerIsAlive(DaqClient& client) {
    return isAliveAnswer(ask(client, client::aliveRequest()));
}

}  // namespace daq::test
