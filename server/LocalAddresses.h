// The machine's IPv4 addresses in interface order, as the bind-address box lists them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ifaddrs;

namespace daq {

// Interfaces beyond this many are not listed.
inline constexpr std::size_t kMaxListedInterfaces = 256;

// Every interface in the order the list first names it, with its IPv4 addresses in order, as
// dotted texts; an interface without an IPv4 address gives "0.0.0.0".
std::vector<std::string> ipv4AddressesOf(const ifaddrs* list,
                                         std::size_t maxInterfaces = kMaxListedInterfaces);

// The same for this machine (getifaddrs); empty when the query fails.
std::vector<std::string> localIPv4Addresses();

// Index of the address to select in a list: the last entry equal to `stored`, else the first
// entry; -1 for an empty list.
int selectAddressIndex(const std::vector<std::string>& addresses, const std::string& stored);

}  // namespace daq
