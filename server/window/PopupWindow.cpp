#include "server/window/PopupWindow.h"

#include "server/window/ToolkitColor.h"

#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>

namespace daq::window {
namespace {

constexpr int kIconSize = 32;

// The picture named "INFO" in popup lines: the style's information icon as inline PNG data,
// so the label's rich text needs no resource look-up.
QString infoImageSource() {
    static const QString source = [] {
        const QPixmap icon = QApplication::style()
                                 ->standardIcon(QStyle::SP_MessageBoxInformation)
                                 .pixmap(kIconSize, kIconSize);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        icon.save(&buffer, "PNG");
        return QStringLiteral("src=\"data:image/png;base64,%1\"")
            .arg(QString::fromLatin1(png.toBase64()));
    }();
    return source;
}

}  // namespace

PopupWindow::PopupWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      label_(new QLabel(this)),
      rollUp_(this, "geometry"),
      shadeStart_(toolkitColor(kDefaultShadeStart)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    label_->setTextFormat(Qt::RichText);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
    // The roll-up starts from a one-pixel strip, below what the label would ask for.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(label_);

    hideTimer_.setSingleShot(true);
    hideTimer_.setInterval(kDefaultHideTimeoutMs);
    connect(&hideTimer_, &QTimer::timeout, this, &PopupWindow::hidePopup);
    rollUp_.setDuration(kRollUpMs);
    resize(kMinimumSize);
}

void PopupWindow::setShadeStart(uint32_t colorValue) {
    shadeStart_ = toolkitColor(colorValue);
    update();
}

void PopupWindow::setLines(const QStringList& lines) {
    lines_ = lines.mid(0, kMaxLines);
    for (QString& line : lines_) {
        line.truncate(kMaxLineLength);
    }
    label_->setText(html());
    const QSize border(2 * kBorder, 2 * kBorder);
    targetSize_ = (label_->sizeHint() + border).expandedTo(kMinimumSize).boundedTo(kMaximumSize);
}

QString PopupWindow::html() const {
    QString html = lines_.join(QStringLiteral("<br>"));
    html.replace(QStringLiteral("src=\"INFO\""), infoImageSource(), Qt::CaseInsensitive);
    return html;
}

void PopupWindow::setHideTimeout(int ms) {
    hideTimer_.setInterval(ms);
}

void PopupWindow::showPopup() {
    rollUp_.stop();
    const QRect target = popupGeometry();
    const QRect strip(target.left(), target.bottom(), target.width(), 1);
    setGeometry(strip);
    show();
    rollUp_.setStartValue(strip);
    rollUp_.setEndValue(target);
    rollUp_.start();
    hideTimer_.start();
}

void PopupWindow::hidePopup() {
    rollUp_.stop();
    hideTimer_.stop();
    hide();
}

void PopupWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient shading(rect().topLeft(), rect().bottomLeft());
    shading.setColorAt(0, shadeStart_);
    shading.setColorAt(1, Qt::white);
    painter.fillRect(rect(), shading);
    painter.setPen(shadeStart_.darker());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PopupWindow::enterEvent(QEnterEvent*) {
    hideTimer_.stop();
}

void PopupWindow::leaveEvent(QEvent*) {
    if (isVisible()) {
        hideTimer_.start();
    }
}

}  // namespace daq::window
