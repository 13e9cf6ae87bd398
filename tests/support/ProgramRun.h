// Starts the project's programs as a user or a service manager would: in the background while
// the test goes on, to their end with the output collected, or on a pseudo terminal.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace daq::test {

using Args = std::vector<std::string>;

// Entries "NAME=value" set a variable for the child; "NAME" alone removes it. Everything else
// of the test's own environment is passed on.
using EnvChanges = std::vector<std::string>;

inline constexpr std::chrono::seconds kProgramRunLimit{30};

// A started program (args[0] is its path): stdin on /dev/null, stdout and stderr kept apart in
// memory. Stopped (SIGTERM, then SIGKILL) when still running at destruction.
class Program {
  public:
    explicit Program(const Args& args, const EnvChanges& env = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // What it wrote so far.
    std::string out() const;
    std::string err() const;
    // True once stdout or stderr holds `text`; false when it ended first or the time ran out.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // Waits (bounded) for the end: the exit status, 128 + the signal, or -1 on a time-out.
    int wait(std::chrono::milliseconds timeout);
    // Sends the signal and waits (bounded) for the end as wait() does; the program is killed
    // when it outlives the time-out.
    int stop(int signal = SIGTERM,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    // Sends the signal and returns (SIGHUP: an operator's reload).
    void signal(int number) const {
        if (!ended_) {
            ::kill(pid_, number);
        }
    }

  private:
    pid_t pid_ = -1;
    int pidFd_ = -1;  // readable once the program has ended
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
    bool ended_ = false;
};

struct ProgramRun {
    int code = -1;  // exit status, or 128 + the signal; -1 when it did not end within the limit
    std::string out;
    std::string err;
};

// Runs a program to its end; kills it when it outlives `limit`.
ProgramRun runProgram(const Args& args, const EnvChanges& env = {},
                      std::chrono::milliseconds limit = kProgramRunLimit);

// What a user types on the terminal once the program has written `after`.
struct TerminalInput {
    std::string after;
    std::string text;
};

// Runs a program on a pseudo terminal and gives everything it wrote there.
std::string runOnTerminal(const Args& args, const EnvChanges& env = {},
                          const TerminalInput& input = {},
                          std::chrono::milliseconds limit = kProgramRunLimit);

}  // namespace daq::test
