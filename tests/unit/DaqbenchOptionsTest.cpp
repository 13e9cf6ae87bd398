// The load generator's command line, request mix and answer checks.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>

#include "tools/daqbench/BenchOptions.h"
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

TEST(DaqbenchOptions, ModesMixAndThreads) {
    const struct {
        const char* line;
        LoadMode mode;
        int threads;
        RequestKind firstKind;
    } rows[] = {
        {"", LoadMode::Closed, 1, RequestKind::Alive},
        {"-c 16 -t 4 -r daq_data:3 -r ALIVE", LoadMode::Closed, 4, RequestKind::DaqData},
        {"-c 2 -t 8", LoadMode::Closed, 2, RequestKind::Alive},  // no more than connections
        {"--rate 1000 -c 10", LoadMode::Open, 1, RequestKind::Alive},
        {"--idle -c 1000", LoadMode::Idle, 1, RequestKind::Alive},
        {"-r login -u admin -P admin", LoadMode::Closed, 1, RequestKind::Login},
        {"--stuck -r daq_data -k 1000", LoadMode::Stuck, 1, RequestKind::DaqData},
        {"--endless-frame --chunk-bytes 512", LoadMode::Endless, 1, RequestKind::Alive},
        {"--storm -c 200 --hold 0 --login-first -u a", LoadMode::Storm, 1, RequestKind::Alive},
    };
    for (const auto& row : rows) {
        const BenchOptions options = parse(row.line);
        EXPECT_EQ(options.mode(), row.mode) << row.line;
        EXPECT_EQ(options.threads, row.threads) << row.line;
        EXPECT_EQ(options.mix.at(0).kind, row.firstKind) << row.line;
    }
    EXPECT_EQ(parse("-h 10.1.2.3").host, "10.1.2.3");  // -h is the host, not the help
}

TEST(DaqbenchOptions, RefusesWhatCannotRun) {
    for (const char* line :
         {"-r foo", "-r alive:0", "-r alive:x", "-r daq_data:1001", "-r login", "--login-first",
          "-d 0", "-c 0", "-k 0", "--rate 10 --idle", "--rate 0", "--page-size 100001",
          "--stuck --idle", "--storm --rate 10", "--endless-frame --stuck", "--storm --cycle 0",
          "--endless-frame --chunk-bytes 0", "--storm --hold -1"}) {
        EXPECT_THROW(parse(line), CLI::ParseError) << line;
    }
    std::string tooMany;
    for (std::size_t i = 0; i <= kMaxMixEntries; ++i) {
        tooMany += " -r alive";
    }
    EXPECT_THROW(parse(tooMany), CLI::ParseError);
}

TEST(DaqbenchMix, EntriesParseInEitherSpelling) {
    EXPECT_EQ(parseMixEntry("DAQ_DATA:2")->kind, RequestKind::DaqData);
    EXPECT_EQ(parseMixEntry("DAQ_DATA:2")->weight, 2);
    EXPECT_EQ(parseMixEntry("DaqList")->kind, RequestKind::DaqList);
    EXPECT_EQ(parseMixEntry("daqlist")->weight, 1);
    EXPECT_FALSE(parseMixEntry("daq"));
    EXPECT_FALSE(parseMixEntry("alive:"));
    EXPECT_FALSE(parseMixEntry("alive:2x"));
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

}  // namespace
