// The host as a systemd service runs it: readiness and stopping told on $NOTIFY_SOCKET, the exit
// status of a stop on SIGTERM, and the server's events written to standard error (the journal)
// with the client's address but without a password.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/HostProcess.h"
#include "tools/client/DaqClient.h"

namespace {

using namespace std::chrono_literals;

// A datagram socket where systemd would listen for the service's notifications.
class NotifySocket {
  public:
    NotifySocket()
        : path_(std::filesystem::temp_directory_path() /
                ("daq-notify-" + std::to_string(::getpid()))) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        bound_ =
            fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        ::close(fd_);
        std::filesystem::remove(path_);
    }

    bool bound() const { return bound_; }
    const std::filesystem::path& path() const { return path_; }

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

// A headless host that cannot listen ends before it tells systemd it is ready; that, and its
// exit code, is HostProgramTest's (ServesWhereTheOptionsSayAndStopsInOrderOnSigterm...).
TEST(HostService, TellsSystemdWhenItServesLogsSessionsAndStopsOnSigterm) {
    NotifySocket systemd;
    ASSERT_TRUE(systemd.bound());
    daq::test::HostProcess host({.env = {"NOTIFY_SOCKET=" + systemd.path().string()}});
    ASSERT_TRUE(host.start()) << host.log();
    const auto ready = systemd.receive(15s);
    ASSERT_TRUE(ready) << host.log();
    EXPECT_EQ(*ready,
              "READY=1\nSTATUS=DAQ run of \"Riverside Water Works\" started; listening on "
              "127.0.0.1:" +
                  std::to_string(host.port()));

    const std::string secret = "not-the-Password-42";
    {
        daq::client::DaqClient refused;
        ASSERT_TRUE(refused.connect("127.0.0.1", host.port())) << "ready before the listener";
        ASSERT_TRUE(refused.login("admin", secret)) << refused.lastError();
        daq::client::DaqClient accepted;
        ASSERT_TRUE(accepted.connect("127.0.0.1", host.port()));
        ASSERT_TRUE(accepted.login("viewer", "viewer"));
        // Listed before the connection ends, so that its end is a logout.
        EXPECT_TRUE(host.waitForLog("user \"viewer\" from 127.0.0.1: Logged in")) << host.log();
    }
    EXPECT_TRUE(host.waitForLog("user \"viewer\" from 127.0.0.1: Logged out")) << host.log();
    EXPECT_THAT(host.log(), ::testing::HasSubstr("user \"admin\" from 127.0.0.1: Login Fail"));
    EXPECT_THAT(host.log(), ::testing::Not(::testing::HasSubstr(secret)));

    EXPECT_EQ(host.stop(), 0);
    EXPECT_EQ(systemd.receive(5s), "STOPPING=1");
    // Nothing but the host's own lines: no platform noise from the popups.
    EXPECT_THAT(host.log(), ::testing::Not(::testing::HasSubstr("does not support raise()")));
}

}  // namespace
