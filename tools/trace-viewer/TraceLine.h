// The line that the viewer prints for one message.
#pragma once

#include <chrono>
#include <string>

#include "tools/trace-viewer/TraceMessage.h"

namespace traceviewer {

// "HH:MM:SS.mmm" in local time.
std::string formatReceiveTime(std::chrono::system_clock::time_point received);

// Time, sender, level, operation, file:line and text, separated by two blanks; a message without a
// location shows the time and the text only. Control characters are shown as \xNN, so a message
// cannot drive the terminal. `colour` marks the level with terminal colours.
std::string formatTraceLine(const TraceMessage& message, std::string_view time, bool colour);

}  // namespace traceviewer
