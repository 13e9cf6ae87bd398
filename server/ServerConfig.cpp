#include "server/ServerConfig.h"

// Settings are UTF-8 text handled as bytes; no wide-character variant is needed.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <charconv>
#include <filesystem>
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

ServerSettings loadServerConfig(const std::string& path) {
    ServerSettings settings;
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
