#include "common/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <string>

namespace daq {

namespace {

// Decimal digits taken from the binary value before rounding (what an 80-bit extended
// conversion gives), so that rounding happens once, at the digit the format asks for.
constexpr int kSourceDigits = 18;

// |value| as digits d0.d1d2... times 10^exponent.
struct Decimal {
    std::array<char, kSourceDigits> digits{};
    int exponent = 0;
};

Decimal toDecimal(double magnitude) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, magnitude,
                                      std::chars_format::scientific, kSourceDigits - 1);
    // d.ddd...e+xx
    Decimal decimal;
    decimal.digits[0] = text[0];
    std::copy_n(text + 2, kSourceDigits - 1, decimal.digits.begin() + 1);
    const char* exponent = text + kSourceDigits + 2;  // behind 'e'
    if (*exponent == '+') {
        ++exponent;
    }
    std::from_chars(exponent, result.ptr, decimal.exponent);
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
