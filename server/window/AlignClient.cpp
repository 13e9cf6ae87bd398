#include "server/window/AlignClient.h"

#include <QEvent>
#include <QWidget>

namespace daq::window {

namespace {

// Installed on the parent; resizes the child whenever the parent is resized.
class ClientAligner : public QObject {
  public:
    ClientAligner(QWidget& child, QWidget& parent) : QObject(&child), child_(child) {
        parent.installEventFilter(this);
        child_.setGeometry(parent.rect());
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && watched == child_.parentWidget()) {
            child_.setGeometry(static_cast<QWidget*>(watched)->rect());
        }
        return false;
    }

  private:
    QWidget& child_;
};

constexpr const char* kAlignerName = "daqClientAligner";

}  // namespace

void alignClient(QWidget& child, QWidget* parent) {
    delete child.findChild<QObject*>(kAlignerName, Qt::FindDirectChildrenOnly);
    if (parent == nullptr) {
        child.setParent(nullptr, Qt::Window);
        return;
    }
    child.setParent(parent, Qt::Widget);
    auto* aligner = new ClientAligner(child, *parent);
    aligner->setObjectName(kAlignerName);
}

}  // namespace daq::window
