// The host's run of a plug-in, in-process with the probe plug-in: what is handed over, in which
// order, and the orderly and the failed start and stop.
#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>
#include <chrono>
#include <fstream>
#include <thread>

#include "host/core/DemoProject.h"
#include "host/session/HostSession.h"
#include "kelvane/HostApplication.h"
#include "kelvane/Text.h"
#include "tests/unit/HostProbePlugin.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;
using namespace kelvane;

namespace {

// One host application for the program (Qt allows one per process), on the offscreen platform.
class HostApplication : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static char name[] = "host-test";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        instance = std::make_unique<THostApplication>(argc, argv, "/nonexistent");
    }
    void TearDown() override { instance.reset(); }
    inline static std::unique_ptr<THostApplication> instance;
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new HostApplication);

const std::filesystem::path kProbe = std::filesystem::path(DAQ_BIN_DIR) / "libhost_probe_plugin.so";
const std::filesystem::path kLanguages = std::filesystem::path(DAQ_BIN_DIR) / "lang";

// The calls the plug-in received, in order.
std::vector<std::string> callsIn(const std::filesystem::path& log) {
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
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
            *HostApplication::instance,
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
    EXPECT_EQ(probe.system->Project, plant.projectRecord());
    EXPECT_EQ(probe.system->SystemTree, static_cast<IHostTree*>(&plant.system().tree()));
    EXPECT_EQ(probe.project, plant.projectRecord());
    EXPECT_EQ(RefText(probe.project->ProjectName), u"Riverside Water Works");
    // The plug-in reads its texts through the host's XML nodes: one object per node, none for a
    // node that is not there.
    ASSERT_NE(probe.language, nullptr);
    EXPECT_NE(probe.language->ChildNode("_11"), nullptr);
    EXPECT_EQ(probe.language->ChildNode("_11"), probe.language->Child(0));
    EXPECT_EQ(probe.language->ChildNode("none"), nullptr);
    EXPECT_EQ(probe.infoParent, &info);
    ASSERT_NE(probe.serverParent, nullptr);
    EXPECT_FALSE(probe.serverParent->isVisible()) << "headless: a hidden parent";
    EXPECT_EQ(probe.openResult, 1);
    EXPECT_EQ(probe.map.GetCount(), static_cast<int32_t>(plant.io().tags().size()));
    // The simulator runs and writes every tag into the plug-in's map once it opens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (session->simulator().headersWritten() < plant.io().tags().size() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(session->simulator().headersWritten(), plant.io().tags().size());
    session->stop();
    EXPECT_FALSE(session->running());
}

// The login closure: end to end in HostServiceTest.
TEST_F(SessionTest, FailedMapOpenAndActiveSwitchReachThePluginAndTheHost) {
    Project project = makeDemoProject();
    project.map.openFails = true;
    auto session = makeSession(project);
    session->start();
    ProbeRecord& probe = probeOf(*session);
    EXPECT_EQ(probe.openResult, 0);
    ASSERT_TRUE(probe.activeChange);
    probe.activeChange(nullptr);
    EXPECT_EQ(session->activeChanges(), 1);
    session->stop();
}

// With a file to save to, WriteConfig comes before the plug-in goes: HostProgramTest's --save.
TEST_F(SessionTest, StopTakesThePluginDownInOrder) {
    auto session = makeSession(makeDemoProject());
    session->start();
    session->stop();
    const std::vector<std::string> calls = callsIn(log_);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"DAQStop", "Disconnect", "destroyed"}));
}

TEST_F(SessionTest, AFailedStartLeavesNothingRunning) {
    setenv(kProbeFailVariable, "Connect", 1);
    auto session = makeSession(makeDemoProject());
    QWidget server;
    EXPECT_THROW(session->start(&server), std::runtime_error);
    EXPECT_FALSE(session->running());
    EXPECT_EQ(callsIn(log_).back(), "destroyed");
    EXPECT_TRUE(server.findChildren<QLabel*>().isEmpty());
    EXPECT_EQ(session->simulator().headersWritten(), 0u);
}
