// The load generator: its command line, request mix and answer checks, its answer scanner, and
// its latency histogram.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/daqbench/AnswerScanner.h"
#include "tools/daqbench/BenchOptions.h"
#include "tools/daqbench/LatencyHistogram.h"
#include "tools/daqbench/RequestMix.h"

namespace {

using namespace daqbench;

BenchOptions parse(const std::string& commandLine) {
    CLI::App app;
    BenchOptions options;
    declareOptions(app, options);
    app.parse(commandLine, false);
    return options;
}

// Modes, threads and the mix as the command line gives them; request names in either spelling.
TEST(DaqbenchOptions, ModesMixAndThreads) {
    const struct {
        const char* line;
        LoadMode mode;
        int threads;
        RequestKind firstKind;
        int firstWeight = 1;
    } rows[] = {
        {"", LoadMode::Closed, 1, RequestKind::Alive},
        {"-c 16 -t 4 -r DAQ_DATA:3 -r ALIVE", LoadMode::Closed, 4, RequestKind::DaqData, 3},
        {"-c 2 -t 8", LoadMode::Closed, 2, RequestKind::Alive},  // no more than connections
        {"--rate 1000 -c 10 -r DaqList", LoadMode::Open, 1, RequestKind::DaqList},
        {"--idle -c 1000", LoadMode::Idle, 1, RequestKind::Alive},
        {"-r login -u admin -P admin", LoadMode::Closed, 1, RequestKind::Login},
        {"--stuck -r daq_data -k 1000", LoadMode::Stuck, 1, RequestKind::DaqData},
        {"--endless-frame --chunk-bytes 512", LoadMode::Endless, 1, RequestKind::Alive},
        {"--storm -c 200 --hold 0 --login-first -u a", LoadMode::Storm, 1, RequestKind::Alive},
        {"--tls --handshakes --resume -c 8", LoadMode::Handshakes, 1, RequestKind::Alive},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const BenchOptions options = parse(row.line);
        EXPECT_EQ(options.mode(), row.mode);
        EXPECT_EQ(options.threads, row.threads);
        EXPECT_EQ(options.mix.at(0).kind, row.firstKind);
        EXPECT_EQ(options.mix.at(0).weight, row.firstWeight);
    }
    EXPECT_EQ(parse("-h 10.1.2.3").host, "10.1.2.3");  // -h is the host, not the help
}

TEST(DaqbenchOptions, RefusesWhatCannotRun) {
    for (const char* line : {"-r foo",
                             "-r alive:0",
                             "-r alive:x",
                             "-r alive:2x",
                             "-r daq_data:1001",
                             "-r login",
                             "--login-first",
                             "-d 0",
                             "-c 0",
                             "-k 0",
                             "--rate 10 --idle",
                             "--rate 0",
                             "--page-size 100001",
                             "--stuck --idle",
                             "--storm --rate 10",
                             "--endless-frame --stuck",
                             "--storm --cycle 0",
                             "--endless-frame --chunk-bytes 0",
                             "--storm --hold -1",
                             "--handshakes",
                             "--tls --resume"}) {
        EXPECT_THROW(parse(line), CLI::ParseError) << line;
    }
    std::string tooMany;
    for (std::size_t i = 0; i <= kMaxMixEntries; ++i) {
        tooMany += " -r alive";
    }
    EXPECT_THROW(parse(tooMany), CLI::ParseError);
}

TEST(DaqbenchMix, WeightsAreSpreadOverTheCycleAndConnectionsStartApart) {
    BenchOptions options = parse("-r alive:1 -r daq_data:3");
    const RequestMix mix(options, 100);
    EXPECT_EQ(mix.description(), "ALIVE:1+DAQ_DATA(k=10):3");
    MixCursor cursor = mix.startFor(0);
    std::string kinds;
    for (int i = 0; i < 8; ++i) {
        kinds += mix.next(cursor).templateIndex == 0 ? 'A' : 'D';
    }
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), 'A'), 2) << kinds;
    EXPECT_EQ(kinds.find("AA"), std::string::npos) << kinds;
    EXPECT_EQ(kinds.substr(0, 4), kinds.substr(4)) << kinds;

    // The first requests of four connections cover the cycle: one ALIVE among them.
    int alives = 0;
    for (std::size_t connection = 0; connection < 4; ++connection) {
        MixCursor start = mix.startFor(connection);
        alives += mix.next(start).templateIndex == 0 ? 1 : 0;
    }
    EXPECT_EQ(alives, 1);
}

TEST(DaqbenchMix, FramesCarryTheIndexesAndPagesAsked) {
    BenchOptions options = parse("-r daq_data -k 5 --first-index 8");
    const RequestMix data(options, 10);
    const std::string& frame = data.at(0).frames.at(0);
    EXPECT_EQ(frame, "\x02{\"PS_ID\":\"DAQ_DATA\",\"DAQ_INDEX\":[8,9,0,1,2]}\x03");
    EXPECT_EQ(data.at(0).entries, 5);

    // Without a tag count the indexes do not wrap.
    EXPECT_NE(RequestMix(options, 0).at(0).frames.at(0).find("[8,9,10,11,12]"), std::string::npos);

    options = parse("-r daqlist --page-size 100");
    const RequestMix pages(options, 250);
    ASSERT_EQ(pages.at(0).frames.size(), 3u);
    MixCursor cursor = pages.startFor(0);
    for (const char* start : {"\"0\"", "\"100\"", "\"200\"", "\"0\""}) {
        const std::string_view sent = pages.next(cursor).frame;
        EXPECT_NE(sent.find(std::string("\"START_INDEX\":") + start), std::string_view::npos)
            << sent;
    }
}

TEST(DaqbenchMix, AnswerChecksFollowTheRequestKind) {
    const RequestTemplate alive{RequestKind::Alive, {}, 0};
    EXPECT_TRUE(answerMatches(alive, R"({"PS_ID":true,"TIME":"2026-01-01 10:00:00"})", false));
    EXPECT_FALSE(answerMatches(alive, R"({"PS_ID":true})", false));
    EXPECT_FALSE(answerMatches(alive, R"({"PS_ID":true,"TIME":)", false));

    const RequestTemplate data{RequestKind::DaqData, {}, 2};
    EXPECT_TRUE(answerMatches(data, R"({"PS_ID":true,"LIST":[{},{}]})", false));
    EXPECT_FALSE(answerMatches(data, R"({"PS_ID":true,"LIST":[{}]})", false));

    const RequestTemplate login{RequestKind::Login, {}, 0};
    EXPECT_TRUE(answerMatches(login, R"({"PS_ID":true,"RESULT":false})", false));
    EXPECT_FALSE(answerMatches(login, R"({"PS_ID":true,"RESULT":false})", true));
    EXPECT_TRUE(answerMatches(login, R"({"PS_ID":true,"RESULT":true})", true));
}

// Feeds `stream` in pieces of `piece` bytes, collecting the text of every finished answer.
std::vector<std::string> scan(const std::string& stream, std::size_t piece) {
    AnswerScanner scanner;
    std::vector<std::string> texts;
    std::string text;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        std::string_view chunk = std::string_view(stream).substr(at, piece);
        while (!chunk.empty()) {
            const auto step = scanner.feed(chunk);
            EXPECT_TRUE(step.consumed > 0 || step.answerEnded);  // no step stalls
            EXPECT_LE(step.consumed, chunk.size());
            chunk.remove_prefix(std::min(step.consumed, chunk.size()));
            text.append(step.text);
            if (step.answerEnded) {
                texts.push_back(std::move(text));
                text.clear();
            }
        }
    }
    return texts;
}

// Three answers with junk before, between and behind (the unframed stop notice among it), the
// second without its zero byte.
TEST(DaqbenchScanner, FindsEveryAnswerAtAnySegmentation) {
    using namespace std::string_literals;
    const std::string stream = "junk\x02{\"A\":1}\x03\0"s + "{\"PS_ID\":true}" + "\x02{}\x03" +
                               "\x02{\"LIST\":[1,2,3]}\x03\0"s + "tail";
    const std::vector<std::string> answers{"{\"A\":1}", "{}", "{\"LIST\":[1,2,3]}"};
    for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
        EXPECT_EQ(scan(stream, piece), answers) << "pieces of " << piece;
    }
}

// Each bucket starts where the one before ends and spans at most 1/32 of its lowest value (below
// 32 each value has its own), and bucketOf finds the bucket of both its ends.
TEST(DaqbenchHistogram, BucketsCoverEveryValueWithoutGapsWithinOneThirtySecond) {
    for (std::size_t b = 0; b + 1 < LatencyHistogram::kBuckets; ++b) {
        SCOPED_TRACE(b);
        const std::uint64_t lowest = LatencyHistogram::bucketLowest(b);
        const std::uint64_t highest = LatencyHistogram::bucketHighest(b);
        ASSERT_EQ(highest + 1, LatencyHistogram::bucketLowest(b + 1));
        ASSERT_LE(highest - lowest + 1, std::max<std::uint64_t>(1, lowest / 32));
        ASSERT_EQ(LatencyHistogram::bucketOf(lowest), b);
        ASSERT_EQ(LatencyHistogram::bucketOf(highest), b);
    }
    EXPECT_EQ(LatencyHistogram::bucketOf(UINT64_MAX), LatencyHistogram::kBuckets - 1);
}

// Percentiles report the highest value of the rank's bucket, clamped to the recorded range, and
// two merged histograms report what one that saw everything does.
TEST(DaqbenchHistogram, PercentilesAreTheirBucketsHighestValueAndSurviveMerging) {
    LatencyHistogram empty;
    empty.merge(LatencyHistogram{});
    EXPECT_EQ(empty.percentile(50), 0u);
    EXPECT_EQ(empty.min(), 0u);
    EXPECT_EQ(empty.mean(), 0.0);

    // Ranks: 10, 20, 100 (in the bucket 100..101), 1000003 (in a bucket that reaches far above).
    LatencyHistogram few;
    LatencyHistogram other;
    few.record(1000003);
    few.record(20);
    other.record(100);
    other.record(10);
    few.merge(other);
    EXPECT_EQ(few.count(), 4u);
    EXPECT_EQ(few.min(), 10u);
    EXPECT_EQ(few.max(), 1000003u);
    EXPECT_DOUBLE_EQ(few.mean(), 1000133 / 4.0);
    const std::pair<double, std::uint64_t> ranks[] = {
        {0, 10}, {50, 20}, {75, 101}, {76, 1000003}, {100, 1000003}};
    for (const auto& [percent, value] : ranks) {
        EXPECT_EQ(few.percentile(percent), value) << percent;
    }
}

}  // namespace
