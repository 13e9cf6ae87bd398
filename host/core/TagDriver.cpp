#include "TagDriver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "Utf16.h"
#include "kelvane/Text.h"

namespace host {

TagDriver::TagDriver(const TagSpec& spec, uint32_t seed)
    : spec_(spec), random_(seed), walk_((spec.Drive.Minimum + spec.Drive.Maximum) / 2.0) {}

double TagDriver::NumericValue(std::chrono::milliseconds elapsed) {
    const ValueDrive& drive = spec_.Drive;
    const double phase =
        static_cast<double>(elapsed.count() % drive.PeriodMs) / static_cast<double>(drive.PeriodMs);
    switch (drive.Kind) {
        case DriveKind::Sine:
            return drive.Minimum + (drive.Maximum - drive.Minimum) *
                                       (0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * phase));
        case DriveKind::Ramp:
            return drive.Minimum + (drive.Maximum - drive.Minimum) * phase;
        case DriveKind::RandomWalk: {
            std::uniform_real_distribution<double> change(-drive.Step, drive.Step);
            walk_ = std::clamp(walk_ + change(random_), drive.Minimum, drive.Maximum);
            return walk_;
        }
        case DriveKind::Constant:
        case DriveKind::Cycle:
        case DriveKind::Text:
            break;
    }
    return drive.Value;
}

std::string TagDriver::ValueText(double value) const {
    char text[64];
    if (spec_.Decimals >= 0) {
        std::snprintf(text, sizeof text, "%.*f", spec_.Decimals, value);
    } else {
        // Shown as text: the value with its unit.
        std::snprintf(text, sizeof text, "%.2f %s", value, spec_.Unit.c_str());
    }
    return text;
}

kelvane::TCurrentValue TagDriver::Next(std::chrono::milliseconds elapsed, double timeStamp) {
    const ValueDrive& drive = spec_.Drive;
    kelvane::TCurrentValue current{};
    current.TimeStamp = timeStamp;
    current.Decimals = spec_.Decimals;
    std::string text;
    if (drive.Kind == DriveKind::Cycle && !spec_.Values.empty()) {
        const NamedValue& entry = spec_.Values[step_++ % spec_.Values.size()];
        current.Value = entry.Value;
        text = entry.Name;
    } else if (drive.Kind == DriveKind::Text && !drive.Messages.empty()) {
        const std::size_t message = step_++ % drive.Messages.size();
        current.Value = static_cast<double>(message);
        text = drive.Messages[message];
    } else if (drive.Kind == DriveKind::Constant && !drive.Text.empty()) {
        current.Value = drive.Value;
        text = drive.Text;
    } else {
        current.Value = NumericValue(elapsed);
        text = ValueText(current.Value);
    }
    // The block's text is zero-terminated: keep room for the terminator.
    kelvane::StoreText(
        current.ValueText,
        std::u16string_view(ToUtf16(text)).substr(0, std::size(current.ValueText) - 1));
    current.Updated = 1;
    return current;
}

}  // namespace host
