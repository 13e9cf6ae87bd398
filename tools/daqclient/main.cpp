// daqclient: the command-line client of the DAQ server. Option parsing lives here; the commands
// are in Commands.h, the output formats in Output.h.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <map>

#include "tools/daqclient/Commands.h"
#include "tools/daqclient/ExitCode.h"
#include "tools/daqclient/Password.h"

namespace {

using namespace daqclient;

using Command = std::function<void(ServerLink&, Output&)>;

// Longest time-out and poll interval accepted.
constexpr int kDayMs = 24 * 3600 * 1000;

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  success\n"
    "  1  the server's answer did not give what was asked for (unknown tag, no such device,\n"
    "     index outside the IO map, unit not connected, broken answer)\n"
    "  2  usage error\n"
    "  3  connection refused, not resolved, or lost\n"
    "  4  no answer within the time-out (-t)\n"
    "  5  login refused\n"
    "  6  write not permitted (\"FAILED\", \"-2\")\n"
    "  7  write failed (\"FAILED\", \"-1\")\n"
    "  8  --tls: the server's certificate failed verification (OpenSSL's reason follows), or\n"
    "     --cafile, --cert or --key could not be used (one that does not exist: 2)\n"
    "watch exits with the code of its first failed poll when any poll failed.\n";

void addSelection(CLI::App& command, Selection& selection) {
    command.add_option("INDEX", selection.indexes, "Record indexes of the IO map");
    command.add_option("--tag", selection.tags, "Tag names, resolved through the tag list");
}

void addUnitFilter(CLI::App& command, UnitFilter& unit) {
    command.add_option("--interface", unit.interfaceName, "The device's INTERFACE text");
    command.add_option("--device", unit.deviceName, "The device's DEVICENAME text");
    command.add_option("--station", unit.station, "The device's STATION text");
}

OutputFormat defaultFormat() {
    return isatty(STDOUT_FILENO) == 1 ? OutputFormat::Table : OutputFormat::Csv;
}

// Everything the command line sets; the subcommands' options live here until the chosen one
// runs.
struct CommandLine {
    GlobalOptions global;
    std::string formatName;
    Command command;
    TagsOptions tags;
    Selection readSelection;
    WatchOptions watch;
    ParamsOptions params;
    WriteOptions write;
    std::vector<std::string> rawRequests;
    LatencyOptions latency;
    bool tls = false;
    daq::client::TlsSettings tlsSettings;
    bool insecure = false;
    CLI::Option* portOption = nullptr;
};

// Makes `sub` the command that runs when it is chosen.
void on(CommandLine& line, CLI::App* sub, Command run) {
    sub->callback([&line, run = std::move(run)] { line.command = run; });
}

void declareTlsOptions(CLI::App& app, CommandLine& line) {
    daq::client::TlsSettings& tls = line.tlsSettings;
    auto* tlsFlag = app.add_flag("--tls", line.tls,
                                 "Connect with TLS (1.2 or later) and verify the server's "
                                 "certificate, its name or address included");
    app.add_option("--cafile", tls.caFile,
                   "CA certificates (PEM) to verify the server with (default: the system's)")
        ->check(CLI::ExistingFile)
        ->needs(tlsFlag);
    auto* certOption =
        app.add_option("--cert", tls.certFile,
                       "Client certificate (PEM) for a server that asks for one; needs --key")
            ->check(CLI::ExistingFile)
            ->needs(tlsFlag);
    auto* keyOption = app.add_option("--key", tls.keyFile, "The client certificate's key (PEM)")
                          ->check(CLI::ExistingFile)
                          ->needs(certOption);
    certOption->needs(keyOption);
    app.add_flag("--insecure", line.insecure,
                 "Accept any server certificate (warns on every run): the traffic is encrypted, "
                 "but to whoever answers")
        ->needs(tlsFlag);
}

void declareGlobalOptions(CLI::App& app, CommandLine& line) {
    GlobalOptions& global = line.global;
    app.add_option("-h,--host", global.host, "Server address or name")->capture_default_str();
    line.portOption = app.add_option("-p,--port", global.port, "Server port (with --tls: 5051)")
                          ->capture_default_str();
    app.set_version_flag("--version", "daqclient " DAQ_VERSION);
    auto* userOption =
        app.add_option("-u,--user", global.user, "Log in as this user before the command");
    app.add_option("-P,--password", global.password,
                   "Password (visible to other users; prefer $DAQCLIENT_PASSWORD or --askpass)")
        ->needs(userOption);
    app.add_flag("--askpass", global.askPassword, "Read the password from the terminal, unechoed")
        ->needs(userOption);
    app.add_option("-t,--timeout", global.timeoutMs,
                   "Time-out in ms for connecting and for each answer")
        ->capture_default_str()
        ->check(CLI::Range(1, kDayMs));
    app.add_option("--format", line.formatName,
                   "table, csv or json (one object per line); default: table on a terminal, "
                   "csv otherwise")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    declareTlsOptions(app, line);
}

// alive, info, status: the server and its project.
void declareServerCommands(CLI::App& app, CommandLine& line) {
    on(line, app.add_subcommand("alive", "Round trip of one ALIVE: the server's time"),
       [](ServerLink& link, Output& out) { runAlive(link, out); });
    on(line, app.add_subcommand("info", "The project: name, company, worker, description"),
       [](ServerLink& link, Output& out) { runInfo(link, out); });
    on(line, app.add_subcommand("status", "The server's DAQ status"),
       [](ServerLink& link, Output& out) { runStatus(link, out); });
}

// tags, read, watch: the IO map and its values.
void declareValueCommands(CLI::App& app, CommandLine& line) {
    TagsOptions& tags = line.tags;
    auto* tagsCommand = app.add_subcommand("tags", "The tag list of the IO map, page by page");
    tagsCommand->add_option("--start", tags.start, "First index (default 0)");
    tagsCommand->add_option("--size", tags.size, "Number of entries (default: to the end)");
    on(line, tagsCommand, [&tags](ServerLink& link, Output& out) { runTags(link, out, tags); });

    Selection& readSelection = line.readSelection;
    auto* readCommand =
        app.add_subcommand("read", "Current values of records (default: every record)");
    addSelection(*readCommand, readSelection);
    on(line, readCommand,
       [&readSelection](ServerLink& link, Output& out) { runRead(link, out, readSelection); });

    WatchOptions& watch = line.watch;
    auto* watchCommand =
        app.add_subcommand("watch",
                           "Poll current values (default: every record) until stopped. A server "
                           "that cannot be reached is reported once and connected to again after "
                           "1, 2, 4 ... intervals (at most 30 s apart), and its return once");
    addSelection(*watchCommand, watch.selection);
    watchCommand->add_option("-l,--interval", watch.intervalMs, "Time between polls in ms")
        ->capture_default_str()
        ->check(CLI::Range(1, kDayMs));
    auto* countOption = watchCommand->add_option("-c,--count", watch.count, "Stop after N polls")
                            ->check(CLI::PositiveNumber);
    watchCommand
        ->add_flag(
            "-1", [&watch](std::int64_t) { watch.count = 1; }, "Poll once")
        ->excludes(countOption);
    watchCommand->add_option("-W,--wait", watch.waitSeconds, "Stop after SECS seconds")
        ->check(CLI::Range(0.001, kDayMs / 1000.0));
    on(line, watchCommand, [&watch](ServerLink& link, Output& out) {
        runWatch(link, out, watch, isatty(STDOUT_FILENO) == 1);
    });
}

// devices, params, write: the device units and their parameters.
void declareDeviceCommands(CLI::App& app, CommandLine& line) {
    on(line, app.add_subcommand("devices", "The device units the server lists"),
       [](ServerLink& link, Output& out) { runDevices(link, out); });

    ParamsOptions& params = line.params;
    auto* paramsCommand = app.add_subcommand(
        "params",
        "The parameters of one device unit, by index: the protocol carries no parameter names");
    addUnitFilter(*paramsCommand, params.unit);
    paramsCommand->add_option("--detail", params.detail, "Details of parameter N");
    on(line, paramsCommand,
       [&params](ServerLink& link, Output& out) { runParams(link, out, params); });

    WriteOptions& write = line.write;
    auto* writeCommand = app.add_subcommand(
        "write", "Write a parameter of one device unit (logs in first when -u is given)");
    addUnitFilter(*writeCommand, write.unit);
    writeCommand->add_option("INDEX", write.index, "Parameter index")->required();
    writeCommand->add_option("VALUE", write.value, "New value, as text")->required();
    writeCommand->add_option("--group", write.group, "Group index")->capture_default_str();
    on(line, writeCommand, [&write](ServerLink& link, Output& out) { runWrite(link, out, write); });
}

// raw, latency: the protocol itself.
void declareProtocolCommands(CLI::App& app, CommandLine& line) {
    std::vector<std::string>& rawRequests = line.rawRequests;
    auto* rawCommand = app.add_subcommand(
        "raw",
        "Send JSON requests as they are, in order on one connection, and print each answer as it "
        "came. A request without an answer within -t is reported and the next one sent (an answer "
        "that comes later is taken for the next request's)");
    rawCommand
        ->add_option("JSON", rawRequests,
                     "Request texts; - reads them from standard input, one per line (at most "
                     "1 MiB each)")
        ->required();
    on(line, rawCommand,
       [&rawRequests](ServerLink& link, Output& out) { runRaw(link, out, rawRequests); });

    LatencyOptions& latency = line.latency;
    auto* latencyCommand =
        app.add_subcommand("latency", "ALIVE round trips: min, median, p99 and max in ms");
    latencyCommand->add_option("-c,--count", latency.count, "Round trips")
        ->capture_default_str()
        ->check(CLI::Range(1, 10'000'000));
    on(line, latencyCommand,
       [&latency](ServerLink& link, Output& out) { runLatency(link, out, latency); });
}

// Runs the chosen command; returns the exit code.
int runCommand(CommandLine& line) {
    GlobalOptions& global = line.global;
    const std::map<std::string, OutputFormat> formats{
        {"table", OutputFormat::Table}, {"csv", OutputFormat::Csv}, {"json", OutputFormat::Json}};
    if (!line.formatName.empty()) {
        global.format = formats.at(line.formatName);
    }
    if (line.tls) {
        line.tlsSettings.verify = !line.insecure;
        global.tls = line.tlsSettings;
        if (line.portOption->count() == 0) {
            global.port = kDefaultTlsPort;
        }
    }
    if (line.insecure) {
        std::fputs(
            "daqclient: warning: --insecure: the server's certificate is not verified; whoever "
            "answers at this address can read and change the traffic\n",
            stderr);
    }
    if (global.password) {
        std::fprintf(stderr,
                     "daqclient: warning: a password given with -P can be seen by other users of "
                     "this machine; prefer $%s or --askpass\n",
                     kPasswordVariable);
    }
    try {
        ServerLink link(global, resolveCredentials(global));
        Output out(global.format.value_or(defaultFormat()), stdout);
        link.open();
        line.command(link, out);
    } catch (const CommandError& error) {
        std::fprintf(stderr, "daqclient: %s\n", error.what());
        return static_cast<int>(error.code());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "daqclient: %s\n", error.what());
        return static_cast<int>(ExitCode::Failure);
    }
    return static_cast<int>(ExitCode::Ok);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Command-line client of the DAQ server: polls live values, reads the project, "
        "tags, devices and parameters, writes parameters.",
        "daqclient"};
    // -h is the host.
    app.set_help_flag("--help", "Print this help and exit");
    app.fallthrough();
    app.require_subcommand(1);
    app.footer(kExitCodes);

    CommandLine line;
    declareGlobalOptions(app, line);
    declareServerCommands(app, line);
    declareValueCommands(app, line);
    declareDeviceCommands(app, line);
    declareProtocolCommands(app, line);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {  // --help, --version
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return static_cast<int>(ExitCode::Usage);
    }
    return runCommand(line);
}
