// The plug-in's icon, compiled into the library as the resource "ID_BMP_RUI":
// a 32 x 32 bitmap with 32 bits per pixel.
#pragma once

#include <QImage>

namespace daq {

inline constexpr const char* kIconResource = ":/ID_BMP_RUI";
inline constexpr int kIconSize = 32;

// Reads the resource into a new image (null image when it cannot be read).
QImage loadPluginIcon();

}  // namespace daq
