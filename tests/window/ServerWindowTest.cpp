// The server window over its runtime: the address choice and the caption, the configuration
// dialog, the Active switch, the listener's status lines, unhandled socket errors, the run state
// and the texts it shows, and hiding.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/runtime/TextTable.h"
#include "server/tcp/SocketError.h"
#include "server/window/TfrmConfig.h"
#include "server/window/TfrmDAQTray.h"
#include "tests/window/PluginTestSupport.h"
#include "trace/TzrTrace.h"

using namespace daq;
using namespace daq::window;

namespace {

std::string readConfig() {
    std::ifstream in(HostApplicationEnvironment::configPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string lastStatusLine() {
    return TzrTrace::instance(nullptr).lastLine();
}

std::string loopbackConfig(uint16_t port) {
    return "[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(port) + "\n";
}

// Listens on a loopback port, so that the server cannot.
class TakenPort {
  public:
    TakenPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 1);
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~TakenPort() { close(fd_); }
    uint16_t port() const { return port_; }

  private:
    int fd_;
    uint16_t port_ = 0;
};

// Throws from its event handler, as a faulty handler of the window thread would.
class Thrower : public QObject {
  public:
    explicit Thrower(std::function<void()> raise) : raise_(std::move(raise)) {}
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            raise_();
        }
        return QObject::event(event);
    }

  private:
    std::function<void()> raise_;
};

class ServerWindow : public ::testing::Test {
  protected:
    void SetUp() override { removeConfig(); }
    void TearDown() override {
        window.reset();
        removeConfig();
    }

    // Creates the window with these local addresses, listed at once rather than by the
    // start-up timer.
    void create(std::vector<std::string> addresses = {"127.0.0.1"}) {
        TfrmDAQTray::Options options;
        options.localAddresses = [addresses] { return addresses; };
        window = std::make_unique<TfrmDAQTray>(&HostApplicationEnvironment::application(), options);
        window->runtime().listAddresses();
    }
    // Enabled and, through the project settings, disconnected (RunMode 1).
    void couple() {
        window->runtime().setEnableFlag(&enableFlag);
        HostXml settings(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
        window->runtime().ReadConfig(settings.root());
        ASSERT_EQ(window->runtime().runMode(), rmDisconnected);
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

TEST_F(ServerWindow, StartUpListsTheAddressChoicesWithoutChangingTheCaptionOrWritingAFile) {
    TfrmDAQTray::Options options;
    options.localAddresses = [] { return std::vector<std::string>{"127.0.0.1", "192.0.2.7"}; };
    window = std::make_unique<TfrmDAQTray>(&HostApplicationEnvironment::application(), options);
    auto* cbxIP = widget<QComboBox>("cbxIP");
    ASSERT_TRUE(processEventsUntil([cbxIP] { return cbxIP->count() > 0; }));
    EXPECT_EQ(cbxIP->count(), 3);
    EXPECT_EQ(cbxIP->itemText(1), "192.0.2.7");
    EXPECT_EQ(cbxIP->currentText(), "0.0.0.0");
    EXPECT_EQ(window->windowTitle(), "DAQServer");  // selecting at start-up is no user change
    EXPECT_FALSE(std::filesystem::exists(HostApplicationEnvironment::configPath()));

    // Confirming the dialog keeps every interface (the dialog reopens at a loopback binding).
    window->runtime().listener().addBinding("127.0.0.1", freeLoopbackPort());
    configure(confirm);
    EXPECT_NE(readConfig().find("DAQServer Addr=0.0.0.0"), std::string::npos) << readConfig();
}

TEST_F(ServerWindow, DialogOffersTheDefaultPortAndConfirmingSavesItAndReopensTheListener) {
    const uint16_t port = freeLoopbackPort();
    writeConfig(loopbackConfig(port) + "RefreshIntervalMs=20\n");
    create();
    EXPECT_EQ(window->runtime().refreshThread().intervalMs(), 20);
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));

    ActiveChanges changes;
    window->setOnActiveChange(changes.closure());
    configure([](TfrmConfig& dialog) {
        EXPECT_EQ(dialog.portText(), "5050");
        confirm(dialog);
    });
    EXPECT_NE(readConfig().find("DAQServer Port=5050"), std::string::npos) << readConfig();
    EXPECT_NE(readConfig().find("DAQServer Addr=127.0.0.1"), std::string::npos);
    EXPECT_EQ(window->runtime().serverPort(), 5050);
    // The listener came back at once with the binding it had.
    EXPECT_TRUE(window->runtime().listener().active());
    EXPECT_EQ(window->runtime().listener().localPort(), port);
    EXPECT_EQ(changes.calls, 1);
    EXPECT_EQ(changes.sender, window.get());
}

TEST_F(ServerWindow, CancelledDialogChangesNothingAndARunLocksItsEdits) {
    const std::string settings = loopbackConfig(freeLoopbackPort());
    writeConfig(settings);
    create();
    couple();
    useTexts(languageXml(40));
    window->runtime().SetDAQRun(true);
    configure([](TfrmConfig& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "text1");
        EXPECT_EQ(dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->text(), "text36");
        EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("LMDLabel1"))->text(), "text37");
        EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->text(), "text38");
        EXPECT_FALSE(dialog.findChild<QLineEdit*>(QStringLiteral("LMDEdit1"))->isEnabled());
        EXPECT_FALSE(dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->isEnabled());
        dialog.reject();
    });
    EXPECT_EQ(readConfig(), settings);
}

TEST_F(ServerWindow, SettingsTheServerCannotUseAreTracedAtStartUp) {
    writeConfig("[config]\nDAQServer Addr=203.0.113.9\nDAQServer Port=fifty\n");
    TraceCapture traces;
    create({"127.0.0.1", "127.0.0.2"});
    EXPECT_EQ(window->runtime().serverAddress(), "0.0.0.0");
    EXPECT_EQ(widget<QComboBox>("cbxIP")->currentIndex(), 0);
    const std::vector<std::string> messages = traces.collect();
    EXPECT_EQ(matching(messages, "config.ini : DAQServer Port=fifty is not in 0..65535, 5050 kept|")
                  .size(),
              1u);
    EXPECT_EQ(matching(messages,
                       "TCP/IP Server : 203.0.113.9 is not an address of this machine, "
                       "all interfaces (0.0.0.0) used instead|")
                  .size(),
              1u);
}

TEST_F(ServerWindow, UnreadableConfigFileKeepsTheListenerClosedAndTheFileUnchanged) {
    const std::string settings("[config]\0\nDAQServer Addr=127.0.0.1\n", 34);
    const std::string why =
        HostApplicationEnvironment::configPath() + ": holds a zero byte at offset 8";
    writeConfig(settings);
    TraceCapture traces;
    create();
    EXPECT_EQ(matching(traces.collect(),
                       "TCP/IP Server : config.ini not read, the listener "
                       "stays closed : " +
                           why + "|")
                  .size(),
              1u);
    window->runtime().listener().addBinding("127.0.0.1", freeLoopbackPort());
    configure(confirm);
    EXPECT_FALSE(window->runtime().listener().active());
    EXPECT_EQ(readConfig(), settings);
    EXPECT_FALSE(window->runtime().open_Server(0));
    EXPECT_FALSE(window->runtime().listener().active());
    EXPECT_EQ(window->runtime().listenerState().text, "config.ini not read : " + why);
}

TEST_F(ServerWindow, PickedAddressSetsTheCaptionFromTheHostFormat) {
    create({"127.0.0.1", "127.0.0.2"});
    std::string entries;
    for (int i = 0; i < 29; ++i) {
        entries += "<t/>";
    }
    useTexts("<lang><_11>" + entries + "<t>DAQServer - %s : %d</t></_11></lang>");
    auto* cbxIP = widget<QComboBox>("cbxIP");
    cbxIP->setCurrentIndex(2);
    emit cbxIP->activated(2);
    EXPECT_EQ(window->runtime().serverAddress(), "127.0.0.2");
    EXPECT_EQ(window->windowTitle(), "DAQServer - 127.0.0.2 : 5050");
    EXPECT_FALSE(window->runtime().listener().active());
}

TEST_F(ServerWindow, ListenerChangesBecomeStatusLinesAndLockTheAddressWhileOpen) {
    const uint16_t port = freeLoopbackPort();
    const std::string where = "127.0.0.1:" + std::to_string(port);
    writeConfig(loopbackConfig(port));
    create();
    auto* cbxIP = widget<QComboBox>("cbxIP");
    cbxIP->setEnabled(false);
    window->runtime().close_Server();  // closed already: it only reports
    EXPECT_TRUE(cbxIP->isEnabled());
    EXPECT_EQ(lastStatusLine(), "2|DAQServer|TCP/IP Server inactive : " + where + "|");

    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    EXPECT_EQ(lastStatusLine(), "2|DAQServer|TCP/IP Server active : " + where + "|");
    EXPECT_FALSE(cbxIP->isEnabled());
    TzrTrace::instance(nullptr).send(kStatusLineCode, "test", "mark");
    EXPECT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));  // says nothing
    EXPECT_EQ(lastStatusLine(), "2|test|mark|");

    window->runtime().IdTCPServer1Status("listening on 127.0.0.1:1");
    EXPECT_EQ(lastStatusLine(), "2|DAQServer|TCP/IP Server status : listening on 127.0.0.1:1|");
    window.reset();  // destruction closes the listener
    EXPECT_EQ(lastStatusLine(), "2|DAQServer|TCP/IP Server inactive : " + where + "|");
}

TEST_F(ServerWindow, ActivationFailureIsTracedAfterTheTimeOutWhileTheWindowKeepsRunning) {
    TakenPort taken;
    writeConfig(loopbackConfig(taken.port()));
    create();
    TraceCapture traces;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    QElapsedTimer elapsed;
    elapsed.start();
    constexpr int kTimeoutMs = 60;
    EXPECT_FALSE(window->runtime().open_Server(kTimeoutMs));
    EXPECT_GE(elapsed.elapsed(), kTimeoutMs);
    EXPECT_GT(ticks, 0);
    EXPECT_TRUE(widget<QComboBox>("cbxIP")->isEnabled());
    EXPECT_EQ(lastStatusLine(), "2|DAQServer|TCP/IP Server active fail(timeout) : 127.0.0.1:" +
                                    std::to_string(taken.port()) + "|");
    const auto errors = matching(traces.collect(), "TCP/IP Server : active error [");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("|2|-1|"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("|open_Server|FormTray"), std::string::npos) << errors[0];
}

TEST_F(ServerWindow, ActiveSwitchCallsTheHostButLeavesTheListener) {
    create();
    ActiveChanges changes;
    window->setOnActiveChange(changes.closure());
    auto* cbxActive = widget<QCheckBox>("cbxActive");
    cbxActive->setChecked(true);
    EXPECT_TRUE(window->runtime().active());
    cbxActive->setChecked(false);
    EXPECT_FALSE(window->runtime().active());
    EXPECT_EQ(changes.calls, 2);
    EXPECT_EQ(changes.sender, window.get());
    EXPECT_FALSE(window->runtime().listener().active());
}

TEST_F(ServerWindow, OnlySocketErrorsAreTracedWithTheirTableLine) {
    create();
    TraceCapture traces;
    auto raise = [](std::function<void()> fault) {
        Thrower thrower(std::move(fault));
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &event);
    };
    raise([] { throw std::runtime_error("not a socket error"); });
    raise([] { throw tcp::SocketError(10054, "Connection reset by peer"); });
    raise([] { throw tcp::SocketError(10048, "Address already in use"); });
    const auto lines = matching(traces.collect(), "ApplicationEventsException");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("10054, 서버에서 강제로 연결을 종료하였습니다.|", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("|2|-1|383|ApplicationEventsException|FormTray"), std::string::npos);
    EXPECT_EQ(lines[1].rfind("10048, 알 수 없는 소켓 에러입니다. Address already in use|", 0), 0u)
        << lines[1];

    // A destroyed window leaves the application's handler as it found it.
    window.reset();
    EXPECT_FALSE(HostApplicationEnvironment::application().OnException());
    raise([] { throw tcp::SocketError(10054, "after"); });
    EXPECT_TRUE(matching(traces.collect(), "ApplicationEventsException").empty());
}

TEST_F(ServerWindow, RunStateShowsInTheStatusAndLocksTheAddressAndActive) {
    writeConfig(loopbackConfig(freeLoopbackPort()));
    create();
    couple();
    useTexts(languageXml(20));
    auto* cbxIP = widget<QComboBox>("cbxIP");
    auto* cbxActive = widget<QCheckBox>("cbxActive");
    auto* lbStatus = widget<QLabel>("lbStatus");
    for (const bool run : {true, false}) {
        window->runtime().SetDAQRun(run);
        EXPECT_EQ(cbxIP->isEnabled(), !run);
        EXPECT_EQ(cbxActive->isEnabled(), !run);
        EXPECT_EQ(lbStatus->text(), run ? "text17" : "text18");
    }
}

TEST_F(ServerWindow, HostTextsRelabelTheWindowAndItsLists) {
    create();
    useTexts(languageXml(43));
    const auto tabs = widget<QTabWidget>("PageControl1");
    EXPECT_EQ(widget<QLabel>("lbTitle")->text(), "text42");
    EXPECT_EQ(widget<QPushButton>("btnConfig")->text(), "text1");
    EXPECT_EQ(widget<QLabel>("Label1")->text(), "text2");
    EXPECT_EQ(widget<QLabel>("lbStatus")->text(), "text3");
    EXPECT_EQ(tabs->tabText(0), "text5");
    EXPECT_EQ(tabs->tabText(1), "text6");
    EXPECT_EQ(widget<QTreeView>("vst")->model()->headerData(1, Qt::Horizontal).toString(),
              "text10");
    EXPECT_EQ(widget<QTreeView>("vstEvents")->model()->headerData(1, Qt::Horizontal).toString(),
              "text15");
}

TEST_F(ServerWindow, EscapeAndCloseOnlyHide) {
    writeConfig(loopbackConfig(freeLoopbackPort()));
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
