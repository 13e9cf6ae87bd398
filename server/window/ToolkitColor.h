#pragma once

#include <QColor>

#include <cstdint>

namespace daq::window {

// The window toolkit's colour values keep red in the low byte: 0x00BBGGRR.
inline QColor toolkitColor(uint32_t value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

}  // namespace daq::window
