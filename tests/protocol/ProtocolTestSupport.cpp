#include "tests/protocol/ProtocolTestSupport.h"

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

namespace {

HostOptions withProject(std::string projectXml) {
    HostOptions options;
    options.projectXml = std::move(projectXml);
    return options;
}

}  // namespace

SuiteHost::SuiteHost(std::string projectXml) : SuiteHost(withProject(std::move(projectXml))) {}

SuiteHost::SuiteHost(HostOptions options)
    : process_(std::move(options)), traces_(process_.traceSocketPath()) {
    started_ = process_.start();
}

std::string SuiteHost::failure() const {
    return "the host did not start; its log:\n" + process_.log();
}

::testing::AssertionResult SuiteHost::stop() {
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

::testing::AssertionResult tracedBy(TraceCapture& traces, const TraceCapture::Match& match,
                                    const std::function<void()>& action) {
    constexpr int kAttempts = 4;
    constexpr auto kWait = 750ms;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::size_t before = traces.matching(match).size();
        action();
        if (traces.waitForCount(match, before + 1, kWait) > before) {
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "no such trace line after " << kAttempts << " tries";
}

std::string requestFrame(std::string_view json) {
    std::string bytes;
    protocol::buildFrame(json, bytes, protocol::FrameTrailer::None);
    return bytes;
}

std::vector<std::string> memberNames(const rapidjson::Value& object) {
    std::vector<std::string> names;
    if (!object.IsObject()) {
        return names;
    }
    for (const auto& m : object.GetObject()) {
        names.emplace_back(m.name.GetString(), m.name.GetStringLength());
    }
    return names;
}

std::string text(const rapidjson::Value& value) {
    return value.IsString() ? std::string(value.GetString(), value.GetStringLength())
                            : std::string();
}

const rapidjson::Value& at(const rapidjson::Value& object, const char* name) {
    static const rapidjson::Value kAbsent;
    if (!object.IsObject()) {
        return kAbsent;
    }
    const auto found = object.FindMember(name);
    return found == object.MemberEnd() ? kAbsent : found->value;
}

::testing::AssertionResult isAliveAnswer(const std::optional<std::string>& answer) {
    if (!answer) {
        return ::testing::AssertionFailure() << "no answer";
    }
    const auto parsed = client::parseAnswer(*answer);
    if (!parsed || memberNames(*parsed) != std::vector<std::string>{"PS_ID", "TIME"} ||
        !(*parsed)["PS_ID"].IsTrue() || !(*parsed)["TIME"].IsString()) {
        return ::testing::AssertionFailure() << "not the answer to ALIVE: " << *answer;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult nextAnswerIsAlive(DaqClient& client) {
    if (!client.connection().sendMessage(client::aliveRequest())) {
        return ::testing::AssertionFailure() << "cannot send ALIVE: " << client.lastError();
    }
    const auto answer = client.connection().readFrame(kReplyTimeout);
    if (!answer) {
        return ::testing::AssertionFailure()
               << "no answer to ALIVE: " << client.connection().lastError();
    }
    return isAliveAnswer(answer);
}

::testing::AssertionResult answersNothing(DaqClient& client, std::string_view request) {
    if (!client.connection().sendMessage(request)) {
        return ::testing::AssertionFailure()
               << "cannot send " << request << ": " << client.connection().lastError();
    }
    auto alive = nextAnswerIsAlive(client);
    if (!alive) {
        alive << " (after " << request << ")";
    }
    return alive;
}

}  // namespace daq::test
