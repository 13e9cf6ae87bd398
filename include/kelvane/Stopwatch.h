// High-resolution stopwatch with the host's field layout.
#pragma once

#include <chrono>
#include <cstdint>

namespace kelvane {

struct Stopwatch {
    int64_t StartCount = 0;
    int64_t CurrentCount = 0;
    int64_t Frequency = 0;  // counts per second
    double ElapsedMs = 0.0;

    void Start() {
        Frequency = Clock::period::den / Clock::period::num;
        StartCount = Now();
        CurrentCount = StartCount;
        ElapsedMs = 0.0;
    }

    // (now - start) / frequency * 1000; 0 while the stopwatch was never started.
    double Elapsed() {
        CurrentCount = Now();
        ElapsedMs = Frequency == 0 ? 0.0
                                   : static_cast<double>(CurrentCount - StartCount) /
                                         static_cast<double>(Frequency) * 1000.0;
        return ElapsedMs;
    }

  private:
    using Clock = std::chrono::steady_clock;
    static int64_t Now() { return Clock::now().time_since_epoch().count(); }
};

static_assert(sizeof(Stopwatch) == 32);

}  // namespace kelvane
