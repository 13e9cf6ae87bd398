// The publisher of a DAQ run: live values to an MQTT broker (docs/mqtt.md).
//
// The refresh pass hands each changed value to offer() (a copy into the tag's slot of the
// ValueQueue, under a short lock of its own) and calls passDone() at the end of the pass; it
// never waits for the broker. The publisher's thread takes the values that are due and hands
// them to libmosquitto, whose own thread does the network, the keep-alive and the reconnects
// (pauses of kReconnectMinSeconds times 1, 4, 9, ..., at most kReconnectMaxSeconds). While the
// broker is away nothing is handed over, so the values coalesce per tag in the queue; at most
// kMaxInFlight messages are inside libmosquitto at a time, so a slow broker holds no more.
//
// The destructor (DAQ stop) publishes every tag's last value with "quality":"stale" and the
// status "offline", waits for them at most kStopDrain, and disconnects.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kelvane/IORecords.h"
#include "server/mqtt/Payload.h"
#include "server/mqtt/PublisherSettings.h"
#include "server/mqtt/ValueQueue.h"

struct mosquitto;

namespace daq::mqtt {

class Publisher {
  public:
    static constexpr std::size_t kMaxInFlight = 1000;
    static constexpr std::chrono::milliseconds kStopDrain{1000};
    static constexpr std::chrono::seconds kDropTraceInterval{10};
    static constexpr unsigned kReconnectMinSeconds = 1;
    static constexpr unsigned kReconnectMaxSeconds = 30;

    // `project`: the project's name (UTF-16 from the host), the second level of every topic.
    Publisher(const PublisherSettings& settings, std::u16string_view project,
              std::vector<TagInfo> tags);
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;
    ~Publisher();

    // Refresh thread, inside the IO map's lock: the tag at `index` has a new value.
    void offer(int32_t index, const kelvane::TIOList& record, const kelvane::TCurrentValue& value);
    // Refresh thread: the pass is over; wakes the publisher when values were offered.
    void passDone();

    // "<prefix>/<project>": the topic every other one starts with.
    const std::string& baseTopic() const { return base_; }

  private:
    void run();
    // Hands the due values to libmosquitto; false when there were none.
    bool publishDue(std::unique_lock<std::mutex>& lock);
    void sendHello();
    void finish();
    void traceDrops();
    bool publish(const std::string& topic, const std::string& payload, bool retain);
    void onConnect(int code);
    void onDisconnect(int code);
    // Errors libmosquitto only logs (a TLS handshake that fails, say) go to reportUnreachable().
    void watchErrors(bool on);
    // A failed try to connect: reported once per outage.
    void reportUnreachable(const char* operation, const std::string& reason);
    void onPublish();

    const PublisherSettings settings_;
    const std::string project_;
    const std::string base_;
    const std::vector<TagInfo> tags_;
    ValueQueue queue_;
    TagValue scratch_;      // the refresh thread's
    bool offered_ = false;  // the refresh thread's
    std::string endpoint_;  // "<broker>:<port>", for traces
    mosquitto* client_ = nullptr;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;      // under mutex_
    bool stopping_ = false;   // under mutex_
    bool connected_ = false;  // under mutex_
    // Under mutex_: a failed try was reported since the last connection (one line per outage).
    bool unreachableReported_ = false;
    bool hello_ = false;        // under mutex_: status and tag list are still to be sent
    std::size_t inFlight_ = 0;  // under mutex_
    uint64_t failed_ = 0;       // under mutex_
    std::string lastFailure_;   // under mutex_
    std::thread thread_;
};

}  // namespace daq::mqtt
