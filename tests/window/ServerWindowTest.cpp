// The server window over its runtime: the address choice and the caption, the configuration
// dialog, the Active switch, the run state, and hiding (its texts: PluginObjectTest).
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
#include "tests/support/HostProcess.h"
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

std::string loopbackConfig(uint16_t port = test::HostProcess::freePort()) {
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
    TfrmDAQTray::Options options;
    options.localAddresses = [] { return std::vector<std::string>{"127.0.0.1", "127.0.0.2"}; };
    window = std::make_unique<TfrmDAQTray>(&HostApplicationEnvironment::application(), options);
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
    // Enabled and, through the project settings, disconnected (RunMode 1).
    window->runtime().setEnableFlag(&enableFlag);
    HostXml project(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
    window->runtime().ReadConfig(project.root());
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
