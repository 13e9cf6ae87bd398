// kelvane-host: the stand-in data-acquisition host. Loads the TCP DAQ server plug-in, hands it a
// project (IO tree, system tree, users, settings) and runs a DAQ whose values a simulator moves.
#include <termios.h>
#include <unistd.h>

#include <QImage>
#include <QMessageLogContext>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "host/app/HostOptions.h"
#include "host/app/MainWindow.h"
#include "host/app/ServerEventLog.h"
#include "host/app/ServiceNotify.h"
#include "host/app/SignalWatcher.h"
#include "host/core/DemoProject.h"
#include "host/core/FileError.h"
#include "host/core/Passwords.h"
#include "host/session/HostSession.h"

namespace {

using namespace host;

constexpr const char* kPluginFile = "libdaqserver.so";
constexpr const char* kLanguageDir = "lang";
// Time the main window gets to lay out and paint before a screenshot is taken.
constexpr int kScreenshotDelayMs = 1500;

// Qt's offscreen platform, which a headless host runs on, warns each time a popup is raised, and
// about the runtime directory a service usually has none of: neither tells the operator reading
// the service's journal anything.
QtMessageHandler qtHandler = nullptr;

void dropHeadlessNoise(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && (text == "This plugin does not support raise()" ||
                                 text.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))) {
        return;
    }
    qtHandler(type, context, text);
}

std::filesystem::path executableDir() {
    return std::filesystem::canonical("/proc/self/exe").parent_path();
}

bool hasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

ProjectFile loadProject(const HostOptions& options) {
    ProjectLimits limits;
    limits.maxFileBytes = options.maxProjectBytes;
    if (options.projectPath) {
        return ProjectFile::load(*options.projectPath, limits);
    }
    const Project project =
        options.syntheticTags > 0
            ? makeSyntheticProject(options.syntheticTags, options.syntheticChanging)
            : makeDemoProject();
    limits.maxFileBytes = std::max<std::size_t>(limits.maxFileBytes, 1u << 30);
    return ProjectFile::fromText(projectFileText(project), "built-in project", limits);
}

std::size_t countTags(const std::vector<IoNode>& nodes) {
    std::size_t count = 0;
    for (const IoNode& node : nodes) {
        count += node.tag ? 1 : countTags(node.children);
    }
    return count;
}

// One line from standard input, not echoed on a terminal.
std::string readPassword() {
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) != 0 && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fprintf(stderr, "Password: ");
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string password;
    std::getline(std::cin, password);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    return password;
}

// Whether the host shows its window; without one, Qt draws offscreen.
bool useGui(const HostOptions& options) {
    const bool gui = options.gui || options.screenshot || (!options.headless && hasDisplay());
    if ((!gui || !hasDisplay()) && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    return gui;
}

// Prints the start line; returns what it says of the listener, for the service status.
std::string reportStart(HostSession& session, const std::optional<ListenerState>& listener,
                        const std::filesystem::path& pluginPath,
                        const std::filesystem::path& configDir) {
    // "listening on <address>:<port>" is what scripts and tests read the bound port from.
    const std::string where = !listener             ? std::string()
                              : listener->listening ? "; listening on " + listener->text
                                                    : "; not listening: " + listener->text;
    const Project& project = session.plant().model();
    std::fprintf(stderr,
                 "kelvane-host: plug-in %s loaded; DAQ run started with project \"%s\" (%zu tags, "
                 "%zu units)%s; config dir %s\n",
                 pluginPath.c_str(), project.info.projectName.c_str(), countTags(project.ioTree),
                 session.plant().system().units().size(), where.c_str(), configDir.c_str());
    return where;
}

// Quits after the screenshot, or after the time the options give.
void scheduleQuit(const HostOptions& options, QObject& context, MainWindow* window) {
    if (options.screenshot) {
        QTimer::singleShot(kScreenshotDelayMs, &context, [&options, window] {
            if (!window->grab().save(QString::fromStdString(options.screenshot->string()))) {
                std::fprintf(stderr, "kelvane-host: %s: cannot write the screenshot\n",
                             options.screenshot->c_str());
            }
            QCoreApplication::quit();
        });
    }
    if (options.exitAfterMs > 0) {
        QTimer::singleShot(options.exitAfterMs, &context, &QCoreApplication::quit);
    }
}

int stopSession(HostSession& session, const HostOptions& options,
                const SignalWatcher& stopSignals) {
    notifyServiceStopping();
    try {
        session.stop(options.save ? options.projectPath : std::nullopt);
    } catch (const FileError& error) {
        std::fprintf(stderr, "kelvane-host: %s\n", error.what());
        return kExitFile;
    }
    std::fprintf(stderr, "kelvane-host: stopped%s\n",
                 stopSignals.received() != 0 ? " on a signal" : "");
    return kExitOk;
}

int run(const HostOptions& options) {
    const std::filesystem::path exeDir = executableDir();
    const std::filesystem::path pluginPath = options.pluginPath.value_or(exeDir / kPluginFile);
    const bool gui = useGui(options);
    if (!gui) {
        qtHandler = qInstallMessageHandler(dropHeadlessNoise);
    }

    int argc = 1;
    char name[] = "kelvane-host";
    char* argv[] = {name, nullptr};
    const std::filesystem::path configDir = options.configDir.value_or(exeDir);
    kelvane::THostApplication application(argc, argv, configDir.string());
    // From here on a signal stops the host in order, even one that comes during startup.
    SignalWatcher stopSignals;
    QObject::connect(&stopSignals, &SignalWatcher::stopRequested, &application,
                     &QCoreApplication::quit);
    std::optional<HostSession> session;
    try {
        session.emplace(application, loadProject(options),
                        LanguageTexts::load(options.language, exeDir / kLanguageDir), pluginPath);
    } catch (const FileError& error) {
        std::fprintf(stderr, "kelvane-host: %s\n", error.what());
        return kExitFile;
    }

    session->login().setDelay(std::chrono::milliseconds(options.loginDelayMs));
    session->listenAt(options.address, options.port);
    std::unique_ptr<MainWindow> window;
    if (gui) {
        window = std::make_unique<MainWindow>(session->plant());
        window->show();
    }
    try {
        session->start(window ? window->serverArea() : nullptr,
                       window ? window->infoArea() : nullptr);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvane-host: the plug-in could not be started: %s\n", error.what());
        return kExitStart;
    }
    const std::optional<ListenerState> listener = session->listener();
    if (listener && !listener->listening && !gui) {
        // Headless, no one sees the window's status line: a host that serves nothing fails, so
        // that the service manager notices and restarts it.
        std::fprintf(stderr, "kelvane-host: the server cannot listen: %s\n",
                     listener->text.c_str());
        session->stop();
        return kExitListen;
    }
    const std::string where = reportStart(*session, listener, pluginPath, configDir);
    ServerEventLog eventLog;
    if (!eventLog.attach()) {
        std::fprintf(stderr, "kelvane-host: the server window has no event list to log\n");
    }
    if (!listener || listener->listening) {
        notifyServiceReady("DAQ run of \"" + session->plant().model().info.projectName +
                           "\" started" + where);
    }
    scheduleQuit(options, application, window.get());
    application.exec();
    return stopSession(*session, options, stopSignals);
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    if (const auto exitCode = parseOptions(argc, argv, options)) {
        return *exitCode;
    }
    if (options.hashPassword) {
        std::cout << hashPassword(readPassword()) << '\n';
        return std::cout.good() ? kExitOk : kExitFile;
    }
    if (options.printDemoProject) {
        const Project project =
            options.syntheticTags > 0
                ? makeSyntheticProject(options.syntheticTags, options.syntheticChanging)
                : makeDemoProject();
        std::cout << projectFileText(project);
        return std::cout.good() ? kExitOk : kExitFile;
    }
    return run(options);
}
