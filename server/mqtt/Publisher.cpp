#include "server/mqtt/Publisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
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

// The reason a call of libmosquitto failed.
std::string failure(int rc) {
    return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
}

}  // namespace

Publisher::Publisher(const PublisherSettings& settings, std::u16string_view project,
                     std::vector<TagInfo> tags)
    : settings_(settings),
      project_(utf8(project)),
      base_(settings.topicPrefix + "/" + escapeTopicLevel(project)),
      tags_(std::move(tags)),
      handover_(static_cast<std::size_t>(settings.maxQueuedValues)),
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
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (rc == MOSQ_ERR_SUCCESS && wakeFd_ < 0) {
        rc = MOSQ_ERR_ERRNO;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        report("Publisher", "MQTT : not publishing to " + endpoint_ + " : " + failure(rc));
        return;
    }
    rc = mosquitto_connect_async(client_, settings_.broker.c_str(), settings_.port,
                                 settings_.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        reportUnreachable("Publisher", failure(rc));
    }
    thread_ = std::thread([this] { run(); });
}

Publisher::~Publisher() {
    if (thread_.joinable()) {
        stopping_ = true;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (client_ != nullptr) {
        mosquitto_destroy(client_);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void Publisher::offer(int32_t index, const kelvane::TIOList& record,
                      const kelvane::TCurrentValue& value) {
    handover_.offer(index, record, value);
}

void Publisher::passDone() {
    if (handover_.passDone()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
}

void Publisher::queueOffered() {
    handover_.take(offered_);
    for (const OfferedValue& offered : offered_) {
        readTagValue(*offered.record, offered.value, scratch_);
        queue_.offer(offered.tag, scratch_);
    }
}

void Publisher::run() {
    Clock::time_point nextDropTrace = Clock::now() + kDropTraceInterval;
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        queueOffered();
        keepConnecting(now);
        if (connected_ && std::exchange(hello_, false)) {
            sendHello();
        }
        Clock::time_point wakeAt = std::min(publishDue(now), nextDropTrace);
        if (now >= nextDropTrace) {
            traceDrops();
            nextDropTrace = now + kDropTraceInterval;
        }
        if (socket() < 0) {
            wakeAt = std::min(wakeAt, nextTry_);
        }
        serve(wakeAt);
    }
    finish();
}

void Publisher::keepConnecting(Clock::time_point now) {
    if (socket() >= 0) {
        return;
    }
    if (std::exchange(trying_, false)) {
        // The same pauses as libmosquitto's own loop: the square of the try, up to the most.
        const unsigned n = std::min(tries_++, kReconnectMaxSeconds) + 1;
        nextTry_ = now + std::chrono::seconds(
                             std::min(kReconnectMinSeconds * n * n, kReconnectMaxSeconds));
    }
    if (now < nextTry_) {
        return;
    }
    trying_ = true;
    tryFailed_ = false;
    const int rc = mosquitto_reconnect_async(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        reportUnreachable("keepConnecting", failure(rc));
    }
}

Clock::time_point Publisher::publishDue(Clock::time_point now) {
    if (!connected_ || inFlight_ >= kMaxInFlight) {
        return Clock::time_point::max();
    }
    batch_.clear();
    const Clock::time_point next = queue_.take(now, kMaxInFlight - inFlight_, batch_);
    inFlight_ += batch_.size();
    for (ValueQueue::Taken& taken : batch_) {
        renderText(taken.value);
        const TagInfo& tag = tags_[static_cast<std::size_t>(taken.tag)];
        publish(base_ + "/tags/" + tag.level, valuePayload(&taken.value, tag, "good"),
                settings_.retain);
    }
    // After a batch the window may have more room once the acknowledgements are read: at once.
    return batch_.empty() ? next : now;
}

void Publisher::serve(Clock::time_point until) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        std::clamp<Clock::duration>(until - Clock::now(), Clock::duration::zero(), kLoopInterval));
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {socket(), POLLIN, 0}};
    if (fds[1].fd >= 0 && mosquitto_want_write(client_)) {
        fds[1].events |= POLLOUT;
    }
    if (::poll(fds, fds[1].fd >= 0 ? 2 : 1, static_cast<int>(wait.count())) <= 0) {
        fds[0].revents = fds[1].revents = 0;
    }
    if (fds[0].revents != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
    }
    // Each call closes the socket and calls onDisconnect when the connection broke.
    if ((fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        mosquitto_loop_read(client_, 1);
        // A TLS connect that the broker refuses or drops is not noticed by libmosquitto, which
        // keeps the dead socket as one still connecting: the try has failed all the same.
        if (!connected_ && (fds[1].revents & (POLLERR | POLLHUP)) != 0 &&
            mosquitto_socket(client_) == fds[1].fd) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fds[1].fd, SOL_SOCKET, SO_ERROR, &error, &length);
            tryFailed_ = true;
            reportUnreachable("serve",
                              error != 0 ? std::strerror(error) : "the connection was closed");
            return;
        }
    }
    if ((fds[1].revents & POLLOUT) != 0 && mosquitto_socket(client_) >= 0) {
        mosquitto_loop_write(client_, 1);
    }
    if (mosquitto_socket(client_) >= 0) {
        mosquitto_loop_misc(client_);
    }
}

int Publisher::socket() const {
    return tryFailed_ ? -1 : mosquitto_socket(client_);
}

void Publisher::sendHello() {
    inFlight_ += 2;
    publish(base_ + kStatusLevel, "online", true);
    publish(base_ + "/meta", metaPayload(project_, tags_), true);
}

void Publisher::finish() {
    if (connected_) {
        queueOffered();
        std::vector<const TagValue*> last(tags_.size(), nullptr);
        std::vector<ValueQueue::Taken> latest = queue_.latest();
        for (ValueQueue::Taken& taken : latest) {
            renderText(taken.value);
            last[static_cast<std::size_t>(taken.tag)] = &taken.value;
        }
        inFlight_ += tags_.size() + 1;
        for (std::size_t i = 0; i < tags_.size(); ++i) {
            publish(base_ + "/tags/" + tags_[i].level, valuePayload(last[i], tags_[i], "stale"),
                    settings_.retain);
        }
        publish(base_ + kStatusLevel, "offline", true);
        const Clock::time_point deadline = Clock::now() + kStopDrain;
        while (connected_ && inFlight_ != 0 && Clock::now() < deadline) {
            serve(deadline);
        }
        traceDrops();
    }
    mosquitto_disconnect(client_);
}

void Publisher::traceDrops() {
    const uint64_t dropped = queue_.takeDropped() + handover_.takeDropped();
    if (dropped != 0) {
        DAQ_TRACE(kTraceError, "traceDrops", kSource,
                  "MQTT : %llu values dropped, MaxQueuedValues=%d tags were waiting",
                  static_cast<unsigned long long>(dropped), settings_.maxQueuedValues);
    }
    const uint64_t failed = std::exchange(failed_, 0);
    if (failed != 0) {
        DAQ_TRACE(kTraceError, "traceDrops", kSource, "MQTT : %llu messages not published : %s",
                  static_cast<unsigned long long>(failed), lastFailure_.c_str());
    }
}

bool Publisher::publish(const std::string& topic, const std::string& payload, bool retain) {
    const int rc =
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), settings_.qos, retain);
    if (rc == MOSQ_ERR_SUCCESS) {
        return true;
    }
    inFlight_ -= std::min<std::size_t>(inFlight_, 1);
    ++failed_;
    lastFailure_ = topic + ": " + mosquitto_strerror(rc);
    return false;
}

void Publisher::onConnect(int code) {
    if (code != 0) {
        // The broker was reached: the refusal, said at each try, is the outage's report.
        unreachableReported_ = true;
        report("onConnect", "MQTT : " + endpoint_ +
                                " refused the connection : " + mosquitto_connack_string(code));
        return;
    }
    watchErrors(false);
    connected_ = true;
    unreachableReported_ = false;
    tries_ = 0;
    hello_ = true;
    // Whatever libmosquitto held of the lost connection no longer counts against the window.
    inFlight_ = 0;
    DAQ_TRACE(kTraceInfo, "onConnect", kSource, "MQTT : connected to %s", endpoint_.c_str());
    std::fprintf(stderr, "DAQServer: MQTT : connected to %s\n", endpoint_.c_str());
}

void Publisher::onDisconnect(int code) {
    watchErrors(true);
    const bool wasConnected = std::exchange(connected_, false);
    if (wasConnected && code != 0) {
        report("onDisconnect", "MQTT : connection to " + endpoint_ + " lost (" +
                                   mosquitto_strerror(code) + "), connecting again");
    } else if (!wasConnected) {
        reportUnreachable("onDisconnect", failure(code));
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
    // Once per outage, not at every try.
    if (!connected_ && !std::exchange(unreachableReported_, true)) {
        report(operation, "MQTT : cannot reach " + endpoint_ + " (" + reason + "), trying again");
    }
}

void Publisher::onPublish() {
    inFlight_ -= std::min<std::size_t>(inFlight_, 1);
}

}  // namespace daq::mqtt
