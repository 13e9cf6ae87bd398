#include "server/window/PopupWindow.h"
#include "server/window/ToolkitColor.h"
#include "tests/window/WindowTestApp.h"

#include <QEnterEvent>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

using namespace daq::window;

namespace {

constexpr int kShortTimeoutMs = 100;
constexpr int kWaitLimitMs = 3000;

class Popup : public ::testing::Test {
  protected:
    // Shows the popup and waits until its roll-up has ended.
    void showRolledUp() {
        popup.showPopup();
        ASSERT_TRUE(QTest::qWaitFor([this] { return popup.geometry() == popup.popupGeometry(); },
                                    kWaitLimitMs));
    }

    void hover(bool inside) {
        if (inside) {
            QEnterEvent enter(QPointF(10, 10), QPointF(210, 210), QPointF(210, 210));
            QApplication::sendEvent(&popup, &enter);
        } else {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(&popup, &leave);
        }
    }

    PopupWindow popup;
};

TEST(ToolkitColor, KeepsRedInTheLowByte) {
    EXPECT_EQ(toolkitColor(0xF2BF82), QColor(0x82, 0xBF, 0xF2));
    EXPECT_EQ(toolkitColor(0x666600), QColor(0x00, 0x66, 0x66));
    EXPECT_EQ(toolkitColor(0xEAC291), QColor(0x91, 0xC2, 0xEA));
}

TEST_F(Popup, IsAnAlwaysOnTopFramelessToolWindowWithItsDefaults) {
    EXPECT_TRUE(popup.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(popup.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(popup.windowType(), Qt::Tool);
    EXPECT_EQ(popup.shadeStart(), QColor(0x82, 0xBF, 0xF2));
    EXPECT_EQ(popup.hideTimeout(), 2000);
    EXPECT_EQ(popup.popupGeometry(), QRect(200, 200, 300, 120));
    EXPECT_FALSE(popup.isShown());
}

TEST_F(Popup, ShowsItsLinesWithTheInformationIcon) {
    popup.setLines({"<IMG src=\"INFO\">", "User <b>alice</b>", "logged out"});
    const QString html = popup.html();
    EXPECT_FALSE(html.contains("INFO"));
    EXPECT_TRUE(html.endsWith("<br>User <b>alice</b><br>logged out")) << html.toStdString();
    EXPECT_EQ(popup.lines().size(), 3);

    const QRegularExpression inlineImage("src=\"data:image/png;base64,([^\"]+)\"");
    const QRegularExpressionMatch match = inlineImage.match(html);
    ASSERT_TRUE(match.hasMatch());
    const QImage icon = QImage::fromData(QByteArray::fromBase64(match.captured(1).toLatin1()));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(32, 32));
}

TEST_F(Popup, GrowsToItsTextWithinItsBounds) {
    popup.setLines({"short"});
    EXPECT_EQ(popup.popupGeometry().size(), QSize(300, 120));

    popup.setLines({QString(120, QChar('W'))});
    EXPECT_GT(popup.popupGeometry().width(), 300);
    EXPECT_EQ(popup.popupGeometry().height(), 120);

    QStringList many;
    for (int i = 0; i < 12; ++i) {
        many << QStringLiteral("line %1").arg(i);
    }
    popup.setLines(many);
    EXPECT_EQ(popup.popupGeometry().width(), 300);
    EXPECT_GT(popup.popupGeometry().height(), 120);

    popup.setLines(QStringList(100, QString(5000, QChar('W'))));
    EXPECT_EQ(popup.lines().size(), PopupWindow::kMaxLines);
    EXPECT_EQ(popup.lines().front().size(), PopupWindow::kMaxLineLength);
    EXPECT_EQ(popup.popupGeometry().size(), PopupWindow::kMaximumSize);

    showRolledUp();
    EXPECT_EQ(popup.geometry(), QRect(QPoint(200, 200), PopupWindow::kMaximumSize));
}

TEST_F(Popup, RollsUpAndPaintsTheShadingFromItsStartColourToWhite) {
    popup.setShadeStart(0x666600);
    popup.setLines({"<IMG src=\"INFO\">", "bye"});
    popup.showPopup();
    EXPECT_TRUE(popup.isShown());
    EXPECT_LT(popup.geometry().height(), popup.popupGeometry().height());
    EXPECT_EQ(popup.geometry().bottom(), popup.popupGeometry().bottom());
    ASSERT_TRUE(QTest::qWaitFor([this] { return popup.geometry() == popup.popupGeometry(); },
                                kWaitLimitMs));

    const QImage shot = popup.grab().toImage();
    const int x = shot.width() - 4;  // inside the border, clear of the text
    const QColor top = shot.pixelColor(x, 2);
    const QColor bottom = shot.pixelColor(x, shot.height() - 3);
    const auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) <= 6 && std::abs(a.green() - b.green()) <= 6 &&
               std::abs(a.blue() - b.blue()) <= 6;
    };
    EXPECT_TRUE(near(top, QColor(0x00, 0x66, 0x66))) << top.name().toStdString();
    EXPECT_TRUE(near(bottom, QColor(Qt::white))) << bottom.name().toStdString();
}

TEST_F(Popup, HidesItselfAfterTheTimeOut) {
    popup.setHideTimeout(kShortTimeoutMs);
    popup.setLines({"hello"});
    popup.showPopup();
    EXPECT_TRUE(popup.isShown());
    EXPECT_TRUE(popup.isHideTimerActive());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !popup.isShown(); }, kWaitLimitMs));

    // Shown again for the next message, it hides again.
    popup.showPopup();
    EXPECT_TRUE(popup.isShown());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !popup.isShown(); }, kWaitLimitMs));
}

TEST_F(Popup, StaysWhileHoveredAndLeavingRestartsTheTimeOut) {
    popup.setHideTimeout(kShortTimeoutMs);
    popup.setLines({"hello"});
    popup.showPopup();
    hover(true);
    EXPECT_FALSE(popup.isHideTimerActive());
    QTest::qWait(3 * kShortTimeoutMs);
    EXPECT_TRUE(popup.isShown());

    hover(false);
    EXPECT_TRUE(popup.isHideTimerActive());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !popup.isShown(); }, kWaitLimitMs));
}

TEST_F(Popup, HidePopupStopsTheTimeOut) {
    popup.setLines({"hello"});
    popup.showPopup();
    popup.hidePopup();
    EXPECT_FALSE(popup.isShown());
    EXPECT_FALSE(popup.isHideTimerActive());
}

}  // namespace
