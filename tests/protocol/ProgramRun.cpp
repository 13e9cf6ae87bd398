#include "tests/protocol/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace daq::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string variableName(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> childEnvironment(const EnvChanges& changes) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string name = variableName(*entry);
        const bool changed = std::any_of(changes.begin(), changes.end(), [&](const auto& change) {
            return variableName(change) == name;
        });
        if (!changed) {
            env.emplace_back(*entry);
        }
    }
    for (const std::string& change : changes) {
        if (change.find('=') != std::string::npos) {
            env.push_back(change);
        }
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits (bounded) for the child to end; its status, or nothing on a time-out.
std::optional<int> waitBounded(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    do {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return exitStatus(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return std::nullopt;
}

}  // namespace

ProgramRun runProgram(const Args& args, const EnvChanges& changes,
                      std::chrono::milliseconds limit) {
    ProgramRun run;
    std::vector<std::string> argTexts = args;
    std::vector<std::string> env = childEnvironment(changes);
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return run;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ADD_FAILURE() << "pipe failed";
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    auto argv = pointers(argTexts);
    auto envp = pointers(env);
    const auto started = Clock::now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ADD_FAILURE() << "cannot start " << args.at(0);
        return run;
    }
    std::array<pollfd, 2> fds{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
    std::array<std::string*, 2> sinks{&run.out, &run.err};
    int open = 2;
    const auto deadline = started + limit;
    while (open > 0 && Clock::now() < deadline) {
        if (::poll(fds.data(), fds.size(), 100) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const auto& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    if (open > 0) {
        ::kill(pid, SIGKILL);
        ADD_FAILURE() << args.at(0) << " did not end within " << limit.count() << " ms";
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.took = Clock::now() - started;
    run.code = exitStatus(status);
    return run;
}

std::string runOnTerminal(const Args& args, const EnvChanges& changes, const TerminalInput& input,
                          std::chrono::milliseconds limit) {
    std::vector<std::string> argTexts = args;
    std::vector<std::string> env = childEnvironment(changes);
    auto argv = pointers(argTexts);
    auto envp = pointers(env);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "forkpty failed";
        return {};
    }
    std::string seen;
    bool typed = input.text.empty();
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (!typed && seen.find(input.after) != std::string::npos) {
            typed = ::write(master, input.text.data(), input.text.size()) ==
                    static_cast<ssize_t>(input.text.size());
        }
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0) {
            break;  // EIO once the program has ended and the terminal is closed
        }
        seen.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(master);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return seen;
}

BackgroundProgram::BackgroundProgram(const Args& args, const std::filesystem::path& outputFile)
    : outputFile_(outputFile) {
    std::vector<std::string> argTexts = args;
    std::vector<std::string> env = childEnvironment({});
    auto argv = pointers(argTexts);
    auto envp = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

BackgroundProgram::~BackgroundProgram() {
    stop(SIGTERM, std::chrono::seconds(5));
}

std::string BackgroundProgram::output() const {
    std::ifstream in(outputFile_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool BackgroundProgram::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pid_ > 0 && Clock::now() < deadline) {
        if (output().find(text) != std::string::npos) {
            return true;
        }
        if (const auto status = waitBounded(pid_, std::chrono::milliseconds(50))) {
            status_ = *status;
            pid_ = -1;
        }
    }
    return output().find(text) != std::string::npos;
}

int BackgroundProgram::stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return status_;
    }
    ::kill(pid_, signal);
    const auto status = waitBounded(pid_, timeout);
    if (!status) {
        ::kill(pid_, SIGKILL);
        int ignored = 0;
        ::waitpid(pid_, &ignored, 0);
    }
    pid_ = -1;
    status_ = status.value_or(-1);
    return status_;
}

}  // namespace daq::test
