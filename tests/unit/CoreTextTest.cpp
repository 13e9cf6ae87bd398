// Text conversion, the host's date-time and its fixed-point numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/DateTime.h"
#include "common/NumberFormat.h"
#include "common/TextConvert.h"

namespace {

using daq::formatFixed;

TEST(CoreNumberFormat, FixedPointAsTheHostShowsIt) {
    EXPECT_EQ(daq::decimalSeparator(), ".");
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int decimals;
        const char* text;
    } cases[] = {
        {2.5, 3, "2.500"},
        {0.000123, 5, "0.00012"},
        // Halves round away from zero, on the shortest text of the double.
        {-0.125, 2, "-0.13"},
        {99.995, 2, "100.00"},
        {1.005, 2, "1.01"},
        // No negative zero.
        {-0.001, 2, "0.00"},
        // Ten significant digits, then zeros.
        {0.1234567890123, 15, "0.123456789000000"},
        {9999999999.4, 0, "9999999999"},
        // The exponent form past ten integer digits.
        {-12345678901.0, 0, "-1.234567890E+10"},
        {12345678901.0, 6, "1.234567890E+0010"},
        {9999999999.6, 0, "1.000000000E+10"},
        {1e300, 1, "1.000000000E+300"},
        // Decimals outside 0..18, and the special values.
        {3.14159, -5, "3"},
        {1.0, 40, "1.000000000000000000"},
        {kNaN, 2, "NAN"},
        {-kInf, 2, "-INF"},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(formatFixed(each.value, each.decimals).view(), each.text)
            << each.value << ", " << each.decimals;
    }
}

TEST(CoreDateTime, EncodeDecodeAndBothFormats) {
    const daq::DateTimeParts parts{2026, 12, 5, 0, 41, 7, 123};
    const double value = daq::encodeDateTime(parts);
    EXPECT_NEAR(value, 46361.0 + (41 * 60 + 7.123) / 86400.0, 1e-9);
    EXPECT_EQ(daq::formatAliveTime(value).view(), "2026.12.05 00:41.07.123");
    EXPECT_EQ(daq::formatStampTime(value).view(), "2026.12.05 00:41:07:123");
    EXPECT_EQ(daq::decodeDateTime(value).millisecond, 123);
    // Days count back, the fraction is the time of day.
    EXPECT_EQ(daq::formatStampTime(-1.25).view(), "1899.12.29 06:00:00:000");
    EXPECT_EQ(daq::encodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
    // Within half a millisecond of midnight: the next day.
    EXPECT_EQ(daq::formatStampTime(1.0 - 0.0004 / 86400).view(), "1899.12.31 00:00:00:000");
    for (const double value : {std::nan(""), 1e300, -1e9, 2958466.0}) {
        EXPECT_EQ(daq::formatStampTime(value).view(), "1899.12.30 00:00:00:000") << value;
    }
    EXPECT_EQ(daq::formatStampTime(2958465.5).view(), "9999.12.31 12:00:00:000");
}

TEST(CoreTextConvert, Utf16ToUtf8AndBack) {
    const std::u16string text = u"A\u00e9\ud55c\U0001F600";
    const std::string utf8 = daq::toUtf8(text);
    EXPECT_EQ(utf8, "A\xC3\xA9\xED\x95\x9C\xF0\x9F\x98\x80");
    EXPECT_EQ(daq::toUtf16(utf8), text);
    // Broken texts get replacement characters.
    const std::u16string loneHigh = {u'a', 0xD83D, u'b'};
    EXPECT_EQ(daq::toUtf8(loneHigh),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(daq::toUtf8(std::u16string{u'x', 0xD800}), "x\xEF\xBF\xBD");
    EXPECT_EQ(daq::toUtf16("a\xFF"
                           "b"),
              u"a\uFFFDb");
    EXPECT_EQ(daq::toUtf16("\xC3"), u"\uFFFD");
}

}  // namespace
