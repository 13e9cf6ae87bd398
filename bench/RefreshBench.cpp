// The refresh pass of a DAQ run: cost per entry against a plain copy of the value blocks, and
// the refresh thread's share of a core while a run is on. Publishing to a broker: the refresh
// thread's cost per changed value, the publisher's, and a pass with publishing on and off
// (against a mosquitto of the benchmark's own on a loopback port).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/DateTime.h"
#include "host/readmap/MapAccess.h"
#include "kelvane/IORecords.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/Text.h"
#include "server/mqtt/Publisher.h"
#include "server/runtime/IoMap.h"
#include "server/runtime/RefreshThread.h"

extern char** environ;

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

// RUSAGE_SELF: the process; RUSAGE_THREAD: the calling thread.
double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A value block as the host writes it: a number with two decimals and its text, stamped now.
kelvane::TCurrentValue changedValue(double number) {
    kelvane::TCurrentValue value{};
    value.TimeStamp = daq::nowDateTime();
    value.Value = number;
    value.Decimals = 2;
    const std::string text = std::to_string(number).substr(0, 8);
    kelvane::StoreText(value.ValueText, std::u16string(text.begin(), text.end()));
    value.Updated = 1;
    return value;
}

// New values for every `step`-th record (step 10: a tenth of the tags changes).
void changeHeaders(const std::vector<kelvane::TIOList>& records, std::size_t step, double number) {
    std::vector<host::HeaderUpdate> updates;
    const kelvane::TCurrentValue value = changedValue(number);
    for (std::size_t i = 0; i < records.size(); i += step) {
        updates.push_back({&records[i], value});
    }
    host::writeHeaders(updates.data(), updates.size());
}

bool accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// /usr/sbin/mosquitto on a free loopback port, anonymous, no persistence, no log; stopped at
// the end. ready() is false when it did not start within 5 s.
class LocalBroker {
  public:
    LocalBroker()
        : dir_(std::filesystem::temp_directory_path() /
               ("refresh-bench-" + std::to_string(::getpid()))),
          port_(freePort()) {
        std::filesystem::create_directories(dir_);
        const std::string config = dir_ / "mosquitto.conf";
        // Run as root, it would switch to a user who cannot read the directory.
        std::ofstream(config) << "listener " << port_
                              << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                                 "log_dest none\nuser "
                              << ::getpwuid(::getuid())->pw_name << "\n";
        std::string program = "/usr/sbin/mosquitto";
        std::string option = "-c";
        char* argv[] = {program.data(), option.data(), const_cast<char*>(config.c_str()), nullptr};
        // Its warning about running as root would go into the benchmark's table.
        posix_spawn_file_actions_t quiet;
        ::posix_spawn_file_actions_init(&quiet);
        ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = ::posix_spawn(&pid_, argv[0], &quiet, nullptr, argv, environ);
        ::posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) {
            pid_ = 0;
            return;
        }
        for (int i = 0; i < 500 && !ready(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    LocalBroker(const LocalBroker&) = delete;
    LocalBroker& operator=(const LocalBroker&) = delete;
    ~LocalBroker() {
        if (pid_ != 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }
    bool ready() const { return pid_ != 0 && accepts(port_); }
    uint16_t port() const { return port_; }
    // User and system CPU seconds the broker has used (/proc/<pid>/stat).
    double cpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string field;
        double ticks = 0;
        // Fields 14 and 15; the name (field 2) has no spaces here.
        for (int i = 1; i <= 15 && stat >> field; ++i) {
            ticks += i >= 14 ? std::stod(field) : 0;
        }
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

  private:
    std::filesystem::path dir_;
    uint16_t port_;
    pid_t pid_ = 0;
};

// A publisher of the map's records to the broker (retained, QoS 1 by default), connected.
std::unique_ptr<mqtt::Publisher> connectedPublisher(const LocalBroker& broker, std::size_t tags,
                                                    int32_t qos = 1) {
    mqtt::PublisherSettings settings;
    settings.broker = "127.0.0.1";
    settings.port = broker.port();
    settings.topicPrefix = "bench";
    settings.qos = qos;
    std::vector<mqtt::TagInfo> infos;
    for (std::size_t i = 0; i < tags; ++i) {
        const std::string name = "SYN." + std::to_string(i + 1);
        infos.push_back({name, name, "u"});
    }
    auto publisher = std::make_unique<mqtt::Publisher>(settings, u"Bench", std::move(infos));
    // The connection is made on the publisher's thread; on loopback it takes a few milliseconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return publisher;
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
        const double cpuBefore = cpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        const uint64_t passesBefore = thread.passes();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        share = (cpuSeconds() - cpuBefore) / wall;
        state.counters["passes_per_s"] = static_cast<double>(thread.passes() - passesBefore) / wall;
    }
    state.counters["core_share"] = share;
    running.store(false);
}
BENCHMARK(RefreshThreadCpuShare)
    ->ArgsProduct({{10000, 100000}, {1, 100}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// A pass over range(0) entries of which every range(1)-th has a new value (10: a tenth), with
// the values offered to a publisher (range(2) 1) or no publisher (0). Passes follow each other
// at once, so the publisher falls behind and its queue coalesces: the refresh thread's side at
// its busiest.
void RefreshPassChanging(benchmark::State& state) {
    OpenMap map(static_cast<int>(state.range(0)));
    // Running in both cases, so that both see the same machine.
    LocalBroker broker;
    std::unique_ptr<mqtt::Publisher> publisher;
    if (state.range(2) != 0) {
        if (!broker.ready()) {
            state.SkipWithError("no mosquitto broker");
            return;
        }
        publisher = connectedPublisher(broker, map.records.size());
        map.ioMap.setPublisher(publisher.get());
    }
    double number = 0;
    for (auto _ : state) {
        state.PauseTiming();
        changeHeaders(map.records, static_cast<std::size_t>(state.range(1)), ++number);
        state.ResumeTiming();
        map.ioMap.refresh();
        benchmark::ClobberMemory();
    }
    map.ioMap.setPublisher(nullptr);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(RefreshPassChanging)->ArgsProduct({{10000}, {10}, {0, 1}});

// What the refresh thread pays per changed value: Publisher::offer for range(0) values, then
// the end of the pass, while the publisher sends them on.
void PublisherOffer(benchmark::State& state) {
    OpenMap map(static_cast<int>(state.range(0)));
    LocalBroker broker;
    if (!broker.ready()) {
        state.SkipWithError("no mosquitto broker");
        return;
    }
    const auto publisher = connectedPublisher(broker, map.records.size());
    const kelvane::TCurrentValue value = changedValue(12.5);
    for (auto _ : state) {
        for (std::size_t i = 0; i < map.records.size(); ++i) {
            publisher->offer(static_cast<int32_t>(i), map.records[i], value);
        }
        publisher->passDone();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(PublisherOffer)->Arg(1000);

// The publisher thread's share of a value before libmosquitto: its text, topic and JSON payload.
void PublisherPayload(benchmark::State& state) {
    mqtt::TagInfo tag{"SYN.1", "SYN.1", "u"};
    kelvane::TIOList record{};
    mqtt::TagValue value;
    mqtt::readTagValue(record, changedValue(12.5), value);
    const std::string base = "kelvane/Bench";
    for (auto _ : state) {
        mqtt::renderText(value);
        std::string topic = base + "/tags/" + tag.level;
        std::string payload = mqtt::valuePayload(&value, tag, "good");
        benchmark::DoNotOptimize(topic);
        benchmark::DoNotOptimize(payload);
    }
}
BENCHMARK(PublisherPayload);

// The whole cost of publishing at the host's pace: range(0) entries of which range(1) get a new
// value every 100 ms, refreshed and published for 3 s at QoS range(2). Counters in microseconds of
// CPU per value: the process ("us_per_value"), of it the publisher's thread
// ("publisher_us_per_value"; the rest is this thread's: the new values and the pass), and the
// broker ("broker_us_per_value").
void PublishingCpuPerValue(benchmark::State& state) {
    OpenMap map(static_cast<int>(state.range(0)));
    LocalBroker broker;
    if (!broker.ready()) {
        state.SkipWithError("no mosquitto broker");
        return;
    }
    const auto publisher =
        connectedPublisher(broker, map.records.size(), static_cast<int32_t>(state.range(2)));
    map.ioMap.setPublisher(publisher.get());
    // The first pass offers every tag's value, as at a DAQ start: published before the timing,
    // so that only the changed values are measured.
    map.ioMap.refresh();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto step = static_cast<std::size_t>(state.range(0) / state.range(1));
    constexpr auto kInterval = std::chrono::milliseconds(100);
    constexpr int kPasses = 30;
    for (auto _ : state) {
        const double process = cpuSeconds();
        const double thread = cpuSeconds(RUSAGE_THREAD);
        const double brokerCpu = broker.cpuSeconds();
        auto next = std::chrono::steady_clock::now();
        for (int pass = 0; pass < kPasses; ++pass) {
            changeHeaders(map.records, step, pass);
            map.ioMap.refresh();
            std::this_thread::sleep_until(next += kInterval);
        }
        const double values = static_cast<double>(kPasses * state.range(1)) / 1e6;
        const double processPerValue = (cpuSeconds() - process) / values;
        state.counters["us_per_value"] = processPerValue;
        state.counters["publisher_us_per_value"] =
            processPerValue - (cpuSeconds(RUSAGE_THREAD) - thread) / values;
        state.counters["broker_us_per_value"] = (broker.cpuSeconds() - brokerCpu) / values;
    }
    map.ioMap.setPublisher(nullptr);
}
BENCHMARK(PublishingCpuPerValue)
    ->ArgsProduct({{10000}, {1000}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

}  // namespace daq::bench
