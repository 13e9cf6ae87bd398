// daqclient as a user runs it: shell lines against one stand-in host with its demo project, each
// command family's output in the formats, the exit code of each kind of failure, watch on a
// terminal and across a server restart, the password asked on the terminal, and TLS against
// hosts with good and faulty certificates.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/HostProcess.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsHost.h"

namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::StrEq;

const std::string kClient = std::string(DAQ_BIN_DIR) + "/daqclient";

// The server's time stamps of values, and daqclient's own of polls (ISO 8601 with the offset).
const std::string kValueTime = R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3})";
const std::string kPollTime = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)";

// The whole text matches the regular expression.
MATCHER_P(Shows, pattern, "matches " + std::string(pattern)) {
    return std::regex_match(arg, std::regex(pattern));
}

// One host with the demo project for the whole program.
class DemoHost : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(host.start()) << host.log(); }
    void TearDown() override { host.stop(); }

    // Lists come in pages of 7 entries: what daqclient shows is put together from several.
    static inline daq::test::HostProcess host{{.configLines = {"MaxPageEntries=7"}}};
};

[[maybe_unused]] const auto* const kHost = ::testing::AddGlobalTestEnvironment(new DemoHost);

// A shell line as a user types it: `daqclient` runs the program against the host; $client is
// the program, $port the host's port and $closed a port where nothing listens. `more` sets more
// variables and functions.
daq::test::ProgramRun shell(const std::string& line, const std::string& more = {}) {
    const std::string prelude = "client=" + kClient +
                                " port=" + std::to_string(DemoHost::host.port()) +
                                " closed=" + std::to_string(daq::test::HostProcess::freePort()) +
                                "\ndaqclient() { \"$client\" -p \"$port\" \"$@\"; }\n" + more;
    return daq::test::runProgram({"/bin/bash", "-c", prelude + line}, {"DAQCLIENT_PASSWORD"});
}

struct Typed {
    std::string line;
    int code;
    ::testing::Matcher<const std::string&> out;
    ::testing::Matcher<const std::string&> err = IsEmpty();
};

void expectRuns(std::span<const Typed> lines, const std::string& more = {}) {
    for (const Typed& typed : lines) {
        SCOPED_TRACE(typed.line);
        const daq::test::ProgramRun run = shell(typed.line, more);
        EXPECT_EQ(run.code, typed.code) << run.err;
        EXPECT_THAT(run.out, typed.out);
        EXPECT_THAT(run.err, typed.err);
    }
}

TEST(Daqclient, ShowsWhatTheServerHoldsInEachFormat) {
    const std::string watched = "poll,time,INTAKE\\.LEVEL,INTAKE\\.LEVEL time";
    const std::string level = "-?\\d+\\.\\d\\d," + kValueTime;
    const Typed lines[] = {
        // A field with commas is quoted.
        {"daqclient --format csv info", 0,
         StrEq("project,company,worker,description\nRiverside Water Works,Northbank Municipal "
               "Water,Operations shift A,\"Demonstration plant: intake, filtration, chemical "
               "dosing and distribution of a small water works.\"\n")},
        {"daqclient --format json alive", 0,
         Shows(
             R"(\{"time":"\d{4}\.\d\d\.\d\d \d\d:\d\d\.\d\d\.\d{3}","round_trip_ms":[\d.]+\}\n)")},
        {"daqclient --format csv latency -c 5", 0,
         Shows(R"(round_trips,min_ms,median_ms,p99_ms,max_ms\n5(,\d+\.\d{3}){4}\n)")},
        // Columns start where their names start; no blank ends a line.
        {"daqclient --format table tags --start 43", 0,
         StrEq("index  tag         sig_type  rw  unit  guid                                    "
               "description        values\n"
               "43     LAST.ALARM  2         0         {4B56002C-10A2-4C3D-8E51-001F296A002C}  "
               "Most recent alarm\n"
               "44     PLANT.MODE  1         2         {4B56002D-10A2-4C3D-8E51-001F296A002D}  "
               "Plant mode         0=Automatic; 1=Manual; 2=Maintenance\n")},
        // By index and by the name of the last tag, which only the last page lists.
        {"daqclient --format csv read 6 --tag PLANT.MODE", 0,
         Shows("index,tag,data,unit,type,time\n6,P101\\.SPEED,-?\\d+,%,5," + kValueTime +
               "\n44,PLANT\\.MODE,[A-Za-z]+,,3," + kValueTime + "\n")},
        {"daqclient --format table devices", 0,
         Shows(R"(interface {2,}device {2,}model {2,}station  connect_state\n)"
               R"(([^\n]+ {2}ST\d\d {5}[01]\n){5})")},
        // The hidden parameter 1 is left out.
        {"daqclient --format csv params --device 'Intake PLC'", 0,
         StartsWith("index,type,value,enabled\n0,0,1,yes\n2,2,Automatic,yes\n")},
        // JSON numbers and booleans where the server's value is one.
        {"daqclient --format json params --station ST01 --detail 3", 0,
         StrEq(R"({"index":3,"type":3,"min":0.50,"max":3.50,"value":true,"items":""})"
               "\n")},
        {"DAQCLIENT_PASSWORD=admin daqclient --format csv -u admin write --station ST01 5 1e400", 0,
         StrEq("result,code\nOK,0\n")},
        // A text JSON would read as infinity stays a text.
        {"daqclient --format json params --station ST01", 0,
         HasSubstr(R"({"index":5,"type":5,"value":"1e400","enabled":true})")},
        {R"(daqclient raw '{"PS_ID":"DAQSTATUS"}' '{"PS_ID":"ALIVE"}')", 0,
         Shows(R"(\{"PS_ID":true,"STATUS":"RUNNING"\}\n\{"PS_ID":true,"TIME":"[^"]+"\}\n)")},
        // From standard input, one request per line; CR LF ends one too, an empty line is
        // skipped.
        {R"(printf '{"PS_ID":"DAQSTATUS"}\r\n\n{"PS_ID":"DAQSTATUS"}' | daqclient raw -)", 0,
         StrEq(
             "{\"PS_ID\":true,\"STATUS\":\"RUNNING\"}\n{\"PS_ID\":true,\"STATUS\":\"RUNNING\"}\n")},
        {"daqclient --format csv watch -c 3 -l 10 0 5", 0,
         Shows(watched + ",P101\\.STATE,P101\\.STATE time\n([123]," + kPollTime + "," + level +
               ",(Stopped|Running|Fault)," + kValueTime + "\n){3}")},
        // For 50 ms: polls at 0, 10, ... 50 ms at the most.
        {"daqclient --format csv watch -W 0.05 -l 10 0", 0,
         Shows(watched + "\n([1-6]," + kPollTime + "," + level + "\n){1,6}")},
        {"daqclient --format json watch -1 --tag P101.SPEED", 0,
         Shows(R"(\{"poll":1,"time":")" + kPollTime + R"(","P101\.SPEED":-?\d+,"P101\.SPEED )" +
               R"(time":")" + kValueTime + "\"\\}\n")},
        // Every record: a value and its time each.
        {"daqclient --format csv watch -1", 0, Shows("poll,time(,[^,\n]+){90}\n1,[^\n]+\n")},
    };
    expectRuns(lines);
}

TEST(Daqclient, FailsWithTheDocumentedExitCodes) {
    const Typed lines[] = {
        {"daqclient read --tag NO.SUCH.TAG", 1, IsEmpty(),
         StrEq("daqclient: unknown tag \"NO.SUCH.TAG\": none of the 45 tags of the IO map has "
               "this name\n")},
        {"daqclient params --station ST99", 1, IsEmpty(),
         HasSubstr("no device matches --station \"ST99\"")},
        {"daqclient params --interface 'Serial COM1 - RS-485 Modbus RTU'", 1, IsEmpty(),
         HasSubstr("matches 2 devices")},
        {"daqclient params --station ST01 --detail 99", 1, IsEmpty(),
         HasSubstr("has no parameter 99")},
        // The records that came are still shown.
        {"daqclient --format csv read 0 999", 1,
         Shows("index,tag,data,unit,type,time\n0,INTAKE\\.LEVEL,[^\n]+\n"),
         StrEq("daqclient: the IO map holds no record 999\n")},
        {"daqclient --format csv watch -c 2 -l 10 0 999", 1,
         Shows("poll,time,INTAKE[^\n]+\n(\\d,[^\n]+\n){2}"),
         AllOf(HasSubstr("poll 1: the IO map holds no record 999"),
               HasSubstr("2 of 2 polls failed"))},
        {"daqclient", 2, IsEmpty(), HasSubstr("A subcommand is required")},
        {"daqclient params", 2, IsEmpty(), HasSubstr("--station")},
        {"daqclient -u viewer status", 2, IsEmpty(), HasSubstr("DAQCLIENT_PASSWORD")},
        // setsid: no controlling terminal to ask on, even when the test has one.
        {"setsid -w \"$client\" -p $port -u viewer --askpass status", 2, IsEmpty(),
         StrEq("daqclient: --askpass needs a terminal to read the password from\n")},
        {"\"$client\" -p $closed alive", 3, IsEmpty(),
         Shows(R"(daqclient: connect to 127\.0\.0\.1:\d+: Connection refused\n)")},
        // The second request is still sent and answered.
        {R"(daqclient -t 100 raw '{"PS_ID":"IOLIST"}' '{"PS_ID":"DAQSTATUS"}')", 4,
         StrEq("{\"PS_ID\":true,\"STATUS\":\"RUNNING\"}\n"),
         AllOf(HasSubstr("within 100 ms"), HasSubstr("log in with -u"),
               HasSubstr("daqclient: 1 of 2 requests got no answer"))},
        {"DAQCLIENT_PASSWORD=wrong daqclient -u admin status", 5, IsEmpty(),
         StrEq("daqclient: login refused for user \"admin\"\n")},
        {"DAQCLIENT_PASSWORD=viewer daqclient --format csv -u viewer write --station ST01 5 X", 6,
         StrEq("result,code\nFAILED,-2\n"), HasSubstr("write not permitted")},
        // ST01's parameter 16 ("Backwash interval"): its unit's writer raises.
        {"DAQCLIENT_PASSWORD=admin daqclient --format csv -u admin write --station ST01 16 12", 7,
         StrEq("result,code\nFAILED,-1\n"), HasSubstr("write failed")},
        // A password on the command line works, with a warning that does not repeat it.
        {"daqclient -u viewer -P viewer status", 0, StrEq("status\nRUNNING\n"),
         AllOf(StartsWith("daqclient: warning: a password given with -P"),
               Not(HasSubstr("viewer")))},
    };
    expectRuns(lines);
}

TEST(Daqclient, RedrawsWatchOnATerminalAndAsksThePasswordWithoutEcho) {
    const std::string port = std::to_string(DemoHost::host.port());
    const std::string screen = daq::test::runOnTerminal(
        {kClient, "-p", port, "watch", "-c", "2", "-l", "10", "--tag", "INTAKE.LEVEL"});
    EXPECT_THAT(screen,
                AllOf(HasSubstr("poll 1 at "), HasSubstr("poll 2 at "), HasSubstr("INTAKE.LEVEL")));
    // Back over the three lines of the first poll (status, header, one row) and cleared.
    EXPECT_THAT(screen, HasSubstr("\x1b[3F\x1b[J"));

    const std::string prompt = "Password for admin@127.0.0.1: ";
    const std::string asked =
        daq::test::runOnTerminal({kClient, "-p", port, "-u", "admin", "--askpass", "status"},
                                 {"DAQCLIENT_PASSWORD"}, {prompt, "admin\n"});
    ASSERT_THAT(asked, HasSubstr(prompt));
    const std::string after = asked.substr(asked.find(prompt) + prompt.size());
    EXPECT_THAT(after, Not(HasSubstr("admin"))) << "the password was echoed";
    EXPECT_THAT(after, HasSubstr("RUNNING")) << "the login was accepted";
}

TEST(Daqclient, WatchReportsAStoppedServerOnceAndFindsItAgain) {
    daq::test::HostProcess host;
    ASSERT_TRUE(host.start()) << host.log();
    daq::test::Program watch({kClient, "-p", std::to_string(host.port()), "-u", "admin", "--format",
                              "csv", "watch", "-l", "20", "-c", "1000", "0"},
                             {"DAQCLIENT_PASSWORD=admin"});
    // Logged in and listed in the window: the stop notice goes to the listed logins.
    ASSERT_TRUE(host.waitForLog("user \"admin\" from 127.0.0.1: Logged in")) << host.log();
    ASSERT_TRUE(host.restart()) << host.log();
    EXPECT_TRUE(watch.waitForOutput("connected again", 10s)) << watch.err();
    watch.stop();
    EXPECT_THAT(watch.err(),
                Shows("daqclient: poll \\d+: connection to 127\\.0\\.0\\.1:\\d+ lost: the "
                      "server stopped; connecting again[^\n]*\n"
                      "daqclient: connected again to 127\\.0\\.0\\.1:\\d+[^\n]*\n"));
}

// ---- TLS ----

using Server = daq::test::TestCertificates::Server;

// The test certificates, made once for the program.
const daq::test::TestCertificates& certificates() {
    static const daq::test::TempDir dir;
    static const daq::test::TestCertificates made(dir.path());
    return made;
}

// A host serving TLS with the server certificate `kind`, and the shell variables of a line
// against it: $tls its TLS port, $ca, $otherca, $cert, $key the files; `tlsclient` is daqclient
// with TLS to that port, verified against the test CA.
struct TlsHost {
    TlsHost(Server kind, const std::string& clientCerts)
        : tlsPort(daq::test::HostProcess::freePort()),
          host({.configLines =
                    daq::test::tlsConfigLines(certificates(), kind, tlsPort, clientCerts)}) {}

    std::string shellVariables() const {
        const auto& files = certificates();
        return "tls=" + std::to_string(tlsPort) + " ca=" + files.caFile() +
               " otherca=" + files.otherCaFile() + " cert=" + files.clientCert() +
               " key=" + files.clientKey() + " keys=" + keyLog.file("keys.log") +
               "\ntlsclient() { \"$client\" --tls -p \"$tls\" --cafile \"$ca\" \"$@\"; }\n";
    }

    std::uint16_t tlsPort;
    daq::test::HostProcess host;
    daq::test::TempDir keyLog;
};

const std::string kInsecureWarning = "daqclient: warning: --insecure";

TEST(DaqclientTls, AnswersLikePlainToAVerifiedServerThatRequiresACertificate) {
    TlsHost tls(Server::Valid, "required");
    ASSERT_TRUE(tls.host.start()) << tls.host.log();
    const Typed lines[] = {
        // Verified against 127.0.0.1 (the default host) and against localhost.
        {"tlsclient --cert \"$cert\" --key \"$key\" --format csv read --tag PLANT.MODE", 0,
         Shows("index,tag,data,unit,type,time\n44,PLANT\\.MODE,[A-Za-z]+,,3," + kValueTime + "\n")},
        {"tlsclient --cert \"$cert\" --key \"$key\" -h localhost --format csv status", 0,
         StrEq("status\nRUNNING\n")},
        // The session's secrets for Wireshark, in the NSS key log format.
        {"SSLKEYLOGFILE=$keys tlsclient --cert \"$cert\" --key \"$key\" alive >/dev/null && "
         "grep -c '^CLIENT_TRAFFIC_SECRET_0 ' $keys",
         0, StrEq("1\n")},
        {"tlsclient alive", 3, IsEmpty(),
         HasSubstr("the server asked for a client certificate and none was given")},
        {"\"$client\" --tls -p $tls --cafile \"$otherca\" alive", 8, IsEmpty(),
         Shows("daqclient: certificate of 127\\.0\\.0\\.1:\\d+ refused: self-signed "
               "certificate in certificate chain\n")},
        {"tlsclient --cert \"$cert\" alive", 2, IsEmpty(), HasSubstr("--cert requires --key")},
        {"daqclient --cafile \"$ca\" alive", 2, IsEmpty(), HasSubstr("--cafile requires --tls")},
    };
    expectRuns(lines, tls.shellVariables());
}

// Each faulty certificate is refused with OpenSSL's reason, and accepted with --insecure, which
// warns.
TEST(DaqclientTls, RefusesFaultyCertificatesUnlessInsecure) {
    const struct {
        Server kind;
        std::vector<std::pair<std::string, std::string>> refusals;  // host, reason
    } faults[] = {
        {Server::Expired, {{"127.0.0.1", "certificate has expired"}}},
        {Server::NotYetValid, {{"127.0.0.1", "certificate is not yet valid"}}},
        // The name in the certificate is other.example.
        {Server::OtherHost,
         {{"127.0.0.1", "IP address mismatch"}, {"localhost", "hostname mismatch"}}},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(static_cast<int>(fault.kind));
        TlsHost tls(fault.kind, "off");
        ASSERT_TRUE(tls.host.start()) << tls.host.log();
        std::vector<Typed> lines{{"tlsclient --insecure --format csv status", 0,
                                  StrEq("status\nRUNNING\n"), StartsWith(kInsecureWarning)}};
        for (const auto& [host, reason] : fault.refusals) {
            lines.push_back({"tlsclient -h " + host + " alive", 8, IsEmpty(),
                             HasSubstr("refused: " + reason + "\n")});
        }
        expectRuns(lines, tls.shellVariables());
    }
}

}  // namespace
