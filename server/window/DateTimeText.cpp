#include "server/window/DateTimeText.h"

#include <QDateTime>

#include <cmath>

namespace daq::window {
namespace {

constexpr double kMsPerDay = 86400000.0;
// Days beyond this many from the epoch are no calendar date anyone logs in on.
constexpr double kMaxDays = 3.0e6;

}  // namespace

QString dateTimeText(double days, const QLocale& locale) {
    if (!std::isfinite(days) || std::fabs(days) > kMaxDays) {
        return {};
    }
    double whole = std::floor(days);
    auto ms = static_cast<qint64>(std::llround((days - whole) * kMsPerDay));
    if (ms >= static_cast<qint64>(kMsPerDay)) {  // rounded up to the next midnight
        whole += 1;
        ms = 0;
    }
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(whole));
    const QDateTime when(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
    return locale.toString(when, locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') +
                                     locale.timeFormat(QLocale::LongFormat));
}

}  // namespace daq::window
