// The status-line notifier: formats "<code>|<text 1>|<text 2>|" and hands the line to its target.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace daq {

// Code and source name of the server's status lines.
inline constexpr int kStatusLineCode = 2;
inline constexpr const char* kStatusLineSource = "DAQServer";

class TzrTrace {
  public:
    // Receives each formatted line (UTF-8). Null: lines are formatted and sent nowhere, which is
    // how every user in this system obtains the notifier.
    using Target = void (*)(std::string_view line);

    // Longest line in UTF-16 code units, as the receiving side counts them; longer lines are cut.
    static constexpr std::size_t kLineLimit = 4096;

    // The process-wide notifier, created at the first call with that call's target; later calls
    // return the same notifier and ignore their argument.
    static TzrTrace& instance(Target target);

    explicit TzrTrace(Target target);
    TzrTrace(const TzrTrace&) = delete;
    TzrTrace& operator=(const TzrTrace&) = delete;

    // Null texts count as empty.
    void send(int code, const char* text1, const char* text2);
    // Formats the text like printf (cut to the line limit), then sends it as text 2.
    void sendFormatted(int code, const char* text1, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // The last line formatted, whether or not it was sent.
    std::string lastLine() const;

  private:
    const Target target_;
    mutable std::mutex mutex_;
    std::string lastLine_;
};

}  // namespace daq
