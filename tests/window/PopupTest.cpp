#include "server/window/PopupWindow.h"
#include "tests/window/PluginTestSupport.h"

#include <QEnterEvent>
#include <QTest>

#include <gtest/gtest.h>

using namespace daq::window;

namespace {

constexpr int kShortTimeoutMs = 20;
constexpr int kWaitLimitMs = 3000;

class Popup : public ::testing::Test {
  protected:
    bool waitHidden() {
        return QTest::qWaitFor([this] { return !popup.isShown(); }, kWaitLimitMs);
    }

    PopupWindow popup;
};

TEST_F(Popup, ShowsItsLinesWithTheInformationIconWithinItsBounds) {
    popup.setLines({"<IMG src=\"INFO\">", "User <b>alice</b>", "logged out"});
    const QString html = popup.html();
    EXPECT_TRUE(html.endsWith("<br>User <b>alice</b><br>logged out")) << html.toStdString();
    EXPECT_TRUE(html.contains("src=\"data:image/png;base64,iVBOR")) << "a PNG";

    popup.setLines({"short"});
    EXPECT_EQ(popup.popupGeometry().size(), PopupWindow::kMinimumSize);
    // Texts from the network: a huge one is cut and the popup stops growing.
    popup.setLines(QStringList(100, QString(5000, QChar('W'))));
    EXPECT_EQ(popup.lines().size(), PopupWindow::kMaxLines);
    EXPECT_EQ(popup.lines().front().size(), PopupWindow::kMaxLineLength);
    EXPECT_EQ(popup.popupGeometry().size(), PopupWindow::kMaximumSize);
}

TEST_F(Popup, RollsUpFromItsBottomEdge) {
    popup.setLines({"<IMG src=\"INFO\">", "bye"});
    popup.showPopup();
    EXPECT_LT(popup.geometry().height(), popup.popupGeometry().height());
    EXPECT_EQ(popup.geometry().bottom(), popup.popupGeometry().bottom());
    ASSERT_TRUE(QTest::qWaitFor([this] { return popup.geometry() == popup.popupGeometry(); },
                                kWaitLimitMs));
}

TEST_F(Popup, HidesAfterTheTimeOutExceptWhileHovered) {
    popup.setHideTimeout(kShortTimeoutMs);
    popup.setLines({"hello"});
    for (int round = 0; round < 2; ++round) {  // shown again for the next message
        popup.showPopup();
        EXPECT_TRUE(popup.isShown());
        EXPECT_TRUE(waitHidden());
    }

    popup.showPopup();
    QEnterEvent enter(QPointF(10, 10), QPointF(210, 210), QPointF(210, 210));
    QApplication::sendEvent(&popup, &enter);
    EXPECT_FALSE(popup.isHideTimerActive());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&popup, &leave);
    EXPECT_TRUE(popup.isHideTimerActive());
    EXPECT_TRUE(waitHidden());

    popup.showPopup();
    popup.hidePopup();
    EXPECT_FALSE(popup.isShown());
    EXPECT_FALSE(popup.isHideTimerActive());
}

}  // namespace
