#include "server/tcp/WinsockCode.h"

#include <cerrno>
#include <string>

#include <asio/error.hpp>

namespace daq::tcp {

namespace {

constexpr int kWsaBase = 10000;
constexpr int kWsaDisconnected = 10101;  // WSAEDISCON: the peer closed the connection
constexpr int kWsaHostNotFound = 11001;  // WSAHOST_NOT_FOUND
constexpr int kWsaTryAgain = 11002;      // WSATRY_AGAIN
constexpr int kWsaNoRecovery = 11003;    // WSANO_RECOVERY
constexpr int kWsaNoData = 11004;        // WSANO_DATA

struct ErrnoCode {
    int errnoValue;
    int wsaCode;
};

// Linux numbers these errors differently from the BSD numbering that Windows Sockets follows.
constexpr ErrnoCode kErrnoCodes[] = {
    {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {EPIPE, 10054},
    {ENOBUFS, 10055},         {EISCONN, 10056},      {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {ELOOP, 10062},        {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065}, {EACCES, 10013},
};

int fromErrno(int value) {
    for (const auto& entry : kErrnoCodes) {
        if (entry.errnoValue == value) {
            return entry.wsaCode;
        }
    }
    return kWsaBase + value;
}

int fromResolver(int value) {
    switch (value) {
        case asio::error::host_not_found:
            return kWsaHostNotFound;
        case asio::error::host_not_found_try_again:
            return kWsaTryAgain;
        case asio::error::no_recovery:
            return kWsaNoRecovery;
        case asio::error::no_data:
            return kWsaNoData;
        default:
            return kWsaBase + value;
    }
}

}  // namespace

int winsockCode(const std::error_code& error) {
    const auto& category = error.category();
    // asio reports system errors in a category of its own.
    if (category == asio::error::get_system_category() || category == std::system_category() ||
        category == std::generic_category()) {
        return fromErrno(error.value());
    }
    if (category == asio::error::get_netdb_category()) {
        return fromResolver(error.value());
    }
    if (category == asio::error::get_misc_category() && error == asio::error::eof) {
        return kWsaDisconnected;
    }
    return kWsaBase + error.value();
}

SocketError toSocketError(const std::error_code& error, std::string_view context) {
    return SocketError(winsockCode(error), std::string(context) + ": " + error.message());
}

}  // namespace daq::tcp
