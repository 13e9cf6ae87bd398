// The trace channel's sender thread: threads that trace never wait for the viewer, a viewer that
// keeps up gets every message in order, and a viewer that stalls is told how many it lost.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/TraceReceiver.h"
#include "trace/Trace.h"
#include "trace/TraceSender.h"
#include "trace/TraceTransport.h"

namespace {

using namespace std::chrono_literals;

constexpr int kThreads = 2;
constexpr int kPerThread = 2000;

// The count of a "<n> messages dropped" line, or -1 for any other message.
long droppedCount(const std::string& message) {
    const std::string suffix = " messages dropped";
    const std::string text = message.substr(0, message.find('\0'));
    if (text.size() <= suffix.size() || !text.ends_with(suffix)) {
        return -1;
    }
    return std::stol(text.substr(0, text.size() - suffix.size()));
}

TEST(TraceSender, ViewerThatKeepsUpGetsEveryMessageInTheOrderOfEachThread) {
    TraceSocketDirectory directory;
    TraceReceiver viewer(directory.socketPath());
    std::vector<std::string> received;
    std::thread reader([&] {
        while (received.size() < kThreads * kPerThread) {
            auto message = viewer.next(5s);
            if (!message) {
                return;
            }
            received.push_back(std::move(*message));
        }
    });
    std::vector<std::thread> tracers;
    for (int t = 0; t < kThreads; ++t) {
        tracers.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) {
                daq::trace(daq::kTraceInfo, "thread %d message %d", t, i);
            }
        });
    }
    for (std::thread& tracer : tracers) {
        tracer.join();
    }
    daq::flushTraceQueue();
    reader.join();

    ASSERT_EQ(received.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<int> next(kThreads, 0);
    for (const std::string& message : received) {
        int thread = -1;
        int index = -1;
        ASSERT_EQ(std::sscanf(message.c_str(), "thread %d message %d", &thread, &index), 2)
            << message;
        EXPECT_EQ(index, next[thread]++) << "thread " << thread;
    }
}

TEST(TraceSender, StalledViewerLosesMessagesAndIsToldHowMany) {
    TraceSocketDirectory directory;
    ::setenv("KELVANE_TRACE_QUEUE_BYTES", "65536", 1);
    daq::traceReloadSocketPath();
    TraceReceiver viewer(directory.socketPath());
    viewer.setReceiveBuffer(1);  // takes a few messages, then is full until read

    constexpr long kMessages = 20000;
    for (long i = 0; i < kMessages; ++i) {
        daq::trace(daq::kTraceInfo, "flood %ld, a message of some length to fill the queue", i);
    }
    // The callers are done; the sender waits for the viewer, gives up on what it holds, and
    // reports the loss once the viewer reads again.
    daq::flushTraceQueue();
    daq::trace(daq::kTraceInfo, "after the flood");
    long delivered = 0;
    long dropped = 0;
    bool after = false;
    while (auto message = viewer.next(500ms)) {
        const long count = droppedCount(*message);
        if (count >= 0) {
            dropped += count;
        } else if (message->starts_with("after the flood")) {
            after = true;
        } else {
            ++delivered;
        }
    }
    ::unsetenv("KELVANE_TRACE_QUEUE_BYTES");
    daq::traceReloadSocketPath();

    EXPECT_TRUE(after);
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(delivered + dropped, kMessages);
}

}  // namespace
