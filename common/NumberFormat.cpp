#include "common/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>

namespace daq {

namespace {

// Most digits of the shortest decimal text that reads back as the same double.
constexpr int kSourceDigits = 17;

// |value| as digits d0.d1d2... times 10^exponent: the shortest text that reads back as the
// same double, so that rounding happens once, on the digits a user would write for it.
struct Decimal {
    std::array<char, kSourceDigits> digits{};
    int exponent = 0;
};

Decimal toDecimal(double magnitude) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    // d[.ddd]e+xx
    Decimal decimal;
    decimal.digits.fill('0');
    const char* next = text;
    int count = 0;
    for (; *next != 'e'; ++next) {
        if (*next != '.') {
            decimal.digits[count++] = *next;
        }
    }
    ++next;  // behind 'e'
    if (*next == '+') {
        ++next;
    }
    std::from_chars(next, result.ptr, decimal.exponent);
    return decimal;
}

// Keeps `count` leading digits (0..kSourceDigits), rounding half up on the next one; the rest
// become zeros. A carry out of the first digit raises the exponent.
void roundTo(Decimal& decimal, int count) {
    if (count >= kSourceDigits) {
        return;
    }
    if (count < 0) {
        decimal.digits.fill('0');
        return;
    }
    const bool up = decimal.digits[count] >= '5';
    std::fill(decimal.digits.begin() + count, decimal.digits.end(), '0');
    if (!up) {
        return;
    }
    int i = count - 1;
    for (; i >= 0 && decimal.digits[i] == '9'; --i) {
        decimal.digits[i] = '0';
    }
    if (i >= 0) {
        ++decimal.digits[i];
    } else {
        // 9.99 -> 10.0, or nothing kept and the next digit at least 5.
        decimal.digits.fill('0');
        decimal.digits[0] = '1';
        ++decimal.exponent;
    }
}

bool isZero(const Decimal& decimal) {
    return std::all_of(decimal.digits.begin(), decimal.digits.end(),
                       [](char c) { return c == '0'; });
}

char digitAt(const Decimal& decimal, int index) {
    return index >= 0 && index < kSourceDigits ? decimal.digits[index] : '0';
}

class TextBuilder {
  public:
    explicit TextBuilder(NumberText& text) : text_(text) {}
    void put(char c) { text_.chars[text_.size++] = c; }
    void put(std::string_view s) {
        for (const char c : s) {
            put(c);
        }
    }

  private:
    NumberText& text_;
};

void putExponentForm(TextBuilder& out, const Decimal& decimal, int decimals) {
    out.put(decimal.digits[0]);
    out.put(decimalSeparator());
    for (int i = 1; i < kFixedPrecision; ++i) {
        out.put(decimal.digits[i]);
    }
    out.put('E');
    out.put(decimal.exponent < 0 ? '-' : '+');
    char exponent[8];
    const auto end =
        std::to_chars(exponent, exponent + sizeof exponent, std::abs(decimal.exponent)).ptr;
    const int length = static_cast<int>(end - exponent);
    for (int i = length; i < std::min(decimals, 4); ++i) {
        out.put('0');
    }
    out.put(std::string_view(exponent, static_cast<std::size_t>(length)));
}

void putFixedForm(TextBuilder& out, const Decimal& decimal, int decimals) {
    if (decimal.exponent < 0) {
        out.put('0');
    } else {
        for (int i = 0; i <= decimal.exponent; ++i) {
            out.put(digitAt(decimal, i));
        }
    }
    if (decimals > 0) {
        out.put(decimalSeparator());
        for (int place = 1; place <= decimals; ++place) {
            out.put(digitAt(decimal, decimal.exponent + place));
        }
    }
}

// Values whose rounding is decided without the decimal text: |value| times 10^decimals below
// 10^10 (so at most 10 significant digits) and not within kHalfMargin of a half, where the
// binary product could round the other way than the shortest text does.
constexpr double kFastLimit = 1e10;
constexpr double kHalfMargin = 1e-5;

bool putFastFixed(TextBuilder& out, double value, int decimals) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                         1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
    const double scaled = std::fabs(value) * kPowers[decimals];
    if (!(scaled < kFastLimit)) {
        return false;
    }
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < kHalfMargin) {
        return false;
    }
    const auto rounded = static_cast<int64_t>(whole) + (fraction > 0.5 ? 1 : 0);
    if (rounded >= static_cast<int64_t>(kFastLimit)) {
        return false;
    }
    char digits[24];
    const int length =
        static_cast<int>(std::to_chars(digits, digits + sizeof digits, rounded).ptr - digits);
    if (rounded != 0 && std::signbit(value)) {
        out.put('-');
    }
    const int integerDigits = length - decimals;
    if (integerDigits <= 0) {
        out.put('0');
    } else {
        out.put(std::string_view(digits, static_cast<std::size_t>(integerDigits)));
    }
    if (decimals > 0) {
        out.put(decimalSeparator());
        for (int i = integerDigits; i < 0; ++i) {
            out.put('0');
        }
        const int first = std::max(integerDigits, 0);
        out.put(std::string_view(digits + first, static_cast<std::size_t>(length - first)));
    }
    return true;
}

}  // namespace

std::string_view decimalSeparator() {
    static const std::string separator = [] {
        const std::lconv* conventions = std::localeconv();
        const char* point = conventions != nullptr ? conventions->decimal_point : nullptr;
        return std::string(point != nullptr && *point != '\0' ? point : ".");
    }();
    return separator;
}

NumberText formatFixed(double value, int decimals) {
    NumberText text;
    TextBuilder out(text);
    if (std::isnan(value)) {
        out.put("NAN");
        return text;
    }
    if (std::isinf(value)) {
        out.put(value < 0 ? "-INF" : "INF");
        return text;
    }
    decimals = std::clamp(decimals, 0, kMaxFixedDecimals);
    if (putFastFixed(out, value, decimals)) {
        return text;
    }
    Decimal decimal = toDecimal(std::fabs(value));
    if (value == 0) {
        decimal.exponent = 0;
    }
    // Digits up to the last decimal place, but never more than the precision.
    roundTo(decimal, std::min(kFixedPrecision, decimal.exponent + 1 + decimals));
    if (std::signbit(value) && !isZero(decimal)) {
        out.put('-');
    }
    if (decimal.exponent + 1 > kFixedPrecision) {
        putExponentForm(out, decimal, decimals);
    } else {
        putFixedForm(out, decimal, decimals);
    }
    return text;
}

}  // namespace daq
