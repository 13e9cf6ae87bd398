// The refresh pass of a DAQ run: cost per entry against a plain copy of the value blocks, and
// the refresh thread's share of a core while a run is on.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

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

namespace daq::bench {

namespace {

// A map of `entries` records, open, with a value written into every header.
struct OpenMap {
    explicit OpenMap(int entries) : records(entries) {
        for (kelvane::TIOList& record : records) {
            ioMap.add(&record);
        }
        ioMap.open();
        std::vector<host::HeaderUpdate> updates;
        for (const kelvane::TIOList& record : records) {
            kelvane::TCurrentValue value{};
            value.Value = 1.5;
            value.Updated = 1;
            updates.push_back({&record, value});
        }
        host::writeHeaders(updates.data(), updates.size());
    }

    std::vector<kelvane::TIOList> records;
    kelvane::TReadMapFile readMap;
    daq::IoMap ioMap{readMap};
};

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RefreshPass(benchmark::State& state) {
    OpenMap map(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        map.ioMap.refresh();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
// Up to the largest plant the host simulates (bench/scale takes each size).
BENCHMARK(RefreshPass)->RangeMultiplier(10)->Range(1000, 1000000);

// The floor: the same value blocks copied with memcpy, nothing else.
void PlainBlockCopy(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    std::vector<kelvane::TCurrentValue> from(entries);
    std::vector<kelvane::TIOList> to(entries);
    for (auto _ : state) {
        for (std::size_t i = 0; i < entries; ++i) {
            std::memcpy(&to[i].Current, &from[i], sizeof(kelvane::TCurrentValue));
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(PlainBlockCopy)->RangeMultiplier(10)->Range(1000, 1000000);

// The refresh thread during a run at a refresh interval of range(1) ms (1: a pass every
// millisecond, the pacing of old): process CPU seconds per wall second while this thread
// sleeps, reported as "core_share".
void RefreshThreadCpuShare(benchmark::State& state) {
    OpenMap map(static_cast<int>(state.range(0)));
    std::atomic<bool> running{true};
    daq::RefreshThread thread(map.ioMap, running, static_cast<int32_t>(state.range(1)));
    thread.start();
    thread.wake();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // past the first interval
    double share = 0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        const uint64_t passesBefore = thread.passes();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        share = (processCpuSeconds() - cpuBefore) / wall;
        state.counters["passes_per_s"] = static_cast<double>(thread.passes() - passesBefore) / wall;
    }
    state.counters["core_share"] = share;
    running.store(false);
}
BENCHMARK(RefreshThreadCpuShare)
    ->ArgsProduct({{10000, 100000}, {1, 100}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

}  // namespace daq::bench
