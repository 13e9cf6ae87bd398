// The host's simulator thread: writes each tag's new value into the open IO maps at the tag's
// scan rate, and takes units offline and back as the project says.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "host/core/Plant.h"
#include "host/core/TagDriver.h"
#include "host/readmap/MapAccess.h"

namespace host {

class Simulator {
  public:
    explicit Simulator(Plant& plant, uint32_t seed = 1);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator();

    // Writes every tag's first value and starts the thread; a map that opens from now on starts
    // with every tag's latest value.
    void start();
    // Returns when the thread has ended; no header is written afterwards.
    void stop();

    // Values written into map headers so far.
    uint64_t headersWritten() const;

  private:
    using Clock = std::chrono::steady_clock;

    struct Due {
        Clock::time_point when;
        std::size_t event;  // a tag index, or tags + an offline-unit index
        bool operator>(const Due& other) const { return when > other.when; }
    };

    struct OfflineUnit {
        int32_t* connectState;
        int32_t onlineState;
        std::chrono::milliseconds every;
        std::chrono::milliseconds downFor;
        bool offline = false;
    };

    void run();
    // The map-open source of the IO-map library.
    void currentValues(std::vector<HeaderUpdate>& updates);
    // Handles one due event and schedules its next time.
    void handle(const Due& due, Clock::time_point now, double timeStamp);
    void writeBatch();

    std::vector<TagDriver> drivers_;
    std::vector<const kelvane::TIOList*> records_;
    std::vector<OfflineUnit> offline_;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> schedule_;
    std::vector<HeaderUpdate> batch_;
    std::vector<std::size_t> batchTags_;
    Clock::time_point start_;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    // Each tag's latest value, in tag order.
    std::vector<HeaderUpdate> latest_;
    uint64_t headersWritten_ = 0;
    std::thread thread_;
};

}  // namespace host
