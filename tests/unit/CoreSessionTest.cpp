// "LOGIN", "ALIVE", "PROJECTINFO", the login bounds, the user rows and events handed to the
// window, the disconnect walk and the stop notice.
#include <gtest/gtest.h>

#include <string>

#include "tests/unit/CoreFixture.h"

namespace daq::test {
namespace {

using daq::WindowTimer;

const std::string kAccepted = R"({"PS_ID":true,"RESULT":true})";
const std::string kRefused = R"({"PS_ID":true,"RESULT":false})";
const std::string kStopNotice = R"({"PS_ID":true})";

class CoreSession : public ::testing::Test {
  protected:
    CoreSession() { harness.installLogin(); }

    std::shared_ptr<MemoryConnection> loggedIn(const std::string& peer, const char* user) {
        auto client = harness.connect(peer);
        EXPECT_EQ(harness.request(client, loginRequest(user, user)), kAccepted);
        return client;
    }
    // The window's user-update tick: the records that became rows.
    void showLogins() {
        for (auto& record : harness.core().takeLogins()) {
            rows.push_back(std::move(record));
        }
    }
    void takeWindowQueues() {
        harness.core().takeEvents();
        harness.core().takePopups();
    }

    CoreHarness harness;
    std::vector<std::unique_ptr<daq::_TLinkTSData>> rows;
};

TEST_F(CoreSession, LoginAnswers) {
    auto client = harness.connect();
    const Exchange exchanges[] = {
        {loginRequest("nobody", "x"), kRefused},
        // Refusals leave the connection answering, up to the bound (5 by default).
        {R"({"PS_ID":"DAQSTATUS"})", R"({"PS_ID":true,"STATUS":"RUNNING"})"},
        {loginRequest("viewer", "viewer"), kAccepted},
        {loginRequest("admin", "admin"), kAccepted},
        // The host gets texts zero-terminated: one holding a zero would reach it cut short.
        {loginRequest("admin", "admin\\u0000xyz"), kRefused},
        {loginRequest("admin\\u0000", "admin"), kRefused},
        // Every member the request defines is read: a list where a text belongs is an error.
        {R"({"PS_ID":"LOGIN","CLIENT_TYPE":[],"ID":"admin","PW":"admin"})", std::nullopt},
    };
    expectExchanges(harness, client, exchanges);
    CoreHarness withoutHostLogin;
    EXPECT_EQ(withoutHostLogin.request(withoutHostLogin.connect(), loginRequest("admin", "admin")),
              kRefused);
}

// The row, event and popup of an accepted login (as the window shows them:
// ServerWindowSessionsTest); a refused one queues its event only.
TEST_F(CoreSession, AcceptedLoginQueuesRowEventAndPopup) {
    auto client = harness.connect("192.168.1.20");
    EXPECT_EQ(harness.request(
                  client, R"({"PS_ID":"LOGIN","ID":"admin","PW":"admin",)"
                          R"("DEVICE":{"OS":"Android","MODEL NAME":"Pad 7","LOCATION":"Hall 2"}})"),
              kAccepted);
    auto logins = harness.core().takeLogins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0]->ModelName + logins[0]->Location, "Pad 7Hall 2");
    EXPECT_EQ(logins[0]->ConnectionId, client->id());
    const auto events = harness.core().takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Time, logins[0]->LoginTime);
    EXPECT_EQ(harness.core().takePopups().size(), 1u);
    for (const WindowTimer timer :
         {WindowTimer::UserUpdate, WindowTimer::EventMsg, WindowTimer::PopupMsg}) {
        EXPECT_EQ(harness.timers().starts(timer), 1);
    }
    EXPECT_EQ(harness.request(client, loginRequest("admin", "wrong")), kRefused);
    EXPECT_TRUE(harness.core().takeLogins().empty());
    EXPECT_TRUE(harness.core().takePopups().empty());
    EXPECT_EQ(harness.core().takeEvents().size(), 1u);
}

// With the login required, only "LOGIN" and "ALIVE" are served before a login is accepted; the
// refused login that reaches the bound closes the connection. No password is ever traced.
TEST_F(CoreSession, LoginBounds) {
    constexpr const char* kWrong = "wrong-pw-7311";
    TraceCapture traces;
    daq::ServerLimits limits;
    limits.requireLogin = true;
    limits.maxRefusedLogins = 2;
    CoreHarness bounded(limits);
    bounded.installLogin();
    auto client = bounded.connect();
    EXPECT_TRUE(bounded.request(client, R"({"PS_ID":"ALIVE"})"));
    const Exchange exchanges[] = {
        {R"({"PS_ID":"DAQSTATUS"})", std::nullopt},
        {loginRequest("admin", kWrong), kRefused},
        {loginRequest("viewer", "viewer"), kAccepted},
        {R"({"PS_ID":"DAQLISTCOUNT"})", R"({"PS_ID":true,"COUNT":"0"})"},
    };
    expectExchanges(bounded, client, exchanges);
    EXPECT_EQ(bounded.request(client, loginRequest("admin", kWrong)), kRefused);
    EXPECT_FALSE(client->connected());
    const auto lines = traces.take();
    EXPECT_TRUE(TraceCapture::contains(lines, daq::kTraceError,
                                       "DAQ Server login required : DAQSTATUS, from "));
    EXPECT_TRUE(TraceCapture::contains(lines, daq::kTraceError,
                                       "DAQ Server closes connection : 2 refused logins, from "));
    for (const TraceLine& line : lines) {
        EXPECT_EQ(line.text.find(kWrong), std::string::npos) << line.text;
    }
}

// Without the host's project record "PROJECTINFO" answers nothing (the answer: ScenarioTest).
TEST_F(CoreSession, ProjectInfoNeedsTheHostsProjectRecord) {
    TraceCapture traces;
    EXPECT_FALSE(harness.request(harness.connect(), R"({"PS_ID":"PROJECTINFO"})"));
    EXPECT_TRUE(TraceCapture::contains(traces.take(), 2, "TCP Server Error : PROJECTINFO, "));
}

TEST_F(CoreSession, TwoLoginsOnOneConnectionMakeTwoRowsAndItsCloseRemovesBoth) {
    auto client = loggedIn("10.0.0.5", "admin");
    EXPECT_EQ(harness.request(client, loginRequest("viewer", "viewer")), kAccepted);
    showLogins();
    ASSERT_EQ(rows.size(), 2u);
    takeWindowQueues();

    harness.disconnect(client);
    EXPECT_EQ(harness.core().takeLogouts(),
              (std::vector<const daq::_TLinkTSData*>{rows[0].get(), rows[1].get()}));
    EXPECT_TRUE(harness.core().takeLogouts().empty());
    const auto events = harness.core().takeEvents();
    ASSERT_EQ(events.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(events[i].EventType, daq::etLogout);
        EXPECT_EQ(events[i].ID + events[i].IP, rows[i]->ID + "10.0.0.5");
    }
    const auto popups = harness.core().takePopups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, daq::PopupRequest::Kind::Logout);
    EXPECT_EQ(popups[0].ID, "viewer");
    EXPECT_EQ(harness.timers().starts(WindowTimer::LogoutUser), 1);
    EXPECT_EQ(harness.core().clientCount(), 0u);
}

// The notice reaches each logged-in connection once, however often it logged in and whether its
// row is shown yet.
TEST_F(CoreSession, StopNoticeGoesUnframedOnceToEveryLoggedInConnection) {
    std::vector<std::shared_ptr<MemoryConnection>> clients;
    for (const char* peer : {"10.0.1.1", "10.0.1.2"}) {
        clients.push_back(loggedIn(peer, "viewer"));
        harness.request(clients.back(), loginRequest("admin", "admin"));
    }
    showLogins();
    clients.push_back(loggedIn("10.0.1.9", "admin"));  // not shown yet
    auto anonymous = harness.connect();
    harness.core().notifyServerStop();
    for (const auto& client : clients) {
        EXPECT_EQ(client->takeWrites(), std::vector<std::string>{kStopNotice});
    }
    EXPECT_TRUE(anonymous->takeWrites().empty());

    // Cleared clients get no notice.
    auto late = loggedIn("10.0.1.10", "admin");
    harness.core().clearClients();
    harness.core().rowsCleared();
    harness.core().notifyServerStop();
    EXPECT_TRUE(late->takeWrites().empty());
}

TEST_F(CoreSession, CloseBeforeTheRowIsShownTakesTheWaitingLoginsAlong) {
    auto shown = loggedIn("10.0.0.1", "viewer");
    showLogins();
    auto early = loggedIn("10.0.0.2", "admin");
    harness.request(shown, loginRequest("admin", "admin"));  // newer than its shown row
    takeWindowQueues();

    harness.disconnect(early);
    EXPECT_TRUE(harness.core().takeLogouts().empty());
    EXPECT_EQ(harness.timers().starts(WindowTimer::LogoutUser), 0);
    harness.disconnect(shown);  // its waiting login goes, and its shown row
    std::string logouts;
    for (const auto& event : harness.core().takeEvents()) {
        logouts += (event.EventType == daq::etLogout ? " " : " other ") + event.ID;
    }
    EXPECT_EQ(logouts, " admin viewer admin");
    EXPECT_EQ(harness.core().takePopups().size(), 2u);
    EXPECT_EQ(harness.core().takeLogouts(), std::vector<const daq::_TLinkTSData*>{rows[0].get()});
    showLogins();
    EXPECT_EQ(rows.size(), 1u);  // no row appears after the closes
}

TEST_F(CoreSession, ClosesWithoutLoginOrWhileStoppingBookNothing) {
    harness.disconnect(harness.connect());
    EXPECT_TRUE(harness.core().takeEvents().empty());
    EXPECT_TRUE(harness.core().takePopups().empty());
    auto client = loggedIn("10.0.0.1", "admin");
    showLogins();
    takeWindowQueues();
    harness.core().setStopping(true);
    harness.disconnect(client);
    EXPECT_TRUE(harness.core().takeLogouts().empty());
    EXPECT_TRUE(harness.core().takeEvents().empty());
    EXPECT_TRUE(harness.core().takePopups().empty());
    EXPECT_EQ(harness.core().clientCount(), 0u);
}

}  // namespace
}  // namespace daq::test
