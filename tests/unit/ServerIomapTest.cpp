// The guarded IO map over the host's IO-map library: a refresh pass copies only the updated
// blocks, slice by slice; the refresh thread follows the run; and a DAQ stop empties the map
// while the refresh thread, request readers and the host's writer are all at work.
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

}  // namespace

TEST(IoMap, RefreshCopiesOnlyTheUpdatedBlocks) {
    std::vector<TIOList> records(10);
    kelvane::TReadMapFile readMap;
    IoMap ioMap(readMap, 3);  // small slices, so that a pass spans several
    const TCurrentValue old = valueBlock(1.0, u'o');
    for (TIOList& record : records) {
        record.Current = old;
        ioMap.add(&record);
    }
    ASSERT_NE(ioMap.open(), 0);
    for (int i = 0; i < 10; i += 2) {
        writeHeader(records[i], valueBlock(100.0 + i, u'n'));
    }
    ioMap.refresh();
    for (int i = 0; i < 10; ++i) {
        const TCurrentValue expected = i % 2 == 0 ? valueBlock(100.0 + i, u'n') : old;
        EXPECT_EQ(std::memcmp(&records[i].Current, &expected, sizeof expected), 0) << i;
    }
}

// The thread refreshes while the run is on; once it is off, each wake gives one pass.
TEST(RefreshThread, PassesWhileTheRunIsOnAndOnceAWakeAfter) {
    kelvane::TReadMapFile readMap;
    IoMap ioMap(readMap);
    std::atomic<bool> running{true};
    RefreshThread thread(ioMap, running, 1);
    thread.start();
    EXPECT_EQ(thread.passes(), 0u);  // idle until the run event
    const auto passesReach = [&](std::uint64_t count) {
        for (int i = 0; i < 10000 && thread.passes() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return thread.passes() >= count;
    };
    thread.wake();
    ASSERT_TRUE(passesReach(3));
    running.store(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the last pass of the run ends
    const std::uint64_t settled = thread.passes();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(thread.passes(), settled);
    thread.wake();
    EXPECT_TRUE(passesReach(settled + 1));
    // Left running: its destructor ends it.
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
