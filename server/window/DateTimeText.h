#pragma once

#include <QLocale>
#include <QString>

namespace daq::window {

// A local date-time given as days since 1899-12-30 (the fraction is the time of day), written
// in the locale's short date and long time format. Values outside the calendar give "".
QString dateTimeText(double days, const QLocale& locale = QLocale());

}  // namespace daq::window
