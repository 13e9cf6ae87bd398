#include "server/runtime/ServerConfig.h"

// Settings are UTF-8 text handled as bytes; no wide-character variant is needed.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

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

// The parsed file, and the settings in it that were refused.
struct ConfigIni : CSimpleIniA {
    std::vector<std::string> problems;
};

enum class FileRead { Missing, Read, Failed };

// The whole text of the file in `text`, or why a file that exists cannot be read whole in
// `error`. A zero byte counts as unreadable: the parser would stop there and drop the keys
// after it.
FileRead readWhole(const std::string& path, std::string& text, std::string& error) {
    std::error_code status;
    const std::filesystem::file_type type = std::filesystem::status(path, status).type();
    if (type == std::filesystem::file_type::not_found) {
        return FileRead::Missing;
    }
    if (status) {
        error = path + ": " + status.message();
        return FileRead::Failed;
    }
    if (type != std::filesystem::file_type::regular) {
        error = path + ": not a regular file";
        return FileRead::Failed;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               std::fclose);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return FileRead::Failed;
    }
    // One byte more than the limit tells a file at the limit from a larger one.
    text.resize(kMaxConfigFileBytes + 1);
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    if (std::ferror(file.get()) != 0) {
        error = path + ": read error";
    } else if (text.size() > kMaxConfigFileBytes) {
        error =
            path + ": larger than the limit of " + std::to_string(kMaxConfigFileBytes) + " bytes";
    } else if (const std::size_t zero = text.find('\0'); zero != std::string::npos) {
        error = path + ": holds a zero byte at offset " + std::to_string(zero);
    } else {
        return FileRead::Read;
    }
    return FileRead::Failed;
}

// Sets `limit` from the key's value when present: a decimal integer in min..max, else the
// limit stays and the refusal is kept in the problems.
template <typename T>
void readLimit(ConfigIni& ini, const char* key, long long min, long long max, T& limit) {
    const char* value = ini.GetValue(kConfigSection, key, nullptr);
    if (value == nullptr) {
        return;
    }
    const std::string text(value);
    long long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || number < min ||
        number > max) {
        ini.problems.push_back("config.ini : " + std::string(key) + "=" + text + " is not in " +
                               std::to_string(min) + ".." + std::to_string(max) + ", " +
                               std::to_string(static_cast<long long>(limit)) + " kept");
        return;
    }
    limit = static_cast<T>(number);
}

void readLimits(ConfigIni& ini, ServerLimits& limits) {
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
void fitDaqDataIndexes(ConfigIni& ini, ServerLimits& limits) {
    const auto fitting = static_cast<int32_t>(
        std::min<std::size_t>(limits.maxOutputBacklog / 2 / kDaqDataEntryBudget, 1000000));
    if (limits.maxDaqDataIndexes <= fitting) {
        return;
    }
    const int32_t used = std::max(fitting, 1);
    ini.problems.push_back(
        "config.ini : " + std::string(kConfigMaxDaqDataIndexesKey) + "=" +
        std::to_string(limits.maxDaqDataIndexes) + " does not fit " + kConfigMaxOutputBacklogKey +
        "=" + std::to_string(limits.maxOutputBacklog) + " (" + std::to_string(kDaqDataEntryBudget) +
        " bytes an entry in half of it), " + std::to_string(used) + " used");
    limits.maxDaqDataIndexes = used;
}

// A misspelt key or section would silently leave its setting at the default (for the address:
// every interface), so whatever the server does not read is reported.
void reportUnknownKeys(ConfigIni& ini) {
    static constexpr const char* kKnown[] = {kConfigAddressKey,
                                             kConfigPortKey,
                                             kConfigMaxConnectionsKey,
                                             kConfigMaxFrameBytesKey,
                                             kConfigMaxOutputBacklogKey,
                                             kConfigMaxPageEntriesKey,
                                             kConfigMaxDaqDataIndexesKey,
                                             kConfigRequireLoginKey,
                                             kConfigUnfinishedFrameTimeoutKey,
                                             kConfigIdleTimeoutKey,
                                             kConfigMaxEventRowsKey,
                                             kConfigIoThreadsKey,
                                             kConfigRefreshIntervalMsKey};
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    for (const auto& section : sections) {
        if (strcasecmp(section.pItem, kConfigSection) != 0) {
            ini.problems.push_back("config.ini : section [" + std::string(section.pItem) +
                                   "] is not read; the settings belong in [" + kConfigSection +
                                   "]");
        }
    }
    CSimpleIniA::TNamesDepend keys;
    ini.GetAllKeys(kConfigSection, keys);
    for (const auto& key : keys) {
        const bool known = std::any_of(std::begin(kKnown), std::end(kKnown), [&](const char* name) {
            return strcasecmp(name, key.pItem) == 0;
        });
        if (!known) {
            ini.problems.push_back("config.ini : unknown key " + std::string(key.pItem) +
                                   " ignored");
        }
    }
}

}  // namespace

ServerSettings loadServerConfig(const std::string& path, const ServerLimits& limits,
                                std::size_t ioThreads) {
    ServerSettings settings;
    settings.limits = limits;
    settings.ioThreads = ioThreads;
    std::string text;
    if (readWhole(path, text, settings.readError) != FileRead::Read) {
        return settings;
    }
    ConfigIni ini;
    ini.SetUnicode(true);
    if (ini.LoadData(text) < 0) {
        settings.readError = path + ": not an INI file";
        return settings;
    }
    settings.address = ini.GetValue(kConfigSection, kConfigAddressKey, "");
    readLimit(ini, kConfigPortKey, 0, 65535, settings.port);
    readLimits(ini, settings.limits);
    fitDaqDataIndexes(ini, settings.limits);
    readLimit(ini, kConfigIoThreadsKey, 1, 16, settings.ioThreads);
    readLimit(ini, kConfigRefreshIntervalMsKey, 1, 60000, settings.refreshIntervalMs);
    reportUnknownKeys(ini);
    settings.problems = std::move(ini.problems);
    return settings;
}

bool saveServerConfig(const std::string& path, const ServerSettings& settings) {
    CSimpleIniA ini;
    ini.SetUnicode(true);
    std::string text;
    std::string error;
    switch (readWhole(path, text, error)) {
        case FileRead::Failed:
            return false;
        case FileRead::Read:
            if (ini.LoadData(text) < 0) {
                return false;
            }
            break;
        case FileRead::Missing:
            break;
    }
    ini.SetSpaces(false);
    ini.SetValue(kConfigSection, kConfigAddressKey, settings.address.c_str());
    ini.SetValue(kConfigSection, kConfigPortKey, std::to_string(settings.port).c_str());
    return ini.SaveFile(path.c_str(), false) >= 0;
}

}  // namespace daq
