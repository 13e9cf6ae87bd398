// The texts and trace lines with which the server window reports socket errors that reach the
// application's unhandled-exception event, by Windows Sockets code.
#pragma once

#include <string>

namespace daq {

struct SocketErrorReport {
    int line;          // trace line reported with the location
    std::string text;  // the formatted text
};

// `message` is the exception's own text; only the line for unknown codes shows it.
SocketErrorReport socketErrorReport(int code, const std::string& message);

}  // namespace daq
