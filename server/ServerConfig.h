// The server's two settings in "config.ini" (section "config"), kept in the directory of the
// host's executable. Keys are matched without regard to case; writing keeps the rest of the file.
#pragma once

#include <cstdint>
#include <string>

namespace daq {

inline constexpr const char* kConfigFileName = "config.ini";
inline constexpr const char* kConfigSection = "config";
inline constexpr const char* kConfigAddressKey = "DAQServer Addr";
inline constexpr const char* kConfigPortKey = "DAQServer Port";
inline constexpr int32_t kDefaultServerPort = 5050;
// A larger settings file is not read (the defaults apply).
inline constexpr std::size_t kMaxConfigFileBytes = 1024 * 1024;

struct ServerSettings {
    std::string address;  // dotted IPv4 text; empty: every local address
    int32_t port = kDefaultServerPort;
};

// exeDir + "config.ini" (a separator is added when exeDir lacks one).
std::string serverConfigPath(const std::string& exeDir);

// The settings in the file; the defaults for whatever is missing, unreadable or not a port
// number (a decimal integer in 0..65535).
ServerSettings loadServerConfig(const std::string& path);

// Writes both keys, creating the file and the section when absent. False when it fails.
bool saveServerConfig(const std::string& path, const ServerSettings& settings);

// A decimal integer in 0..65535, or the default port.
int32_t parsePortText(const std::string& text);

}  // namespace daq
