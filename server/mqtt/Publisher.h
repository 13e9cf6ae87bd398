// The publisher of a DAQ run: live values to an MQTT broker (docs/mqtt.md).
//
// The refresh pass hands each changed value to offer() (a copy of its value block into the
// pass's list of the ValueHandover, without a lock) and calls passDone() at the end of the pass,
// which hands the list over; it never waits for the broker. The publisher's thread does the rest:
// it sorts the values into the ValueQueue (deadband, coalescing per tag), renders their texts,
// and does the network too: it waits on libmosquitto's socket and
// on an eventfd that passDone() and the destructor signal, hands the due values to libmosquitto
// (which, called on the thread that runs its loop, sends each at once), reads the acknowledgements,
// keeps the connection alive and connects again after a pause of kReconnectMinSeconds times 1, 4,
// 9, ..., at most kReconnectMaxSeconds. While the broker is away nothing is handed over, so the
// values coalesce per tag in the queue; at most kMaxInFlight messages are inside libmosquitto at a
// time, so a slow broker holds no more.
//
// The destructor (DAQ stop) publishes every tag's last value with "quality":"stale" and the
// status "offline", waits for them at most kStopDrain, and disconnects.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "kelvane/IORecords.h"
#include "server/mqtt/Payload.h"
#include "server/mqtt/PublisherSettings.h"
#include "server/mqtt/ValueHandover.h"
#include "server/mqtt/ValueQueue.h"

struct mosquitto;

namespace daq::mqtt {

class Publisher {
  public:
    static constexpr std::size_t kMaxInFlight = 1000;
    static constexpr std::chrono::milliseconds kStopDrain{1000};
    static constexpr std::chrono::seconds kDropTraceInterval{10};
    // How often libmosquitto's keep-alive is looked at while nothing else happens.
    static constexpr std::chrono::seconds kLoopInterval{1};
    static constexpr unsigned kReconnectMinSeconds = 1;
    static constexpr unsigned kReconnectMaxSeconds = 30;

    // `project`: the project's name (UTF-16 from the host), the second level of every topic.
    Publisher(const PublisherSettings& settings, std::u16string_view project,
              std::vector<TagInfo> tags);
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;
    ~Publisher();

    // Refresh thread, inside the IO map's lock: the tag at `index` has a new value. `record`
    // outlives the publisher, and only its value block changes meanwhile.
    void offer(int32_t index, const kelvane::TIOList& record, const kelvane::TCurrentValue& value);
    // Refresh thread: the pass is over; wakes the publisher when values were offered.
    void passDone();

    // "<prefix>/<project>": the topic every other one starts with.
    const std::string& baseTopic() const { return base_; }

  private:
    void run();
    // Takes the values the refresh pass handed over into the queue (deadband, coalescing).
    void queueOffered();
    // A try to connect when there is no connection and the pause after the last one is over.
    void keepConnecting(Clock::time_point now);
    // Hands the due values to libmosquitto; returns when the next waiting value falls due.
    Clock::time_point publishDue(Clock::time_point now);
    // Waits for the socket, a wake-up or `until` (at most kLoopInterval), then lets libmosquitto
    // read, write and keep the connection alive.
    void serve(Clock::time_point until);
    // libmosquitto's socket while it is alive, else -1.
    int socket() const;
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
    ValueHandover handover_;
    // The publisher's thread's: the values handed over, sorted into the queue by queueOffered().
    ValueQueue queue_;
    std::vector<OfferedValue> offered_;
    TagValue scratch_;
    std::string endpoint_;  // "<broker>:<port>", for traces
    mosquitto* client_ = nullptr;
    int wakeFd_ = -1;  // eventfd: values were offered, or the publisher is to stop
    std::atomic<bool> stopping_ = false;

    // The publisher's thread's (libmosquitto calls back on it).
    bool connected_ = false;
    bool trying_ = true;  // a try to connect was made since the last pause began
    // The socket of the last try is dead though libmosquitto still holds it (see serve()); the
    // next try replaces it.
    bool tryFailed_ = false;
    unsigned tries_ = 0;  // tries since the last connection
    Clock::time_point nextTry_;
    // A failed try was reported since the last connection (one line per outage).
    bool unreachableReported_ = false;
    bool hello_ = false;  // status and tag list are still to be sent
    std::size_t inFlight_ = 0;
    uint64_t failed_ = 0;
    std::string lastFailure_;
    std::vector<ValueQueue::Taken> batch_;
    std::thread thread_;
};

}  // namespace daq::mqtt
