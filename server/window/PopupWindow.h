#pragma once

#include <QColor>
#include <QPropertyAnimation>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class QLabel;

namespace daq::window {

// The always-on-top notice that announces logins and logouts: a few lines of simple HTML on a
// vertical shading from a start colour to white. It rolls up when shown and hides itself after
// a time-out, except while the pointer rests on it.
class PopupWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr QPoint kPosition{200, 200};
    static constexpr QSize kMinimumSize{300, 120};
    // Texts carry user IDs from the network: the popup never grows beyond this size, and
    // lines beyond these bounds are dropped or cut, so a huge text cannot stall the window.
    static constexpr QSize kMaximumSize{800, 600};
    static constexpr int kMaxLines = 64;
    static constexpr int kMaxLineLength = 256;
    static constexpr int kBorder = 8;
    static constexpr uint32_t kDefaultShadeStart = 0xF2BF82;
    static constexpr int kDefaultHideTimeoutMs = 2000;
    static constexpr int kRollUpMs = 150;

    explicit PopupWindow(QWidget* parent = nullptr);

    // Start colour of the shading as a toolkit colour value (0x00BBGGRR).
    void setShadeStart(uint32_t colorValue);
    QColor shadeStart() const { return shadeStart_; }

    // One line of simple HTML per entry (bounded as above); the line <IMG src="INFO"> shows an
    // information icon.
    void setLines(const QStringList& lines);
    QStringList lines() const { return lines_; }

    void setHideTimeout(int ms);
    int hideTimeout() const { return hideTimer_.interval(); }

    // Shows the popup at its place with the roll-up and starts the hide time-out.
    void showPopup();
    void hidePopup();

    bool isShown() const { return isVisible(); }
    bool isHideTimerActive() const { return hideTimer_.isActive(); }
    // Where the popup stands once rolled up.
    QRect popupGeometry() const { return {kPosition, targetSize_}; }
    // The HTML the popup renders (the icon as inline image data).
    QString html() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QLabel* label_;
    QTimer hideTimer_;
    QPropertyAnimation rollUp_;
    QColor shadeStart_;
    QStringList lines_;
    QSize targetSize_ = kMinimumSize;
};

}  // namespace daq::window
