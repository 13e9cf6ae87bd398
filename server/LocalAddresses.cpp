#include "server/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace daq {

namespace {

constexpr const char* kNoAddress = "0.0.0.0";

struct Interface {
    std::string_view name;
    std::vector<std::string> addresses;
};

std::string dottedText(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) {
        return kNoAddress;
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
        if (interface.addresses.empty()) {
            addresses.emplace_back(kNoAddress);
        }
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

int selectAddressIndex(const std::vector<std::string>& addresses, const std::string& stored) {
    int selected = addresses.empty() ? -1 : 0;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (addresses[i] == stored) {
            selected = static_cast<int>(i);
        }
    }
    return selected;
}

}  // namespace daq
