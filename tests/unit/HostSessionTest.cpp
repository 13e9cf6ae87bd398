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
#include "kelvane/ReadMapFile.h"
#include "kelvane/SystemRecords.h"
#include "kelvane/Text.h"
#include "tests/support/HostApplicationEnvironment.h"
#include "tests/unit/HostProbePlugin.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;
using namespace kelvane;

namespace {

const std::filesystem::path kProbe = std::filesystem::path(DAQ_BIN_DIR) / "libhost_probe_plugin.so";

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() {
        setenv(kProbeLogVariable, log_.c_str(), 1);
        unsetenv(kProbeFailVariable);
    }

    std::unique_ptr<HostSession> makeSession(const Project& project) {
        return std::make_unique<HostSession>(
            HostApplicationEnvironment::application(),
            ProjectFile::fromText(projectFileText(project), "test project"),
            LanguageTexts::load("en", std::filesystem::path(DAQ_BIN_DIR) / "lang"), kProbe);
    }
    // The calls the plug-in received, in order.
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    TempDir dir_;
    std::filesystem::path log_ = dir_.path() / "probe.log";
};

}  // namespace

TEST_F(SessionTest, StartHandsTheHostObjectsOverInOrderAndStopTakesThePluginDown) {
    auto session = makeSession(makeDemoProject());
    QWidget info;
    session->start(nullptr, &info);
    ASSERT_TRUE(session->running());
    EXPECT_EQ(calls(), (std::vector<std::string>{"send 66", "send 0", "send 83", "send 15",
                                                 "send 111", "send 57", "send 49", "InitInformForm",
                                                 "ReadConfig", "Connect", "DAQRun"}));
    Command probe(kProbeRecordCode);
    session->instance()->SendParam(&probe.param);
    ProbeCommands& sent = *static_cast<ProbeCommands*>(probe.command.Data);
    Plant& plant = session->plant();
    EXPECT_EQ(*reinterpret_cast<int32_t*>(sent[cmdEnableFlag].Value), 1);
    EXPECT_EQ(reinterpret_cast<IHostTree*>(sent[cmdHostObjects].Value), &plant.io().tree());
    const auto* system = static_cast<THostSystem*>(sent[cmdHostObjects].Data);
    EXPECT_EQ(system->Project, plant.projectRecord());
    EXPECT_EQ(system->SystemTree, static_cast<IHostTree*>(&plant.system().tree()));
    EXPECT_EQ(RefText(static_cast<TProjectRecord*>(sent[cmdProject].Data)->ProjectName),
              u"Riverside Water Works");
    // The plug-in reads its texts through the host's XML nodes: one object per node, none for a
    // node that is not there.
    auto* language = static_cast<IXMLNode*>(sent[cmdLanguage].Data);
    EXPECT_EQ(language->ChildNode("_11"), language->Child(0));
    EXPECT_EQ(language->ChildNode("none"), nullptr);
    EXPECT_FALSE(reinterpret_cast<QWidget*>(sent[cmdEmbedWindow].Value)->isVisible())
        << "headless: a hidden parent";
    (*reinterpret_cast<TActivateEvent*>(sent[cmdActiveChange].Value))(nullptr);
    EXPECT_EQ(session->activeChanges(), 1);
    // The simulator runs: it writes into a map as soon as the map opens.
    TReadMapFile map;
    map.Add(plant.io().tags().front().record);
    ASSERT_NE(map.Open(true), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (session->simulator().headersWritten() == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(session->simulator().headersWritten(), 0u);

    session->stop();
    EXPECT_FALSE(session->running());
    const std::vector<std::string> after = calls();
    EXPECT_EQ(std::vector<std::string>(after.end() - 3, after.end()),
              (std::vector<std::string>{"DAQStop", "Disconnect", "destroyed"}));
}

TEST_F(SessionTest, AFailedStartLeavesNothingRunning) {
    setenv(kProbeFailVariable, "Connect", 1);
    Project demo = makeDemoProject();
    demo.map.openFails = true;
    auto session = makeSession(demo);
    QWidget server;
    EXPECT_THROW(session->start(&server), std::runtime_error);
    EXPECT_FALSE(session->running());
    EXPECT_EQ(calls().back(), "destroyed");
    EXPECT_TRUE(server.findChildren<QLabel*>().isEmpty());
    TReadMapFile map;  // the project's setting reaches the plug-in's maps
    map.Add(session->plant().io().tags().front().record);
    EXPECT_EQ(map.Open(true), 0);
}
