#include "host/app/ClientArea.h"

#include <QChildEvent>
#include <QEvent>

namespace host {

bool ClientArea::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished ||
        event->type() == QEvent::LayoutRequest) {
        fillWithChildren();
    }
    return handled;
}

void ClientArea::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fillWithChildren();
}

void ClientArea::fillWithChildren() {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow()) {
            child->setGeometry(rect());
        }
    }
}

}  // namespace host
