// kelvane-host as a program: the demo project it prints, clear errors and exit codes, an orderly
// stop on SIGTERM, --save, --config-dir and --screenshot. The probe plug-in stands in for the
// server and logs what it is asked; the server's own listener (--address, --port, headless
// failures) is tried with the real plug-in.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <chrono>
#include <fstream>
#include <thread>

#include "host/core/FileError.h"
#include "host/core/Passwords.h"
#include "host/core/ProjectFile.h"
#include "tests/unit/HostProbePlugin.h"
#include "tests/unit/HostQtEnvironment.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;

namespace {

const auto* const environment = ::testing::AddGlobalTestEnvironment(new HostApplicationEnvironment);

const QString kHost = QStringLiteral(DAQ_BIN_DIR "/kelvane-host");
const QString kProbe = QStringLiteral(DAQ_BIN_DIR "/libhost_probe_plugin.so");
constexpr int kTimeoutMs = 30000;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ProgramTest : public ::testing::Test {
  protected:
    std::unique_ptr<QProcess> launch(QStringList arguments, const QProcessEnvironment& extra = {}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert(kProbeLogVariable, QString::fromStdString(log_.string()));
        variables.insert("KELVANE_TRACE_SOCKET", qtPath(dir_.path() / "trace.sock"));
        variables.remove("DISPLAY");
        variables.remove("WAYLAND_DISPLAY");
        variables.insert(extra);
        process->setProcessEnvironment(variables);
        process->start(kHost, arguments);
        EXPECT_TRUE(process->waitForStarted(kTimeoutMs));
        return process;
    }

    Outcome runHost(QStringList arguments, const QProcessEnvironment& extra = {}) {
        auto process = launch(std::move(arguments), extra);
        EXPECT_TRUE(process->waitForFinished(kTimeoutMs));
        return {process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
                process->readAllStandardOutput().toStdString(),
                process->readAllStandardError().toStdString()};
    }

    // Standard error until it holds `text` (bounded).
    static std::string awaitStderr(QProcess& process, const std::string& text) {
        std::string err;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
        while (err.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            process.waitForReadyRead(100);
            err += process.readAllStandardError().toStdString();
        }
        return err;
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    QString qtPath(const std::filesystem::path& path) const {
        return QString::fromStdString(path.string());
    }

    std::filesystem::path demoFile() {
        const Outcome printed = runHost({"--print-demo-project"});
        EXPECT_EQ(printed.exitCode, 0) << printed.err;
        return dir_.write("demo.xml", printed.out);
    }

    TempDir dir_;
    std::filesystem::path log_ = dir_.path() / "probe.log";
};

}  // namespace

TEST_F(ProgramTest, PrintedDemoProjectReadsBackAndRuns) {
    const auto path = demoFile();
    const ProjectFile file = ProjectFile::load(path);
    ASSERT_EQ(file.model().users.size(), 2u);
    EXPECT_TRUE(checkPassword("admin", file.model().users[0].hash));
    EXPECT_EQ(file.model().info.projectName, "Riverside Water Works");

    const auto config = dir_.path() / "config";
    std::filesystem::create_directory(config);
    const Outcome run = runHost({"--project", qtPath(path), "--plugin", kProbe, "--config-dir",
                                 qtPath(config), "--exit-after", "300"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("DAQ run started with project \"Riverside Water Works\""),
              std::string::npos)
        << run.err;
    const std::vector<std::string> log = logLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "created exe-dir=" + config.string());
    EXPECT_EQ(log.back(), "destroyed");
}

TEST_F(ProgramTest, SyntheticProjectHasTheAskedTags) {
    const Outcome printed = runHost({"--print-demo-project", "--synthetic-tags", "2500"});
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    const ProjectFile file = ProjectFile::fromText(printed.out, "synthetic");
    std::size_t tags = 0;
    for (const IoNode& group : file.model().ioTree) {
        tags += group.children.size();
    }
    EXPECT_EQ(tags, 2500u);
}

TEST_F(ProgramTest, BadFilesAreNamedAndNothingStarts) {
    const auto broken =
        dir_.write("broken.xml", "<kelvane-project>\n<io-tree>\n</kelvane-project>\n");
    const Outcome malformed = runHost({"--project", qtPath(broken), "--plugin", kProbe});
    EXPECT_EQ(malformed.exitCode, 2);
    EXPECT_NE(malformed.err.find(broken.string() + ":3: malformed XML"), std::string::npos)
        << malformed.err;

    const Outcome noPlugin = runHost({"--plugin", qtPath(dir_.path() / "libabsent.so")});
    EXPECT_EQ(noPlugin.exitCode, 2);
    EXPECT_NE(
        noPlugin.err.find((dir_.path() / "libabsent.so").string() + ": cannot load the plug-in"),
        std::string::npos)
        << noPlugin.err;

    const auto noTexts = dir_.write("texts.xml", "<language>\n  <_12/>\n</language>\n");
    const Outcome language = runHost({"--plugin", kProbe, "--lang", qtPath(noTexts)});
    EXPECT_EQ(language.exitCode, 2);
    EXPECT_NE(language.err.find(noTexts.string() + ":1: expected a child element <_11>"),
              std::string::npos)
        << language.err;

    const Outcome usage = runHost({"--no-such-option"});
    EXPECT_EQ(usage.exitCode, 1);
    EXPECT_TRUE(logLines().empty()) << "no plug-in instance was created";
}

TEST_F(ProgramTest, SigtermStopsTheHostInOrderAndSaveWritesTheSettings) {
    const auto path = demoFile();
    auto process = launch({"--project", qtPath(path), "--plugin", kProbe, "--save"});
    // Wait for the line the host prints once the DAQ run has started.
    std::string err = awaitStderr(*process, "DAQ run started");
    ASSERT_NE(err.find("DAQ run started"), std::string::npos) << err;
    process->terminate();
    ASSERT_TRUE(process->waitForFinished(kTimeoutMs));
    err += process->readAllStandardError().toStdString();
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 0);
    EXPECT_NE(err.find("stopped on a signal"), std::string::npos) << err;

    const std::vector<std::string> log = logLines();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{"DAQStop", "Disconnect", "WriteConfig", "destroyed"}));
    ProjectFile saved = ProjectFile::load(path);
    EXPECT_STREQ(saved.pluginSettings().child("TCPServer").attribute("RunMode").value(), "2");
}

TEST_F(ProgramTest, ScreenshotShowsTheMainWindow) {
    const auto picture = dir_.path() / "host.png";
    const Outcome run = runHost({"--plugin", kProbe, "--screenshot", qtPath(picture)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const QImage image(qtPath(picture));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1280);
    EXPECT_EQ(image.height(), 720);
    const std::vector<std::string> log = logLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "InitInformForm"), log.end())
        << "GUI mode embeds the information form";
}

TEST_F(ProgramTest, ServerListensWhereTheOptionsSayAndHeadlessHostStopsWhenItCannot) {
    // Both options go over the file; a bad setting in it is reported on standard error.
    dir_.write("config.ini",
               "[config]\nDAQServer Addr=192.0.2.1\nDAQServer Port=1\n"
               "MaxConnections=0\n");
    const QStringList where{"--config-dir", qtPath(dir_.path()), "--address", "127.0.0.1"};
    auto serving = launch(where + QStringList{"--headless", "--port", "0"});
    const std::string start = "listening on 127.0.0.1:";
    const std::string err = awaitStderr(*serving, start);
    ASSERT_NE(err.find(start), std::string::npos) << err;
    EXPECT_NE(err.find("DAQServer: config.ini : MaxConnections=0 is not in 1..65536, 1024 kept"),
              std::string::npos)
        << err;
    const int port = std::atoi(err.c_str() + err.find(start) + start.size());
    ASSERT_GT(port, 1) << err;
    const QString taken = QString::number(port);

    const Outcome headless = runHost(where + QStringList{"--headless", "--port", taken});
    EXPECT_EQ(headless.exitCode, 4);
    EXPECT_NE(headless.err.find("kelvane-host: the server cannot listen: bind 127.0.0.1:" +
                                std::to_string(port) + ": Address already in use"),
              std::string::npos)
        << headless.err;
    EXPECT_EQ(headless.err.find("DAQ run started"), std::string::npos) << headless.err;

    // With a window the host runs on and says so; the window traces as before.
    const Outcome windowed =
        runHost(where + QStringList{"--gui", "--port", taken, "--exit-after", "1"});
    EXPECT_EQ(windowed.exitCode, 0) << windowed.err;
    EXPECT_NE(windowed.err.find("not listening: bind 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << windowed.err;

    serving->terminate();
    EXPECT_TRUE(serving->waitForFinished(kTimeoutMs));

    // A project whose server does not follow the DAQ run (no "TCPServer" settings) opens none.
    const auto bare = dir_.write("bare.xml", "<kelvane-project format=\"1\"/>\n");
    const Outcome ignored =
        runHost(where + QStringList{"--headless", "--port", "0", "--project", qtPath(bare)});
    EXPECT_EQ(ignored.exitCode, 4);
    EXPECT_NE(ignored.err.find("the server cannot listen: no DAQ run has opened it (RunMode 0)"),
              std::string::npos)
        << ignored.err;
}

TEST_F(ProgramTest, HeadlessHostDoesNotStartOnAConfigFileItCannotReadWhole) {
    dir_.write("config.ini", std::string("[config]\0\nDAQServer Port=6000\n", 30));
    // Were the file ignored, the host would serve until --exit-after and end with 0.
    const Outcome run = runHost({"--headless", "--config-dir", qtPath(dir_.path()), "--address",
                                 "127.0.0.1", "--port", "0", "--exit-after", "5000"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(
        run.err.find("DAQServer: TCP/IP Server : config.ini not read, the listener stays "
                     "closed : " +
                     (dir_.path() / "config.ini").string() + ": holds a zero byte at offset 8"),
        std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("kelvane-host: the server cannot listen: config.ini not read"),
              std::string::npos)
        << run.err;
}
