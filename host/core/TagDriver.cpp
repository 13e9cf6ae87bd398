#include "host/core/TagDriver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "host/core/Utf16.h"
#include "kelvane/Text.h"

namespace host {

TagDriver::TagDriver(const TagSpec& spec, uint32_t seed)
    : spec_(spec), random_(seed), walk_((spec.drive.minimum + spec.drive.maximum) / 2.0) {}

double TagDriver::numericValue(std::chrono::milliseconds elapsed) {
    const ValueDrive& drive = spec_.drive;
    const double phase =
        static_cast<double>(elapsed.count() % drive.periodMs) / static_cast<double>(drive.periodMs);
    switch (drive.kind) {
        case DriveKind::Sine:
            return drive.minimum + (drive.maximum - drive.minimum) *
                                       (0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * phase));
        case DriveKind::Ramp:
            return drive.minimum + (drive.maximum - drive.minimum) * phase;
        case DriveKind::RandomWalk: {
            std::uniform_real_distribution<double> change(-drive.step, drive.step);
            walk_ = std::clamp(walk_ + change(random_), drive.minimum, drive.maximum);
            return walk_;
        }
        case DriveKind::Constant:
        case DriveKind::Cycle:
        case DriveKind::Text:
            break;
    }
    return drive.value;
}

std::string TagDriver::valueText(double value) const {
    char text[64];
    if (spec_.decimals >= 0) {
        std::snprintf(text, sizeof text, "%.*f", spec_.decimals, value);
    } else {
        // Shown as text: the value with its unit.
        std::snprintf(text, sizeof text, "%.2f %s", value, spec_.unit.c_str());
    }
    return text;
}

kelvane::TCurrentValue TagDriver::next(std::chrono::milliseconds elapsed, double timeStamp) {
    const ValueDrive& drive = spec_.drive;
    kelvane::TCurrentValue current{};
    current.TimeStamp = timeStamp;
    current.Decimals = spec_.decimals;
    std::string text;
    if (drive.kind == DriveKind::Cycle && !spec_.values.empty()) {
        const NamedValue& entry = spec_.values[step_++ % spec_.values.size()];
        current.Value = entry.value;
        text = entry.name;
    } else if (drive.kind == DriveKind::Text && !drive.messages.empty()) {
        const std::size_t message = step_++ % drive.messages.size();
        current.Value = static_cast<double>(message);
        text = drive.messages[message];
    } else if (drive.kind == DriveKind::Constant && !drive.text.empty()) {
        current.Value = drive.value;
        text = drive.text;
    } else {
        current.Value = numericValue(elapsed);
        text = valueText(current.Value);
    }
    // The block's text is zero-terminated: keep room for the terminator.
    kelvane::StoreText(
        current.ValueText,
        std::u16string_view(toUtf16(text)).substr(0, std::size(current.ValueText) - 1));
    current.Updated = 1;
    return current;
}

}  // namespace host
