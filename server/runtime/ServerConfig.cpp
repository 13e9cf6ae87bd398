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
#include <type_traits>
#include <utility>

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

template <typename T>
std::string numberText(T number) {
    if constexpr (std::is_floating_point_v<T>) {
        char text[32];
        const auto [end, error] = std::to_chars(text, text + sizeof text, number);
        return error == std::errc() ? std::string(text, end) : std::string();
    } else {
        return std::to_string(number);
    }
}

// Sets `limit` from the key's value when present: a decimal number (an integer unless T is
// floating) in min..max, else the limit stays and the refusal is kept in the problems.
template <typename T>
void readLimit(ConfigIni& ini, const char* key, std::type_identity_t<T> min,
               std::type_identity_t<T> max, T& limit, const char* section = kConfigSection) {
    const char* value = ini.GetValue(section, key, nullptr);
    if (value == nullptr) {
        return;
    }
    const std::string text(value);
    T number{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !(number >= min && number <= max)) {
        const std::string where =
            section == kConfigSection ? "" : "[" + std::string(section) + "] ";
        ini.problems.push_back("config.ini : " + where + key + "=" + text + " is not in " +
                               numberText(min) + ".." + numberText(max) + ", " + numberText(limit) +
                               " kept");
        return;
    }
    limit = number;
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

// Sets `value` from the [config] key when present and one of `names` (matched without regard to
// case), else keeps it and reports the refusal.
template <typename T, std::size_t N>
void readChoice(ConfigIni& ini, const char* key, const std::pair<const char*, T> (&names)[N],
                T& value) {
    const char* text = ini.GetValue(kConfigSection, key, nullptr);
    if (text == nullptr) {
        return;
    }
    std::string allowed;
    std::string kept;
    for (const auto& [name, choice] : names) {
        if (strcasecmp(name, text) == 0) {
            value = choice;
            return;
        }
        allowed += (allowed.empty() ? "" : ", ") + std::string(name);
        if (choice == value) {
            kept = name;
        }
    }
    ini.problems.push_back("config.ini : " + std::string(key) + "=" + text + " is not one of " +
                           allowed + ", " + kept + " kept");
}

// Sets `path` from the [config] key when present: 1..4096 bytes without control characters.
void readPath(ConfigIni& ini, const char* key, std::string& path) {
    const char* value = ini.GetValue(kConfigSection, key, nullptr);
    if (value == nullptr) {
        return;
    }
    const std::string_view found(value);
    const bool control = std::any_of(found.begin(), found.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (!found.empty() && found.size() <= 4096 && !control) {
        path = found;
        return;
    }
    ini.problems.push_back("config.ini : " + std::string(key) + "=" + std::string(found) +
                           " is not 1..4096 bytes without control characters, \"" + path +
                           "\" kept");
}

void readTls(ConfigIni& ini, ServerSettings& settings) {
    using Tls = tcp::TlsSettings;
    const std::size_t problemsBefore = ini.problems.size();
    readLimit(ini, kConfigTlsPortKey, 0, 65535, settings.tlsPort);
    int plain = settings.plainPort ? 1 : 0;
    readLimit(ini, kConfigPlainPortKey, 0, 1, plain);
    settings.plainPort = plain == 1;
    readPath(ini, kConfigTlsCertFileKey, settings.tls.certFile);
    readPath(ini, kConfigTlsKeyFileKey, settings.tls.keyFile);
    readPath(ini, kConfigTlsCaFileKey, settings.tls.caFile);
    static constexpr std::pair<const char*, Tls::ClientCerts> kClientCerts[] = {
        {"off", Tls::ClientCerts::Off},
        {"optional", Tls::ClientCerts::Optional},
        {"required", Tls::ClientCerts::Required}};
    readChoice(ini, kConfigTlsClientCertsKey, kClientCerts, settings.tls.clientCerts);
    static constexpr std::pair<const char*, Tls::MinVersion> kVersions[] = {
        {"1.2", Tls::MinVersion::Tls12}, {"1.3", Tls::MinVersion::Tls13}};
    readChoice(ini, kConfigTlsMinVersionKey, kVersions, settings.tls.minVersion);
    // The value kept for a refused one may serve less than was asked (plain beside TLS, no
    // client certificates, TLS 1.2, no TLS at all).
    for (std::size_t i = problemsBefore; i < ini.problems.size(); ++i) {
        settings.tlsRefusal += (settings.tlsRefusal.empty() ? "" : "; ") + ini.problems[i];
    }
    readLimit(ini, kConfigTlsHandshakeTimeoutKey, 1, 3600, settings.tlsHandshakeTimeoutSeconds);
}

constexpr const char* kMqttKeys[] = {
    "Broker",      "Port",        "ClientId",   "Username",       "Password", "PasswordFile",
    "TopicPrefix", "QoS",         "Retain",     "MinIntervalMs",  "Deadband", "KeepAlive",
    "TlsCaFile",   "TlsCertFile", "TlsKeyFile", "MaxQueuedValues"};

// Sets `text` from the [mqtt] key when present: minBytes..maxBytes long, without control
// characters and, when `rule` is given, what it accepts (`ruleText` says what that is).
void readText(ConfigIni& ini, const char* key, std::size_t minBytes, std::size_t maxBytes,
              std::string& text, bool (*rule)(std::string_view) = nullptr,
              const char* ruleText = "") {
    const char* value = ini.GetValue(kMqttSection, key, nullptr);
    if (value == nullptr) {
        return;
    }
    const std::string_view found(value);
    const bool control = std::any_of(found.begin(), found.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (found.size() >= minBytes && found.size() <= maxBytes && !control &&
        (rule == nullptr || rule(found))) {
        text = found;
        return;
    }
    // Passwords are never traced.
    const bool secret = strcasecmp(key, "Password") == 0;
    ini.problems.push_back("config.ini : [mqtt] " + std::string(key) + "=" +
                           (secret ? "(hidden)" : std::string(found)) + " is not " +
                           std::to_string(minBytes) + ".." + std::to_string(maxBytes) +
                           " bytes without control characters" + ruleText + ", " +
                           (secret ? "(hidden)" : "\"" + text + "\"") + " kept");
}

// The first line of the password file.
void readPasswordFile(ConfigIni& ini, std::string& password) {
    std::string path;
    readText(ini, "PasswordFile", 1, 4096, path);
    if (path.empty()) {
        return;
    }
    std::string text;
    std::string error;
    if (readWhole(path, text, error) != FileRead::Read || text.size() > kMaxPasswordFileBytes) {
        ini.problems.push_back("config.ini : [mqtt] PasswordFile=" + path + " not read : " +
                               (error.empty() ? "missing, or larger than " +
                                                    std::to_string(kMaxPasswordFileBytes) + " bytes"
                                              : error));
        return;
    }
    password = text.substr(0, text.find_first_of("\r\n"));
}

bool isTopicPrefix(std::string_view text) {
    return text.find_first_of("+#") == std::string_view::npos && text.front() != '$' &&
           text.front() != '/' && text.back() != '/';
}

bool isHostName(std::string_view text) {
    return text.find(' ') == std::string_view::npos;
}

void readMqtt(ConfigIni& ini, mqtt::PublisherSettings& mqtt) {
    readText(ini, "Broker", 1, 253, mqtt.broker, isHostName, " or spaces");
    readLimit(ini, "Port", 1, 65535, mqtt.port, kMqttSection);
    readText(ini, "ClientId", 1, 128, mqtt.clientId);
    readText(ini, "Username", 1, 256, mqtt.username);
    readText(ini, "Password", 1, 256, mqtt.password);
    readPasswordFile(ini, mqtt.password);
    readText(ini, "TopicPrefix", 1, 256, mqtt.topicPrefix, isTopicPrefix,
             ", + or #, beginning with neither $ nor / and not ending with /");
    readLimit(ini, "QoS", 0, 1, mqtt.qos, kMqttSection);
    int retain = mqtt.retain ? 1 : 0;
    readLimit(ini, "Retain", 0, 1, retain, kMqttSection);
    mqtt.retain = retain == 1;
    readLimit(ini, "MinIntervalMs", 0, 3600000, mqtt.minIntervalMs, kMqttSection);
    readLimit(ini, "Deadband", 0.0, 1e15, mqtt.deadband, kMqttSection);
    readLimit(ini, "KeepAlive", 5, 3600, mqtt.keepAliveSeconds, kMqttSection);
    readText(ini, "TlsCaFile", 1, 4096, mqtt.tlsCaFile);
    readText(ini, "TlsCertFile", 1, 4096, mqtt.tlsCertFile);
    readText(ini, "TlsKeyFile", 1, 4096, mqtt.tlsKeyFile);
    readLimit(ini, "MaxQueuedValues", 1, 10000000, mqtt.maxQueuedValues, kMqttSection);
}

void reportUnknownIn(ConfigIni& ini, const char* section, const char* const* first,
                     const char* const* last) {
    CSimpleIniA::TNamesDepend keys;
    ini.GetAllKeys(section, keys);
    for (const auto& key : keys) {
        const bool known = std::any_of(
            first, last, [&](const char* name) { return strcasecmp(name, key.pItem) == 0; });
        if (!known) {
            const std::string where =
                section == kConfigSection ? "" : "[" + std::string(section) + "] ";
            ini.problems.push_back("config.ini : " + where + "unknown key " +
                                   std::string(key.pItem) + " ignored");
        }
    }
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
                                             kConfigRefreshIntervalMsKey,
                                             kConfigTlsPortKey,
                                             kConfigPlainPortKey,
                                             kConfigTlsCertFileKey,
                                             kConfigTlsKeyFileKey,
                                             kConfigTlsCaFileKey,
                                             kConfigTlsClientCertsKey,
                                             kConfigTlsMinVersionKey,
                                             kConfigTlsHandshakeTimeoutKey};
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    for (const auto& section : sections) {
        if (strcasecmp(section.pItem, kConfigSection) != 0 &&
            strcasecmp(section.pItem, kMqttSection) != 0) {
            ini.problems.push_back("config.ini : section [" + std::string(section.pItem) +
                                   "] is not read; the settings belong in [" + kConfigSection +
                                   "]");
        }
    }
    reportUnknownIn(ini, kConfigSection, std::begin(kKnown), std::end(kKnown));
    reportUnknownIn(ini, kMqttSection, std::begin(kMqttKeys), std::end(kMqttKeys));
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
    readTls(ini, settings);
    readMqtt(ini, settings.mqtt);
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
