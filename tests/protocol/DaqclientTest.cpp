// daqclient as a user runs it: the program against one stand-in host with its demo project,
// every command in every output format, the exit code of every failure, and watch.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/protocol/ProgramRun.h"
#include "tests/support/HostProcess.h"

namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

using daq::test::ProgramRun;
using daq::test::runOnTerminal;
using daq::test::runProgram;
using Lines = std::vector<std::string>;

// The demo project as the host builds it.
constexpr int kDemoTags = 45;
constexpr const char* kDemoProject = "Riverside Water Works";
constexpr const char* kStation = "ST01";  // connected, 22 parameters, two of them hidden
constexpr int kStationParameters = 22;
constexpr int kRaisingWriter = 16;  // ST01's "Backwash interval": its writer raises

// Exit codes as daqclient documents them.
enum Exit {
    kOk = 0,
    kFailure = 1,
    kUsage = 2,
    kConnection = 3,
    kNoAnswer = 4,
    kLogin = 5,
    kNotPermitted = 6,
    kWriteFailed = 7
};

std::string bin(const char* program) {
    return std::string(DAQ_BIN_DIR) + "/" + program;
}

Lines lines(const std::string& text) {
    Lines result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

Lines split(const std::string& line, char separator) {
    Lines fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) {
        fields.push_back(field);
    }
    return fields;
}

// The characters of a UTF-8 text, one string each.
Lines characters(const std::string& text) {
    Lines result;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) == 0x80 && !result.empty()) {
            result.back() += c;
        } else {
            result.emplace_back(1, c);
        }
    }
    return result;
}

// Table cells: separated by two or more blanks.
Lines tableCells(const std::string& line) {
    Lines cells;
    static const std::regex gap(" {2,}");
    std::sregex_token_iterator cell(line.begin(), line.end(), gap, -1);
    for (; cell != std::sregex_token_iterator(); ++cell) {
        cells.push_back(*cell);
    }
    return cells;
}

// One host with the demo project for the whole program.
class DemoHost : public ::testing::Environment {
  public:
    void SetUp() override {
        host_ = std::make_unique<daq::test::HostProcess>();
        ASSERT_TRUE(host_->start()) << host_->log();
        port_ = host_->port();
    }
    void TearDown() override { host_.reset(); }

    static std::string port() { return std::to_string(port_); }

  private:
    std::unique_ptr<daq::test::HostProcess> host_;
    static inline std::uint16_t port_ = 0;
};

[[maybe_unused]] const auto* const kHost = ::testing::AddGlobalTestEnvironment(new DemoHost);

// daqclient -p <the host's port> args...
ProgramRun daqclient(Lines args, Lines env = {}) {
    args.insert(args.begin(), {bin("daqclient"), "-p", DemoHost::port()});
    env.insert(env.begin(), "DAQCLIENT_PASSWORD");
    return runProgram(args, env);
}

rapidjson::Document parseJson(const std::string& line) {
    rapidjson::Document document;
    document.Parse(line.c_str(), line.size());
    EXPECT_FALSE(document.HasParseError()) << line;
    return document;
}

Lines jsonKeys(const rapidjson::Document& object) {
    Lines keys;
    if (object.IsObject()) {
        for (const auto& member : object.GetObject()) {
            keys.emplace_back(member.name.GetString());
        }
    }
    return keys;
}

// daqclient's own time stamps: ISO 8601 with the offset from UTC.
const std::regex kIsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");

std::string jsonText(const rapidjson::Document& object, const char* key) {
    const auto member = object.FindMember(key);
    return member != object.MemberEnd() && member->value.IsString() ? member->value.GetString()
                                                                    : "<absent>";
}

// ---- Every command in every format ----

struct CommandCase {
    const char* name;
    Lines args;
    Lines columns;
    bool record;  // one row, shown as "name  value" lines in a table
    std::size_t rows;
};

void PrintTo(const CommandCase& command, std::ostream* os) {
    *os << command.name;
}

const CommandCase kCommands[] = {
    {"alive", {"alive"}, {"time", "round_trip_ms"}, true, 1},
    {"info", {"info"}, {"project", "company", "worker", "description"}, true, 1},
    {"status", {"status"}, {"status"}, true, 1},
    {"tags",
     {"tags"},
     {"index", "tag", "sig_type", "rw", "unit", "guid", "description", "values"},
     false,
     kDemoTags},
    {"tags_page",
     {"tags", "--start", "40", "--size", "10"},
     {"index", "tag", "sig_type", "rw", "unit", "guid", "description", "values"},
     false,
     5},
    {"read", {"read", "0", "5", "5"}, {"index", "tag", "data", "unit", "type", "time"}, false, 3},
    {"read_all", {"read"}, {"index", "tag", "data", "unit", "type", "time"}, false, kDemoTags},
    {"devices",
     {"devices"},
     {"interface", "device", "model", "station", "connect_state"},
     false,
     5},
    {"params",
     {"params", "--station", kStation},
     {"index", "type", "value", "enabled"},
     false,
     kStationParameters - 2},
    {"params_detail",
     {"params", "--station", kStation, "--detail", "2"},
     {"index", "type", "min", "max", "value", "items"},
     true,
     1},
    {"write",
     {"-u", "admin", "write", "--station", kStation, "5", "PUMPS"},
     {"result", "code"},
     true,
     1},
    {"latency",
     {"latency", "-c", "20"},
     {"round_trips", "min_ms", "median_ms", "p99_ms", "max_ms"},
     true,
     1},
    {"watch",
     {"watch", "-c", "2", "-l", "50", "--tag", "INTAKE.LEVEL", "P101.STATE"},
     {"poll", "time", "INTAKE.LEVEL", "INTAKE.LEVEL time", "P101.STATE", "P101.STATE time"},
     false,
     2},
};

const Lines kAdminPassword{"DAQCLIENT_PASSWORD=admin"};

class EveryFormat : public ::testing::TestWithParam<CommandCase> {
  protected:
    ProgramRun runIn(const char* format) {
        Lines args{"--format", format};
        const CommandCase& command = GetParam();
        args.insert(args.end(), command.args.begin(), command.args.end());
        return daqclient(args, kAdminPassword);
    }
};

TEST_P(EveryFormat, CsvHasTheHeaderAndOneLinePerRow) {
    const ProgramRun run = runIn("csv");
    ASSERT_EQ(run.code, kOk) << run.err;
    const Lines out = lines(run.out);
    ASSERT_EQ(out.size(), GetParam().rows + 1) << run.out;
    EXPECT_EQ(split(out[0], ','), GetParam().columns);
}

TEST_P(EveryFormat, JsonIsOneObjectPerLineWithTheColumnsAsKeys) {
    const ProgramRun run = runIn("json");
    ASSERT_EQ(run.code, kOk) << run.err;
    const Lines out = lines(run.out);
    ASSERT_EQ(out.size(), GetParam().rows) << run.out;
    for (const std::string& line : out) {
        EXPECT_EQ(jsonKeys(parseJson(line)), GetParam().columns) << line;
    }
}

TEST_P(EveryFormat, TableAlignsColumnsOrListsARecord) {
    const ProgramRun run = runIn("table");
    ASSERT_EQ(run.code, kOk) << run.err;
    const Lines out = lines(run.out);
    const CommandCase& command = GetParam();
    if (command.record) {
        ASSERT_EQ(out.size(), command.columns.size()) << run.out;
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_THAT(out[i], ::testing::MatchesRegex(command.columns[i] + "( .*)?")) << run.out;
        }
        return;
    }
    ASSERT_EQ(out.size(), command.rows + 1) << run.out;
    EXPECT_EQ(tableCells(out[0]), command.columns);
    // Each column starts where its name starts in the header: the two characters before it
    // are blanks on every line.
    const Lines header = characters(out[0]);
    std::vector<std::size_t> starts;
    for (std::size_t i = 2; i < header.size(); ++i) {
        if (header[i - 2] == " " && header[i - 1] == " " && header[i] != " ") {
            starts.push_back(i);
        }
    }
    ASSERT_EQ(starts.size() + 1, command.columns.size());
    for (const std::string& line : out) {
        const Lines shown = characters(line);
        EXPECT_NE(shown.front(), " ") << line;
        EXPECT_NE(shown.back(), " ") << "trailing blank: " << line;
        for (std::size_t start : starts) {
            if (start < shown.size()) {
                EXPECT_EQ(shown[start - 2] + shown[start - 1], "  ") << line;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, EveryFormat, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- What the commands show ----

TEST(DaqclientShows, TheServersTimeProjectAndStatus) {
    const ProgramRun alive = daqclient({"--format", "json", "alive"});
    ASSERT_EQ(alive.code, kOk) << alive.err;
    const auto aliveAnswer = parseJson(lines(alive.out).at(0));
    EXPECT_TRUE(std::regex_match(jsonText(aliveAnswer, "time"),
                                 std::regex(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d\.\d\d\.\d{3})")));

    const ProgramRun info = daqclient({"--format", "table", "info"});
    EXPECT_THAT(lines(info.out).at(0), AllOf(StartsWith("project"), HasSubstr(kDemoProject)));

    // A CSV field with commas is quoted.
    const ProgramRun csv = daqclient({"--format", "csv", "info"});
    EXPECT_EQ(lines(csv.out).at(1),
              "Riverside Water Works,Northbank Municipal Water,Operations shift A,\"Demonstration "
              "plant: intake, filtration, chemical dosing and distribution of a small water "
              "works.\"");

    const ProgramRun status = daqclient({"--format", "csv", "status"});
    EXPECT_EQ(lines(status.out), (Lines{"status", "RUNNING"}));
}

TEST(DaqclientShows, TagsWithTheirNamedValues) {
    const ProgramRun run = daqclient({"--format", "json", "tags", "--start", "5", "--size", "1"});
    ASSERT_EQ(run.code, kOk) << run.err;
    const auto tag = parseJson(lines(run.out).at(0));
    EXPECT_THAT(lines(run.out).at(0), StartsWith(R"({"index":5,"tag":"P101.STATE","sig_type":1,)"));
    EXPECT_EQ(jsonText(tag, "values"), "0=Stopped; 1=Running; 2=Fault");
}

TEST(DaqclientShows, ValuesByIndexAndByTagNameWithTheirTimeStamps) {
    const ProgramRun run = daqclient({"--format", "csv", "read", "6", "--tag", "INTAKE.LEVEL"});
    ASSERT_EQ(run.code, kOk) << run.err;
    const Lines out = lines(run.out);
    ASSERT_EQ(out.size(), 3u) << run.out;
    const Lines speed = split(out[1], ',');
    const Lines level = split(out[2], ',');
    ASSERT_EQ(speed.size(), 6u);
    ASSERT_EQ(level.size(), 6u);
    EXPECT_EQ(speed[0], "6");
    EXPECT_EQ(speed[1], "P101.SPEED");
    EXPECT_EQ(level[0], "0");
    EXPECT_EQ(level[1], "INTAKE.LEVEL");
    EXPECT_EQ(level[3], "m");
    const std::regex stamp(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3})");
    EXPECT_TRUE(std::regex_match(level[5], stamp)) << level[5];
    EXPECT_TRUE(std::regex_match(level[2], std::regex(R"(-?\d+\.\d\d)"))) << level[2];
}

TEST(DaqclientShows, ParametersAndTheDetailOfOne) {
    const ProgramRun list = daqclient({"--format", "csv", "params", "--device", "Intake PLC"});
    ASSERT_EQ(list.code, kOk) << list.err;
    const Lines rows = lines(list.out);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[1], "0,0,1,yes");  // the hidden parameter 1 is left out
    EXPECT_EQ(rows[2], "2,2,Automatic,yes");

    const ProgramRun detail =
        daqclient({"--format", "json", "params", "--station", kStation, "--detail", "3"});
    ASSERT_EQ(detail.code, kOk) << detail.err;
    // JSON numbers and booleans where the server's value is one.
    EXPECT_EQ(lines(detail.out).at(0),
              R"({"index":3,"type":3,"min":0.50,"max":3.50,"value":true,"items":""})");
    const ProgramRun json = daqclient({"--format", "json", "params", "--station", kStation});
    EXPECT_EQ(lines(json.out).at(0), R"({"index":0,"type":0,"value":1,"enabled":true})");
}

TEST(DaqclientShows, ItsVersion) {
    const ProgramRun run = runProgram({bin("daqclient"), "--version"});
    EXPECT_EQ(run.code, kOk);
    EXPECT_TRUE(std::regex_match(run.out, std::regex(R"(daqclient \d+\.\d+\.\d+\.\d+\n)")))
        << run.out;
}

TEST(DaqclientShows, LatencyFiguresInOrder) {
    const ProgramRun run = daqclient({"--format", "csv", "latency", "-c", "50"});
    ASSERT_EQ(run.code, kOk) << run.err;
    const Lines figures = split(lines(run.out).at(1), ',');
    ASSERT_EQ(figures.size(), 5u);
    EXPECT_EQ(figures[0], "50");
    const double min = std::stod(figures[1]);
    const double median = std::stod(figures[2]);
    const double p99 = std::stod(figures[3]);
    const double max = std::stod(figures[4]);
    EXPECT_GT(min, 0.0);
    EXPECT_LE(min, median);
    EXPECT_LE(median, p99);
    EXPECT_LE(p99, max);
}

TEST(DaqclientShows, RawAnswersAsTheyCameInOrder) {
    const ProgramRun run =
        daqclient({"-t", "500", "-u", "admin", "raw",
                   R"({"PS_ID":"PARAMETERLISTCOUNT","INTERFACE":"","DEVICENAME":"x"})",
                   R"({"PS_ID":"DAQSTATUS"})"},
                  kAdminPassword);
    // No unit matches and none was selected before: the first request has no answer; the second
    // is still sent and answered.
    EXPECT_EQ(run.code, kNoAnswer);
    EXPECT_EQ(lines(run.out), Lines{R"({"PS_ID":true,"STATUS":"RUNNING"})"});
    EXPECT_THAT(lines(run.err),
                ElementsAre(HasSubstr("no answer to {\"PS_ID\":\"PARAMETERLISTCOUNT"),
                            "daqclient: 1 of 2 requests got no answer"));

    // From standard input, one request per line; CR LF ends one too, an empty line is skipped.
    const ProgramRun piped = runProgram(
        {"/bin/bash", "-c",
         R"(printf '{"PS_ID":"DAQSTATUS"}\r\n\n{"PS_ID":"DAQSTATUS"}' | "$0" -p "$1" raw -)",
         bin("daqclient"), DemoHost::port()});
    EXPECT_EQ(piped.code, kOk) << piped.err;
    EXPECT_EQ(lines(piped.out), Lines(2, R"({"PS_ID":true,"STATUS":"RUNNING"})"));

    const ProgramRun both = daqclient({"raw", R"({"PS_ID":"DAQSTATUS"})", R"({"PS_ID":"ALIVE"})"});
    ASSERT_EQ(both.code, kOk) << both.err;
    const Lines out = lines(both.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], R"({"PS_ID":true,"STATUS":"RUNNING"})");
    EXPECT_THAT(out[1], StartsWith(R"({"PS_ID":true,"TIME":")"));

    const ProgramRun write =
        daqclient({"raw",
                   R"({"PS_ID":"PARAMETERLISTCOUNT","INTERFACE":"Ethernet 1 - )"
                   R"(Modbus/TCP 192.168.10.0/24","DEVICENAME":"Intake PLC",)"
                   R"("STATION":"ST01"})",
                   R"({"PS_ID":"PARAMETERWRITE","PARAMINDEX":"5","VALUE":"X"})"});
    ASSERT_EQ(write.code, kOk) << write.err;
    // Both "RESULT" members, as the server wrote them.
    EXPECT_EQ(lines(write.out).at(1), R"({"PS_ID":true,"RESULT":"FAILED","RESULT":"-2"})");
}

// ---- watch ----

TEST(DaqclientWatch, PollsCountTimesOneLineEach) {
    const ProgramRun run =
        daqclient({"--format", "csv", "watch", "-c", "3", "-l", "100", "0", "5"});
    ASSERT_EQ(run.code, kOk) << run.err;
    const Lines out = lines(run.out);
    ASSERT_EQ(out.size(), 4u) << run.out;
    EXPECT_EQ(out[0], "poll,time,INTAKE.LEVEL,INTAKE.LEVEL time,P101.STATE,P101.STATE time");
    for (int poll = 1; poll <= 3; ++poll) {
        const Lines fields = split(out[static_cast<std::size_t>(poll)], ',');
        ASSERT_EQ(fields.size(), 6u) << out[static_cast<std::size_t>(poll)];
        EXPECT_EQ(fields[0], std::to_string(poll));
        EXPECT_TRUE(std::regex_match(fields[1], kIsoTime)) << fields[1];
        EXPECT_THAT(fields[4], ::testing::AnyOf("Stopped", "Running", "Fault"));
    }
    // Three polls 100 ms apart.
    EXPECT_GE(run.took, 200ms);
}

TEST(DaqclientWatch, OnceAndForAGivenTime) {
    const ProgramRun once = daqclient({"--format", "json", "watch", "-1", "--tag", "P101.SPEED"});
    ASSERT_EQ(once.code, kOk) << once.err;
    ASSERT_EQ(lines(once.out).size(), 1u);
    const std::string line = lines(once.out)[0];
    EXPECT_EQ(jsonKeys(parseJson(line)), (Lines{"poll", "time", "P101.SPEED", "P101.SPEED time"}));
    EXPECT_THAT(line, AllOf(StartsWith(R"({"poll":1,)"),
                            ::testing::ContainsRegex(R"("P101\.SPEED":-?[0-9])")));

    const ProgramRun timed = daqclient({"--format", "csv", "watch", "-l", "100", "-W", "1", "0"});
    ASSERT_EQ(timed.code, kOk) << timed.err;
    const std::size_t polls = lines(timed.out).size() - 1;
    EXPECT_GE(polls, 2u);
    EXPECT_LE(polls, 10u);  // started at 0, 100, ..., 900 ms at the most
    EXPECT_LT(timed.took, 5s);
}

TEST(DaqclientWatch, ATableOnATerminalIsRedrawnInPlace) {
    const std::string screen = runOnTerminal({bin("daqclient"), "-p", DemoHost::port(), "watch",
                                              "-c", "2", "-l", "50", "--tag", "INTAKE.LEVEL"});
    EXPECT_THAT(screen, HasSubstr("poll 1 at "));
    EXPECT_THAT(screen, HasSubstr("poll 2 at "));
    // Back over the three lines of the first poll (status, header, one row) and cleared.
    EXPECT_THAT(screen, HasSubstr("\x1b[3F\x1b[J"));
    EXPECT_THAT(screen, HasSubstr("INTAKE.LEVEL"));
}

TEST(DaqclientWatch, AFailedPollMakesTheExitCodeNonZero) {
    const ProgramRun run =
        daqclient({"--format", "csv", "watch", "-c", "2", "-l", "50", "0", "999"});
    EXPECT_EQ(run.code, kFailure);
    EXPECT_THAT(run.err, HasSubstr("poll 1: the IO map holds no record 999"));
    EXPECT_THAT(run.err, HasSubstr("2 of 2 polls failed"));
    EXPECT_EQ(lines(run.out).size(), 3u) << "the values that came are still shown";
}

TEST(DaqclientWatch, AStoppedServerIsReportedOnceAndFoundAgainWhenBack) {
    daq::test::HostProcess host;
    ASSERT_TRUE(host.start()) << host.log();
    ::setenv("DAQCLIENT_PASSWORD", "admin", 1);  // logged in: the stop notice comes
    daq::test::BackgroundProgram watch(
        {bin("daqclient"), "-p", std::to_string(host.port()), "-u", "admin", "--format", "csv",
         "watch", "-l", "20", "-c", "80", "0"},
        host.dir() / "watch.txt");
    ::unsetenv("DAQCLIENT_PASSWORD");
    // By then the login is a row of the window's list, which the stop notice goes to.
    ASSERT_TRUE(watch.waitForOutput("\n30,", 10s)) << watch.output();

    ASSERT_TRUE(host.restart()) << host.log();
    ASSERT_TRUE(watch.waitForOutput("polls failed", 20s)) << watch.output();
    EXPECT_EQ(watch.stop(0, 10s), kConnection);
    Lines reports;
    for (const std::string& line : lines(watch.output())) {
        if (line.starts_with("daqclient: ")) {
            reports.push_back(line);
        }
    }
    EXPECT_THAT(reports, ElementsAre(HasSubstr("lost: the server stopped; connecting again"),
                                     HasSubstr("connected again to 127.0.0.1:"),
                                     StartsWith("daqclient: 1 of 80 polls failed")));
}

// A server that cuts every page to 7 entries and answers nothing but a login and "ALIVE" before
// a login.
TEST(DaqclientStrictServer, ListsAreWholeAndAnUnansweredRequestHintsAtTheLogin) {
    daq::test::HostOptions strict;
    strict.configLines = {"MaxPageEntries=7", "RequireLogin=1"};
    daq::test::HostProcess host(strict);
    ASSERT_TRUE(host.start()) << host.log();
    auto run = [&host](Lines args, Lines env) {
        args.insert(args.begin(), {bin("daqclient"), "-p", std::to_string(host.port()), "--format",
                                   "csv", "-t", "300"});
        return runProgram(args, env);
    };
    const struct {
        Lines args;
        std::size_t columns;  // of the CSV header; one row follows per record
        std::size_t rows;
    } kWholeLists[] = {
        {{"tags"}, 8, kDemoTags},
        {{"read", "--tag", "PLANT.MODE"}, 6, 1},  // the last tag
        {{"watch", "-1"}, 2 + 2 * kDemoTags, 1},  // every record
    };
    for (const auto& list : kWholeLists) {
        Lines args{"-u", "admin"};
        args.insert(args.end(), list.args.begin(), list.args.end());
        const ProgramRun listed = run(args, kAdminPassword);
        ASSERT_EQ(listed.code, kOk) << listed.err;
        const Lines out = lines(listed.out);
        ASSERT_EQ(out.size(), list.rows + 1) << listed.out;
        EXPECT_EQ(split(out[0], ',').size(), list.columns) << out[0];
    }

    const ProgramRun anonymous = run({"status"}, {"DAQCLIENT_PASSWORD"});
    EXPECT_EQ(anonymous.code, kNoAnswer);
    EXPECT_THAT(anonymous.err, HasSubstr("log in with -u"));
}

// ---- Failures and their exit codes ----

TEST(DaqclientFails, ConnectionRefused) {
    const std::string closedPort = std::to_string(daq::test::HostProcess::freePort());
    const ProgramRun run = runProgram({bin("daqclient"), "-p", closedPort, "alive"});
    EXPECT_EQ(run.code, kConnection);
    EXPECT_EQ(lines(run.err),
              Lines{"daqclient: connect to 127.0.0.1:" + closedPort + ": Connection refused"});
}

TEST(DaqclientFails, NoAnswerWithinTheTimeOut) {
    const ProgramRun run = daqclient({"-t", "300", "raw", R"({"PS_ID":"IOLIST"})"});
    EXPECT_EQ(run.code, kNoAnswer);
    EXPECT_THAT(run.err, HasSubstr("within 300 ms"));
    EXPECT_GE(run.took, 300ms);
    EXPECT_EQ(lines(run.err).size(), 2u);  // the request's, and how many had no answer
}

TEST(DaqclientFails, LoginRefused) {
    const ProgramRun run = daqclient({"-u", "admin", "status"}, {"DAQCLIENT_PASSWORD=wrong"});
    EXPECT_EQ(run.code, kLogin);
    EXPECT_EQ(lines(run.err), Lines{"daqclient: login refused for user \"admin\""});
    EXPECT_THAT(run.out, IsEmpty());
}

TEST(DaqclientFails, WriteNotPermittedForAViewerOrWithoutLogin) {
    const ProgramRun viewer =
        daqclient({"--format", "csv", "-u", "viewer", "write", "--station", kStation, "5", "X"},
                  {"DAQCLIENT_PASSWORD=viewer"});
    EXPECT_EQ(viewer.code, kNotPermitted);
    EXPECT_EQ(lines(viewer.out), (Lines{"result,code", "FAILED,-2"}));
    EXPECT_THAT(viewer.err, HasSubstr("write not permitted"));

    const ProgramRun anonymous = daqclient({"write", "--station", kStation, "5", "X"});
    EXPECT_EQ(anonymous.code, kNotPermitted);
}

TEST(DaqclientFails, WriteFailedWhenTheUnitsWriterRaises) {
    const ProgramRun run = daqclient({"--format", "csv", "-u", "admin", "write", "--station",
                                      kStation, std::to_string(kRaisingWriter), "12"},
                                     kAdminPassword);
    EXPECT_EQ(run.code, kWriteFailed);
    EXPECT_EQ(lines(run.out), (Lines{"result,code", "FAILED,-1"}));
    EXPECT_THAT(run.err, HasSubstr("write failed"));
}

TEST(DaqclientFails, UsageErrors) {
    const std::vector<Lines> wrong{
        {},                                     // no command
        {"nosuchcommand"},                      //
        {"--format", "xml", "alive"},           //
        {"watch", "-1", "-c", "3"},             // once and a count
        {"watch", "-l", "0"},                   //
        {"write", "--station", kStation, "5"},  // no value
        {"-P", "viewer", "status"},             // a password for no user
        {"--askpass", "status"},                //
    };
    for (const Lines& args : wrong) {
        const ProgramRun run = daqclient(args);
        EXPECT_EQ(run.code, kUsage) << ::testing::PrintToString(args) << run.err;
        EXPECT_THAT(run.out, IsEmpty());
    }
    const ProgramRun noFilter = daqclient({"params"});
    EXPECT_EQ(noFilter.code, kUsage);
    EXPECT_THAT(noFilter.err, HasSubstr("--station"));
}

TEST(DaqclientFails, UnknownNamesAndIndexesAreOneLineErrors) {
    const ProgramRun tag = daqclient({"read", "--tag", "NO.SUCH.TAG"});
    EXPECT_EQ(tag.code, kFailure);
    EXPECT_EQ(lines(tag.err), Lines{"daqclient: unknown tag \"NO.SUCH.TAG\": none of the 45 tags "
                                    "of the IO map has this name"});

    const ProgramRun device = daqclient({"params", "--station", "ST99"});
    EXPECT_EQ(device.code, kFailure);
    EXPECT_THAT(lines(device.err), ElementsAre(HasSubstr("no device matches --station \"ST99\"")));

    const ProgramRun ambiguous =
        daqclient({"params", "--interface", "Serial COM1 - RS-485 Modbus RTU"});
    EXPECT_EQ(ambiguous.code, kFailure);
    EXPECT_THAT(lines(ambiguous.err), ElementsAre(HasSubstr("matches 2 devices")));

    const ProgramRun index = daqclient({"--format", "csv", "read", "0", "999"});
    EXPECT_EQ(index.code, kFailure);
    EXPECT_EQ(lines(index.out).size(), 2u) << "record 0 is still shown";
    EXPECT_EQ(lines(index.err), Lines{"daqclient: the IO map holds no record 999"});

    const ProgramRun detail = daqclient({"params", "--station", kStation, "--detail", "99"});
    EXPECT_EQ(detail.code, kFailure);
    EXPECT_THAT(detail.err, HasSubstr("has no parameter 99"));
}

// ---- Passwords ----

TEST(DaqclientPassword, OnTheCommandLineWarnsFromTheEnvironmentDoesNot) {
    const ProgramRun given = daqclient({"-u", "viewer", "-P", "viewer", "status"});
    EXPECT_EQ(given.code, kOk) << given.err;
    EXPECT_THAT(lines(given.err), ElementsAre(HasSubstr("warning: a password given with -P")));
    EXPECT_THAT(given.err, ::testing::Not(HasSubstr("viewer")));

    const ProgramRun fromEnvironment =
        daqclient({"-u", "viewer", "status"}, {"DAQCLIENT_PASSWORD=viewer"});
    EXPECT_EQ(fromEnvironment.code, kOk);
    EXPECT_THAT(fromEnvironment.err, IsEmpty());
}

TEST(DaqclientPassword, MissingOrUnaskableIsAUsageError) {
    const ProgramRun none = daqclient({"-u", "viewer", "status"});
    EXPECT_EQ(none.code, kUsage);
    EXPECT_THAT(none.err, HasSubstr("DAQCLIENT_PASSWORD"));

    // setsid: no controlling terminal to ask on, even when the test has one.
    const ProgramRun asked = runProgram({"/usr/bin/setsid", "-w", bin("daqclient"), "-p",
                                         DemoHost::port(), "-u", "viewer", "--askpass", "status"});
    EXPECT_EQ(asked.code, kUsage);
    EXPECT_EQ(lines(asked.err), Lines{"daqclient: --askpass needs a terminal to read the "
                                      "password from"});
}

TEST(DaqclientPassword, AskedOnTheTerminalWithoutEcho) {
    const std::string prompt = "Password for admin@127.0.0.1: ";
    const std::string screen = runOnTerminal({bin("daqclient"), "-p", DemoHost::port(), "--format",
                                              "csv", "-u", "admin", "--askpass", "status"},
                                             {"DAQCLIENT_PASSWORD"}, {prompt, "admin\n"});
    const std::size_t asked = screen.find(prompt);
    ASSERT_NE(asked, std::string::npos) << screen;
    const std::string after = screen.substr(asked + prompt.size());
    EXPECT_THAT(after, ::testing::Not(HasSubstr("admin"))) << "the password was echoed";
    EXPECT_THAT(after, HasSubstr("RUNNING")) << "the login was accepted";
}

}  // namespace
