// The host's run of a plug-in, in-process with the probe plug-in: what is handed over, in which
// order, the values reaching the plug-in's map, and the orderly and the failed start and stop.
#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>
#include <chrono>
#include <fstream>
#include <thread>

#include "host/core/DemoProject.h"
#include "host/core/FileError.h"
#include "host/session/HostSession.h"
#include "kelvane/Text.h"
#include "tests/unit/HostProbePlugin.h"
#include "tests/unit/HostQtEnvironment.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;
using namespace kelvane;

namespace {

const auto* const environment = ::testing::AddGlobalTestEnvironment(new HostApplicationEnvironment);

const std::filesystem::path kProbe = std::filesystem::path(DAQ_BIN_DIR) / "libhost_probe_plugin.so";
const std::filesystem::path kLanguages = std::filesystem::path(DAQ_BIN_DIR) / "lang";

std::vector<std::string> linesOf(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Only the calls the plug-in receives, in order.
std::vector<std::string> callsIn(const std::filesystem::path& log) {
    std::vector<std::string> calls;
    for (const std::string& line : linesOf(log)) {
        if (line.rfind("created", 0) != 0 && line.rfind("map ", 0) != 0) {
            calls.push_back(line);
        }
    }
    return calls;
}

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() {
        setenv(kProbeLogVariable, log_.c_str(), 1);
        unsetenv(kProbeFailVariable);
    }
    ~SessionTest() override { unsetenv(kProbeFailVariable); }

    std::unique_ptr<HostSession> makeSession(const Project& project) {
        return std::make_unique<HostSession>(
            HostApplicationEnvironment::application(),
            ProjectFile::fromText(projectFileText(project), "test project"),
            LanguageTexts::load("en", kLanguages), kProbe);
    }

    static ProbeRecord& probeOf(HostSession& session) {
        TPinzCommand command{};
        command.Code = kProbeRecordCode;
        _TPinzSendParam param{};
        param.Kind = kPinzCommandKind;
        param.Command = &command;
        session.instance()->SendParam(&param);
        return *static_cast<ProbeRecord*>(command.Data);
    }

    TempDir dir_;
    std::filesystem::path log_ = dir_.path() / "probe.log";
};

}  // namespace

TEST_F(SessionTest, StartHandsTheHostObjectsOverInOrder) {
    auto session = makeSession(makeDemoProject());
    QWidget info;
    session->start(nullptr, &info);
    ASSERT_TRUE(session->running());
    EXPECT_EQ(callsIn(log_), (std::vector<std::string>{
                                 "send 66", "send 0", "send 83", "send 15", "send 111", "send 57",
                                 "send 49", "InitInformForm", "ReadConfig", "Connect", "DAQRun"}));
    ProbeRecord& probe = probeOf(*session);
    Plant& plant = session->plant();
    EXPECT_EQ(probe.enableFlag, 1);
    EXPECT_EQ(probe.ioTree, static_cast<IHostTree*>(&plant.io().tree()));
    // The system object carries the project record at 32 and the system tree at 40.
    const auto* system = reinterpret_cast<const uint8_t*>(probe.system);
    EXPECT_EQ(*reinterpret_cast<TProjectRecord* const*>(system + 32), plant.projectRecord());
    EXPECT_EQ(*reinterpret_cast<IHostTree* const*>(system + 40),
              static_cast<IHostTree*>(&plant.system().tree()));
    EXPECT_EQ(probe.project, plant.projectRecord());
    EXPECT_EQ(RefText(probe.project->ProjectName), u"Riverside Water Works");
    ASSERT_NE(probe.language, nullptr);
    IXMLNode* texts = probe.language->ChildNode("_11");
    ASSERT_NE(texts, nullptr);
    EXPECT_EQ(texts->ChildCount(), 44);
    EXPECT_EQ(texts->Child(29)->Text(), "TCP DAQ Server - %s:%d");
    EXPECT_EQ(probe.infoParent, &info);
    ASSERT_NE(probe.serverParent, nullptr);
    EXPECT_FALSE(probe.serverParent->isVisible()) << "headless: a hidden parent";
    EXPECT_EQ(probe.runMode, "1") << "the demo's plug-in settings";
    EXPECT_EQ(probe.openResult, 1);
    EXPECT_EQ(probe.map.GetCount(), static_cast<int32_t>(plant.io().tags().size()));
    session->stop();
    EXPECT_FALSE(session->running());
}

TEST_F(SessionTest, SimulatedValuesReachThePluginsMapAtOnce) {
    auto session = makeSession(makeDemoProject());
    session->start();
    ProbeRecord& probe = probeOf(*session);
    const int32_t count = probe.map.GetCount();
    ASSERT_GT(count, 30);
    // Slow tags (one value every 15 s or more) have one too: written when the map opened.
    int32_t updated = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (updated < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(probe.map.HeaderLock());
        updated = 0;
        for (int32_t i = 0; i < count; ++i) {
            updated += probe.map.GetHeader(i)->Current.Updated != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(updated, count);
    {
        std::lock_guard lock(probe.map.HeaderLock());
        EXPECT_EQ(probe.map.GetIOList(0)->TagName, session->plant().io().tags()[0].record->TagName);
        EXPECT_FALSE(blockText(probe.map.GetHeader(0)->Current).empty());
    }
    session->stop();
}

TEST_F(SessionTest, ClosuresReachTheHostsLoginAndActiveSwitch) {
    auto session = makeSession(makeDemoProject());
    session->start();
    ProbeRecord& probe = probeOf(*session);

    TPinzLoginUser user{u"", u"admin", u"admin", {}};
    TPinzCommand command{};
    command.Code = kLoginCommand;
    command.Value = reinterpret_cast<uint64_t>(&user);
    _TPinzSendParam param{};
    param.Kind = kPinzCommandKind;
    param.Command = &command;
    ASSERT_TRUE(probe.login);
    probe.login(&param);
    ASSERT_NE(command.Data, nullptr);
    EXPECT_TRUE(*static_cast<bool*>(command.Data));
    EXPECT_EQ(user.Flags[kLoginWriteFlag] & 1, 1);
    EXPECT_EQ(session->login().accepted(), 1);

    ASSERT_TRUE(probe.activeChange);
    probe.activeChange(nullptr);
    EXPECT_EQ(session->activeChanges(), 1);
    session->stop();
}

TEST_F(SessionTest, StopTakesThePluginDownAndSavesItsSettingsOnlyWhenAsked) {
    const auto path = dir_.path() / "plant.xml";
    {
        auto session = makeSession(makeDemoProject());
        session->start();
        session->stop();
    }
    std::vector<std::string> calls = callsIn(log_);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"DAQStop", "Disconnect", "destroyed"}));
    EXPECT_FALSE(std::filesystem::exists(path));

    std::filesystem::remove(log_);
    auto session = makeSession(makeDemoProject());
    session->start();
    session->stop(path);
    calls = callsIn(log_);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 4, calls.end()),
              (std::vector<std::string>{"DAQStop", "Disconnect", "WriteConfig", "destroyed"}));
    const ProjectFile saved = ProjectFile::load(path);
    pugi::xml_node settings = const_cast<ProjectFile&>(saved).pluginSettings();
    EXPECT_EQ(std::distance(settings.children().begin(), settings.children().end()), 1)
        << "the plug-in's settings are written afresh";
    EXPECT_STREQ(settings.child("TCPServer").attribute("RunMode").value(), "2");
    EXPECT_EQ(saved.model().info, session->plant().model().info);
}

TEST_F(SessionTest, AMapThatFailsToOpenIsReportedToThePlugin) {
    Project project = makeDemoProject();
    project.map.openFails = true;
    auto session = makeSession(project);
    session->start();
    EXPECT_EQ(probeOf(*session).openResult, 0);
    EXPECT_GT(probeOf(*session).map.GetCount(), 0);
    session->stop();
}

TEST_F(SessionTest, AFailedStartLeavesNothingRunning) {
    setenv(kProbeFailVariable, "Connect", 1);
    auto session = makeSession(makeDemoProject());
    QWidget server;
    EXPECT_THROW(session->start(&server), std::runtime_error);
    EXPECT_FALSE(session->running());
    EXPECT_EQ(linesOf(log_).back(), "destroyed");
    EXPECT_TRUE(server.findChildren<QLabel*>().isEmpty());
    EXPECT_EQ(session->simulator().headersWritten(), 0u);
}

TEST(PluginLibrary, MissingFileOrEntryPointIsNamed) {
    try {
        PluginLibrary library("/nonexistent/libnothing.so");
        FAIL() << "a missing library was loaded";
    } catch (const FileError& error) {
        EXPECT_EQ(error.file(), "/nonexistent/libnothing.so");
        EXPECT_NE(std::string(error.what()).find("cannot load the plug-in"), std::string::npos);
    }
    try {
        PluginLibrary library(std::filesystem::path(DAQ_BIN_DIR) / "libKVReadMap.so");
        FAIL() << "a library without entry points was accepted";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("does not export \"CreatePinzInstance\""),
                  std::string::npos)
            << error.what();
    }
}
