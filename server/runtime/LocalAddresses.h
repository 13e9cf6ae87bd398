// The machine's IPv4 addresses in interface order, and the choices the bind-address box offers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct ifaddrs;

namespace daq {

// Interfaces beyond this many are not listed.
inline constexpr std::size_t kMaxListedInterfaces = 256;
// The bind address of every local IPv4 address.
inline constexpr const char* kAllInterfaces = "0.0.0.0";

// The IPv4 addresses of every interface, as dotted texts: the interfaces in the order the list
// first names them, each with its addresses in order.
std::vector<std::string> ipv4AddressesOf(const ifaddrs* list,
                                         std::size_t maxInterfaces = kMaxListedInterfaces);

// The same for this machine (getifaddrs); empty when the query fails.
std::vector<std::string> localIPv4Addresses();

// The bind addresses to offer: all interfaces first, then the machine's addresses in their
// order with the loopback ones (127.x.x.x) last, so that the first choice never narrows the
// listener to this machine.
std::vector<std::string> listenAddressChoices(const std::vector<std::string>& machine);

// Index of the last entry equal to `address` (the later of two adapters with one address);
// none when no entry is.
std::optional<std::size_t> findAddress(const std::vector<std::string>& addresses,
                                       const std::string& address);

}  // namespace daq
