// The guarded IO map and the refresh thread over the host's IO-map library: what a refresh pass
// copies, how the thread runs and ends, and a DAQ stop that empties the map while the refresh
// thread, request readers and the host's writer are all at work.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "host/readmap/MapAccess.h"
#include "kelvane/IORecords.h"
#include "kelvane/ReadMapFile.h"
#include "server/runtime/IoMap.h"
#include "server/runtime/RefreshThread.h"

using namespace daq;
using kelvane::TCurrentValue;
using kelvane::TIOList;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);

TCurrentValue valueBlock(double value, char16_t mark) {
    TCurrentValue block{};
    block.TimeStamp = value;
    block.Value = value;
    block.Decimals = 2;
    std::fill(std::begin(block.ValueText), std::end(block.ValueText) - 1, mark);
    block.Updated = 1;
    return block;
}

void writeHeader(const TIOList& record, const TCurrentValue& block) {
    const host::HeaderUpdate update{&record, block};
    host::writeHeaders(&update, 1);
}

template <typename Condition>
bool waitUntil(Condition condition) {
    const auto deadline = Clock::now() + kDeadline;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct MapFixture : ::testing::Test {
    void build(int entries) {
        records.assign(entries, TIOList{});
        for (TIOList& record : records) {
            ioMap.add(&record);
        }
        ASSERT_NE(ioMap.open(), 0);
    }

    kelvane::TReadMapFile readMap;
    IoMap ioMap{readMap, 3};  // small slices, so that a pass spans several
    std::vector<TIOList> records;
};

}  // namespace

TEST_F(MapFixture, RefreshCopiesUpdatedBlocksAndKeepsTheOthers) {
    build(10);
    const TCurrentValue old = valueBlock(1.0, u'o');
    for (TIOList& record : records) {
        record.Current = old;
    }
    for (int i = 0; i < 10; i += 2) {
        writeHeader(records[i], valueBlock(100.0 + i, u'n'));
    }
    ioMap.refresh();
    for (int i = 0; i < 10; ++i) {
        const TCurrentValue expected = i % 2 == 0 ? valueBlock(100.0 + i, u'n') : old;
        EXPECT_EQ(std::memcmp(&records[i].Current, &expected, sizeof expected), 0) << i;
    }
    EXPECT_EQ(ioMap.count(), 10);
}

TEST_F(MapFixture, ClosedMapHasNoHeadersAndCopiesNothing) {
    records.assign(4, TIOList{});
    for (TIOList& record : records) {
        ioMap.add(&record);
    }
    writeHeader(records[0], valueBlock(5.0, u'x'));  // no open map holds it: nothing written
    ioMap.refresh();
    EXPECT_EQ(records[0].Current.Updated, 0);
    EXPECT_EQ(ioMap.count(), 4);
    ioMap.clear();
    EXPECT_EQ(ioMap.count(), 0);
}

TEST_F(MapFixture, ReadSeesTheMapUnderItsLock) {
    build(3);
    int counted = 0;
    const TIOList* second = nullptr;
    ioMap.read([&](const daq::protocol::IoSnapshot& map) {
        counted = map.count();
        second = map.record(1);
    });
    EXPECT_EQ(counted, 3);
    EXPECT_EQ(second, &records[1]);
}

TEST_F(MapFixture, RefreshThreadRunsWhileTheRunIsOnAndIdlesAfter) {
    build(2);
    constexpr auto kInterval = std::chrono::milliseconds(20);
    std::atomic<bool> running{true};
    RefreshThread thread(ioMap, running, static_cast<int32_t>(kInterval.count()));
    thread.start();
    EXPECT_EQ(thread.passes(), 0u);  // idle until the run event

    writeHeader(records[1], valueBlock(7.0, u'r'));
    const auto started = Clock::now();
    thread.wake();
    ASSERT_TRUE(waitUntil([&] { return thread.passes() >= 3; }));
    const double refreshed = records[1].Current.Value;  // a packed field: read by value
    EXPECT_EQ(refreshed, 7.0);
    // Passes begin an interval apart however long the run lasts (not every millisecond once
    // the first interval has gone by): about ten in ten intervals, a slow machine only fewer.
    std::this_thread::sleep_until(started + 10 * kInterval);
    const std::uint64_t paced = thread.passes();
    EXPECT_LE(paced, 2 + 2 * static_cast<std::uint64_t>((Clock::now() - started) / kInterval));

    running.store(false);
    std::uint64_t settled = 0;
    // Once the run is off, the loop goes back to sleep on the run event.
    ASSERT_TRUE(waitUntil([&] {
        const std::uint64_t before = thread.passes();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        settled = thread.passes();
        return settled == before;
    }));
    writeHeader(records[0], valueBlock(8.0, u's'));
    thread.wake();  // one pass, then asleep again
    ASSERT_TRUE(waitUntil([&] { return thread.passes() == settled + 1; }));
    const double woken = records[0].Current.Value;
    EXPECT_EQ(woken, 8.0);
}

TEST_F(MapFixture, EndRequestNeverWaitsAndTheWakeEndsTheThread) {
    build(1);
    std::atomic<bool> running{false};
    RefreshThread thread(ioMap, running, 100);
    thread.start();
    // Blocked on the run event: asking it to end returns at once; the wake lets it leave.
    thread.requestEnd();
    thread.wake();
    const auto start = Clock::now();
    thread.join();
    EXPECT_EQ(thread.passes(), 0u);
    EXPECT_LT(Clock::now() - start, kDeadline);
}

// A DAQ stop empties the map (and a new run rebuilds it) while the refresh thread copies, two
// request readers copy value blocks and the host writes new values. Each block a reader copies
// must be whole: the host writes blocks whose fields all carry one number.
TEST(IoMapConcurrency, StopEmptiesTheMapWhileRefreshReadersAndHostRun) {
    constexpr int kEntries = 64;
    constexpr int kRuns = 60;
    std::vector<TIOList> records(kEntries);
    kelvane::TReadMapFile readMap;
    IoMap ioMap(readMap, 16);
    std::atomic<bool> running{false};
    RefreshThread refresh(ioMap, running, 1);  // the shortest interval: passes overlap the stops
    refresh.start();

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<std::uint64_t> copies{0};
    auto reader = [&] {
        while (!done.load()) {
            ioMap.read([&](const daq::protocol::IoSnapshot& map) {
                for (int i = 0; i < map.count(); ++i) {
                    const TCurrentValue block = map.record(i)->Current;
                    if (block.Updated != 0 &&
                        (block.Value != block.TimeStamp ||
                         block.Decimals != static_cast<int32_t>(block.Value))) {
                        torn.fetch_add(1);
                    }
                    copies.fetch_add(1, std::memory_order_relaxed);
                }
            });
        }
    };
    auto host = [&] {
        std::array<host::HeaderUpdate, kEntries> updates{};
        for (int round = 1; !done.load(); ++round) {
            for (int i = 0; i < kEntries; ++i) {
                TCurrentValue block{};
                block.TimeStamp = block.Value = round;
                block.Decimals = round;
                block.Updated = 1;
                updates[i] = {&records[i], block};
            }
            host::writeHeaders(updates.data(), updates.size());
            std::this_thread::yield();
        }
    };
    std::thread readers[] = {std::thread(reader), std::thread(reader)};
    std::thread writer(host);

    for (int run = 0; run < kRuns; ++run) {
        // Start: rebuild, open, wake the refresh thread.
        ioMap.clear();
        for (TIOList& record : records) {
            ioMap.add(&record);
        }
        ASSERT_NE(ioMap.open(), 0);
        running.store(true);
        refresh.wake();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Stop: the map is emptied under everyone's feet.
        running.store(false);
        ioMap.clear();
        EXPECT_EQ(ioMap.count(), 0);
    }
    done.store(true);
    for (std::thread& thread : readers) {
        thread.join();
    }
    writer.join();
    refresh.requestEnd();
    refresh.wake();
    refresh.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(copies.load(), 0u);
    EXPECT_GT(refresh.passes(), 0u);
}
