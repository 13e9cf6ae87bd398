// The window side of client sessions, with real clients on loopback: logins become rows of
// "Login Users" and events, logins and logouts are announced by the popup, closes remove the
// rows, a lost answer is traced, and a stop empties the list.
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/core/Login.h"
#include "host/core/Passwords.h"
#include "server/runtime/TextTable.h"
#include "server/window/PopupWindow.h"
#include "server/window/TfrmDAQTray.h"
#include "server/window/ToolkitColor.h"
#include "tests/support/HostProcess.h"
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

// The entries the notifications use.
const std::map<int, std::string> kNotificationTexts{
    {19, "Logged out"}, {22, "User : %s"},  {23, "Logged in"}, {24, "User : %s"},
    {25, "From : %s"},  {27, "DAQ Server"}, {34, "Login"},     {35, "Logout"}};

QString cell(QAbstractItemModel* model, int row, int column) {
    return model->data(model->index(row, column)).toString();
}

bool waitRows(QAbstractItemModel* model, int rows) {
    return QTest::qWaitFor([&] { return model->rowCount() == rows; });
}

}  // namespace

// Two logins and both logouts, logins in quick succession, a lost answer, then a stop: rows,
// events, status lines and popups as the operator sees them (a refused login: CoreSessionTest).
TEST(Sessions, LoginsAndLogoutsShowInTheListsAndThePopup) {
    const uint16_t port = test::HostProcess::freePort();
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(port));
    // Declared before the window, which keeps their addresses.
    HostXml language(languageXml(44, kNotificationTexts));
    TextTable texts;
    texts.load(language.root(), 11);
    host::LoginService login(
        {{"admin", host::hashPassword("admin", host::HashCost::Light), true},
         {"<b>op</b>", host::hashPassword("op", host::HashCost::Light), false}});
    int32_t enableFlag = 1;
    TfrmDAQTray::Options options;
    options.localAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    TfrmDAQTray window(&HostApplicationEnvironment::application(), options);
    // The lists and the popup at once rather than on the window's intervals.
    for (auto* timer : window.findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) {
        timer->setInterval(1);
    }
    window.applyTexts(&texts);
    window.runtime().setLoginCallback(login.callback());
    window.runtime().setEnableFlag(&enableFlag);
    HostXml settings(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
    window.runtime().ReadConfig(settings.root());
    window.runtime().SetDAQRun(true);
    ASSERT_TRUE(window.runtime().listener().active());
    QAbstractItemModel* userRows = window.findChild<QTreeView*>(QStringLiteral("vst"))->model();
    QAbstractItemModel* eventRows =
        window.findChild<QTreeView*>(QStringLiteral("vstEvents"))->model();
    const auto loggedIn = [port](const char* id, const char* password) {
        auto client = std::make_unique<client::DaqClient>();
        EXPECT_TRUE(client->connect("127.0.0.1", port));
        EXPECT_TRUE(client->login(id, password, {"Linux", "6.1", "Panel PC", "Hall"}).has_value())
            << client->lastError();
        return client;
    };

    auto admin = loggedIn("admin", "admin");
    ASSERT_TRUE(waitRows(userRows, 1));
    const QStringList adminRow{"1", "admin", "127.0.0.1", "", "Linux", "6.1", "Panel PC"};
    for (int column = 0; column < adminRow.size(); ++column) {
        EXPECT_TRUE(column == 3 || cell(userRows, 0, column) == adminRow[column]) << column;
    }
    ASSERT_TRUE(waitRows(eventRows, 1));
    EXPECT_EQ(cell(eventRows, 0, 3), "127.0.0.1");
    EXPECT_EQ(cell(eventRows, 0, 4), "Login");
    EXPECT_EQ(TzrTrace::instance(nullptr).lastLine(), "2|DAQServer|Login : admin, 127.0.0.1|");
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return window.popup().isShown() &&
               window.popup().lines() == QStringList{"<IMG src=\"INFO\">", "Logged in",
                                                     "DAQ Server", "User : admin",
                                                     "From : 127.0.0.1"};
    }));
    EXPECT_EQ(window.popup().shadeStart(), window::toolkitColor(0xF2BF82));

    // The popup shows the user ID as text, not markup.
    auto markup = loggedIn("<b>op</b>", "op");
    ASSERT_TRUE(waitRows(userRows, 2));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.popup().lines().value(3) == "User : &lt;b&gt;op&lt;/b&gt;"; }));

    // Two logouts: both are listed, and the popup shows the one booked last.
    admin->close();
    markup->close();
    ASSERT_TRUE(waitRows(userRows, 0));
    ASSERT_TRUE(waitRows(eventRows, 4));
    EXPECT_EQ(cell(eventRows, 2, 4), "Logout");
    EXPECT_EQ(cell(eventRows, 3, 4), "Logout");
    const QString last = cell(eventRows, 3, 2).toHtmlEscaped();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return window.popup().lines() ==
               QStringList{"<IMG src=\"INFO\">", "Logged out", "DAQ Server", "User : " + last};
    }));
    EXPECT_EQ(window.popup().shadeStart(), window::toolkitColor(0x666600));

    // Logins closer together than the list's interval: the first timer start stands, so the rows
    // come in while the logins go on instead of after the last one.
    window.findChild<QTimer*>(QStringLiteral("TimerUserUpdate"))->setInterval(100);
    std::vector<std::unique_ptr<client::DaqClient>> clients;
    for (int i = 0; i < 12 && userRows->rowCount() == 0; ++i) {
        clients.push_back(loggedIn("admin", "admin"));
        QTest::qWait(40);
    }
    EXPECT_LT(clients.size(), 12u);

    // An answer lost on the way is traced as a send error.
    const std::string socket = HostApplicationEnvironment::exeDir() + "/trace.sock";
    setenv("KELVANE_TRACE_SOCKET", socket.c_str(), 1);
    traceReloadSocketPath();
    test::TraceCapture traces(socket);
    window.runtime().listener().injectFault(tcp::TcpFault::NextWrite);
    EXPECT_FALSE(clients.back()->alive().has_value());
    EXPECT_TRUE(traces.waitFor(
        test::traceContains(kTraceError, "tcp server send error : write to 127.0.0.1:"), 2s));

    // A stop empties the list at once.
    ASSERT_GT(userRows->rowCount(), 0);
    window.runtime().SetDAQRun(false);
    EXPECT_EQ(userRows->rowCount(), 0);
}
