#include "tests/support/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

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
        if (std::none_of(changes.begin(), changes.end(),
                         [&](const auto& change) { return variableName(change) == name; })) {
            env.emplace_back(*entry);
        }
    }
    std::copy_if(changes.begin(), changes.end(), std::back_inserter(env),
                 [](const std::string& change) { return change.find('=') != std::string::npos; });
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

std::string contents(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got;
         (got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

}  // namespace

Program::Program(const Args& args, const EnvChanges& changes)
    : out_(::memfd_create("stdout", MFD_CLOEXEC)), err_(::memfd_create("stderr", MFD_CLOEXEC)) {
    std::vector<std::string> argTexts = args;
    std::vector<std::string> env = childEnvironment(changes);
    auto argv = pointers(argTexts);
    auto envp = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_, STDERR_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
        ended_ = true;
    } else {
        // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage.
        pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    }
    posix_spawn_file_actions_destroy(&actions);
}

Program::~Program() {
    stop(SIGTERM, std::chrono::seconds(5));
    for (int fd : {pidFd_, out_, err_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::string Program::out() const {
    return contents(out_);
}

std::string Program::err() const {
    return contents(err_);
}

bool Program::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const auto seen = [&] {
        return out().find(text) != std::string::npos || err().find(text) != std::string::npos;
    };
    while (!seen()) {
        if (ended_ || Clock::now() >= deadline) {
            return seen();
        }
        wait(std::chrono::milliseconds(10));
    }
    return true;
}

int Program::wait(std::chrono::milliseconds timeout) {
    if (ended_) {
        return status_;
    }
    pollfd end{pidFd_, POLLIN, 0};
    int status = 0;
    if (::poll(&end, 1, static_cast<int>(timeout.count())) != 1 ||
        ::waitpid(pid_, &status, 0) != pid_) {
        return -1;
    }
    ended_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

int Program::stop(int signal, std::chrono::milliseconds timeout) {
    if (ended_) {
        return status_;
    }
    ::kill(pid_, signal);
    if (wait(timeout) == -1) {
        ::kill(pid_, SIGKILL);
        wait(timeout);
        status_ = -1;  // a time-out, whatever the kill made of it
    }
    return status_;
}

ProgramRun runProgram(const Args& args, const EnvChanges& env, std::chrono::milliseconds limit) {
    Program program(args, env);
    ProgramRun run;
    run.code = program.stop(0, limit);  // signal 0: nothing is sent, the end is waited for
    run.out = program.out();
    run.err = program.started() ? program.err() : "cannot start " + args.at(0);
    return run;
}

std::string runOnTerminal(const Args& args, const EnvChanges& changes, const TerminalInput& input,
                          std::chrono::milliseconds limit) {
    std::vector<std::string> argTexts = args;
    std::vector<std::string> env = childEnvironment(changes);
    auto argv = pointers(argTexts);
    auto envp = pointers(env);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    std::string seen;
    bool typed = input.text.empty();
    const auto deadline = Clock::now() + limit;
    while (pid > 0 && Clock::now() < deadline) {
        if (!typed && seen.find(input.after) != std::string::npos) {
            typed = ::write(terminal, input.text.data(), input.text.size()) ==
                    static_cast<ssize_t>(input.text.size());
        }
        pollfd fd{terminal, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got <= 0) {
            break;  // EIO once the program has ended and the terminal is closed
        }
        seen.append(buffer, static_cast<std::size_t>(got));
    }
    if (pid > 0) {
        ::close(terminal);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return seen;
}

}  // namespace daq::test
