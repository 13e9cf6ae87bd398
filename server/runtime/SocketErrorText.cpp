#include "server/runtime/SocketErrorText.h"

#include <array>

namespace daq {

namespace {

struct KnownError {
    int code;
    int line;
    const char* text;  // follows "<code>, "
};

constexpr std::array<KnownError, 7> kKnownErrors{{
    {10050, 381, "네트워크가 다운되었습니다."},
    {10051, 382, "네트워크에 도달할 수 없습니다."},
    {10054, 383, "서버에서 강제로 연결을 종료하였습니다."},
    {10060, 384, "서버에 연결 시도중 타임아웃되었습니다."},
    {10061, 385, "서버에 연결할 수 없습니다."},
    {10064, 386, "서버가 다운되었습니다."},
    {10091, 387, "현재 시스템에 네트워크가 존재하지 않습니다."},
}};

constexpr int kUnknownLine = 388;
constexpr const char* kUnknownText = "알 수 없는 소켓 에러입니다. ";

}  // namespace

SocketErrorReport socketErrorReport(int code, const std::string& message) {
    const std::string prefix = std::to_string(code) + ", ";
    for (const KnownError& known : kKnownErrors) {
        if (known.code == code) {
            return {known.line, prefix + known.text};
        }
    }
    return {kUnknownLine, prefix + kUnknownText + message};
}

}  // namespace daq
