#include "server/runtime/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace daq {

namespace {

struct Interface {
    std::string_view name;
    std::vector<std::string> addresses;
};

std::string dottedText(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) {
        return kAllInterfaces;
    }
    return text;
}

}  // namespace

std::vector<std::string> ipv4AddressesOf(const ifaddrs* list, std::size_t maxInterfaces) {
    std::vector<Interface> interfaces;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const std::string_view name = entry->ifa_name == nullptr ? "" : entry->ifa_name;
        auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                  [&](const Interface& known) { return known.name == name; });
        if (found == interfaces.end()) {
            if (interfaces.size() == maxInterfaces) {
                continue;
            }
            found = interfaces.insert(interfaces.end(), Interface{name, {}});
        }
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            found->addresses.push_back(dottedText(entry->ifa_addr));
        }
    }
    std::vector<std::string> addresses;
    for (Interface& interface : interfaces) {
        for (std::string& address : interface.addresses) {
            addresses.push_back(std::move(address));
        }
    }
    return addresses;
}

std::vector<std::string> localIPv4Addresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    std::vector<std::string> addresses = ipv4AddressesOf(list);
    freeifaddrs(list);
    return addresses;
}

std::vector<std::string> listenAddressChoices(const std::vector<std::string>& machine) {
    std::vector<std::string> choices{kAllInterfaces};
    const auto loopback = [](const std::string& address) { return address.starts_with("127."); };
    for (const bool last : {false, true}) {
        for (const std::string& address : machine) {
            if (address != kAllInterfaces && loopback(address) == last) {
                choices.push_back(address);
            }
        }
    }
    return choices;
}

std::optional<std::size_t> findAddress(const std::vector<std::string>& addresses,
                                       const std::string& address) {
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (addresses[i] == address) {
            found = i;
        }
    }
    return found;
}

}  // namespace daq
