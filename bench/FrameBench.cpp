// Receive path of one request: frame reassembly, JSON parse and value reads, and the framing of
// an answer. Run from a Release build.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "server/protocol/Frame.h"
#include "server/protocol/FrameReader.h"
#include "server/protocol/JsonRequest.h"

namespace daq::bench {

namespace {

using daq::protocol::FrameReader;
using daq::protocol::FrameStatus;

// A client polling 32 values: {"PS_ID":"DAQ_DATA","DAQ_INDEX":[0,1,...,31]}
std::string daqDataRequest() {
    std::string json = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[)";
    for (int i = 0; i < 32; ++i) {
        json += (i ? "," : "") + std::to_string(i);
    }
    json += "]}";
    return json;
}

std::string framed(const std::string& text, int copies = 1) {
    std::string frame;
    daq::protocol::buildFrame(text, frame, daq::protocol::FrameTrailer::None);
    std::string chunk;
    for (int i = 0; i < copies; ++i) {
        chunk += frame;
    }
    return chunk;
}

// Feeds a chunk in pieces of `piece` bytes; returns the frames completed.
int reassemble(FrameReader& reader, std::string_view chunk, std::size_t piece) {
    int frames = 0;
    while (!chunk.empty()) {
        std::string_view part = chunk.substr(0, piece);
        chunk.remove_prefix(part.size());
        while (!part.empty()) {
            const auto step = reader.feed(part);
            part.remove_prefix(step.consumed);
            frames += step.status == FrameStatus::Good ? 1 : 0;
        }
    }
    return frames;
}

void BM_FrameReassembly(benchmark::State& state) {
    const std::string chunk = framed(daqDataRequest(), 4);
    const auto piece = static_cast<std::size_t>(state.range(0));
    FrameReader reader;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reassemble(reader, chunk, piece));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * chunk.size()));
    state.SetItemsProcessed(state.iterations() * 4);
}
// Whole chunks of four frames, and the same bytes arriving 16 bytes at a time.
BENCHMARK(BM_FrameReassembly)->Arg(1 << 20)->Arg(16);

void BM_ParseDaqData(benchmark::State& state) {
    const std::string request = daqDataRequest();
    for (auto _ : state) {
        auto parsed = daq::protocol::parseJsonMessage(request);
        const std::string id = daq::protocol::getJsonString(parsed, "PS_ID");
        long sum = 0;
        for (const auto& index : (*parsed)["DAQ_INDEX"].GetArray()) {
            sum += std::stol(daq::protocol::jsonValueText(index));
        }
        benchmark::DoNotOptimize(id);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * request.size()));
}
BENCHMARK(BM_ParseDaqData);

void BM_ReceiveRequest(benchmark::State& state) {
    const std::string chunk = framed(daqDataRequest());
    FrameReader reader;
    for (auto _ : state) {
        const auto step = reader.feed(chunk);
        auto parsed = daq::protocol::parseJsonMessage(reader.message());
        benchmark::DoNotOptimize(step);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveRequest);

void BM_BuildAnswerFrame(benchmark::State& state) {
    const std::string answer(static_cast<std::size_t>(state.range(0)), 'x');
    std::string frame;
    for (auto _ : state) {
        daq::protocol::buildFrame(answer, frame);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * answer.size()));
}
BENCHMARK(BM_BuildAnswerFrame)->Arg(256)->Arg(16 * 1024);

}  // namespace

}  // namespace daq::bench
