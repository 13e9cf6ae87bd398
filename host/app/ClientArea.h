// A host widget that makes every child widget fill it, the way an embedded plug-in window
// expects its parent to ("align client").
#pragma once

#include <QWidget>

namespace host {

class ClientArea : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void fillWithChildren();
};

}  // namespace host
