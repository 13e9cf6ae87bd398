// Conversions between the UTF-8 texts of the project and the UTF-16 texts of host records.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);
// Length in UTF-16 code units, as the text would take in a fixed record field.
std::size_t utf16Length(std::string_view utf8);

}  // namespace host
