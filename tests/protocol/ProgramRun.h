// Runs the project's programs as a user would, for the tests of the tools: to the end with
// their output collected, on a pseudo terminal, or in the background.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace daq::test {

using Args = std::vector<std::string>;

// Entries "NAME=value" set a variable for the child; "NAME" alone removes it. Everything else
// of the test's own environment is passed on.
using EnvChanges = std::vector<std::string>;

struct ProgramRun {
    int code = -1;  // exit status, or 128 + the signal
    std::string out;
    std::string err;
    std::chrono::steady_clock::duration took{};
};

inline constexpr std::chrono::seconds kProgramRunLimit{30};

// Runs args[0] (a path) to its end with stdout and stderr collected and stdin on /dev/null;
// kills it (and fails the test) when it outlives `limit`.
ProgramRun runProgram(const Args& args, const EnvChanges& env = {},
                      std::chrono::milliseconds limit = kProgramRunLimit);

// What a user types on the terminal once the program has written `after`.
struct TerminalInput {
    std::string after;
    std::string text;
};

// Runs args[0] on a pseudo terminal and gives everything it wrote there.
std::string runOnTerminal(const Args& args, const EnvChanges& env = {},
                          const TerminalInput& input = {},
                          std::chrono::milliseconds limit = kProgramRunLimit);

// A program left running while the test goes on; its stdout and stderr go to one file.
// Stopped (SIGTERM, then SIGKILL) when still running at destruction.
class BackgroundProgram {
  public:
    BackgroundProgram(const Args& args, const std::filesystem::path& outputFile);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    bool started() const { return pid_ > 0; }
    // True once the program's output holds `text`; false when it ended or the time ran out.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    std::string output() const;
    // Sends the signal and waits (bounded) for the end; the exit status as in ProgramRun, -1 on
    // a time-out (the program is then killed).
    int stop(int signal, std::chrono::milliseconds timeout);

  private:
    std::filesystem::path outputFile_;
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace daq::test
