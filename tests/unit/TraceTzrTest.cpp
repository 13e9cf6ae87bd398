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

TEST(TzrTraceTest, TargetReceivesEachLineInTheStatusLineFormat) {
    delivered.clear();
    daq::TzrTrace notifier(&collect);
    notifier.send(daq::kStatusLineCode, daq::kStatusLineSource,
                  "TCP/IP Server active : 10.0.0.5:5050");
    notifier.sendFormatted(2, "DAQServer", "Client disconnected : %s:%d", "127.0.0.1", 5050);
    notifier.send(-7, nullptr, nullptr);
    EXPECT_EQ(delivered, (std::vector<std::string>{
                             "2|DAQServer|TCP/IP Server active : 10.0.0.5:5050|",
                             "2|DAQServer|Client disconnected : 127.0.0.1:5050|", "-7|||"}));
    EXPECT_EQ(notifier.lastLine(), "-7|||");
}

TEST(TzrTraceTest, LinesAreCutToTheLimitInUtf16Units) {
    daq::TzrTrace notifier(nullptr);
    const std::string prefix = "2|DAQServer|";

    notifier.send(2, "DAQServer", std::string(5000, 'x').c_str());
    EXPECT_EQ(notifier.lastLine(),
              prefix + std::string(daq::TzrTrace::kLineLimit - prefix.size(), 'x'));

    // "€" is one unit in three bytes; "😀" is two units (a surrogate pair) in four bytes.
    notifier.send(2, "DAQServer", repeat("€", 5000).c_str());
    EXPECT_EQ(notifier.lastLine(), prefix + repeat("€", daq::TzrTrace::kLineLimit - prefix.size()));

    notifier.send(2, "DAQServer", repeat("😀", 3000).c_str());
    EXPECT_EQ(notifier.lastLine(),
              prefix + repeat("😀", (daq::TzrTrace::kLineLimit - prefix.size()) / 2));
}

TEST(TzrTraceTest, InstanceKeepsItsFirstTarget) {
    delivered.clear();
    daq::TzrTrace& first = daq::TzrTrace::instance(nullptr);
    daq::TzrTrace& later = daq::TzrTrace::instance(&collect);

    later.send(daq::kStatusLineCode, daq::kStatusLineSource, "TCP/IP Server active : 0.0.0.0:5050");

    EXPECT_EQ(&first, &later);
    EXPECT_EQ(first.lastLine(), "2|DAQServer|TCP/IP Server active : 0.0.0.0:5050|");
    EXPECT_TRUE(delivered.empty());
}

TEST(TzrTraceTest, LinesFromSeveralThreadsStayWhole) {
    daq::TzrTrace notifier(nullptr);
    constexpr int kLines = 500;
    auto sender = [&](const char* text) {
        for (int i = 0; i < kLines; ++i) {
            notifier.sendFormatted(2, "DAQServer", "%s", text);
        }
    };
    std::thread first(sender, "first");
    std::thread second(sender, "second");
    for (int i = 0; i < kLines; ++i) {
        const std::string line = notifier.lastLine();
        ASSERT_TRUE(line.empty() || line == "2|DAQServer|first|" || line == "2|DAQServer|second|")
            << line;
    }
    first.join();
    second.join();
    EXPECT_NE(notifier.lastLine(), "");
}

}  // namespace
