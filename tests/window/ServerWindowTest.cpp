// The server window over its runtime: the address choice and the caption, the configuration
// dialog, the Active switch, the run state and the texts it shows, and hiding.
#include <QCheckBox>
#include <QComboBox>
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
#include <string>
#include <vector>

#include "server/runtime/TextTable.h"
#include "server/window/TfrmConfig.h"
#include "server/window/TfrmDAQTray.h"
#include "tests/window/PluginTestSupport.h"

using namespace daq;
using namespace daq::window;

namespace {

std::string readConfig() {
    std::ifstream in(HostApplicationEnvironment::configPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string loopbackConfig(uint16_t port) {
    return "[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" + std::to_string(port) + "\n";
}

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
    writeConfig(loopbackConfig(port));
    create();
    ASSERT_TRUE(window->runtime().open_Server(TfrmDAQTray::kOpenTimeoutMs));
    auto* cbxIP = widget<QComboBox>("cbxIP");
    EXPECT_FALSE(cbxIP->isEnabled());  // locked while the listener is open

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
    EXPECT_EQ(window->runtime().listener().localPort(), port);
    EXPECT_EQ(changes.calls, 1);
    EXPECT_EQ(changes.sender, window.get());

    window->runtime().close_Server();
    EXPECT_TRUE(cbxIP->isEnabled());
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

// Settings it could not read stay closed and unchanged when the dialog is confirmed.
TEST_F(ServerWindow, UnreadableConfigFileKeepsTheListenerClosedAndTheFileUnchanged) {
    const std::string settings("[config]\0\nDAQServer Addr=127.0.0.1\n", 34);
    writeConfig(settings);
    create();
    window->runtime().listener().addBinding("127.0.0.1", freeLoopbackPort());
    configure(confirm);
    EXPECT_FALSE(window->runtime().listener().active());
    EXPECT_EQ(readConfig(), settings);
}

// An open that fails waits out its time-out with the window's timers running.
TEST_F(ServerWindow, FailingOpenKeepsTheWindowRunning) {
    writeConfig(loopbackConfig(freeLoopbackPort()));
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

// The Active switch calls the host but leaves the listener; a run shows in the status and locks
// the address and the switch.
TEST_F(ServerWindow, ActiveSwitchAndRunState) {
    writeConfig(loopbackConfig(freeLoopbackPort()));
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
    }
}

TEST_F(ServerWindow, HostTextsRelabelTheWindowAndItsLists) {
    create();
    useTexts(languageXml(43));
    EXPECT_EQ(widget<QPushButton>("btnConfig")->text(), "text1");
    EXPECT_EQ(widget<QLabel>("lbStatus")->text(), "text3");
    EXPECT_EQ(widget<QTabWidget>("PageControl1")->tabText(0), "text5");
    EXPECT_EQ(widget<QTabWidget>("PageControl1")->tabText(1), "text6");
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
