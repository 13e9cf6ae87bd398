// Runs the stand-in host with the real plug-in as a child process, for tests that talk to the
// server over loopback. The host gets its own config directory (config.ini with 127.0.0.1 and a
// free port), its own trace socket path and, optionally, a project file.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ProgramRun.h"
#include "tests/support/TempDir.h"

namespace daq::test {

// Initialised members: options are given by name, the others left out.
struct HostOptions {
    std::string projectXml{};  // empty: the host's built-in demo project
    // More lines of the "config" section of config.ini ("MaxConnections=4").
    std::vector<std::string> configLines{};
    EnvChanges env{};  // for the host, beside its trace socket path and the offscreen platform
};

class HostProcess {
  public:
    // Stopped at destruction if it still runs (see Program).
    explicit HostProcess(HostOptions options = {});

    // Starts the host on a free port that it binds itself and waits (bounded) until its start
    // line names it; false when it ended first.
    bool start();
    // SIGTERM, then waits (bounded) for the exit; returns the exit status, -1 on a time-out.
    // The status of a host that ended by itself is returned as it is.
    int stop(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    // Sends the signal to the running host.
    void signal(int number) const {
        if (program_) {
            program_->signal(number);
        }
    }
    // Stops the host and starts it again on the same port, as an operator restarts a server.
    bool restart();

    uint16_t port() const { return port_; }
    // The running host's process id, -1 before start().
    pid_t pid() const { return program_ ? program_->pid() : -1; }
    const std::filesystem::path& dir() const { return dir_.path(); }
    // Where the host's trace channel sends its messages (bind a TraceCapture there before
    // start() to read them).
    std::filesystem::path traceSocketPath() const { return dir_.path() / "trace.sock"; }
    // What the host wrote to stderr so far: its start line, the server's events, its errors.
    std::string log() const;
    // True once the log holds `text` (bounded; the host lists an event on a queue timer).
    bool waitForLog(const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

    // A TCP port on 127.0.0.1 that was free a moment ago.
    static uint16_t freePort();

  private:
    // Writes the config directory, starts the host on port_ (0: a free port) and waits
    // (bounded) until its start line names the port it serves on (port_ then).
    bool spawn();

    HostOptions options_;
    TempDir dir_;
    uint16_t port_ = 0;
    std::unique_ptr<Program> program_;
};

}  // namespace daq::test
