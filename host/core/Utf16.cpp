#include "host/core/Utf16.h"

#include <QString>

namespace host {

std::u16string toUtf16(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String();
}

std::string toUtf8(std::u16string_view utf16) {
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size())).toStdString();
}

std::size_t utf16Length(std::string_view utf8) {
    return static_cast<std::size_t>(
        QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).size());
}

}  // namespace host
