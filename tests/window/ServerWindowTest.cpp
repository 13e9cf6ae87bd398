// The server window on its own: "config.ini" and the bind address, the listener and its
// reports, the configuration dialog, the Active switch, unhandled exceptions, the DAQ run with
// its IO map, hiding, and destruction.
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
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/core/HostTree.h"
#include "host/readmap/MapAccess.h"
#include "kelvane/IORecords.h"
#include "server/runtime/LocalAddresses.h"
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

void markStatusLine() {
    TzrTrace::instance(nullptr).send(kStatusLineCode, "test", "mark");
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

struct ActiveChanges {
    int calls = 0;
    void* sender = nullptr;
    kelvane::TActivateEvent closure() {
        return {[](void* data, void* sender) {
                    auto* self = static_cast<ActiveChanges*>(data);
                    ++self->calls;
                    self->sender = sender;
                },
                this};
    }
};

// An IO tree of the host: groups and tags with their records.
class IoTree {
  public:
    kelvane::TTreeNode* group(kelvane::TTreeNode* parent) {
        nodes_.push_back({kelvane::nkGroup, {}, nullptr});
        return tree_.add(parent, &nodes_.back(), 0, "group");
    }
    kelvane::TIOList* tag(kelvane::TTreeNode* parent, int32_t id) {
        records_.emplace_back();
        records_.back().Id = id;
        nodes_.push_back({kelvane::nkTag, {}, &records_.back()});
        tree_.add(parent, &nodes_.back(), 0, "tag");
        return &records_.back();
    }
    host::HostTree& tree() { return tree_; }

  private:
    host::HostTree tree_;
    std::deque<kelvane::TIONodeRecord> nodes_;
    std::deque<kelvane::TIOList> records_;
};

class ServerWindow : public ::testing::Test {
  protected:
    void SetUp() override { removeConfig(); }
    void TearDown() override {
        window.reset();
        host::setOpenFailure(false);
        removeConfig();
    }

    // Creates the window with these local addresses and waits for its start-up timer.
    void create(std::vector<std::string> addresses = {"127.0.0.1"}) {
        createOnly(std::move(addresses));
        awaitStartUp();
    }
    void createOnly(std::vector<std::string> addresses) {
        TfrmDAQTray::Options options;
        options.localAddresses = [addresses] { return addresses; };
        window = std::make_unique<TfrmDAQTray>(&HostApplicationEnvironment::application(), options);
    }
    void awaitStartUp() {
        auto* init = window->findChild<QTimer*>(QStringLiteral("TimerInit"));
        ASSERT_TRUE(processEventsUntil([init] { return !init->isActive(); }));
    }
    // Enabled and, through the project settings, disconnected (RunMode 1).
    void couple() {
        window->runtime().setEnableFlag(&enableFlag);
        HostXml settings(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
        window->runtime().ReadConfig(settings.root());
        ASSERT_EQ(window->runtime().runMode(), rmDisconnected);
    }
    void useTexts(int count) {
        HostXml language(languageXml(count));
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
    // The host's IO records outlive the window's run over them.
    IoTree io;
    std::unique_ptr<TfrmDAQTray> window;
};

}  // namespace

// ---- "config.ini" and the bind address ----

TEST_F(ServerWindow, WithoutConfigFileTheListenerServesAllInterfacesAndNoFileIsWritten) {
    // The machine lists its loopback first.
    create({"127.0.0.1", "192.0.2.7"});
    EXPECT_EQ(window->runtime().serverPort(), 5050);
    EXPECT_EQ(window->runtime().serverAddress(), "0.0.0.0");
    auto* cbxIP = widget<QComboBox>("cbxIP");
    ASSERT_EQ(cbxIP->count(), 3);
    EXPECT_EQ(cbxIP->itemText(1), "192.0.2.7");
    EXPECT_EQ(cbxIP->itemText(2), "127.0.0.1");
    EXPECT_EQ(window->windowTitle(), "DAQServer");  // selecting at start-up is no user change
    EXPECT_FALSE(std::filesystem::exists(HostApplicationEnvironment::configPath()));

    // Confirming the dialog keeps every interface (the dialog reopens at a loopback binding).
    window->runtime().listener().addBinding("127.0.0.1", freeLoopbackPort());
    configure(confirm);
    EXPECT_NE(readConfig().find("DAQServer Addr=0.0.0.0"), std::string::npos) << readConfig();
}

TEST_F(ServerWindow, StoredPortIsUsedButTheDialogShowsTheComponentDefault) {
    const uint16_t port = freeLoopbackPort();
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(port) +
                "\n");
    create();
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    EXPECT_EQ(window->runtime().listenerState().text, "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(lastStatusLine(),
              "2|DAQServer|TCP/IP Server active : 127.0.0.1:" + std::to_string(port) + "|");

    ActiveChanges changes;
    window->setOnActiveChange(changes.closure());
    configure([](TfrmConfig& dialog) {
        EXPECT_EQ(dialog.portText(), "5050");
        confirm(dialog);
    });
    // Stored: 5050; the listener came back at once with the binding it had.
    EXPECT_NE(readConfig().find("DAQServer Port=5050"), std::string::npos) << readConfig();
    EXPECT_NE(readConfig().find("DAQServer Addr=127.0.0.1"), std::string::npos);
    EXPECT_EQ(window->runtime().serverPort(), 5050);
    EXPECT_TRUE(window->runtime().listener().active());
    EXPECT_EQ(window->runtime().listener().localPort(), port);
    EXPECT_EQ(changes.calls, 1);
    EXPECT_EQ(changes.sender, window.get());
}

TEST_F(ServerWindow, AddressNotOnTheMachineFallsBackToAllInterfacesAndBadSettingsAreTraced) {
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

TEST_F(ServerWindow, OpeningBeforeTheStartUpStepListsTheAddressesOnce) {
    const uint16_t port = freeLoopbackPort();
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(port) +
                "\n");
    createOnly({"127.0.0.1", "192.0.2.7"});
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    auto* cbxIP = widget<QComboBox>("cbxIP");
    EXPECT_EQ(cbxIP->count(), 3);
    EXPECT_EQ(cbxIP->currentText(), "127.0.0.1");
    awaitStartUp();
    EXPECT_EQ(cbxIP->count(), 3);
}

TEST_F(ServerWindow, UnreadableConfigFileKeepsTheListenerClosedAndTheFileUnchanged) {
    const std::string settings("[config]\0\nDAQServer Addr=127.0.0.1\n", 34);
    writeConfig(settings);
    TraceCapture traces;
    create();
    EXPECT_EQ(
        matching(traces.collect(),
                 "TCP/IP Server : config.ini not read, the listener stays "
                 "closed : " +
                     HostApplicationEnvironment::configPath() + ": holds a zero byte at offset 8|")
            .size(),
        1u);
    window->runtime().listener().addBinding("127.0.0.1",
                                            freeLoopbackPort());  // where the dialog reopens
    configure(confirm);
    EXPECT_FALSE(window->runtime().listener().active());
    EXPECT_EQ(readConfig(), settings);
    EXPECT_FALSE(window->runtime().open_Server(0));
    EXPECT_FALSE(window->runtime().listener().active());
    EXPECT_EQ(window->runtime().listenerState().text,
              "config.ini not read : " + HostApplicationEnvironment::configPath() +
                  ": holds a zero byte at offset 8");
}

TEST_F(ServerWindow, SameAddressTwiceSelectsTheLaterEntry) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\n");
    create({"127.0.0.1", "127.0.0.2", "127.0.0.1"});
    EXPECT_EQ(widget<QComboBox>("cbxIP")->currentIndex(), 3);
    EXPECT_EQ(window->runtime().serverAddress(), "127.0.0.1");
}

TEST_F(ServerWindow, NonNumericPortsGiveTheDefault) {
    writeConfig("[config]\nDAQServer Port=fifty\n");
    create();
    EXPECT_EQ(window->runtime().serverPort(), 5050);
    EXPECT_FALSE(window->runtime().listener().active());
    window->runtime().listener().addBinding("127.0.0.1",
                                            freeLoopbackPort());  // where the dialog reopens
    configure([](TfrmConfig& dialog) {
        dialog.setPortText(QStringLiteral("port"));
        confirm(dialog);
    });
    EXPECT_EQ(window->runtime().serverPort(), 5050);
    EXPECT_NE(readConfig().find("DAQServer Port=5050"), std::string::npos) << readConfig();
}

TEST_F(ServerWindow, CancelledDialogChangesNothingAndRunLocksThePortEdit) {
    const std::string settings =
        "[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(freeLoopbackPort()) +
        "\n";
    writeConfig(settings);
    create();
    couple();
    useTexts(40);
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

TEST_F(ServerWindow, AddressChangeSetsTheCaptionFromTheHostFormat) {
    create({"127.0.0.1", "127.0.0.2"});
    std::string entries;
    for (int i = 0; i < 29; ++i) {
        entries += "<t/>";
    }
    HostXml language("<lang><_11>" + entries + "<t>DAQServer - %s : %d %n%x</t></_11></lang>");
    texts.load(language.root(), 11);
    window->applyTexts(&texts);
    auto* cbxIP = widget<QComboBox>("cbxIP");
    cbxIP->setCurrentIndex(2);
    emit cbxIP->activated(2);
    EXPECT_EQ(window->runtime().serverAddress(), "127.0.0.2");
    // Only %s and %d are conversions in a host text.
    EXPECT_EQ(window->windowTitle(), "DAQServer - 127.0.0.2 : 5050 %n%x");
    EXPECT_FALSE(window->runtime().listener().active());
}

// ---- Listener ----

TEST_F(ServerWindow, OpeningAnOpenListenerSaysNothing) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" +
                std::to_string(freeLoopbackPort()) + "\n");
    create();
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    markStatusLine();
    EXPECT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    EXPECT_EQ(lastStatusLine(), "2|test|mark|");
    EXPECT_FALSE(widget<QComboBox>("cbxIP")->isEnabled());

    window->runtime().close_Server();
    EXPECT_FALSE(window->runtime().listener().active());
    EXPECT_TRUE(widget<QComboBox>("cbxIP")->isEnabled());
}

TEST_F(ServerWindow, ClosingAClosedListenerOnlyReports) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=6001\n");
    create();
    widget<QComboBox>("cbxIP")->setEnabled(false);
    window->runtime().close_Server();
    EXPECT_TRUE(widget<QComboBox>("cbxIP")->isEnabled());
    EXPECT_EQ(lastStatusLine(), "2|DAQServer|TCP/IP Server inactive : 127.0.0.1:6001|");
}

TEST_F(ServerWindow, ActivationFailureTracesWaitsOutTheTimeoutAndKeepsTimersRunning) {
    TakenPort taken;
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" +
                std::to_string(taken.port()) + "\n");
    create();
    TraceCapture traces;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(window->runtime().open_Server(400));
    EXPECT_GE(elapsed.elapsed(), 400);
    EXPECT_GT(ticks, 3);
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

TEST_F(ServerWindow, ListenerStatusBecomesAStatusLine) {
    create();
    window->runtime().IdTCPServer1Status("listening on 127.0.0.1:1");
    EXPECT_EQ(lastStatusLine(), "2|DAQServer|TCP/IP Server status : listening on 127.0.0.1:1|");
}

// ---- Unhandled exceptions of the window thread ----

TEST_F(ServerWindow, OnlySocketErrorsAreTracedWithTheirTableLine) {
    create();
    TraceCapture traces;
    auto raise = [](std::function<void()> fault) {
        Thrower thrower(std::move(fault));
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &event);
    };
    raise([] { throw std::runtime_error("not a socket error"); });
    EXPECT_TRUE(matching(traces.collect(), "ApplicationEventsException").empty());

    raise([] { throw tcp::SocketError(10054, "Connection reset by peer"); });
    raise([] { throw tcp::SocketError(10048, "Address already in use"); });
    const auto lines = matching(traces.collect(), "ApplicationEventsException");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("10054, 서버에서 강제로 연결을 종료하였습니다.|", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("|2|-1|383|ApplicationEventsException|FormTray"), std::string::npos);
    EXPECT_EQ(lines[1].rfind("10048, 알 수 없는 소켓 에러입니다. Address already in use|", 0), 0u)
        << lines[1];
    EXPECT_NE(lines[1].find("|2|-1|388|ApplicationEventsException|FormTray"), std::string::npos);

    // A destroyed window leaves the application's handler as it found it.
    window.reset();
    EXPECT_FALSE(HostApplicationEnvironment::application().OnException());
    raise([] { throw tcp::SocketError(10054, "after"); });
    EXPECT_TRUE(matching(traces.collect(), "ApplicationEventsException").empty());
}

// ---- DAQ run ----

TEST_F(ServerWindow, RunStateShowsInTheStatusAndLocksTheAddressAndActive) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" +
                std::to_string(freeLoopbackPort()) + "\n");
    create();
    couple();
    useTexts(20);
    auto* cbxIP = widget<QComboBox>("cbxIP");
    auto* cbxActive = widget<QCheckBox>("cbxActive");
    auto* lbStatus = widget<QLabel>("lbStatus");

    window->runtime().SetDAQRun(true);
    EXPECT_FALSE(cbxIP->isEnabled());
    EXPECT_FALSE(cbxActive->isEnabled());
    EXPECT_EQ(lbStatus->text(), "text17");

    window->runtime().SetDAQRun(false);
    EXPECT_TRUE(cbxIP->isEnabled());
    EXPECT_TRUE(cbxActive->isEnabled());
    EXPECT_EQ(lbStatus->text(), "text18");
}

TEST_F(ServerWindow, RunningRefreshCopiesUpdatedValuesOnly) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" +
                std::to_string(freeLoopbackPort()) + "\nRefreshIntervalMs=20\n");
    create();
    EXPECT_EQ(window->runtime().refreshThread().intervalMs(), 20);
    couple();
    kelvane::TIOList* updated = io.tag(nullptr, 1);
    kelvane::TIOList* quiet = io.tag(nullptr, 2);
    quiet->Current.Value = 11.0;
    quiet->Current.Updated = 1;
    window->runtime().setIoTree(&io.tree());
    window->runtime().SetDAQRun(true);

    kelvane::TCurrentValue value{};
    value.Value = 42.5;
    value.Decimals = 1;
    value.Updated = 1;
    const host::HeaderUpdate update{updated, value};
    ASSERT_EQ(host::writeHeaders(&update, 1), 1u);
    auto valueOf = [&](int index) {
        double value = 0;
        window->runtime().ioMap().read(
            [&](const auto& map) { value = map.record(index)->Current.Value; });
        return value;
    };
    ASSERT_TRUE(processEventsUntil([&] { return valueOf(0) == 42.5; }));
    const uint64_t passes = window->runtime().refreshThread().passes();
    ASSERT_TRUE(
        processEventsUntil([&] { return window->runtime().refreshThread().passes() > passes; }));
    EXPECT_EQ(valueOf(1), 11.0);  // its header was never written: the old block stays
}

// ---- Window behaviour ----

TEST_F(ServerWindow, LayoutAndInitialTexts) {
    create();
    EXPECT_EQ(window->windowTitle(), "DAQServer");
    EXPECT_EQ(window->size(), QSize(TfrmDAQTray::kWidth, TfrmDAQTray::kHeight));
    EXPECT_EQ(window->minimumWidth(), TfrmDAQTray::kMinWidth);
    EXPECT_FALSE(window->isVisible());
    window->show();
    EXPECT_EQ(widget<QWidget>("pnlMainTool")->height(), 41);
    EXPECT_EQ(widget<QWidget>("pnlMainTool")->palette().color(QPalette::Window),
              QColor(0x2E, 0x2E, 0x2E));
    auto* title = widget<QLabel>("lbTitle");
    EXPECT_EQ(title->text(), "TCP/IP Server");
    EXPECT_TRUE(title->font().bold());
    EXPECT_EQ(title->font().pixelSize(), 16);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_FALSE(widget<QLabel>("lbStatus")->isVisible());
    EXPECT_FALSE(widget<QWidget>("Panel3")->isVisible());
    EXPECT_FALSE(widget<QPushButton>("btnRun")->isVisible());
    EXPECT_EQ(widget<QWidget>("Panel1")->height(), 32);
    EXPECT_EQ(widget<QPushButton>("btnConfig")->text(), "Config");
    EXPECT_EQ(widget<QLabel>("Label1")->text(), "IP Address");
    auto* pages = widget<QTabWidget>("PageControl1");
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->tabText(0), "Login Users");
    EXPECT_EQ(pages->tabText(1), "Events");
    EXPECT_EQ(pages->currentIndex(), 0);

    useTexts(43);
    EXPECT_EQ(title->text(), "text42");
    EXPECT_EQ(pages->tabText(0), "text5");
    EXPECT_EQ(pages->tabText(1), "text6");
    EXPECT_EQ(widget<QLabel>("lbStatus")->text(), "text3");
    auto* users = widget<QTreeView>("vst")->model();
    EXPECT_EQ(users->headerData(1, Qt::Horizontal).toString(), "text10");
    EXPECT_EQ(users->headerData(4, Qt::Horizontal).toString(), "OS");  // not relabelled
}

TEST_F(ServerWindow, EscapeAndCloseOnlyHide) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" +
                std::to_string(freeLoopbackPort()) + "\n");
    create();
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    window->show();
    QTest::keyClick(widget<QTreeView>("vst"), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->runtime().listener().active());
    window->show();
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->runtime().listener().active());
}

TEST_F(ServerWindow, DestructionStopsTheListenerAndTheRefreshThread) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" +
                std::to_string(freeLoopbackPort()) + "\n");
    create();
    couple();
    io.tag(nullptr, 1);
    window->runtime().setIoTree(&io.tree());
    window->runtime().SetDAQRun(true);
    ASSERT_TRUE(window->runtime().listener().active());
    QElapsedTimer elapsed;
    elapsed.start();
    window.reset();
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_NE(lastStatusLine().find("TCP/IP Server inactive : 127.0.0.1:"), std::string::npos);
}
