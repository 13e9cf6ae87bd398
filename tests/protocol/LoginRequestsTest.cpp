// "LOGIN" and "PROJECTINFO", and the client sessions behind them, over real sockets against
// the plug-in loaded by the stand-in host.
#include <array>
#include <thread>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

// The stop notice: one JSON object, no frame bytes around it.
constexpr std::string_view kStopNotice = R"({"PS_ID":true})";
// The window shows queued logins at its next 100 ms timer tick and says so to nobody: tests
// that depend on the rows being shown give it this long.
constexpr auto kRowsShown = 600ms;

std::string loginProject() {
    return projectFile(R"xml(<project>
    <PROJECT_NAME>Wasserwerk Süd</PROJECT_NAME>
    <COMPANY>Stadtwerke "Nord" &amp; Co</COMPANY>
    <WORKER>Shift B</WORKER>
    <DESCRIPTION>Two pumps, one basin.</DESCRIPTION>
  </project>)xml");
}

class LoginRequests : public SharedHostTest<LoginRequests> {
  public:
    static std::string project() { return loginProject(); }
};

TEST_F(LoginRequests, AcceptedLoginAnswersResultTrue) {
    auto client = host().connect();
    const client::ClientDevice device{"Android", "14", "Pixel 8", "Control room"};
    for (const char* user : {kAdmin, kViewer}) {
        const auto answer = client->login(user, user, device, "MOBILE");
        ASSERT_TRUE(answer) << client->lastError();
        EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "RESULT"}));
        EXPECT_TRUE(at(*answer, "PS_ID").IsTrue());
        EXPECT_TRUE(at(*answer, "RESULT").IsTrue()) << user;
    }
}

TEST_F(LoginRequests, RefusedLoginAnswersResultFalseAndLeavesTheConnectionUsable) {
    auto client = host().connect();
    const auto wrongPassword = client->login(kAdmin, "not-the-password");
    ASSERT_TRUE(wrongPassword) << client->lastError();
    EXPECT_EQ(memberNames(*wrongPassword), (std::vector<std::string>{"PS_ID", "RESULT"}));
    EXPECT_TRUE(at(*wrongPassword, "RESULT").IsFalse());
    const auto unknownUser = client->login("nobody", "nobody");
    ASSERT_TRUE(unknownUser) << client->lastError();
    EXPECT_TRUE(at(*unknownUser, "RESULT").IsFalse());

    const auto status = client->daqStatus();
    ASSERT_TRUE(status) << client->lastError();
    EXPECT_EQ(text(at(*status, "STATUS")), "RUNNING");
    const auto retry = client->login(kAdmin, kAdmin);
    ASSERT_TRUE(retry) << client->lastError();
    EXPECT_TRUE(at(*retry, "RESULT").IsTrue());

    // Each refusal is traced as an error with the user id; each try on a connection of its own.
    for (const std::string id : {kAdmin, "nobody"}) {
        EXPECT_TRUE(tracedBy(host().traces(), traceContains(kTraceError, "LOGIN FAIL : " + id),
                             [&] {
                                 auto prober = host().connect();
                                 const auto answer = prober->login(id, "wrong");
                                 EXPECT_TRUE(answer && at(*answer, "RESULT").IsFalse());
                             }))
            << id;
    }
}

TEST_F(LoginRequests, TwoLoginsOnOneConnectionAreBothAccepted) {
    auto client = host().connect();
    for (int i = 0; i < 2; ++i) {
        const auto answer = client->login(kAdmin, kAdmin);
        ASSERT_TRUE(answer) << client->lastError();
        EXPECT_TRUE(at(*answer, "RESULT").IsTrue()) << "login " << i;
    }
}

TEST_F(LoginRequests, DeviceDataIsReadFromTheNestedObjectOnly) {
    auto client = host().connect();
    // Flat members named like the paths are not the device data: even objects under those
    // names are never read, and the login goes through.
    const auto flat = client->request(
        R"({"PS_ID":"LOGIN","ID":"admin","PW":"admin","DEVICE.OS":{"x":1},"DEVICE.VERSION":[1],)"
        R"("DEVICE.MODEL NAME":"Phone","DEVICE.LOCATION":"Hall"})");
    ASSERT_TRUE(flat) << client->lastError();
    EXPECT_TRUE(at(*flat, "RESULT").IsTrue());

    // The nested path is read: an object where a text belongs fails the request.
    EXPECT_TRUE(
        tracedBy(host().traces(), traceContains(kTraceError, "TCP Server Error : LOGIN, "), [&] {
            EXPECT_TRUE(answersNothing(*client, R"({"PS_ID":"LOGIN","ID":"admin","PW":"admin",)"
                                                R"("DEVICE":{"OS":{"x":1}}})"));
        }));
}

TEST_F(LoginRequests, IdContainingLoginRunsTheLogin) {
    auto client = host().connect();
    const auto answer = client->request(R"({"PS_ID":"XLOGINX","ID":"viewer","PW":"viewer"})");
    ASSERT_TRUE(answer) << client->lastError();
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "RESULT"}));
    EXPECT_TRUE(at(*answer, "RESULT").IsTrue());
}

TEST_F(LoginRequests, ProjectInfoAnswersTheProjectRecordInOrder) {
    auto client = host().connect();
    // Served without a login; members of the request besides the id are not read.
    const auto answer = client->request(R"({"PS_ID":"PROJECTINFO","INFO":{"PROJECT_NAME":"x"}})");
    ASSERT_TRUE(answer) << client->lastError();
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "INFO"}));
    EXPECT_TRUE(at(*answer, "PS_ID").IsTrue());
    const auto& info = at(*answer, "INFO");
    EXPECT_EQ(memberNames(info),
              (std::vector<std::string>{"PROJECT_NAME", "COMPANY", "WORKER", "DESCRIPTION"}));
    EXPECT_EQ(text(at(info, "PROJECT_NAME")),
              "Wasserwerk S\xC3\xBC"
              "d");
    EXPECT_EQ(text(at(info, "COMPANY")), R"(Stadtwerke "Nord" & Co)");
    EXPECT_EQ(text(at(info, "WORKER")), "Shift B");
    EXPECT_EQ(text(at(info, "DESCRIPTION")), "Two pumps, one basin.");
    // The text as sent: UTF-8 as is, quotes escaped.
    ASSERT_TRUE(client->connection().sendMessage(client::projectInfoRequest()));
    const auto raw = client->connection().readFrame(kReplyTimeout);
    ASSERT_TRUE(raw);
    EXPECT_NE(raw->find("\"PROJECT_NAME\":\"Wasserwerk S\xC3\xBC"
                        "d\""),
              std::string::npos)
        << *raw;
    EXPECT_NE(raw->find(R"("COMPANY":"Stadtwerke \"Nord\" & Co")"), std::string::npos) << *raw;
}

// Each case runs its own host, because each ends by stopping it.
class ClientSessions : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(host_.started()) << host_.failure(); }

    // Logs a new client in; RESULT must be true.
    std::unique_ptr<DaqClient> loggedIn(const char* user) {
        auto client = host_.connect();
        const auto answer = client->login(user, user);
        EXPECT_TRUE(answer && at(*answer, "RESULT").IsTrue()) << client->lastError();
        return client;
    }

    void stopHost() { EXPECT_TRUE(host_.stop()); }

    // What a client receives from now until the server closes it.
    static std::string untilClosed(DaqClient& client) {
        const auto rest = client.connection().readUntilClosed(10s);
        EXPECT_TRUE(rest) << client.connection().lastError();
        return rest.value_or("(not closed)");
    }

    SuiteHost host_{loginProject()};
};

TEST_F(ClientSessions, StopNoticeGoesUnframedOnceToEachLoggedInConnectionOnly) {
    auto admin = loggedIn(kAdmin);
    auto viewer = loggedIn(kViewer);
    auto twice = loggedIn(kAdmin);
    const auto second = twice->login(kAdmin, kAdmin);
    ASSERT_TRUE(second && at(*second, "RESULT").IsTrue());
    auto anonymous = host_.connect();
    auto refused = host_.connect();
    const auto refusal = refused->login(kAdmin, "wrong");
    ASSERT_TRUE(refusal && at(*refusal, "RESULT").IsFalse());
    std::this_thread::sleep_for(kRowsShown);

    stopHost();
    EXPECT_EQ(untilClosed(*admin), kStopNotice);
    EXPECT_EQ(untilClosed(*viewer), kStopNotice);
    EXPECT_EQ(untilClosed(*twice), kStopNotice);
    EXPECT_EQ(untilClosed(*anonymous), "");
    EXPECT_EQ(untilClosed(*refused), "");
}

TEST_F(ClientSessions, ClosesWithinOneTickAndBeforeTheRowAppearsAreBookedOnce) {
    auto watcher = loggedIn(kAdmin);
    std::array<std::unique_ptr<DaqClient>, 3> leaving{loggedIn(kViewer), loggedIn(kAdmin),
                                                      loggedIn(kViewer)};
    std::this_thread::sleep_for(kRowsShown);
    for (auto& client : leaving) {
        client->close();
    }
    // A login whose connection closes before the window shows its row.
    loggedIn(kAdmin)->close();
    // The logout tick and the late row's tick pass.
    std::this_thread::sleep_for(kRowsShown);
    EXPECT_TRUE(nextAnswerIsAlive(*watcher));

    // A row deleted twice, or one whose record is gone, would bring the host down on the way
    // out; the rows of the closed connections lead nowhere, so the notice reaches the one
    // remaining login once.
    stopHost();
    EXPECT_EQ(untilClosed(*watcher), kStopNotice);
}

}  // namespace
}  // namespace daq::test
