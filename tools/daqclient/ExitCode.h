// The exit codes of daqclient, and the error that carries one out of a command.
#pragma once

#include <stdexcept>
#include <string>

namespace daqclient {

enum class ExitCode : int {
    Ok = 0,
    // The server answered, but not with what was asked for: an unknown tag name, a device that
    // matches nothing, an index outside the IO map, a unit that is not connected, a broken
    // answer.
    Failure = 1,
    Usage = 2,             // the command line is wrong
    ConnectionFailed = 3,  // refused, not resolved, or lost on the way
    NoAnswer = 4,          // no answer within the time-out
    LoginRefused = 5,
    WriteNotPermitted = 6,  // "PARAMETERWRITE" answered "FAILED", "-2"
    WriteFailed = 7,        // "PARAMETERWRITE" answered "FAILED", "-1"
    // --tls: the server's certificate failed verification, or --cafile, --cert or --key could
    // not be used
    Certificate = 8,
};

// Ends a command; main prints the message as one line and exits with the code.
class CommandError : public std::runtime_error {
  public:
    CommandError(ExitCode code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

  private:
    ExitCode code_;
};

}  // namespace daqclient
