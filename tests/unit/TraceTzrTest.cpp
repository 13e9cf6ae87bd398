// The status-line notifier: its line format, its limit and its process-wide instance.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "trace/TzrTrace.h"

namespace {

std::vector<std::string> delivered;

void collect(std::string_view line) {
    delivered.emplace_back(line);
}

std::string repeat(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

// Each line goes to the target in the status-line format, cut to the limit in UTF-16 units: "€"
// is one unit in three bytes; "😀" is two units (a surrogate pair) in four bytes.
TEST(TzrTraceTest, TargetReceivesEachLineInTheStatusLineFormatCutToTheLimit) {
    delivered.clear();
    daq::TzrTrace notifier(&collect);
    const std::string prefix = "2|DAQServer|";
    const std::size_t room = daq::TzrTrace::kLineLimit - prefix.size();
    notifier.send(daq::kStatusLineCode, daq::kStatusLineSource,
                  "TCP/IP Server active : 10.0.0.5:5050");
    notifier.sendFormatted(2, "DAQServer", "Client disconnected : %s:%d", "127.0.0.1", 5050);
    notifier.send(-7, nullptr, nullptr);
    notifier.send(2, "DAQServer", std::string(5000, 'x').c_str());
    notifier.send(2, "DAQServer", repeat("€", 5000).c_str());
    notifier.sendFormatted(2, "DAQServer", "%s", repeat("😀", 3000).c_str());
    EXPECT_EQ(delivered, (std::vector<std::string>{
                             "2|DAQServer|TCP/IP Server active : 10.0.0.5:5050|",
                             "2|DAQServer|Client disconnected : 127.0.0.1:5050|", "-7|||",
                             prefix + std::string(room, 'x'), prefix + repeat("€", room),
                             prefix + repeat("😀", room / 2)}));
    EXPECT_EQ(notifier.lastLine(), delivered.back());

    // The process-wide notifier keeps the target of its first call.
    daq::TzrTrace& first = daq::TzrTrace::instance(nullptr);
    EXPECT_EQ(&daq::TzrTrace::instance(&collect), &first);
    first.send(daq::kStatusLineCode, daq::kStatusLineSource, "TCP/IP Server active : 0.0.0.0:5050");
    EXPECT_EQ(delivered.size(), 6u);
}

TEST(TzrTraceTest, LinesFromSeveralThreadsStayWhole) {
    daq::TzrTrace notifier(nullptr);
    constexpr int kLines = 500;
    const std::jthread other([&] {
        for (int i = 0; i < kLines; ++i) {
            notifier.send(2, "DAQServer", "second");
        }
    });
    for (int i = 0; i < kLines; ++i) {
        notifier.send(2, "DAQServer", "first");
        const std::string line = notifier.lastLine();
        ASSERT_TRUE(line == "2|DAQServer|first|" || line == "2|DAQServer|second|") << line;
    }
}

}  // namespace
