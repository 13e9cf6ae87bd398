// The trace channel's sender thread: threads that trace never wait for the viewer, a viewer that
// keeps up gets every message in order, and a viewer that stalls is told how many it lost.
#include <gtest/gtest.h>

#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TraceCapture.h"
#include "trace/Trace.h"
#include "trace/TraceSender.h"

namespace {

using daq::test::TraceCapture;

// Threads that set their locations at the same time and then trace: each message arrives whole,
// with its own thread's location, in the order of its thread.
TEST(TraceSender, ViewerThatKeepsUpGetsEveryMessageInTheOrderOfEachThread) {
    constexpr int kThreads = 2;
    constexpr int kPerThread = 500;
    TraceCapture viewer;
    std::barrier located(kThreads);
    std::vector<std::thread> tracers;
    for (int t = 0; t < kThreads; ++t) {
        tracers.emplace_back([t, &located] {
            const std::string operation = "op" + std::to_string(t);
            for (int i = 0; i < kPerThread; ++i) {
                daq::setTraceLocation(t + 1, operation.c_str(), "FormTray");
                located.arrive_and_wait();
                daq::trace(daq::kTraceInfo, "thread %d message %d", t, i);
            }
        });
    }
    for (std::thread& tracer : tracers) {
        tracer.join();
    }
    const auto lines = viewer.take();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<int> next(kThreads, 0);
    for (const auto& line : lines) {
        const int t = line.line - 1;  // the thread's location tells which thread traced it
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.datagram;
        EXPECT_EQ(line.datagram,
                  "thread " + std::to_string(t) + " message " + std::to_string(next[t]++) +
                      daq::test::locationSuffix(0, t + 1, "op" + std::to_string(t), "FormTray") +
                      '\0');
    }
}

TEST(TraceSender, StalledViewerLosesMessagesAndIsToldHowMany) {
    ::setenv("KELVANE_TRACE_QUEUE_BYTES", "65536", 1);
    TraceCapture viewer(TraceCapture::Reading::Later);
    // The viewer takes a few messages, then is full until it reads: callers go on regardless.
    constexpr long kMessages = 20000;
    for (long i = 0; i < kMessages; ++i) {
        daq::trace(daq::kTraceInfo, "flood %ld, a message of some length to fill the queue", i);
    }
    // The sender waits for the viewer, gives up on what it holds, and reports the loss once the
    // viewer reads again.
    daq::flushTraceQueue();
    viewer.startReading();
    daq::trace(daq::kTraceInfo, "after the flood");
    const auto lines = viewer.take();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().text, "after the flood");
    long delivered = 0;
    long dropped = 0;
    for (const auto& line : lines) {
        long count = 0;
        if (std::sscanf(line.text.c_str(), "%ld", &count) == 1 &&
            line.text == std::to_string(count) + " messages dropped") {
            dropped += count;
        } else {
            delivered += line.text.starts_with("flood ") ? 1 : 0;
        }
    }
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(delivered + dropped, kMessages);
}

}  // namespace
