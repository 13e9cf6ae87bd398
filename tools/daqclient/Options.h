// What the command line asks for, filled in by the option parser (main.cpp) and read by the
// commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/client/ClientConnection.h"
#include "tools/daqclient/Output.h"

namespace daqclient {

inline constexpr std::uint16_t kDefaultPort = 5050;
inline constexpr std::uint16_t kDefaultTlsPort = 5051;  // with --tls
inline constexpr int kDefaultTimeoutMs = 3000;
inline constexpr int kDefaultWatchIntervalMs = 1000;
inline constexpr int kDefaultLatencyCount = 100;
// "raw -": the requests come from standard input, one per line, each at most this long (the
// server's default bound of a message).
inline constexpr const char* kRawFromInput = "-";
inline constexpr std::size_t kMaxRawLineBytes = 1024 * 1024;

struct GlobalOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = kDefaultPort;
    std::optional<daq::client::TlsSettings> tls;  // --tls and its options
    std::optional<std::string> user;
    std::optional<std::string> password;  // -P; the parser warns when it is given
    bool askPassword = false;
    int timeoutMs = kDefaultTimeoutMs;
    std::optional<OutputFormat> format;  // unset: table on a terminal, CSV otherwise
};

// Which records "read" and "watch" address: indexes, or tag names resolved through the tag
// list; neither means every record of the IO map.
struct Selection {
    std::vector<int> indexes;
    std::vector<std::string> tags;
};

// Filters that name one device of "DEVICELIST"; each given one must match exactly.
struct UnitFilter {
    std::optional<std::string> interfaceName;
    std::optional<std::string> deviceName;
    std::optional<std::string> station;
};

struct TagsOptions {
    std::optional<int> start;
    std::optional<int> size;
};

struct WatchOptions {
    Selection selection;
    int intervalMs = kDefaultWatchIntervalMs;
    std::optional<long> count;
    std::optional<double> waitSeconds;  // stop after this long
};

struct ParamsOptions {
    UnitFilter unit;
    std::optional<int> detail;
};

struct WriteOptions {
    UnitFilter unit;
    int index = 0;
    std::string value;
    int group = 0;
};

struct LatencyOptions {
    int count = kDefaultLatencyCount;
};

}  // namespace daqclient
