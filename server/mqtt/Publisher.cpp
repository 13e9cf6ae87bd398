#include "server/mqtt/Publisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/TextConvert.h"
#include "server/mqtt/TopicName.h"
#include "trace/Trace.h"

namespace daq::mqtt {

namespace {

constexpr const char* kSource = "Mqtt";
constexpr const char* kStatusLevel = "/status";

// Connection changes are the operator's to see: traced and written to standard error (the
// journal of a host run as a service).
void report(const char* operation, const std::string& text) {
    DAQ_TRACE(kTraceError, operation, kSource, "%s", text.c_str());
    std::fprintf(stderr, "DAQServer: %s\n", text.c_str());
}

std::string utf8(std::u16string_view text) {
    std::string out;
    appendUtf8(text, out);
    return out;
}

// "daqserver-<host name>-<project>", with bytes other than letters, digits, '-', '_' and '.'
// as '_', at most 64 bytes.
std::string defaultClientId(const std::string& project) {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string id = "daqserver-" + std::string(host) + "-" + project;
    for (char& c : id) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        c = plain ? c : '_';
    }
    id.resize(std::min<std::size_t>(id.size(), 64));
    return id;
}

Publisher* self(void* object) {
    return static_cast<Publisher*>(object);
}

}  // namespace

Publisher::Publisher(const PublisherSettings& settings, std::u16string_view project,
                     std::vector<TagInfo> tags)
    : settings_(settings),
      project_(utf8(project)),
      base_(settings.topicPrefix + "/" + escapeTopicLevel(project)),
      tags_(std::move(tags)),
      queue_(tags_.size(), {static_cast<std::size_t>(settings.maxQueuedValues),
                            std::chrono::milliseconds(settings.minIntervalMs), settings.deadband}),
      endpoint_(settings.broker + ":" + std::to_string(settings.port)) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    const std::string id =
        settings_.clientId.empty() ? defaultClientId(project_) : settings_.clientId;
    client_ = mosquitto_new(id.c_str(), true, this);
    if (client_ == nullptr) {
        report("Publisher", "MQTT : no client for " + endpoint_ + " (out of memory)");
        return;
    }
    mosquitto_connect_callback_set(
        client_, [](mosquitto*, void* object, int code) { self(object)->onConnect(code); });
    mosquitto_disconnect_callback_set(
        client_, [](mosquitto*, void* object, int code) { self(object)->onDisconnect(code); });
    mosquitto_publish_callback_set(
        client_, [](mosquitto*, void* object, int) { self(object)->onPublish(); });
    watchErrors(true);
    mosquitto_reconnect_delay_set(client_, kReconnectMinSeconds, kReconnectMaxSeconds, true);
    mosquitto_max_inflight_messages_set(client_, kMaxInFlight);
    const std::string status = base_ + kStatusLevel;
    int rc = mosquitto_will_set(client_, status.c_str(), 7, "offline", settings_.qos, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings_.username.empty()) {
        rc = mosquitto_username_pw_set(
            client_, settings_.username.c_str(),
            settings_.password.empty() ? nullptr : settings_.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && !settings_.tlsCaFile.empty()) {
        const auto optional = [](const std::string& path) {
            return path.empty() ? nullptr : path.c_str();
        };
        rc = mosquitto_tls_set(client_, settings_.tlsCaFile.c_str(), nullptr,
                               optional(settings_.tlsCertFile), optional(settings_.tlsKeyFile),
                               nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        report("Publisher",
               "MQTT : not publishing to " + endpoint_ + " : " + mosquitto_strerror(rc));
        return;
    }
    mosquitto_loop_start(client_);
    rc = mosquitto_connect_async(client_, settings_.broker.c_str(), settings_.port,
                                 settings_.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        reportUnreachable("Publisher",
                          rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    }
    thread_ = std::thread([this] { run(); });
}

Publisher::~Publisher() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    if (client_ != nullptr) {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
}

void Publisher::offer(int32_t index, const kelvane::TIOList& record,
                      const kelvane::TCurrentValue& value) {
    readTagValue(record, value, scratch_);
    queue_.offer(index, scratch_);
    offered_ = true;
}

void Publisher::passDone() {
    if (!std::exchange(offered_, false)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_one();
}

void Publisher::run() {
    std::unique_lock lock(mutex_);
    Clock::time_point nextDropTrace = Clock::now() + kDropTraceInterval;
    while (!stopping_) {
        if (connected_ && hello_) {
            hello_ = false;
            lock.unlock();
            sendHello();
            lock.lock();
            continue;
        }
        Clock::time_point wakeAt = Clock::now() + kDropTraceInterval;
        if (connected_ && inFlight_ < kMaxInFlight) {
            std::vector<ValueQueue::Taken> batch;
            wakeAt = std::min(wakeAt, queue_.take(Clock::now(), kMaxInFlight - inFlight_, batch));
            if (!batch.empty()) {
                inFlight_ += batch.size();
                lock.unlock();
                for (const ValueQueue::Taken& taken : batch) {
                    const TagInfo& tag = tags_[static_cast<std::size_t>(taken.tag)];
                    publish(base_ + "/tags/" + tag.level, valuePayload(&taken.value, tag, "good"),
                            settings_.retain);
                }
                lock.lock();
                continue;
            }
        }
        if (Clock::now() >= nextDropTrace) {
            lock.unlock();
            traceDrops();
            lock.lock();
            nextDropTrace = Clock::now() + kDropTraceInterval;
        }
        wake_.wait_until(lock, std::min(wakeAt, nextDropTrace),
                         [this] { return woken_ || stopping_; });
        woken_ = false;
    }
    lock.unlock();
    finish();
}

void Publisher::sendHello() {
    {
        std::lock_guard lock(mutex_);
        inFlight_ += 2;
    }
    publish(base_ + kStatusLevel, "online", true);
    publish(base_ + "/meta", metaPayload(project_, tags_), true);
}

void Publisher::finish() {
    std::unique_lock lock(mutex_);
    if (!connected_) {
        return;
    }
    std::vector<const TagValue*> last(tags_.size(), nullptr);
    const std::vector<ValueQueue::Taken> latest = queue_.latest();
    for (const ValueQueue::Taken& taken : latest) {
        last[static_cast<std::size_t>(taken.tag)] = &taken.value;
    }
    inFlight_ += tags_.size() + 1;
    lock.unlock();
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        publish(base_ + "/tags/" + tags_[i].level, valuePayload(last[i], tags_[i], "stale"),
                settings_.retain);
    }
    publish(base_ + kStatusLevel, "offline", true);
    lock.lock();
    wake_.wait_for(lock, kStopDrain, [this] { return inFlight_ == 0 || !connected_; });
    lock.unlock();
    traceDrops();
}

void Publisher::traceDrops() {
    const uint64_t dropped = queue_.takeDropped();
    if (dropped != 0) {
        DAQ_TRACE(kTraceError, "traceDrops", kSource,
                  "MQTT : %llu values dropped, MaxQueuedValues=%d tags were waiting",
                  static_cast<unsigned long long>(dropped), settings_.maxQueuedValues);
    }
    std::unique_lock lock(mutex_);
    const uint64_t failed = std::exchange(failed_, 0);
    const std::string failure = lastFailure_;
    lock.unlock();
    if (failed != 0) {
        DAQ_TRACE(kTraceError, "traceDrops", kSource, "MQTT : %llu messages not published : %s",
                  static_cast<unsigned long long>(failed), failure.c_str());
    }
}

bool Publisher::publish(const std::string& topic, const std::string& payload, bool retain) {
    const int rc =
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), settings_.qos, retain);
    if (rc == MOSQ_ERR_SUCCESS) {
        return true;
    }
    std::lock_guard lock(mutex_);
    inFlight_ -= std::min<std::size_t>(inFlight_, 1);
    ++failed_;
    lastFailure_ = topic + ": " + mosquitto_strerror(rc);
    return false;
}

void Publisher::onConnect(int code) {
    if (code != 0) {
        {
            // The broker was reached: the refusal, said at each try, is the outage's report.
            std::lock_guard lock(mutex_);
            unreachableReported_ = true;
        }
        report("onConnect", "MQTT : " + endpoint_ +
                                " refused the connection : " + mosquitto_connack_string(code));
        return;
    }
    watchErrors(false);
    {
        std::lock_guard lock(mutex_);
        connected_ = true;
        unreachableReported_ = false;
        hello_ = true;
        // Whatever libmosquitto held of the lost connection no longer counts against the window.
        inFlight_ = 0;
        woken_ = true;
    }
    wake_.notify_one();
    DAQ_TRACE(kTraceInfo, "onConnect", kSource, "MQTT : connected to %s", endpoint_.c_str());
}

void Publisher::onDisconnect(int code) {
    watchErrors(true);
    bool wasConnected = false;
    {
        std::lock_guard lock(mutex_);
        wasConnected = std::exchange(connected_, false);
    }
    wake_.notify_one();
    if (wasConnected && code != 0) {
        report("onDisconnect", "MQTT : connection to " + endpoint_ + " lost (" +
                                   mosquitto_strerror(code) + "), connecting again");
    } else if (!wasConnected) {
        reportUnreachable("onDisconnect", mosquitto_strerror(code));
    }
}

void Publisher::watchErrors(bool on) {
    const auto onLog = [](mosquitto*, void* object, int level, const char* text) {
        if (level == MOSQ_LOG_ERR) {
            self(object)->reportUnreachable("onLog", text);
        }
    };
    // libmosquitto formats a line for every packet while a log callback is set: only while
    // there is no connection.
    mosquitto_log_callback_set(client_, on ? +onLog : nullptr);
}

void Publisher::reportUnreachable(const char* operation, const std::string& reason) {
    {
        std::lock_guard lock(mutex_);
        if (connected_ || std::exchange(unreachableReported_, true)) {
            return;
        }
    }
    // Once per outage, not at every try.
    report(operation, "MQTT : cannot reach " + endpoint_ + " (" + reason + "), trying again");
}

void Publisher::onPublish() {
    bool notify = false;
    {
        std::lock_guard lock(mutex_);
        notify = inFlight_ == kMaxInFlight || inFlight_ == 1;
        inFlight_ -= std::min<std::size_t>(inFlight_, 1);
        woken_ = woken_ || notify;
    }
    if (notify) {
        wake_.notify_one();
    }
}

}  // namespace daq::mqtt
