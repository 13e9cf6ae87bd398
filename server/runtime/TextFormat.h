// printf-style formatting of texts that come from the host's language files. Such a text is
// not a trusted format string: only "%s" and "%d" are conversions here (and "%%" a percent
// sign). "%s" takes the next text argument and "%d" the next integer argument, each in the
// order given; any other '%' sequence, or one without an argument left of its kind, is copied
// as it stands.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace daq {

using FormatArg = std::variant<std::string_view, int64_t>;

std::string formatHostText(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace daq
