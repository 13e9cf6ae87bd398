// Numbers as the host shows them: fixed point with a given number of decimals and at most 10
// significant digits, with the decimal separator of the process's numeric locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace daq {

// Significant digits of a fixed-point text; an integer part longer than this is written in
// exponent form.
inline constexpr int kFixedPrecision = 10;
inline constexpr int kMaxFixedDecimals = 18;

// A formatted number, held without allocation.
struct NumberText {
    char chars[48] = {};
    std::size_t size = 0;

    std::string_view view() const { return {chars, size}; }
};

// `value` with `decimals` digits after the separator (cut to 0..18), rounded half away from
// zero to at most 10 significant digits of its shortest decimal text (the digits that read back
// as the same double: 2.675 with 2 decimals is "2.68"); zeros fill the decimals past them (3.14159
// with 2 decimals: "3.14"; 2.5 with 3: "2.500"). A value of more than 10 integer digits is written
// as d.dddddddddE+x with at least min(decimals, 4) exponent digits (12345678901 with 2 decimals:
// "1.234567890E+10"). Not-a-number and infinities read "NAN", "INF" and "-INF".
NumberText formatFixed(double value, int decimals);

// The decimal separator of the process's numeric locale (LC_NUMERIC), read once at the first
// use; a full stop in the "C" locale.
std::string_view decimalSeparator();

}  // namespace daq
