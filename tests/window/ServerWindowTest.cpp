// The server window over its runtime: the address choice and the caption, the configuration
// dialog, the Active switch, the run state, hiding (its texts: PluginObjectTest), and client
// sessions with real clients on loopback: logins become rows of "Login Users" and events, the
// popup announces logins and logouts, a lost answer is traced, and a stop empties the list; the
// popup on its own: its lines within bounds, rolling up and hiding.
#include <QCheckBox>
#include <QComboBox>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/core/Login.h"
#include "host/core/Passwords.h"
#include "server/runtime/TextTable.h"
#include "server/window/PopupWindow.h"
#include "server/window/TfrmConfig.h"
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
using namespace daq::window;
using namespace std::chrono_literals;

namespace {

std::string readConfig() {
    std::ifstream in(HostApplicationEnvironment::configPath());
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string loopbackConfig(uint16_t port = test::HostProcess::freePort()) {
    return "[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(port) + "\n";
}

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

class ServerWindow : public ::testing::Test {
  protected:
    void SetUp() override { removeConfig(); }
    void TearDown() override {
        window.reset();
        removeConfig();
    }

    // Creates the window with these local addresses.
    void create(std::vector<std::string> addresses = {"127.0.0.1"}) {
        TfrmDAQTray::Options options;
        options.localAddresses = [addresses] { return addresses; };
        window = std::make_unique<TfrmDAQTray>(&HostApplicationEnvironment::application(), options);
    }
    // Enabled and, through the project settings, disconnected (RunMode 1).
    void couple() {
        window->runtime().setEnableFlag(&enableFlag);
        HostXml project(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
        window->runtime().ReadConfig(project.root());
    }
    void useTexts(const std::string& languageRoot) {
        HostXml language(languageRoot);
        texts.load(language.root(), 11);
        window->applyTexts(&texts);
    }
    template <typename T>
    T* widget(const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    // Shows the configuration dialog; `act` runs on it while it is shown.
    void configure(const std::function<void(TfrmConfig&)>& act) {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = widget<TfrmConfig>("frmConfig");
            ASSERT_NE(dialog, nullptr);
            act(*dialog);
            acted = true;
        });
        window->btnConfigClick();
        EXPECT_TRUE(acted);
        EXPECT_EQ(widget<TfrmConfig>("frmConfig"), nullptr);  // freed after use
    }
    static void confirm(TfrmConfig& dialog) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    }

    int32_t enableFlag = 1;
    TextTable texts;
    std::unique_ptr<TfrmDAQTray> window;
};

}  // namespace

// The address choices come with the start-up timer; picking one sets the caption from the host's
// format and leaves the listener closed.
TEST_F(ServerWindow, StartUpListsTheAddressChoicesAndAPickedOneSetsTheCaption) {
    create({"127.0.0.1", "127.0.0.2"});
    auto* cbxIP = widget<QComboBox>("cbxIP");
    ASSERT_TRUE(QTest::qWaitFor([cbxIP] { return cbxIP->count() > 0; }));
    EXPECT_EQ(cbxIP->count(), 3);
    EXPECT_EQ(cbxIP->currentText(), "0.0.0.0");
    EXPECT_EQ(window->windowTitle(), "DAQServer");  // selecting at start-up is no user change
    EXPECT_FALSE(std::filesystem::exists(HostApplicationEnvironment::configPath()));

    // Confirming the dialog keeps every interface (the dialog reopens at a loopback binding).
    window->runtime().listener().addBinding("127.0.0.1", test::HostProcess::freePort());
    configure(confirm);
    EXPECT_NE(readConfig().find("DAQServer Addr=0.0.0.0"), std::string::npos) << readConfig();
    window->runtime().close_Server();

    useTexts(languageXml(30, {{29, "DAQServer - %s : %d"}}));
    cbxIP->setCurrentIndex(2);
    emit cbxIP->activated(2);
    EXPECT_EQ(window->runtime().serverAddress(), "127.0.0.2");
    EXPECT_EQ(window->windowTitle(), "DAQServer - 127.0.0.2 : 5050");
    EXPECT_FALSE(window->runtime().listener().active());
}

TEST_F(ServerWindow, DialogOffersTheDefaultPortAndConfirmingSavesItAndReopensTheListener) {
    const uint16_t port = test::HostProcess::freePort();
    writeConfig(loopbackConfig(port));
    create();
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    EXPECT_FALSE(widget<QComboBox>("cbxIP")->isEnabled());  // locked while the listener is open

    ActiveChanges changes;
    window->setOnActiveChange(changes.closure());
    configure([](TfrmConfig& dialog) {
        EXPECT_EQ(dialog.portText(), "5050");
        confirm(dialog);
    });
    EXPECT_NE(readConfig().find("DAQServer Port=5050"), std::string::npos) << readConfig();
    EXPECT_EQ(window->runtime().serverPort(), 5050);
    // The listener came back at once with the binding it had.
    EXPECT_EQ(window->runtime().listener().localPort(), port);
    EXPECT_EQ(changes.calls, 1);
}

// Settings it could not read stay closed and unchanged when the dialog is confirmed.
TEST_F(ServerWindow, UnreadableConfigFileKeepsTheListenerClosedAndTheFileUnchanged) {
    const std::string settings("[config]\0\nDAQServer Addr=127.0.0.1\n", 34);
    writeConfig(settings);
    create();
    window->runtime().listener().addBinding("127.0.0.1", test::HostProcess::freePort());
    configure(confirm);
    EXPECT_FALSE(window->runtime().listener().active());
    EXPECT_EQ(readConfig(), settings);
}

// An open that fails waits out its time-out with the window's timers running.
TEST_F(ServerWindow, FailingOpenKeepsTheWindowRunning) {
    writeConfig(loopbackConfig());
    create();
    const std::unique_ptr<TfrmDAQTray> first = std::move(window);
    ASSERT_TRUE(first->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    create();  // on the port the first window holds
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    EXPECT_FALSE(window->runtime().open_Server(60));
    EXPECT_GT(ticks, 0);
}

// The Active switch calls the host but leaves the listener; a run shows in the status and locks
// the address, the switch and the dialog's edits; a cancelled dialog changes nothing.
TEST_F(ServerWindow, ActiveSwitchAndRunState) {
    const std::string settings = loopbackConfig();
    writeConfig(settings);
    create();
    couple();
    useTexts(languageXml(20));
    ActiveChanges changes;
    window->setOnActiveChange(changes.closure());
    auto* cbxActive = widget<QCheckBox>("cbxActive");
    cbxActive->setChecked(true);
    EXPECT_TRUE(window->runtime().active());
    cbxActive->setChecked(false);
    EXPECT_FALSE(window->runtime().active());
    EXPECT_EQ(changes.calls, 2);
    EXPECT_FALSE(window->runtime().listener().active());
    for (const bool run : {true, false}) {
        window->runtime().SetDAQRun(run);
        EXPECT_EQ(widget<QComboBox>("cbxIP")->isEnabled(), !run);
        EXPECT_EQ(cbxActive->isEnabled(), !run);
        EXPECT_EQ(widget<QLabel>("lbStatus")->text(), run ? "text17" : "text18");
        configure([run](TfrmConfig& dialog) {
            EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("LMDEdit1"))->isEnabled(), !run);
            EXPECT_EQ(dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->isEnabled(), !run);
            dialog.reject();
        });
    }
    EXPECT_EQ(readConfig(), settings);
}

TEST_F(ServerWindow, EscapeAndCloseOnlyHide) {
    writeConfig(loopbackConfig());
    create();
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    window->show();
    QTest::keyClick(widget<QTreeView>("vst"), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    window->show();
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->runtime().listener().active());
}

// Two logins and both logouts, logins in quick succession, a lost answer, then a stop: rows,
// events, status lines and popups as the operator sees them (a refused login: CoreSessionTest).
TEST_F(ServerWindow, LoginsAndLogoutsShowInTheListsAndThePopup) {
    const uint16_t port = test::HostProcess::freePort();
    writeConfig(loopbackConfig(port));
    host::LoginService login(
        {{"admin", host::hashPassword("admin", host::HashCost::Light), true},
         {"<b>op</b>", host::hashPassword("op", host::HashCost::Light), false}});
    create();
    // The lists and the popup at once rather than on the window's intervals.
    for (auto* timer : window->findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) {
        timer->setInterval(1);
    }
    useTexts(languageXml(44, kNotificationTexts));
    window->runtime().setLoginCallback(login.callback());
    couple();
    window->runtime().SetDAQRun(true);
    ASSERT_TRUE(window->runtime().listener().active());
    QAbstractItemModel* userRows = widget<QTreeView>("vst")->model();
    QAbstractItemModel* eventRows = widget<QTreeView>("vstEvents")->model();
    const auto loggedIn = [port](const char* id, const char* password) {
        auto client = std::make_unique<client::DaqClient>();
        EXPECT_TRUE(client->connect("127.0.0.1", port));
        EXPECT_TRUE(client->login(id, password, {"Linux", "6.1", "Panel PC", "Hall"}).has_value())
            << client->lastError();
        return client;
    };

    auto admin = loggedIn("admin", "admin");
    ASSERT_TRUE(waitRows(userRows, 1));
    EXPECT_EQ(userRows->headerData(1, Qt::Horizontal).toString(), "text10");  // relabelled
    const QStringList adminRow{"1", "admin", "127.0.0.1", "", "Linux", "6.1", "Panel PC"};
    for (int column = 0; column < adminRow.size(); ++column) {
        EXPECT_TRUE(column == 3 || cell(userRows, 0, column) == adminRow[column]) << column;
    }
    ASSERT_TRUE(waitRows(eventRows, 1));
    EXPECT_EQ(cell(eventRows, 0, 3), "127.0.0.1");
    EXPECT_EQ(cell(eventRows, 0, 4), "Login");
    EXPECT_EQ(TzrTrace::instance(nullptr).lastLine(), "2|DAQServer|Login : admin, 127.0.0.1|");
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return window->popup().isShown() &&
               window->popup().lines() == QStringList{"<IMG src=\"INFO\">", "Logged in",
                                                      "DAQ Server", "User : admin",
                                                      "From : 127.0.0.1"};
    }));
    EXPECT_EQ(window->popup().shadeStart(), window::toolkitColor(0xF2BF82));

    // The popup shows the user ID as text, not markup.
    auto markup = loggedIn("<b>op</b>", "op");
    ASSERT_TRUE(waitRows(userRows, 2));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->popup().lines().value(3) == "User : &lt;b&gt;op&lt;/b&gt;"; }));

    // Two logouts: both are listed, and the popup shows the one booked last.
    admin->close();
    markup->close();
    ASSERT_TRUE(waitRows(userRows, 0));
    ASSERT_TRUE(waitRows(eventRows, 4));
    EXPECT_EQ(cell(eventRows, 3, 4), "Logout");
    const QString last = cell(eventRows, 3, 2).toHtmlEscaped();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return window->popup().lines() ==
               QStringList{"<IMG src=\"INFO\">", "Logged out", "DAQ Server", "User : " + last};
    }));
    EXPECT_EQ(window->popup().shadeStart(), window::toolkitColor(0x666600));

    // Logins closer together than the list's interval: the first timer start stands, so the rows
    // come in while the logins go on instead of after the last one.
    window->findChild<QTimer*>(QStringLiteral("TimerUserUpdate"))->setInterval(100);
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
    window->runtime().listener().injectFault(tcp::TcpFault::NextWrite);
    EXPECT_FALSE(clients.back()->alive().has_value());
    EXPECT_TRUE(traces.waitFor(
        test::traceContains(kTraceError, "tcp server send error : write to 127.0.0.1:"), 2s));

    // A stop empties the list at once.
    ASSERT_GT(userRows->rowCount(), 0);
    window->runtime().SetDAQRun(false);
    EXPECT_EQ(userRows->rowCount(), 0);
}

class Popup : public ::testing::Test {
  protected:
    bool waitHidden() {
        return QTest::qWaitFor([this] { return !popup.isShown(); });
    }

    PopupWindow popup;
};

TEST_F(Popup, ShowsItsLinesWithTheInformationIconWithinItsBounds) {
    popup.setLines({"<IMG src=\"INFO\">", "User <b>alice</b>", "logged out"});
    const QString html = popup.html();
    EXPECT_TRUE(html.endsWith("<br>User <b>alice</b><br>logged out")) << html.toStdString();
    EXPECT_TRUE(html.contains("src=\"data:image/png;base64,iVBOR")) << "a PNG";

    // Texts from the network: a huge one is cut and the popup stops growing.
    popup.setLines(QStringList(100, QString(5000, QChar('W'))));
    EXPECT_EQ(popup.lines().size(), PopupWindow::kMaxLines);
    EXPECT_EQ(popup.lines().front().size(), PopupWindow::kMaxLineLength);
    EXPECT_EQ(popup.popupGeometry().size(), PopupWindow::kMaximumSize);
}

TEST_F(Popup, RollsUpFromItsBottomEdge) {
    popup.setLines({"<IMG src=\"INFO\">", "bye"});
    popup.showPopup();
    EXPECT_LT(popup.geometry().height(), popup.popupGeometry().height());
    EXPECT_EQ(popup.geometry().bottom(), popup.popupGeometry().bottom());
    ASSERT_TRUE(QTest::qWaitFor([this] { return popup.geometry() == popup.popupGeometry(); }));
}

TEST_F(Popup, HidesAfterTheTimeOutExceptWhileHovered) {
    popup.setHideTimeout(20);
    popup.setLines({"hello"});
    for (int round = 0; round < 2; ++round) {  // shown again for the next message
        popup.showPopup();
        EXPECT_TRUE(popup.isShown());
        EXPECT_TRUE(waitHidden());
    }

    popup.showPopup();
    QEnterEvent enter(QPointF(10, 10), QPointF(210, 210), QPointF(210, 210));
    QApplication::sendEvent(&popup, &enter);
    EXPECT_FALSE(popup.isHideTimerActive());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&popup, &leave);
    EXPECT_TRUE(popup.isHideTimerActive());
    EXPECT_TRUE(waitHidden());

    popup.showPopup();
    popup.hidePopup();
    EXPECT_FALSE(popup.isShown());
    EXPECT_FALSE(popup.isHideTimerActive());
}
