// The server's settings in "config.ini" (section "config"), kept in the directory of the
// host's executable: the listener's address and port, and the limits; the broker publisher's in
// section "mqtt". Keys are matched without
// regard to case; writing keeps the rest of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/core/ServerLimits.h"
#include "server/mqtt/PublisherSettings.h"
#include "server/tcp/TlsContext.h"

namespace daq {

inline constexpr const char* kConfigFileName = "config.ini";
inline constexpr const char* kConfigSection = "config";
inline constexpr const char* kConfigAddressKey = "DAQServer Addr";
inline constexpr const char* kConfigPortKey = "DAQServer Port";
inline constexpr int32_t kDefaultServerPort = 5050;
// A larger settings file is not read (see ServerSettings::readError).
inline constexpr std::size_t kMaxConfigFileBytes = 1024 * 1024;

// Keys of the limits (ServerLimits), each read only when present: a missing key keeps the
// limit given to loadServerConfig, a value out of its range keeps it and is reported.
inline constexpr const char* kConfigMaxConnectionsKey = "MaxConnections";      // 1..65536
inline constexpr const char* kConfigMaxFrameBytesKey = "MaxFrameBytes";        // 16..64 MiB
inline constexpr const char* kConfigMaxOutputBacklogKey = "MaxOutputBacklog";  // 4 KiB..1 GiB
inline constexpr const char* kConfigMaxPageEntriesKey = "MaxPageEntries";      // 1..1000000
// 1..1000000, and at most MaxOutputBacklog / 2 / kDaqDataEntryBudget: a larger value is lowered
// to that with a trace naming both keys.
inline constexpr const char* kConfigMaxDaqDataIndexesKey = "MaxDaqDataIndexes";
inline constexpr const char* kConfigRequireLoginKey = "RequireLogin";  // 0 or 1
inline constexpr const char* kConfigUnfinishedFrameTimeoutKey =
    "UnfinishedFrameTimeout";                                          // seconds, 0 or 1..3600
inline constexpr const char* kConfigIdleTimeoutKey = "IdleTimeout";    // seconds, 0 or 1..86400
inline constexpr const char* kConfigMaxEventRowsKey = "MaxEventRows";  // 100..1000000
// The listener's IO threads, 1..16; read like the limits.
inline constexpr const char* kConfigIoThreadsKey = "IoThreads";
inline constexpr std::size_t kDefaultIoThreads = 2;
// Milliseconds from one refresh pass of a DAQ run to the next, 1..60000; read like the limits.
inline constexpr const char* kConfigRefreshIntervalMsKey = "RefreshIntervalMs";
inline constexpr int32_t kDefaultRefreshIntervalMs = 100;

// The TLS listener, read like the limits: its port on the listener's address (0: none), whether
// the plain port is served too (0 or 1), the PEM files (up to 4096 bytes of path each), whether
// clients must show a certificate ("off", "optional", "required"), the oldest TLS version
// accepted ("1.2", "1.3") and the handshake's time-out.
inline constexpr const char* kConfigTlsPortKey = "TlsPort";      // 0..65535
inline constexpr const char* kConfigPlainPortKey = "PlainPort";  // 0 or 1
inline constexpr const char* kConfigTlsCertFileKey = "TlsCertFile";
inline constexpr const char* kConfigTlsKeyFileKey = "TlsKeyFile";
inline constexpr const char* kConfigTlsCaFileKey = "TlsCaFile";
inline constexpr const char* kConfigTlsClientCertsKey = "TlsClientCerts";
inline constexpr const char* kConfigTlsMinVersionKey = "TlsMinVersion";
inline constexpr const char* kConfigTlsHandshakeTimeoutKey = "TlsHandshakeTimeout";  // 1..3600 s
inline constexpr int32_t kDefaultTlsHandshakeTimeoutSeconds = 10;

// Section of the broker publisher's keys (mqtt::PublisherSettings); each is read like a limit.
inline constexpr const char* kMqttSection = "mqtt";
// Longest password file read.
inline constexpr std::size_t kMaxPasswordFileBytes = 1024;

struct ServerSettings {
    std::string address;  // dotted IPv4 text; empty: every local address
    int32_t port = kDefaultServerPort;
    ServerLimits limits{};
    std::size_t ioThreads = kDefaultIoThreads;
    int32_t refreshIntervalMs = kDefaultRefreshIntervalMs;
    int32_t tlsPort = 0;  // 0: no TLS listener
    bool plainPort = true;
    tcp::TlsSettings tls{};
    // The refused TLS settings (port, plain port, files, client certificates, version), as in
    // `problems`: TLS is then not served, lest the values kept serve less than was asked.
    std::string tlsRefusal{};
    int32_t tlsHandshakeTimeoutSeconds = kDefaultTlsHandshakeTimeoutSeconds;
    mqtt::PublisherSettings mqtt{};
    // Why a settings file that exists was not read (the rest are then the defaults): not a
    // regular file, larger than kMaxConfigFileBytes, unreadable, or holding a zero byte. Empty
    // when the file was read or is missing.
    std::string readError{};
    // The settings that were out of range or malformed, each with the value kept instead.
    std::vector<std::string> problems{};
};

// exeDir + "config.ini" (a separator is added when exeDir lacks one).
std::string serverConfigPath(const std::string& exeDir);

// The settings in the file; the defaults for whatever is missing, unreadable or not a port
// number (a decimal integer in 0..65535), the last two reported in `problems`. The limits
// start from `limits`, the IO threads from `ioThreads`.
ServerSettings loadServerConfig(const std::string& path, const ServerLimits& limits = {},
                                std::size_t ioThreads = kDefaultIoThreads);

// Writes address and port, creating the file and the section when absent. False when it fails,
// also when the file exists but cannot be read whole (writing would lose what was not read).
bool saveServerConfig(const std::string& path, const ServerSettings& settings);

// A decimal integer in 0..65535, or the default port.
int32_t parsePortText(const std::string& text);

}  // namespace daq
