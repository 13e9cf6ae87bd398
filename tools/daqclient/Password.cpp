#include "tools/daqclient/Password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace daqclient {

namespace {

// Closes the terminal and restores its echo on every way out.
class Terminal {
  public:
    Terminal() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~Terminal() {
        if (quiet_) {
            tcsetattr(fd_, TCSAFLUSH, &saved_);
            write("\n");
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool open() const { return fd_ >= 0; }

    void write(const std::string& text) const {
        // A prompt that cannot be shown changes nothing about the answer.
        [[maybe_unused]] const auto written = ::write(fd_, text.data(), text.size());
    }

    bool echoOff() {
        if (tcgetattr(fd_, &saved_) != 0) {
            return false;
        }
        termios silent = saved_;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet_ = tcsetattr(fd_, TCSAFLUSH, &silent) == 0;
        return quiet_;
    }

    // One line without its end, at most kMaxPasswordBytes long; nothing at the end of input.
    std::optional<std::string> readLine() const {
        std::string line;
        char c = 0;
        while (line.size() <= kMaxPasswordBytes) {
            const auto got = ::read(fd_, &c, 1);
            if (got <= 0) {
                return line.empty() ? std::nullopt : std::optional(line);
            }
            if (c == '\n' || c == '\r') {
                return line;
            }
            line += c;
        }
        throw CommandError(ExitCode::Usage, "the password is longer than " +
                                                std::to_string(kMaxPasswordBytes) + " bytes");
    }

  private:
    int fd_;
    termios saved_{};
    bool quiet_ = false;
};

std::string askPassword(const GlobalOptions& options) {
    Terminal terminal;
    if (!terminal.open() || !terminal.echoOff()) {
        throw CommandError(ExitCode::Usage, "--askpass needs a terminal to read the password from");
    }
    terminal.write("Password for " + *options.user + "@" + options.host + ": ");
    auto password = terminal.readLine();
    if (!password) {
        throw CommandError(ExitCode::Usage, "no password was typed");
    }
    return *password;
}

}  // namespace

std::optional<Credentials> resolveCredentials(const GlobalOptions& options) {
    if (!options.user) {
        return std::nullopt;
    }
    if (options.password) {
        return Credentials{*options.user, *options.password};
    }
    if (options.askPassword) {
        return Credentials{*options.user, askPassword(options)};
    }
    if (const char* password = std::getenv(kPasswordVariable); password != nullptr) {
        return Credentials{*options.user, password};
    }
    throw CommandError(ExitCode::Usage, "no password for user \"" + *options.user + "\": set " +
                                            kPasswordVariable + ", use --askpass, or give -P");
}

}  // namespace daqclient
