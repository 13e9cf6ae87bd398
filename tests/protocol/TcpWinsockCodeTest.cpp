// The Windows Sockets codes that socket errors are reported with.
#include <gtest/gtest.h>

#include <asio/error.hpp>

#include <cerrno>
#include <system_error>

#include "server/tcp/WinsockCode.h"

namespace daq::tcp {
namespace {

// Named errors map to their codes whatever the category; others keep their number above the base.
TEST(WinsockCode, ErrorsMapToTheirCodesWhateverTheCategory) {
    const struct {
        int errnoValue;
        int code;
    } cases[] = {
        {ECONNRESET, 10054},      {ENETDOWN, 10050},      {ENETUNREACH, 10051},
        {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},  {EHOSTDOWN, 10064},
        {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049}, {EACCES, 10013},
        {ECONNABORTED, 10053},    {ENOBUFS, 10055},       {EMFILE, 10024},
        {ENOENT, 10000 + ENOENT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(winsockCode({c.errnoValue, asio::error::get_system_category()}), c.code);
        EXPECT_EQ(winsockCode({c.errnoValue, std::system_category()}), c.code);
        EXPECT_EQ(winsockCode(std::make_error_code(static_cast<std::errc>(c.errnoValue))), c.code);
    }
    EXPECT_EQ(winsockCode(asio::error::eof), 10101);
    EXPECT_EQ(winsockCode(asio::error::host_not_found), 11001);
}

}  // namespace
}  // namespace daq::tcp
