// Login, keep-alive, project information, the user rows and events handed to the window, the
// disconnect walk and the stop notice.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "host/core/SystemRecords.h"
#include "tests/unit/CoreFixture.h"

namespace core_test {
namespace {

using daq::WindowTimer;

std::string loginRequest(const std::string& id, const std::string& password) {
    return R"({"PS_ID":"LOGIN","CLIENT_TYPE":"1","ID":")" + id + R"(","PW":")" + password +
           R"(","DEVICE":{"OS":"Android","VERSION":"14","MODEL NAME":"Pad 7","LOCATION":"Hall 2"}})";
}

const std::string kAccepted = R"({"PS_ID":true,"RESULT":true})";
const std::string kRefused = R"({"PS_ID":true,"RESULT":false})";

class CoreSession : public ::testing::Test {
  protected:
    CoreSession() { harness.installLogin(); }

    // The window's user-update tick: the records that became rows.
    void showLogins() {
        for (auto& record : harness.core().takeLogins()) {
            rows.push_back(std::move(record));
        }
    }

    CoreHarness harness;
    std::vector<std::unique_ptr<daq::_TLinkTSData>> rows;
};

TEST_F(CoreSession, AcceptedLoginQueuesRowEventAndPopup) {
    auto client = harness.connect("192.168.1.20");
    EXPECT_EQ(harness.request(client, loginRequest("admin", "admin")), kAccepted);

    auto logins = harness.core().takeLogins();
    ASSERT_EQ(logins.size(), 1u);
    const daq::_TLinkTSData& record = *logins[0];
    EXPECT_EQ(record.ID, "admin");
    EXPECT_EQ(record.OS, "Android");
    EXPECT_EQ(record.OSVersion, "14");
    EXPECT_EQ(record.ModelName, "Pad 7");
    EXPECT_EQ(record.Location, "Hall 2");
    EXPECT_EQ(record.PeerAddress, "192.168.1.20");
    EXPECT_EQ(record.ConnectionId, client->id());
    EXPECT_GT(record.LoginTime, 40000.0);

    const auto events = harness.core().takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].EventType, daq::etLogin);
    EXPECT_EQ(events[0].ID, "admin");
    EXPECT_EQ(events[0].IP, "192.168.1.20");
    EXPECT_EQ(events[0].Time, record.LoginTime);
    const auto popups = harness.core().takePopups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, daq::PopupRequest::Kind::Login);
    EXPECT_EQ(popups[0].IP, "192.168.1.20");

    EXPECT_EQ(harness.timers().starts(WindowTimer::UserUpdate), 1);
    EXPECT_EQ(harness.timers().starts(WindowTimer::EventMsg), 1);
    EXPECT_EQ(harness.timers().starts(WindowTimer::PopupMsg), 1);
}

TEST_F(CoreSession, RefusedLoginAnswersFalseQueuesLoginFailAndKeepsTheConnection) {
    TraceCapture traces;
    auto client = harness.connect("192.168.1.21");
    EXPECT_EQ(harness.request(client, loginRequest("admin", "wrong")), kRefused);
    EXPECT_EQ(harness.request(client, loginRequest("nobody", "x")), kRefused);

    EXPECT_TRUE(harness.core().takeLogins().empty());
    EXPECT_TRUE(harness.core().takePopups().empty());
    const auto events = harness.core().takeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].EventType, daq::etOther);
    EXPECT_EQ(events[0].Text, "Login Fail");
    EXPECT_EQ(events[0].ID, "admin");
    EXPECT_EQ(events[0].IP, "192.168.1.21");
    const auto lines = traces.take();
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "LOGIN FAIL : admin"));
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "LOGIN FAIL : nobody"));
    for (const TraceLine& line : lines) {
        EXPECT_EQ(line.text.find("wrong"), std::string::npos) << "password in a trace";
    }
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQSTATUS"})"),
              R"({"PS_ID":true,"STATUS":"RUNNING"})");
}

TEST_F(CoreSession, CredentialsHoldingAZeroAreRefused) {
    auto client = harness.connect();
    const std::pair<const char*, const char*> credentials[] = {
        {"admin", "admin\\u0000xyz"}, {"admin\\u0000xyz", "admin"}, {"admin\\u0000", "admin"}};
    for (const auto& [id, password] : credentials) {
        EXPECT_EQ(harness.request(client, loginRequest(id, password)), kRefused) << id;
    }
    EXPECT_TRUE(harness.core().takeLogins().empty());
}

TEST_F(CoreSession, LoginWithoutTheHostsCallbackIsRefused) {
    CoreHarness bare;
    auto client = bare.connect();
    EXPECT_EQ(bare.request(client, loginRequest("admin", "admin")), kRefused);
}

TEST_F(CoreSession, FlatDeviceMembersAreNotTheNestedOnes) {
    auto client = harness.connect();
    EXPECT_EQ(
        harness.request(client, R"({"PS_ID":"LOGIN","ID":"admin","PW":"admin","DEVICE.OS":"X"})"),
        kAccepted);
    const auto logins = harness.core().takeLogins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0]->OS, "");
}

TEST_F(CoreSession, AliveHasExactlyTwoMembersAndTheColonOnlyAfterTheHour) {
    auto client = harness.connect();
    const auto answer = harness.request(client, R"({"PS_ID":"ALIVE"})");
    ASSERT_TRUE(answer);
    EXPECT_TRUE(std::regex_match(
        *answer,
        std::regex(R"(\{"PS_ID":true,"TIME":"\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}\.\d{2}\.\d{3}"\})")))
        << *answer;
}

TEST_F(CoreSession, ProjectInfoNeedsTheHostsProjectRecord) {
    TraceCapture traces;
    auto client = harness.connect();
    EXPECT_FALSE(harness.request(client, R"({"PS_ID":"PROJECTINFO"})"));
    EXPECT_TRUE(TraceCapture::contains(traces.take(), 2, "TCP Server Error : PROJECTINFO, "));

    const std::u16string name = u"Plant \u00e9", company = u"ACME", worker = u"W", text = u"D\"q";
    const kelvane::TProjectRecord project{name.c_str(), company.c_str(), worker.c_str(),
                                          text.c_str()};
    harness.core().setProject(&project);
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"PROJECTINFO"})"),
              "{\"PS_ID\":true,\"INFO\":{\"PROJECT_NAME\":\"Plant \xC3\xA9\",\"COMPANY\":\"ACME\","
              "\"WORKER\":\"W\",\"DESCRIPTION\":\"D\\\"q\"}}");
    harness.core().setProject(nullptr);
}

TEST_F(CoreSession, TwoLoginsOnOneConnectionMakeTwoRowsAndItsCloseRemovesBoth) {
    auto client = harness.connect("10.0.0.5");
    harness.request(client, loginRequest("admin", "admin"));
    harness.request(client, loginRequest("viewer", "viewer"));
    showLogins();
    ASSERT_EQ(rows.size(), 2u);
    harness.core().takeEvents();
    harness.core().takePopups();

    harness.disconnect(client);
    EXPECT_EQ(harness.core().takeLogouts(),
              (std::vector<const daq::_TLinkTSData*>{rows[0].get(), rows[1].get()}));
    const auto events = harness.core().takeEvents();
    ASSERT_EQ(events.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(events[i].EventType, daq::etLogout);
        EXPECT_EQ(events[i].ID, rows[i]->ID);
        EXPECT_EQ(events[i].IP, "10.0.0.5");
    }
    const auto popups = harness.core().takePopups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, daq::PopupRequest::Kind::Logout);
    EXPECT_EQ(popups[0].ID, "viewer");
    EXPECT_EQ(harness.timers().starts(WindowTimer::LogoutUser), 1);
    EXPECT_EQ(harness.core().clientCount(), 0u);
}

// Connections that log in twice: the stop notice reaches each once, and so does it a login not
// shown yet; when they close, every row they added leaves, each with its logout event.
TEST_F(CoreSession, MultiLoginConnectionsGetOneStopNoticeEachAndLeaveNoRow) {
    std::vector<std::shared_ptr<MemoryConnection>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(harness.connect("10.0.1." + std::to_string(i)));
        harness.request(clients.back(), loginRequest("viewer", "viewer"));
        harness.request(clients.back(), loginRequest("admin", "admin"));
    }
    showLogins();
    clients.push_back(harness.connect("10.0.1.9"));
    harness.request(clients.back(), loginRequest("admin", "admin"));  // not shown yet

    harness.core().notifyServerStop();
    for (const auto& client : clients) {
        EXPECT_EQ(client->takeWrites(), std::vector<std::string>{R"({"PS_ID":true})"});
    }

    for (const auto& client : clients) {
        harness.disconnect(client);
    }
    showLogins();
    for (const daq::_TLinkTSData* gone : harness.core().takeLogouts()) {
        std::erase_if(rows, [&](const auto& row) { return row.get() == gone; });
    }
    EXPECT_TRUE(rows.empty());
    const auto events = harness.core().takeEvents();
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const auto& event) { return event.EventType == daq::etLogout; }),
              7);
    EXPECT_EQ(events.size(), 14u);
}

TEST_F(CoreSession, ThreeClientsClosingWithinOneTickLeaveOnceEach) {
    std::vector<std::shared_ptr<MemoryConnection>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(harness.connect("10.0.0." + std::to_string(10 + i)));
        harness.request(clients.back(), loginRequest("admin", "admin"));
    }
    showLogins();
    for (const auto& client : clients) {
        harness.disconnect(client);
    }
    const auto logouts = harness.core().takeLogouts();
    ASSERT_EQ(logouts.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(logouts[i], rows[i].get());
    }
    EXPECT_TRUE(harness.core().takeLogouts().empty());
}

TEST_F(CoreSession, ConnectionWithoutLoginBooksNothing) {
    auto quiet = harness.connect();
    harness.disconnect(quiet);
    EXPECT_TRUE(harness.core().takeEvents().empty());
    EXPECT_TRUE(harness.core().takePopups().empty());
    EXPECT_EQ(harness.core().clientCount(), 0u);
}

TEST_F(CoreSession, CloseBeforeTheRowIsShownTakesTheWaitingLoginsAlong) {
    auto shown = harness.connect();
    harness.request(shown, loginRequest("viewer", "viewer"));
    showLogins();
    auto early = harness.connect();
    harness.request(early, loginRequest("admin", "admin"));
    harness.request(shown, loginRequest("admin", "admin"));  // newer than its shown row
    harness.core().takeEvents();
    harness.core().takePopups();

    harness.disconnect(early);
    EXPECT_TRUE(harness.core().takeLogouts().empty());
    EXPECT_EQ(harness.timers().starts(WindowTimer::LogoutUser), 0);
    harness.disconnect(shown);  // its waiting login goes, and its shown row
    const auto events = harness.core().takeEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].ID, "admin");
    EXPECT_EQ(events[1].ID, "viewer");
    EXPECT_EQ(events[2].ID, "admin");
    for (const auto& event : events) {
        EXPECT_EQ(event.EventType, daq::etLogout);
    }
    EXPECT_EQ(harness.core().takePopups().size(), 2u);
    EXPECT_EQ(harness.core().takeLogouts(), std::vector<const daq::_TLinkTSData*>{rows[0].get()});
    showLogins();
    EXPECT_EQ(rows.size(), 1u);  // no row appears after the closes
}

TEST_F(CoreSession, DisconnectsWhileStoppingBookNothing) {
    auto client = harness.connect();
    harness.request(client, loginRequest("admin", "admin"));
    showLogins();
    harness.core().takeEvents();
    harness.core().takePopups();
    harness.core().setStopping(true);
    harness.disconnect(client);
    EXPECT_TRUE(harness.core().takeLogouts().empty());
    EXPECT_TRUE(harness.core().takeEvents().empty());
    EXPECT_TRUE(harness.core().takePopups().empty());
    EXPECT_EQ(harness.core().clientCount(), 0u);
}

TEST_F(CoreSession, StopNoticeGoesUnframedToEveryLoggedInConnection) {
    auto first = harness.connect("10.0.0.1");
    auto second = harness.connect("10.0.0.2");
    auto anonymous = harness.connect("10.0.0.3");
    harness.request(first, loginRequest("admin", "admin"));
    harness.request(second, loginRequest("viewer", "viewer"));
    showLogins();
    harness.core().notifyServerStop();
    EXPECT_EQ(first->takeWrites(), std::vector<std::string>{R"({"PS_ID":true})"});
    EXPECT_EQ(second->takeWrites(), std::vector<std::string>{R"({"PS_ID":true})"});
    EXPECT_TRUE(anonymous->takeWrites().empty());

    harness.core().clearClients();
    harness.core().rowsCleared();
    harness.core().notifyServerStop();
    EXPECT_TRUE(first->takeWrites().empty());
}

TEST_F(CoreSession, WritePermissionBelongsToTheConnectionThatLoggedIn) {
    // A unit with one text parameter, selected by both connections.
    host::UnitSpec unit;
    unit.stationName = "ST1";
    unit.deviceName = "PLC";
    unit.info = "Model";
    unit.pinKind = 2;
    unit.parameters.push_back(textParameter("P0", 0, "1"));
    const std::vector<host::UnitSpec> tree{unit};
    host::SystemRecords system(tree);
    harness.core().setSystemTree(&system.tree());
    harness.core().rebuildDeviceList();

    const std::string select =
        R"({"PS_ID":"PARAMETERLISTCOUNT","INTERFACE":"","DEVICENAME":"PLC","STATION":"ST1"})";
    const std::string write = R"({"PS_ID":"PARAMETERWRITE","PARAMINDEX":"0","VALUE":"7"})";
    const std::string ok = R"({"PS_ID":true,"RESULT":"OK","RESULT":"0"})";
    const std::string denied = R"({"PS_ID":true,"RESULT":"FAILED","RESULT":"-2"})";

    auto admin = harness.connect();
    auto viewer = harness.connect();
    auto stranger = harness.connect();
    for (const auto& client : {admin, viewer, stranger}) {
        ASSERT_TRUE(harness.request(client, select));
    }
    harness.request(admin, loginRequest("admin", "admin"));
    EXPECT_EQ(harness.request(stranger, write), denied);
    harness.request(viewer, loginRequest("viewer", "viewer"));
    EXPECT_EQ(harness.request(admin, write), ok);
    EXPECT_EQ(harness.request(viewer, write), denied);
    // A refused login leaves the permission as it was.
    harness.request(admin, loginRequest("admin", "bad"));
    EXPECT_EQ(harness.request(admin, write), ok);
    // A later read-only login on the same connection takes it back.
    harness.request(admin, loginRequest("viewer", "viewer"));
    EXPECT_EQ(harness.request(admin, write), denied);
}

}  // namespace
}  // namespace core_test
