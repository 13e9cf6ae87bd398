#include "tests/support/HostProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace daq::test {

namespace {

// The port of the host's start line "...; listening on 127.0.0.1:<port>; ...", if it is there.
std::optional<uint16_t> listeningPort(const std::string& log) {
    static constexpr std::string_view kMark = "listening on 127.0.0.1:";
    const std::size_t at = log.find(kMark);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const char* first = log.data() + at + kMark.size();
    uint16_t port = 0;
    const auto [end, error] = std::from_chars(first, log.data() + log.size(), port);
    if (error != std::errc() || end == first) {
        return std::nullopt;
    }
    return port;
}

std::filesystem::path makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "daq-host-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

}  // namespace

HostProcess::HostProcess(HostOptions options) : options_(std::move(options)), dir_(makeTempDir()) {}

HostProcess::~HostProcess() {
    if (pid_ > 0) {
        stop();
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

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
    return spawn() && awaitServer();
}

bool HostProcess::spawn() {
    {
        std::ofstream ini(dir_ / "config.ini");
        ini << "[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" << port_ << "\n";
        for (const std::string& line : options_.configLines) {
            ini << line << "\n";
        }
    }
    std::vector<std::string> args{std::string(DAQ_BIN_DIR) + "/kelvane-host", "--headless",
                                  "--config-dir", dir_.string()};
    if (!options_.projectXml.empty()) {
        const auto project = dir_ / "project.xml";
        std::ofstream(project) << options_.projectXml;
        args.insert(args.end(), {"--project", project.string()});
    }
    args.insert(args.end(), options_.extraArgs.begin(), options_.extraArgs.end());

    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen",
                                 "KELVANE_TRACE_SOCKET=" + traceSocketPath().string()};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with("QT_QPA_PLATFORM=") && !entry.starts_with("KELVANE_TRACE_SOCKET=") &&
            !entry.starts_with("DISPLAY=") && !entry.starts_with("WAYLAND_DISPLAY=")) {
            env.emplace_back(entry);
        }
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string logPath = (dir_ / "host.log").string();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool HostProcess::awaitServer() {
    const auto deadline = std::chrono::steady_clock::now() + options_.startTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // the host ended before it served
            return false;
        }
        if (const std::optional<uint16_t> port = listeningPort(log())) {
            port_ = *port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool HostProcess::restart() {
    stop();
    return spawn() && awaitServer();
}

int HostProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

std::string HostProcess::log() const {
    std::ifstream in(dir_ / "host.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace daq::test
