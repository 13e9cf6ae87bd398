// The trace-viewer program: started on a private socket, fed by the real trace channel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/TraceReceiver.h"
#include "trace/Trace.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A running trace-viewer with its standard output and error read through pipes.
class ViewerProcess {
  public:
    explicit ViewerProcess(const std::vector<std::string>& arguments) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        const std::string program = DAQ_BIN_DIR "/trace-viewer";
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        const int spawned =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (spawned != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + program);
        }
    }

    ~ViewerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    std::optional<std::string> outputLine() { return readLine(out_, outBuffer_); }
    std::optional<std::string> errorLine() { return readLine(err_, errBuffer_); }

    // Exactly `size` bytes of standard output.
    std::optional<std::string> outputBytes(std::size_t size) {
        if (!fill(out_, outBuffer_, [&] { return outBuffer_.size() >= size; })) {
            return std::nullopt;
        }
        std::string bytes = outBuffer_.substr(0, size);
        outBuffer_.erase(0, size);
        return bytes;
    }

    // Sends `signal` (none: 0) and returns the exit code, or -1 if the program does not exit
    // normally within a few seconds.
    int stop(int signal) {
        if (signal != 0) {
            kill(pid_, signal);
        }
        const auto deadline = Clock::now() + 5s;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    template <typename Done>
    static bool fill(int fd, std::string& buffer, Done done) {
        const auto deadline = Clock::now() + 5s;
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd ready{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char chunk[4096];
            const ssize_t size = read(fd, chunk, sizeof chunk);
            if (size <= 0) {
                return false;
            }
            buffer.append(chunk, static_cast<std::size_t>(size));
        }
        return true;
    }

    static std::optional<std::string> readLine(int fd, std::string& buffer) {
        if (!fill(fd, buffer, [&] { return buffer.find('\n') != std::string::npos; })) {
            return std::nullopt;
        }
        const std::size_t end = buffer.find('\n');
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        return line;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
};

class TraceViewerProgramTest : public ::testing::Test {
  protected:
    // Starts a viewer on the channel's socket and waits until it listens.
    std::unique_ptr<ViewerProcess> startViewer(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--socket", directory.socketPath()});
        auto viewer = std::make_unique<ViewerProcess>(arguments);
        EXPECT_EQ(viewer->errorLine(), "trace-viewer: listening on " + directory.socketPath());
        return viewer;
    }

    TraceSocketDirectory directory;
};

// A viewer replaces a stale socket, keeps a second viewer off its own, shows the chosen level
// and above, and removes its socket when terminated; the next one, started in raw mode, is found
// through the generation file.
TEST_F(TraceViewerProgramTest, ShowsWhatTheChannelSendsAndHandsTheSocketOn) {
    TraceReceiver killed(directory.socketPath());
    killed.close(false);
    auto viewer = startViewer({"--level", "2"});
    ViewerProcess second({"--socket", directory.socketPath()});
    EXPECT_EQ(second.errorLine(),
              "trace-viewer: another trace viewer listens on " + directory.socketPath());
    EXPECT_EQ(second.stop(0), 1);

    DAQ_TRACE(daq::kTraceInfo, "getClientIndex", "FormTray", "below the level");
    daq::trace(daq::kTraceInfo, "bare text counts as information");
    const int line = __LINE__ + 1;
    DAQ_TRACE(daq::kTraceError, "open_Server", "FormTray", "active error [%s]", "busy");
    const std::regex located(R"(\d\d:\d\d:\d\d\.\d\d\d  )" + senderHex() +
                             R"( +error    open_Server  FormTray:)" + std::to_string(line) +
                             R"(  active error \[busy\])");
    const std::string shown = viewer->outputLine().value_or("");
    EXPECT_TRUE(std::regex_match(shown, located)) << shown;
    EXPECT_EQ(viewer->stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(directory.socketPath()));

    // The channel now waits on the file's counter, which only a viewer that counts itself moves.
    daq::trace(daq::kTraceInfo, "nobody listens");
    auto raw = startViewer({"--raw"});
    daq::setTraceLocation(12, "sendData", "FormTray");
    daq::trace(daq::kTraceError, "send error : %s", "Broken pipe | peer gone");
    const std::string expected = "send error : Broken pipe | peer gone" +
                                 locationSuffix(2, 12, "sendData", "FormTray") + '\0' + '\n';
    EXPECT_EQ(raw->outputBytes(expected.size()), expected);
    EXPECT_EQ(raw->stop(SIGINT), 0);
}

TEST_F(TraceViewerProgramTest, RefusesADirectoryOthersCanWrite) {
    const std::filesystem::path folder =
        std::filesystem::path(directory.socketPath()).parent_path();
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    ViewerProcess viewer({"--socket", directory.socketPath()});
    EXPECT_EQ(viewer.errorLine(), "trace-viewer: " + folder.string() +
                                      " is not a directory of this user that only it can write; "
                                      "senders send no traces there");
    EXPECT_EQ(viewer.stop(0), 1);
}

}  // namespace
