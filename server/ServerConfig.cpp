#include "server/ServerConfig.h"

// Settings are UTF-8 text handled as bytes; no wide-character variant is needed.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "trace/Trace.h"

namespace daq {

std::string serverConfigPath(const std::string& exeDir) {
    if (exeDir.empty() || exeDir.back() == '/') {
        return exeDir + kConfigFileName;
    }
    return exeDir + "/" + kConfigFileName;
}

int32_t parsePortText(const std::string& text) {
    int32_t port = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, error] = std::from_chars(first, last, port);
    if (text.empty() || error != std::errc() || end != last || port < 0 || port > 65535) {
        return kDefaultServerPort;
    }
    return port;
}

namespace {

constexpr const char* kTraceSource = "ServerConfig.cpp";

// Sets `limit` from the key's value when present: a decimal integer in min..max, else the
// limit stays and the refusal is traced.
template <typename T>
void readLimit(const CSimpleIniA& ini, const char* key, long long min, long long max, T& limit) {
    const char* value = ini.GetValue(kConfigSection, key, nullptr);
    if (value == nullptr) {
        return;
    }
    const std::string text(value);
    long long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || number < min ||
        number > max) {
        DAQ_TRACE(kTraceError, "loadServerConfig", kTraceSource,
                  "config.ini : %s=%s is not in %lld..%lld, %lld kept", key, text.c_str(), min, max,
                  static_cast<long long>(limit));
        return;
    }
    limit = static_cast<T>(number);
}

void readLimits(const CSimpleIniA& ini, ServerLimits& limits) {
    constexpr long long kMiB = 1024 * 1024;
    readLimit(ini, kConfigMaxConnectionsKey, 1, 65536, limits.maxConnections);
    readLimit(ini, kConfigMaxFrameBytesKey, 16, 64 * kMiB, limits.maxFrameBytes);
    readLimit(ini, kConfigMaxOutputBacklogKey, 4096, 1024 * kMiB, limits.maxOutputBacklog);
    readLimit(ini, kConfigMaxPageEntriesKey, 1, 1000000, limits.maxPageEntries);
    readLimit(ini, kConfigMaxDaqDataIndexesKey, 1, 1000000, limits.maxDaqDataIndexes);
    int requireLogin = limits.requireLogin ? 1 : 0;
    readLimit(ini, kConfigRequireLoginKey, 0, 1, requireLogin);
    limits.requireLogin = requireLogin == 1;
    // 0 turns a time-out off.
    readLimit(ini, kConfigUnfinishedFrameTimeoutKey, 0, 3600, limits.unfinishedFrameTimeoutSeconds);
    readLimit(ini, kConfigIdleTimeoutKey, 0, 86400, limits.idleTimeoutSeconds);
    readLimit(ini, kConfigMaxEventRowsKey, 100, 1000000, limits.maxEventRows);
}

// A "DAQ_DATA" answer of MaxDaqDataIndexes entries must fit in the half of the output bound that
// list answers may fill, or requests inside the documented bound would be cut.
void fitDaqDataIndexes(ServerLimits& limits) {
    const auto fitting = static_cast<int32_t>(
        std::min<std::size_t>(limits.maxOutputBacklog / 2 / kDaqDataEntryBudget, 1000000));
    if (limits.maxDaqDataIndexes <= fitting) {
        return;
    }
    const int32_t used = std::max(fitting, 1);
    DAQ_TRACE(kTraceError, "loadServerConfig", kTraceSource,
              "config.ini : %s=%d does not fit %s=%zu (%zu bytes an entry in half of it), %d used",
              kConfigMaxDaqDataIndexesKey, static_cast<int>(limits.maxDaqDataIndexes),
              kConfigMaxOutputBacklogKey, limits.maxOutputBacklog, kDaqDataEntryBudget,
              static_cast<int>(used));
    limits.maxDaqDataIndexes = used;
}

}  // namespace

ServerSettings loadServerConfig(const std::string& path, const ServerLimits& limits,
                                std::size_t ioThreads) {
    ServerSettings settings;
    settings.limits = limits;
    settings.ioThreads = ioThreads;
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kMaxConfigFileBytes) {
        return settings;
    }
    CSimpleIniA ini;
    ini.SetUnicode(true);
    if (ini.LoadFile(path.c_str()) < 0) {
        return settings;
    }
    settings.address = ini.GetValue(kConfigSection, kConfigAddressKey, "");
    settings.port = parsePortText(ini.GetValue(kConfigSection, kConfigPortKey, ""));
    readLimits(ini, settings.limits);
    fitDaqDataIndexes(settings.limits);
    readLimit(ini, kConfigIoThreadsKey, 1, 16, settings.ioThreads);
    return settings;
}

bool saveServerConfig(const std::string& path, const ServerSettings& settings) {
    CSimpleIniA ini;
    ini.SetUnicode(true);
    std::error_code error;
    if (std::filesystem::exists(path, error) && ini.LoadFile(path.c_str()) < 0) {
        return false;
    }
    ini.SetSpaces(false);
    ini.SetValue(kConfigSection, kConfigAddressKey, settings.address.c_str());
    ini.SetValue(kConfigSection, kConfigPortKey, std::to_string(settings.port).c_str());
    return ini.SaveFile(path.c_str(), false) >= 0;
}

}  // namespace daq
