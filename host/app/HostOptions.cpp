#include "host/app/HostOptions.h"

#include <CLI/CLI.hpp>

namespace host {

std::optional<int> parseOptions(int argc, char** argv, HostOptions& options) {
    CLI::App app{
        "Stand-in data-acquisition host: loads the TCP DAQ server plug-in, hands it a "
        "project and runs a DAQ with simulated values."};
    app.option_defaults()->always_capture_default();
    app.add_option("--plugin", options.pluginPath,
                   "Plug-in library to load (default: libdaqserver.so next to the host)");
    app.add_option("--project", options.projectPath,
                   "Project file (default: the built-in demo project)")
        ->check(CLI::ExistingFile);
    app.add_option("--config-dir", options.configDir,
                   "Directory the plug-in keeps config.ini in (default: the host's directory)");
    app.add_option("--address", options.address,
                   "IPv4 address the server listens on, over config.ini (0.0.0.0: every "
                   "interface)")
        ->check(CLI::ValidIPV4);
    app.add_option("--port", options.port,
                   "TCP port the server listens on, over config.ini (0: any free port)");
    app.add_option("--lang", options.language,
                   "Language of the plug-in's texts: en, ko, or a language file");
    auto* headless = app.add_flag("--headless", options.headless,
                                  "No windows (default when there is no display)");
    app.add_flag("--gui", options.gui, "Show the main window")->excludes(headless);
    app.add_flag("--save", options.save,
                 "On exit, write the plug-in's settings back into the project file")
        ->needs(app.get_option("--project"));
    app.add_option("--screenshot", options.screenshot,
                   "Save a picture of the main window after startup, then exit")
        ->excludes(headless);
    app.add_flag("--print-demo-project", options.printDemoProject,
                 "Write the built-in demo project (or the synthetic one) to standard output");
    app.add_flag("--hash-password", options.hashPassword,
                 "Read a password from standard input and print its hash for a project's <user>");
    app.add_option("--synthetic-tags", options.syntheticTags,
                   "Use the demo project with this many numeric tags instead of its own")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1'000'000}))
        ->excludes(app.get_option("--project"));
    app.add_option("--synthetic-changing", options.syntheticChanging,
                   "Of the synthetic tags, this many get a new value every 100 ms and the others "
                   "one an hour (0: every one a new value every second)")
        ->check(CLI::Range(std::size_t{0}, std::size_t{1'000'000}))
        ->needs(app.get_option("--synthetic-tags"));
    app.add_option("--max-project-bytes", options.maxProjectBytes,
                   "Largest project file the host reads")
        ->check(CLI::PositiveNumber);
    app.add_option("--exit-after", options.exitAfterMs,
                   "Stop by itself after this many milliseconds (0: run until a signal)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--login-delay-ms", options.loginDelayMs,
                   "Make every login check take this many milliseconds longer (a slow host "
                   "callback; the plug-in holds its request lock meanwhile)")
        ->check(CLI::Range(0, kMaxLoginDelayMs));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }
    return std::nullopt;
}

}  // namespace host
