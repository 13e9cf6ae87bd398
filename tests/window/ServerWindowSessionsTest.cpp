// The window side of client sessions, with real clients on loopback: logins become rows of
// "Login Users" and events, logins and logouts are announced by the popup, refused logins are
// logged, closes remove the rows, a lost answer is traced, and a stop empties the list.
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/core/Login.h"
#include "host/core/Passwords.h"
#include "server/runtime/TextTable.h"
#include "server/window/PopupWindow.h"
#include "server/window/TfrmDAQTray.h"
#include "server/window/ToolkitColor.h"
#include "tests/support/TraceCapture.h"
#include "tests/window/PluginTestSupport.h"
#include "tools/client/DaqClient.h"
#include "trace/Trace.h"
#include "trace/TraceTransport.h"
#include "trace/TzrTrace.h"

using namespace daq;
using daq::window::TfrmDAQTray;
using namespace std::chrono_literals;

namespace {

// Language texts with the entries the notifications use; the others are empty.
std::string notificationTexts() {
    std::vector<std::string> entries(44);
    entries[19] = "Logged out";
    entries[22] = "User : %s";
    entries[23] = "Logged in";
    entries[24] = "User : %s";
    entries[25] = "From : %s";
    entries[27] = "DAQ Server";
    entries[34] = "Login";
    entries[35] = "Logout";
    std::string xml = "<lang><_11>";
    for (const std::string& entry : entries) {
        xml += "<t>" + entry + "</t>";
    }
    return xml + "</_11></lang>";
}

std::vector<host::UserSpec> users() {
    return {{"admin", host::hashPassword("admin", host::HashCost::Light), true},
            {"<b>op</b>", host::hashPassword("op", host::HashCost::Light), false}};
}

class Sessions : public ::testing::Test {
  protected:
    void SetUp() override {
        port = freeLoopbackPort();
        writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(port));
        TfrmDAQTray::Options options;
        options.localAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
        window = std::make_unique<TfrmDAQTray>(&HostApplicationEnvironment::application(), options);
        texts.load(language.root(), 11);
        window->applyTexts(&texts);
        window->runtime().setLoginCallback(login.callback());
        window->runtime().setEnableFlag(&enableFlag);
        HostXml settings(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
        window->runtime().ReadConfig(settings.root());
        window->runtime().SetDAQRun(true);
        ASSERT_TRUE(window->runtime().listener().active());
        userRows = window->findChild<QTreeView*>(QStringLiteral("vst"))->model();
        eventRows = window->findChild<QTreeView*>(QStringLiteral("vstEvents"))->model();
    }
    std::unique_ptr<client::DaqClient> loggedIn(const char* id, const char* password) {
        auto client = std::make_unique<client::DaqClient>();
        EXPECT_TRUE(client->connect("127.0.0.1", port));
        EXPECT_TRUE(client->login(id, password, {"Linux", "6.1", "Panel PC", "Hall"}).has_value())
            << client->lastError();
        return client;
    }
    QString cell(QAbstractItemModel* model, int row, int column) {
        return model->data(model->index(row, column)).toString();
    }
    bool waitRows(QAbstractItemModel* model, int rows) {
        return processEventsUntil([&] { return model->rowCount() == rows; });
    }

    uint16_t port = 0;
    int32_t enableFlag = 1;
    HostXml language{notificationTexts()};
    TextTable texts;
    host::LoginService login{users()};
    std::unique_ptr<TfrmDAQTray> window;
    QAbstractItemModel* userRows = nullptr;
    QAbstractItemModel* eventRows = nullptr;
};

}  // namespace

// A refused login, two accepted ones and both logouts, logins in quick succession, then a stop:
// rows, events, status lines and popups as the operator sees them.
TEST_F(Sessions, LoginsAndLogoutsShowInTheListsAndThePopup) {
    auto refused = loggedIn("admin", "wrong");
    ASSERT_TRUE(waitRows(eventRows, 1));
    EXPECT_EQ(cell(eventRows, 0, 2), "admin");
    EXPECT_EQ(cell(eventRows, 0, 4), "Login Fail");

    auto admin = loggedIn("admin", "admin");
    ASSERT_TRUE(waitRows(userRows, 1));  // none for the refused login
    const QStringList adminRow{"1", "admin", "127.0.0.1", "", "Linux", "6.1", "Panel PC"};
    for (int column = 0; column < adminRow.size(); ++column) {
        EXPECT_TRUE(column == 3 || cell(userRows, 0, column) == adminRow[column]) << column;
    }
    ASSERT_TRUE(waitRows(eventRows, 2));
    EXPECT_EQ(cell(eventRows, 1, 3), "127.0.0.1");
    EXPECT_EQ(cell(eventRows, 1, 4), "Login");
    EXPECT_EQ(TzrTrace::instance(nullptr).lastLine(), "2|DAQServer|Login : admin, 127.0.0.1|");
    ASSERT_TRUE(processEventsUntil([&] {
        return window->popup().isShown() &&
               window->popup().lines() == QStringList{"<IMG src=\"INFO\">", "Logged in",
                                                      "DAQ Server", "User : admin",
                                                      "From : 127.0.0.1"};
    }));
    EXPECT_EQ(window->popup().shadeStart(), window::toolkitColor(0xF2BF82));

    // The popup shows the user ID as text, not markup.
    auto markup = loggedIn("<b>op</b>", "op");
    ASSERT_TRUE(waitRows(userRows, 2));
    ASSERT_TRUE(processEventsUntil(
        [&] { return window->popup().lines().value(3) == "User : &lt;b&gt;op&lt;/b&gt;"; }));

    // Two logouts in one interval: both are listed, and the popup shows the one booked last.
    admin->close();
    markup->close();
    ASSERT_TRUE(waitRows(userRows, 0));
    ASSERT_TRUE(waitRows(eventRows, 5));
    EXPECT_EQ(cell(eventRows, 3, 4), "Logout");
    EXPECT_EQ(cell(eventRows, 4, 4), "Logout");
    const QString last = cell(eventRows, 4, 2).toHtmlEscaped();
    ASSERT_TRUE(processEventsUntil([&] {
        return window->popup().lines() ==
               QStringList{"<IMG src=\"INFO\">", "Logged out", "DAQ Server", "User : " + last};
    }));
    EXPECT_EQ(window->popup().shadeStart(), window::toolkitColor(0x666600));

    // Logins closer together than the lists' interval: the first timer start stands, so the rows
    // come in while the logins go on instead of after the last one.
    std::vector<std::unique_ptr<client::DaqClient>> clients;
    for (int i = 0; i < 12 && userRows->rowCount() == 0; ++i) {
        clients.push_back(loggedIn("admin", "admin"));
        processEventsUntil([] { return false; }, 40);
    }
    EXPECT_LT(clients.size(), 12u);

    // An answer lost on the way is traced as a send error.
    const std::string socket = HostApplicationEnvironment::exeDir() + "/trace.sock";
    setenv("KELVANE_TRACE_SOCKET", socket.c_str(), 1);
    traceReloadSocketPath();
    test::TraceCapture traces(socket);
    window->runtime().listener().injectFault(tcp::TcpFault::NextWrite);
    EXPECT_FALSE(clients.back()->alive().has_value());
    EXPECT_TRUE(traces.waitFor(
        test::traceContains(kTraceError, "tcp server send error : write to 127.0.0.1:"), 2s));

    // A stop empties the list at once.
    ASSERT_GT(userRows->rowCount(), 0);
    window->runtime().SetDAQRun(false);
    EXPECT_EQ(userRows->rowCount(), 0);
}
