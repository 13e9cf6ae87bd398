// The host as a systemd service runs it: readiness and stopping told on $NOTIFY_SOCKET, and the
// server's events written to standard error (the journal) with the client's address.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/HostProcess.h"
#include "tools/client/DaqClient.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

// The host needs a moment for the window's 100 ms queue timers before an event is listed.
constexpr auto kEventWait = 10s;

// A datagram socket where systemd would listen for the service's notifications.
class NotifySocket {
  public:
    explicit NotifySocket(const std::filesystem::path& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        bound_ =
            fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        std::filesystem::remove(path_);
    }

    bool bound() const { return bound_; }

    // The next notification, or nothing within the time-out.
    std::optional<std::string> receive(std::chrono::milliseconds timeout) {
        timeval wait{static_cast<time_t>(timeout.count() / 1000),
                     static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return std::nullopt;
        }
        return std::string(buffer, static_cast<std::size_t>(got));
    }

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool bound_ = false;
};

// Sets an environment variable for the host started while it lives.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() { ::unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
};

bool canConnect(uint16_t port) {
    daq::client::ClientConnection probe;
    return probe.connect("127.0.0.1", port);
}

TEST(HostService, TellsSystemdWhenItServesAndWhenItStops) {
    daq::test::HostProcess host;
    NotifySocket systemd(host.dir() / "notify.sock");
    ASSERT_TRUE(systemd.bound());
    const ScopedVariable notify("NOTIFY_SOCKET", (host.dir() / "notify.sock").string());
    ASSERT_TRUE(host.start()) << host.log();

    const auto ready = systemd.receive(15s);
    ASSERT_TRUE(ready) << host.log();
    EXPECT_EQ(*ready,
              "READY=1\nSTATUS=DAQ run of \"Riverside Water Works\" started; listening on "
              "127.0.0.1:" +
                  std::to_string(host.port()));
    EXPECT_TRUE(canConnect(host.port())) << "ready before the listener was open";

    EXPECT_EQ(host.stop(), 0);
    EXPECT_EQ(systemd.receive(5s), "STOPPING=1");
}

TEST(HostService, IsNeverReadyWithoutItsListener) {
    daq::test::HostProcess first;
    ASSERT_TRUE(first.start()) << first.log();
    daq::test::HostOptions taken;
    taken.extraArgs = {"--port", std::to_string(first.port())};
    daq::test::HostProcess second(taken);
    NotifySocket systemd(second.dir() / "notify.sock");
    ASSERT_TRUE(systemd.bound());
    const ScopedVariable notify("NOTIFY_SOCKET", (second.dir() / "notify.sock").string());
    EXPECT_FALSE(second.start()) << "the second host serves on its own port";
    // It has ended: whatever it told systemd is waiting.
    EXPECT_EQ(systemd.receive(100ms), std::nullopt);
    EXPECT_THAT(second.log(), HasSubstr("the server cannot listen: bind 127.0.0.1:" +
                                        std::to_string(first.port())));
}

// Waits (bounded) until the host's log holds `text`.
bool logShows(const daq::test::HostProcess& host, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kEventWait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (host.log().find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(HostService, LogsLoginsRefusalsAndLogoutsWithThePeerButNoPassword) {
    daq::test::HostProcess host;
    ASSERT_TRUE(host.start()) << host.log();
    const std::string secret = "not-the-Password-42";
    {
        daq::client::DaqClient refused;
        ASSERT_TRUE(refused.connect("127.0.0.1", host.port()));
        const auto answer = refused.login("admin", secret);
        ASSERT_TRUE(answer) << refused.lastError();
        EXPECT_FALSE((*answer)["RESULT"].GetBool());
    }
    EXPECT_TRUE(logShows(host, "user \"admin\" from 127.0.0.1: Login Fail")) << host.log();
    {
        daq::client::DaqClient accepted;
        ASSERT_TRUE(accepted.connect("127.0.0.1", host.port()));
        ASSERT_TRUE(accepted.login("viewer", "viewer"));
        // Listed before the connection ends, so that its end is a logout.
        EXPECT_TRUE(logShows(host, "user \"viewer\" from 127.0.0.1: Logged in")) << host.log();
    }
    EXPECT_TRUE(logShows(host, "user \"viewer\" from 127.0.0.1: Logged out")) << host.log();
    EXPECT_THAT(host.log(), Not(HasSubstr(secret)));
}

}  // namespace
