// One client's way through each request family against the plug-in loaded by the stand-in host,
// over real sockets: login, the IO list and its values, the devices, their parameters and a
// parameter write, then the stop notice. The answers' rules are the core tests'; these show the
// host's records reaching clients whole. The host requires a login (RequireLogin=1).
#include <ctime>
#include <regex>
#include <thread>
#include <vector>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

using client::loginRequest;
using client::parameterListCountRequest;
using client::parameterWriteRequest;

constexpr const char* kAccepted = R"({"PS_ID":true,"RESULT":true})";
constexpr const char* kRefused = R"({"PS_ID":true,"RESULT":false})";
// Appears in no request but refused logins: it must never reach a trace or the log.
constexpr const char* kSecretPassword = "Pw-never-traced-7319";
// The value time of a record that no refresh has reached yet.
constexpr const char* kNoTime = "1899.12.30 00:00:00:000";

class Scenario : public SharedHostTest<Scenario> {
  public:
    static HostOptions options() {
        return hostWith(projectFile(R"xml(<project>
    <PROJECT_NAME>Wasserwerk Süd</PROJECT_NAME>
    <COMPANY>Stadtwerke "Nord" &amp; Co</COMPANY>
    <WORKER>Shift B</WORKER>
    <DESCRIPTION>Two pumps, one basin.</DESCRIPTION>
  </project>
  <io-tree><group name="Values">
    <tag name="PI.FIXED" guid="{4B560001-10A2-4C3D-8E51-001F296A00C1}" sig-type="0" rw="2"
         unit="m" description="Pi, two decimals" data-type="5" decimals="2">
      <drive kind="constant" value="3.14159" scan-ms="100"/>
    </tag>
    <tag name="PUMP.STATE" sig-type="1" rw="0" description="Pump state" data-type="3">
      <values><value name="Stopped" value="0"/><value name="Fault" value="2"/></values>
      <drive kind="constant" value="2.9" scan-ms="100"/>
    </tag>
  </group></io-tree>
  <system-tree><interface unit-id="100" description="Field bus">
    <station unit-id="101" name="ST01" device-name="Dosing PLC" model="KV-3200">
      <parameter name="Mode" type="2" item-index="1">
        <items><item>Automatic</item><item>Manual</item></items>
      </parameter>
      <parameter name="Secret" type="1" value="hidden"/>
      <parameter name="Setpoint" type="3" value="2.75" unit=" bar">
        <range min="2.5" max="7.25" decimals="3"/>
      </parameter>
    </station>
    <station unit-id="102" name="ST02" device-name="Writer PLC" model="KV-1000">
      <parameter name="Name" type="0" value="alpha"/>
      <parameter name="Valve" type="2"><items><item>Closed</item><item>Open</item></items></parameter>
      <parameter name="Refuses" type="0" value="kept" writer="raises"/>
    </station>
  </interface></system-tree>)xml"),
                        {"RequireLogin=1"});
    }

  protected:
    static std::unique_ptr<DaqClient> loggedIn(const char* user) {
        auto client = host().connect();
        EXPECT_EQ(ask(*client, loginRequest(user, user)), kAccepted) << user;
        return client;
    }
};

TEST_F(Scenario, LoginOpensTheConnectionToEveryRequest) {
    auto client = host().connect();
    EXPECT_TRUE(answersNothing(*client, client::daqStatusRequest()));
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError, "DAQ Server login required : DAQSTATUS, from 127.0.0.1"),
        kTraceTimeout));
    EXPECT_EQ(ask(*client, loginRequest(kAdmin, "wrong")), kRefused);
    EXPECT_TRUE(answersNothing(*client, client::daqStatusRequest()));
    EXPECT_EQ(ask(*client, loginRequest(kViewer, kViewer)), kAccepted);
    EXPECT_EQ(ask(*client, client::daqStatusRequest()), R"({"PS_ID":true,"STATUS":"RUNNING"})");
    EXPECT_EQ(ask(*client, client::projectInfoRequest()),
              R"({"PS_ID":true,"INFO":{"PROJECT_NAME":"Wasserwerk Süd",)"
              R"("COMPANY":"Stadtwerke \"Nord\" & Co","WORKER":"Shift B",)"
              R"("DESCRIPTION":"Two pumps, one basin."}})");
    // The host runs in this process's time zone: its clock is ours.
    const std::string alive = ask(*client, client::aliveRequest());
    std::tm shown{};
    ASSERT_TRUE(strptime(alive.c_str(), R"({"PS_ID":true,"TIME":"%Y.%m.%d %H:%M.%S)", &shown))
        << alive;
    shown.tm_isdst = -1;
    EXPECT_LE(std::abs(std::difftime(std::mktime(&shown), std::time(nullptr))), 60.0) << alive;
}

TEST_F(Scenario, FifthRefusedLoginIsAnsweredThenClosedAndNoTraceHoldsThePassword) {
    auto client = host().connect();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ask(*client, loginRequest("intruder", kSecretPassword)), kRefused) << i;
    }
    EXPECT_EQ(client->connection().readUntilClosed(kReplyTimeout), "");
    EXPECT_TRUE(host().traces().waitFor(
        traceContains(kTraceError,
                      "DAQ Server closes connection : 5 refused logins, from 127.0.0.1"),
        kTraceTimeout));
    EXPECT_TRUE(host()
                    .traces()
                    .matching([](const TraceLine& line) {
                        return line.text.find(kSecretPassword) != std::string::npos;
                    })
                    .empty());
    EXPECT_EQ(host().process().log().find(kSecretPassword), std::string::npos);
}

TEST_F(Scenario, IoListAndTheValuesOfTheDaqRun) {
    auto client = loggedIn(kViewer);
    EXPECT_EQ(ask(*client, client::daqListCountRequest()), R"({"PS_ID":true,"COUNT":"2"})");
    EXPECT_EQ(ask(*client, client::daqListRequest(0, 2)),
              R"({"PS_ID":true,"LIST":[{"INDEX":"0","TAGNAME":"PI.FIXED","SIG_TYPE":"0","RW":"2",)"
              R"("UNIT":"m","GUID":"{4B560001-10A2-4C3D-8E51-001F296A00C1}",)"
              R"("DESCRIPTION":"Pi, two decimals","LISTCOUNT":"0"},{"INDEX":"1",)"
              R"("TAGNAME":"PUMP.STATE","SIG_TYPE":"1","RW":"0","UNIT":"","GUID":"",)"
              R"("DESCRIPTION":"Pump state","LISTCOUNT":"2","LISTVALUE":[)"
              R"({"VALUENAME":"Stopped","VALUE":0},{"VALUENAME":"Fault","VALUE":2}]}]})");
    // The values reach clients once the run's refresh has copied them.
    const std::vector<int> both{1, 0};
    std::string data;
    for (int poll = 0; poll < 100; ++poll) {
        data = ask(*client, client::daqDataRequest(both));
        if (data.find(kNoTime) == std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    static const std::regex kTime(R"("TIME":"\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3}")");
    EXPECT_EQ(data.find(kNoTime), std::string::npos) << data;
    EXPECT_EQ(std::regex_replace(data, kTime, R"("TIME":"")"),
              R"({"PS_ID":true,"LIST":[{"INDEX":"1","GUID":"","DATA":"Fault","UNIT":"",)"
              R"("TYPE":3,"TIME":""},{"INDEX":"0","GUID":"{4B560001-10A2-4C3D-8E51-001F296A00C1}",)"
              R"("DATA":"3.14","UNIT":"m","TYPE":5,"TIME":""}]})");
}

TEST_F(Scenario, DevicesAndTheParametersOfOne) {
    auto client = loggedIn(kViewer);
    EXPECT_EQ(ask(*client, client::deviceListRequest()),
              R"({"PS_ID":true,"LIST":[{"INTERFACE":"Field bus","DEVICENAME":"Dosing PLC",)"
              R"("MODELNAME":"KV-3200","STATION":"ST01","CONNECTSTATE":"1"},)"
              R"({"INTERFACE":"Field bus","DEVICENAME":"Writer PLC","MODELNAME":"KV-1000",)"
              R"("STATION":"ST02","CONNECTSTATE":"1"}]})");
    EXPECT_EQ(ask(*client, parameterListCountRequest("Field bus", "Dosing PLC", "ST01")),
              R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"COUNT":3})");
    EXPECT_EQ(ask(*client, client::parameterListRequest(0, 3)),
              R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"LIST":[{"PARAMNAME":true,)"
              R"("PROPTYPE":2,"VALUE":"Manual","ENABLE":true,"PARAMETERTYPE":true,)"
              R"("PARAMINDEX":"0"},{"PARAMNAME":true,"PROPTYPE":3,"VALUE":"2.75 bar",)"
              R"("ENABLE":true,"PARAMETERTYPE":true,"PARAMINDEX":"2"}]})");
    EXPECT_EQ(ask(*client, client::parameterDetailRequest(0)),
              R"({"PS_ID":true,"PARAMNAME":true,"PROPTYPE":2,"ISGROUP":true,"VALUE":1,)"
              R"("PARAMITEM":[{"VALUE":"0","TEXT":"Automatic"},{"VALUE":"1","TEXT":"Manual"}]})");
    EXPECT_EQ(ask(*client, client::parameterDetailRequest(2)),
              R"({"PS_ID":true,"PARAMNAME":true,"PROPTYPE":3,"ISGROUP":true,)"
              R"("MINRANGE":"2.500","MAXRANGE":"7.250","VALUE":true})");
}

TEST_F(Scenario, ParameterWriteReachesTheUnitForAWriterOnly) {
    const std::string ok = R"({"PS_ID":true,"RESULT":"OK","RESULT":"0"})";
    auto admin = loggedIn(kAdmin);
    auto viewer = loggedIn(kViewer);
    for (auto* client : {admin.get(), viewer.get()}) {
        ASSERT_NE(ask(*client, parameterListCountRequest("Field bus", "Writer PLC", "ST02")), "")
            << "select";
    }
    EXPECT_EQ(ask(*admin, parameterWriteRequest(0, 0, "beta")), ok);
    EXPECT_EQ(ask(*admin, parameterWriteRequest(0, 1, "1")), ok);
    EXPECT_TRUE(tracedBy(host().traces(),
                         traceContains(kTraceError, "TCP/IP DAQ Server Parameter Write error : "),
                         [&] {
                             EXPECT_EQ(ask(*admin, parameterWriteRequest(0, 2, "new")),
                                       R"({"PS_ID":true,"RESULT":"FAILED","RESULT":"-1"})");
                         }));
    EXPECT_EQ(ask(*viewer, parameterWriteRequest(0, 0, "by viewer")),
              R"({"PS_ID":true,"RESULT":"FAILED","RESULT":"-2"})");
    const std::string shown = ask(*viewer, client::parameterListRequest(0, 3));
    static const std::regex kValues(R"re("VALUE":"([^"]*)")re");
    std::vector<std::string> values;
    for (auto it = std::sregex_iterator(shown.begin(), shown.end(), kValues);
         it != std::sregex_iterator(); ++it) {
        values.push_back((*it)[1]);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"beta", "Open", "kept"})) << shown;
}

// Last: it stops the host. The notice reaches a connection once however often it logged in.
TEST_F(Scenario, StopNoticeGoesUnframedToEachLoggedInConnectionOnly) {
    auto twice = loggedIn(kAdmin);
    EXPECT_EQ(ask(*twice, loginRequest(kViewer, kViewer)), kAccepted);
    auto anonymous = host().connect();
    auto refused = host().connect();
    EXPECT_EQ(ask(*refused, loginRequest(kAdmin, "wrong")), kRefused);
    loggedIn(kViewer)->close();  // a login whose connection leaves before the stop

    // The host must end cleanly: a row booked twice would bring it down on the way out.
    ASSERT_TRUE(host().stop());
    EXPECT_EQ(twice->connection().readUntilClosed(kReplyTimeout), R"({"PS_ID":true})");
    EXPECT_EQ(anonymous->connection().readUntilClosed(kReplyTimeout), "");
    EXPECT_EQ(refused->connection().readUntilClosed(kReplyTimeout), "");
}

}  // namespace
}  // namespace daq::test
