// Keeps a widget filling its parent's client area, as forms aligned to their parent control do.
#pragma once

#include <QObject>

class QWidget;

namespace daq::window {

// Makes `child` a plain child widget of `parent` (no frame) that follows the parent's size.
// With a null parent the child becomes a top-level window again and stops following.
void alignClient(QWidget& child, QWidget* parent);

}  // namespace daq::window
