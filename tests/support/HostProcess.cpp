#include "tests/support/HostProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace daq::test {

namespace {

constexpr std::string_view kListening = "listening on 127.0.0.1:";

// The port of the host's start line "...; listening on 127.0.0.1:<port>; ...", 0 when it is not
// there.
uint16_t listeningPort(const std::string& log) {
    const std::size_t at = log.find(kListening);
    uint16_t port = 0;
    if (at != std::string::npos) {
        std::from_chars(log.data() + at + kListening.size(), log.data() + log.size(), port);
    }
    return port;
}

}  // namespace

HostProcess::HostProcess(HostOptions options) : options_(std::move(options)) {}

uint16_t HostProcess::freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return port;
}

bool HostProcess::start() {
    port_ = 0;  // the host binds a free port and names it in its start line
    return spawn();
}

bool HostProcess::spawn() {
    {
        std::ofstream ini(dir_.path() / "config.ini");
        ini << "[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" << port_ << "\n";
        for (const std::string& line : options_.configLines) {
            ini << line << "\n";
        }
    }
    Args args{std::string(DAQ_BIN_DIR) + "/kelvane-host", "--headless", "--config-dir",
              dir_.path().string()};
    if (!options_.projectXml.empty()) {
        const auto project = dir_.path() / "project.xml";
        std::ofstream(project) << options_.projectXml;
        args.insert(args.end(), {"--project", project.string()});
    }
    EnvChanges env{"QT_QPA_PLATFORM=offscreen",
                   "KELVANE_TRACE_SOCKET=" + traceSocketPath().string(), "DISPLAY",
                   "WAYLAND_DISPLAY"};
    env.insert(env.end(), options_.env.begin(), options_.env.end());
    program_ = std::make_unique<Program>(args, env);
    if (!program_->waitForOutput(std::string(kListening), std::chrono::seconds(15))) {
        return false;
    }
    port_ = listeningPort(log());
    return port_ != 0;
}

bool HostProcess::restart() {
    stop();
    return spawn();
}

int HostProcess::stop(std::chrono::milliseconds timeout) {
    return program_ ? program_->stop(SIGTERM, timeout) : -1;
}

std::string HostProcess::log() const {
    return program_ ? program_->err() : std::string();
}

bool HostProcess::waitForLog(const std::string& text, std::chrono::milliseconds timeout) {
    return program_ && program_->waitForOutput(text, timeout);
}

}  // namespace daq::test
