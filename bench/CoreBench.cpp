// The server's work for one request, bytes in to answer queued: dispatch of "ALIVE", a
// "DAQ_DATA" answer of 10, 100 and 1000 values (unchanged since the previous poll, and all
// changed), and the value and time texts it is made of.
// Run from a Release build with no trace viewer listening.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/NumberFormat.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/Text.h"
#include "server/core/ServerCore.h"
#include "server/protocol/Frame.h"
#include "server/protocol/IoValueText.h"
#include "server/runtime/IoMap.h"

namespace daq::bench {

namespace {

// A connection that takes the answers and forgets them.
class DiscardConnection final : public daq::tcp::TcpConnection {
  public:
    std::uint64_t id() const override { return 1; }
    const std::string& peerAddress() const override { return peer_; }
    std::uint16_t peerPort() const override { return 40000; }
    void write(std::string_view bytes) override { bytesWritten += bytes.size(); }
    void close() override {}
    bool connected() const override { return true; }
    void setUserData(std::shared_ptr<void> data) override { user_ = std::move(data); }
    std::shared_ptr<void> userData() const override { return user_; }

    std::size_t bytesWritten = 0;

  private:
    std::string peer_ = "127.0.0.1";
    std::shared_ptr<void> user_;
};

class NoWindow final : public daq::WindowSink {
  public:
    void startTimer(daq::WindowTimer) override {}
};

// A map of 1000 numeric tags with a current value each.
class Plant {
  public:
    static constexpr int kTags = 1000;

    Plant() : records_(kTags) {
        for (int i = 0; i < kTags; ++i) {
            kelvane::TIOList& record = records_[i];
            record.TagName = u"TAG";
            record.Unit = u"bar";
            record.Description = u"";
            record.DataType = 4;
            record.HasGuid = 1;
            record.Guid = {0x1234ABCDu + i, 0x0102, 0xA0B0, {1, 2, 3, 4, 5, 6, 7, 8}};
            record.Current.Value = 1234.5678 + i;
            record.Current.Decimals = 2;
            record.Current.TimeStamp = 46361.0283 + i * 1e-6;
            map_.add(&record);
        }
        core_.startDaqRun();
        daqRunning_ = true;
        core_.onConnect(connection_);
    }

    // A new value and time stamp for every tag, as a refresh pass would copy them.
    void changeValues() {
        map_.read([](const daq::protocol::IoSnapshot& snapshot) {
            for (int i = 0; i < snapshot.count(); ++i) {
                kelvane::TCurrentValue& value = snapshot.record(i)->Current;
                value.Value += 0.01;
                value.TimeStamp += 1e-8;
            }
        });
    }

    // One request, framed, through the receive pass; bytes of the answers.
    std::size_t handle(const std::string& frame) {
        connection_->bytesWritten = 0;
        core_.onData(connection_, frame);
        return connection_->bytesWritten;
    }

  private:
    std::vector<kelvane::TIOList> records_;
    kelvane::TReadMapFile readMap_;
    daq::IoMap map_{readMap_};
    NoWindow window_;
    std::atomic<bool> daqRunning_{false};
    daq::ServerCore core_{map_, daqRunning_, window_};
    std::shared_ptr<DiscardConnection> connection_ = std::make_shared<DiscardConnection>();
};

std::string requestFrame(const std::string& json) {
    std::string frame;
    daq::protocol::buildFrame(json, frame, daq::protocol::FrameTrailer::None);
    return frame;
}

std::string daqDataFrame(int values) {
    std::string json = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[)";
    for (int i = 0; i < values; ++i) {
        if (i > 0) {
            json += ',';
        }
        json += std::to_string(i);
    }
    return requestFrame(json + "]}");
}

void BM_DispatchStatus(benchmark::State& state) {
    Plant plant;
    const std::string frame = requestFrame(R"({"PS_ID":"DAQSTATUS"})");
    for (auto _ : state) {
        benchmark::DoNotOptimize(plant.handle(frame));
    }
}
BENCHMARK(BM_DispatchStatus);

void BM_DispatchAlive(benchmark::State& state) {
    Plant plant;
    const std::string frame = requestFrame(R"({"PS_ID":"ALIVE"})");
    for (auto _ : state) {
        benchmark::DoNotOptimize(plant.handle(frame));
    }
}
BENCHMARK(BM_DispatchAlive);

void BM_DaqData(benchmark::State& state) {
    Plant plant;
    const std::string frame = daqDataFrame(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = plant.handle(frame);
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["answer_bytes"] = static_cast<double>(bytes);
    state.counters["values/s"] = benchmark::Counter(
        static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DaqData)->Arg(10)->Arg(100)->Arg(1000);

// Every value changed since the previous poll: each entry is rendered again (the time includes
// changing the 1000 values).
void BM_DaqDataAllChanged(benchmark::State& state) {
    Plant plant;
    const std::string frame = daqDataFrame(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        plant.changeValues();
        benchmark::DoNotOptimize(plant.handle(frame));
    }
    state.counters["values/s"] = benchmark::Counter(
        static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DaqDataAllChanged)->Arg(1000);

void BM_ValueText(benchmark::State& state) {
    kelvane::TIOList record{};
    record.Current.Value = 1234.5678;
    record.Current.Decimals = 2;
    std::string text;
    for (auto _ : state) {
        text.clear();
        daq::protocol::appendIOValueText(record, record.Current, text);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_ValueText);

void BM_FormatFixed(benchmark::State& state) {
    double value = 3.14159;
    for (auto _ : state) {
        benchmark::DoNotOptimize(daq::formatFixed(value, 4));
        value += 1.0;
    }
}
BENCHMARK(BM_FormatFixed);

void BM_StampTime(benchmark::State& state) {
    double value = 46361.0283;
    for (auto _ : state) {
        benchmark::DoNotOptimize(daq::formatStampTime(value));
        value += 1e-6;
    }
}
BENCHMARK(BM_StampTime);

void BM_GuidText(benchmark::State& state) {
    kelvane::TIOList record{};
    record.HasGuid = 1;
    record.Guid = {0x1234ABCD, 0x0102, 0xA0B0, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(daq::protocol::guidText(record));
    }
}
BENCHMARK(BM_GuidText);

}  // namespace

}  // namespace daq::bench
