#include "plugin/IconResource.h"

namespace daq {

QImage loadPluginIcon() {
    return QImage(QString::fromLatin1(kIconResource), "BMP");
}

}  // namespace daq
