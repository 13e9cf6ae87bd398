// The command line of kelvane-host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace host {

inline constexpr int kMaxLoginDelayMs = 10000;

struct HostOptions {
    std::optional<std::filesystem::path> pluginPath;   // default: libdaqserver.so beside the host
    std::optional<std::filesystem::path> projectPath;  // default: the built-in demo project
    std::optional<std::filesystem::path> configDir;    // default: the host's directory
    std::optional<std::string> address;                // default: the plug-in's config.ini
    std::optional<uint16_t> port;                      // default: the plug-in's config.ini
    std::string language = "en";
    bool headless = false;
    bool gui = false;
    bool save = false;
    std::optional<std::filesystem::path> screenshot;
    bool printDemoProject = false;
    bool hashPassword = false;
    std::size_t syntheticTags = 0;
    std::size_t syntheticChanging = 0;  // 0: every synthetic tag changes once a second
    std::size_t maxProjectBytes = 64u << 20;
    int exitAfterMs = 0;   // 0: run until SIGINT or SIGTERM
    int loginDelayMs = 0;  // added to every login check, to try clients against a slow host
};

// Exit codes of kelvane-host.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,
    kExitFile = 2,    // project, language or plug-in file missing or malformed
    kExitStart = 3,   // the plug-in failed while being started
    kExitListen = 4,  // headless, and the plug-in's server could not open its listener
};

// Parses argv; returns the exit code to leave with when the command line asks for no run
// (help, an error), after printing what it has to say.
std::optional<int> parseOptions(int argc, char** argv, HostOptions& options);

}  // namespace host
