#include "tools/daqclient/ServerLink.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <chrono>

#include "server/protocol/JsonRequest.h"

namespace daqclient {

namespace {

using daq::client::ClientErrorKind;

daq::client::ClientSettings settingsFor(const GlobalOptions& options) {
    const std::chrono::milliseconds timeout(options.timeoutMs);
    daq::client::ClientSettings settings;
    settings.connectTimeout = timeout;
    settings.replyTimeout = timeout;
    settings.sendTimeout = timeout;
    settings.tls = options.tls;
    return settings;
}

// What the server's list of logged-in users shows for this client.
daq::client::ClientDevice thisDevice() {
    daq::client::ClientDevice device;
    utsname system{};
    if (uname(&system) == 0) {
        device.os = system.sysname;
        device.version = system.release;
    }
    device.modelName = "daqclient";
    std::array<char, 256> hostName{};
    if (gethostname(hostName.data(), hostName.size() - 1) == 0) {
        device.location = hostName.data();
    }
    return device;
}

}  // namespace

ServerLink::ServerLink(const GlobalOptions& options, std::optional<Credentials> credentials)
    : options_(options), credentials_(std::move(credentials)), client_(settingsFor(options)) {}

void ServerLink::fail(ClientErrorKind kind, const std::string& detail,
                      std::string_view what) const {
    const std::string target = options_.host + ":" + std::to_string(options_.port);
    switch (kind) {
        case ClientErrorKind::Timeout:
            // A server with RequireLogin answers only LOGIN and ALIVE before a login, and says
            // nothing to the client about it.
            throw CommandError(ExitCode::NoAnswer,
                               "no answer to " + std::string(what) + " from " + target +
                                   " within " + std::to_string(options_.timeoutMs) + " ms" +
                                   (credentials_ ? ""
                                                 : " (a server that requires a login answers "
                                                   "nothing else before one: log in with -u)"));
        case ClientErrorKind::Closed:
            throw CommandError(ExitCode::ConnectionFailed,
                               "connection to " + target + " lost: " + detail);
        case ClientErrorKind::Network:
            throw CommandError(ExitCode::ConnectionFailed, detail);
        case ClientErrorKind::Certificate:
            throw CommandError(ExitCode::Certificate, detail);
        case ClientErrorKind::BadReply:
        case ClientErrorKind::None:
            break;
    }
    throw CommandError(ExitCode::Failure, "bad answer to " + std::string(what) + ": " + detail);
}

void ServerLink::open() {
    if (!client_.connect(options_.host, options_.port)) {
        const auto& connection = client_.connection();
        fail(connection.lastErrorKind(), connection.lastError(), "the connection");
    }
    if (!credentials_) {
        return;
    }
    const daq::client::Answer answer =
        request(daq::client::loginRequest(credentials_->user, credentials_->password, thisDevice(),
                                          "daqclient"),
                "LOGIN");
    const auto* result = daq::protocol::findJsonPath(answer, "RESULT");
    if (result == nullptr || !result->IsBool()) {
        throw CommandError(ExitCode::Failure, "bad answer to LOGIN: no RESULT true or false");
    }
    if (!result->GetBool()) {
        close();
        throw CommandError(ExitCode::LoginRefused,
                           "login refused for user \"" + credentials_->user + "\"");
    }
}

daq::client::Answer ServerLink::request(std::string_view json, std::string_view what) {
    auto answer = client_.request(json);
    if (!answer) {
        fail(client_.lastErrorKind(), client_.lastError(), what);
    }
    if (!answer->IsObject()) {
        throw CommandError(ExitCode::Failure,
                           "bad answer to " + std::string(what) + ": not a JSON object");
    }
    return std::move(*answer);
}

std::string ServerLink::requestText(std::string_view text) {
    constexpr std::size_t kQuoted = 60;  // of the request, in error messages
    const std::string what =
        text.size() <= kQuoted ? std::string(text) : std::string(text.substr(0, kQuoted)) + "...";
    auto& connection = client_.connection();
    if (!connection.sendMessage(text)) {
        fail(connection.lastErrorKind(), connection.lastError(), what);
    }
    auto answer = connection.readFrame();
    if (!answer) {
        fail(connection.lastErrorKind(), connection.lastError(), what);
    }
    return std::move(*answer);
}

}  // namespace daqclient
