#include "server/window/DateTimeText.h"
#include "server/window/EventListModel.h"
#include "server/window/ListView.h"
#include "server/window/UserListModel.h"
#include "tests/window/WindowTestApp.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace daq::window;

namespace {

// 2024-03-05 14:07:09 local, as days since 1899-12-30.
constexpr double kSampleTime = 45356.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0;

std::unique_ptr<UserRecord> user(const std::string& id, uint64_t connection,
                                 const std::string& peer = "10.0.0.1") {
    auto record = std::make_unique<UserRecord>();
    record->ID = id;
    record->LoginTime = kSampleTime;
    record->OS = "Android";
    record->OSVersion = "14";
    record->ModelName = "Tab S9";
    record->Location = "Hall 2";
    record->ConnectionId = connection;
    record->PeerAddress = peer;
    return record;
}

EventRecord event(int32_t type, const std::string& id, const std::string& text = {}) {
    return {.ID = id, .Time = kSampleTime, .IP = "10.0.0.7", .EventType = type, .Text = text};
}

template <typename... Made>
UserListModel::Records userBatch(Made... made) {
    UserListModel::Records records;
    (records.push_back(std::move(made)), ...);
    return records;
}

QString text(const QAbstractItemModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

QString header(const QAbstractItemModel& model, int column) {
    return model.headerData(column, Qt::Horizontal).toString();
}

// Entries of a host text table for the relabelling tests: "T<entry>".
QString sampleEntry(int entry) {
    return QStringLiteral("T%1").arg(entry);
}

TEST(WindowModels, DateTimeTextUsesShortDateAndLongTime) {
    const QLocale british(QLocale::English, QLocale::UnitedKingdom);
    EXPECT_TRUE(dateTimeText(kSampleTime, british).startsWith("05/03/2024 14:07:09"))
        << dateTimeText(kSampleTime, british).toStdString();
    // A fraction that rounds to a whole day is the next midnight.
    EXPECT_TRUE(dateTimeText(45356.0 - 1e-10, british).startsWith("05/03/2024 00:00:00"));
    EXPECT_EQ(dateTimeText(std::nan(""), british), QString());
    EXPECT_EQ(dateTimeText(1e300, british), QString());
}

TEST(WindowModels, UserListShowsRecordsAndStaysConsistentThroughChanges) {
    UserListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    QStringList headers;
    for (int column = 0; column < model.columnCount(); ++column) {
        headers << header(model, column);
    }
    EXPECT_EQ(headers, QStringList({"No", "User ID", "IP Address", "Login Time", "OS", "OS Version",
                                    "Device Model Name"}));

    model.append(userBatch(user("alice", 1, "192.168.1.20"), user("bob", 2)));
    model.append(userBatch(user("carol", 3), nullptr, user("dave", 4)));
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(text(model, 0, UserListModel::No), "1");
    EXPECT_EQ(text(model, 0, UserListModel::UserId), "alice");
    EXPECT_EQ(text(model, 0, UserListModel::IpAddress), "192.168.1.20");
    EXPECT_EQ(text(model, 0, UserListModel::LoginTime), dateTimeText(kSampleTime));
    EXPECT_EQ(text(model, 0, UserListModel::Os), "Android");
    EXPECT_EQ(text(model, 0, UserListModel::OsVersion), "14");
    EXPECT_EQ(text(model, 0, UserListModel::DeviceModelName), "Tab S9");
    EXPECT_EQ(text(model, 3, UserListModel::UserId), "dave");

    const std::vector<const UserRecord*> shown = model.records();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[2]->ID, "carol");

    // Three logouts in one tick, queued in an order unlike the rows, one of them twice.
    model.removeRecords({shown[2], shown[0], shown[2]});
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(text(model, 0, UserListModel::UserId), "bob");
    EXPECT_EQ(text(model, 1, UserListModel::UserId), "dave");
    EXPECT_EQ(text(model, 0, UserListModel::No), "1");
    EXPECT_EQ(text(model, 1, UserListModel::No), "2");

    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_TRUE(model.records().empty());
}

TEST(WindowModels, UserListRemovesExactlyTheQueuedRowOfAConnectionThatLoggedInTwice) {
    UserListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.append(userBatch(user("alice", 7), user("bob", 8)));
    model.append(userBatch(user("alice-again", 7)));

    // The newest row of the connection is queued, and a record that is not shown.
    const std::vector<const UserRecord*> shown = model.records();
    const UserRecord* newest = nullptr;
    for (const UserRecord* record : shown) {
        if (record->ConnectionId == 7) {
            newest = record;
        }
    }
    ASSERT_NE(newest, nullptr);
    const UserRecord stranger = *newest;  // equal fields, not a shown record
    model.removeRecords({newest, &stranger});

    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(text(model, 0, UserListModel::UserId), "alice");
    EXPECT_EQ(text(model, 1, UserListModel::UserId), "bob");
    EXPECT_EQ(model.records(), std::vector<const UserRecord*>({shown[0], shown[1]}));
}

TEST(WindowModels, UserListRelabelsItsHeadersFromTheTextTable) {
    UserListModel model;
    model.applyTexts(sampleEntry);
    EXPECT_EQ(header(model, 0), "No");
    EXPECT_EQ(header(model, 1), "T10");
    EXPECT_EQ(header(model, 2), "T2");
    EXPECT_EQ(header(model, 3), "T13");
    EXPECT_EQ(header(model, 4), "OS");
    EXPECT_EQ(header(model, 5), "OS Version");
    EXPECT_EQ(header(model, 6), "T14");
}

TEST(WindowModels, EventListShowsTextsPerTypeAndShadesEverySecondRow) {
    EventListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.append(std::vector<EventRecord>{event(0, "alice"), event(1, "alice")});
    model.append(
        std::vector<EventRecord>{event(2, "mallory", "Login Fail"), event(7, "x", "other")});
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(text(model, 2, EventListModel::No), "3");
    EXPECT_EQ(text(model, 2, EventListModel::DateTime), dateTimeText(kSampleTime));
    EXPECT_EQ(text(model, 2, EventListModel::UserId), "mallory");
    EXPECT_EQ(text(model, 2, EventListModel::IpAddress), "10.0.0.7");

    // Without texts from the host, logins and logouts show nothing.
    EXPECT_EQ(text(model, 0, EventListModel::Events), "");
    EXPECT_EQ(text(model, 1, EventListModel::Events), "");
    EXPECT_EQ(text(model, 2, EventListModel::Events), "Login Fail");
    EXPECT_EQ(text(model, 3, EventListModel::Events), "other");

    model.setEventTexts("logged in", "logged out");
    EXPECT_EQ(text(model, 0, EventListModel::Events), "logged in");
    EXPECT_EQ(text(model, 1, EventListModel::Events), "logged out");
    EXPECT_EQ(text(model, 2, EventListModel::Events), "Login Fail");
    EXPECT_EQ(model.shownText(*model.record(1)), "logged out");

    const QColor oddRow(0xF4, 0xF3, 0xEA);
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
            const QVariant background = model.data(model.index(row, column), Qt::BackgroundRole);
            if (row % 2 == 1) {
                EXPECT_EQ(background.value<QBrush>().color(), oddRow) << row << "," << column;
            } else {
                EXPECT_FALSE(background.isValid()) << row << "," << column;
            }
        }
    }
}

TEST(WindowModels, EventListKeepsTheNewestRowsUpToItsBound) {
    EventListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setMaxRows(3);
    model.append(std::vector<EventRecord>{event(0, "a"), event(1, "a"), event(0, "b")});
    model.append(std::vector<EventRecord>{event(1, "b"), event(0, "c")});
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(text(model, 0, EventListModel::UserId), "b");  // both rows of "a" went
    EXPECT_EQ(model.record(0)->EventType, 0);
    EXPECT_EQ(text(model, 2, EventListModel::UserId), "c");
    EXPECT_EQ(text(model, 0, EventListModel::No), "1");  // renumbered
    EXPECT_EQ(text(model, 2, EventListModel::No), "3");

    // A batch larger than the bound keeps its own newest rows.
    std::vector<EventRecord> burst;
    for (int i = 0; i < 5; ++i) {
        burst.push_back(event(2, "u" + std::to_string(i), "Login Fail"));
    }
    model.append(std::move(burst));
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(text(model, 0, EventListModel::UserId), "u2");
    EXPECT_EQ(text(model, 2, EventListModel::UserId), "u4");

    model.setMaxRows(1);  // a lower bound drops at once
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(text(model, 0, EventListModel::UserId), "u4");
    EXPECT_EQ(text(model, 0, EventListModel::No), "1");
}

TEST(WindowModels, EventListTakesHeadersAndEventTextsFromTheTextTable) {
    EventListModel model;
    model.append(std::vector<EventRecord>{event(0, "alice"), event(1, "alice")});
    model.applyTexts(sampleEntry);
    EXPECT_EQ(header(model, 0), "No");
    EXPECT_EQ(header(model, 1), "T15");
    EXPECT_EQ(header(model, 2), "T10");
    EXPECT_EQ(header(model, 3), "T2");
    EXPECT_EQ(header(model, 4), "T16");
    EXPECT_EQ(text(model, 0, EventListModel::Events), "T34");
    EXPECT_EQ(text(model, 1, EventListModel::Events), "T35");
}

TEST(WindowModels, ListViewHasTheWindowsLookAndFollowsAppends) {
    UserListModel model;
    QTreeView view;
    configureListView(view, model);
    view.resize(600, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    EXPECT_EQ(view.font().pixelSize(), 11);
    EXPECT_TRUE(view.header()->font().bold());
    EXPECT_EQ(view.header()->sectionSize(UserListModel::UserId), 100);
    EXPECT_EQ(view.header()->sectionSize(UserListModel::LoginTime), 150);
    EXPECT_EQ(view.header()->sectionSize(UserListModel::DeviceModelName), 150);
    EXPECT_EQ(view.selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);

    constexpr int kUsers = 40;
    for (int i = 0; i < kUsers; ++i) {
        model.append(userBatch(user("user" + std::to_string(i), i)));
    }
    EXPECT_EQ(view.visualRect(model.index(0, 1)).height(), 20);
    QScrollBar& scroll = *view.verticalScrollBar();
    EXPECT_GT(scroll.maximum(), 0);
    EXPECT_EQ(scroll.value(), scroll.maximum());
}

// Both lists as the window's two tabs, saved as a picture a person can look at; the pixels
// where the shaded event row and the selected user row are drawn carry the window's colours.
TEST(WindowModels, ScreenshotOfBothListsShowsShadingSelectionAndGrid) {
    UserListModel users;
    EventListModel events;
    users.append(userBatch(user("alice", 1, "192.168.1.20"), user("bob", 2, "10.1.1.5")));
    events.append(std::vector<EventRecord>{event(0, "alice"), event(0, "bob"),
                                           event(2, "mallory", "Login Fail")});
    events.setEventTexts("Login", "Logout");

    QTabWidget tabs;
    auto* userView = new QTreeView;
    auto* eventView = new QTreeView;
    configureListView(*userView, users);
    configureListView(*eventView, events);
    tabs.addTab(userView, "Login Users");
    tabs.addTab(eventView, "Events");
    tabs.resize(772, 240);
    tabs.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
    userView->selectionModel()->select(users.index(0, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);

    // A point inside a cell, clear of its text and its grid lines, in the tab widget's pixels.
    const auto cellPoint = [&tabs](QTreeView& view, const QModelIndex& index) {
        const QRect cell = view.visualRect(index);
        return view.viewport()->mapTo(&tabs, QPoint(cell.right() - 6, cell.center().y()));
    };
    const auto gridPoint = [&tabs](QTreeView& view, const QModelIndex& index) {
        const QRect cell = view.visualRect(index);
        return view.viewport()->mapTo(&tabs, QPoint(cell.right(), cell.center().y()));
    };

    tabs.setCurrentIndex(0);
    const QImage userShot = tabs.grab().toImage();
    const QPoint selected = cellPoint(*userView, users.index(0, UserListModel::Os));
    const QPoint unselected = cellPoint(*userView, users.index(1, UserListModel::Os));
    const QPoint userGrid = gridPoint(*userView, users.index(1, UserListModel::OsVersion));
    tabs.setCurrentIndex(1);
    const QImage eventShot = tabs.grab().toImage();
    const QPoint odd = cellPoint(*eventView, events.index(1, EventListModel::Events));
    const QPoint even = cellPoint(*eventView, events.index(2, EventListModel::Events));

    QImage both(userShot.width(), userShot.height() + eventShot.height(), QImage::Format_RGB32);
    both.fill(Qt::white);
    {
        QPainter painter(&both);
        painter.drawImage(0, 0, userShot);
        painter.drawImage(0, userShot.height(), eventShot);
    }
    const QString name = QStringLiteral("window_lists.png");
    const QString path = QDir(QString::fromStdString(::testing::TempDir())).filePath(name);
    ASSERT_TRUE(both.save(path));
    EXPECT_TRUE(both.save(QDir(QStringLiteral(DAQ_WINDOW_SHOT_DIR)).filePath(name)));

    QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    const QPoint below(0, userShot.height());
    EXPECT_EQ(saved.pixelColor(selected), QColor(0x91, 0xC2, 0xEA));
    EXPECT_EQ(saved.pixelColor(unselected), QColor(Qt::white));
    EXPECT_EQ(saved.pixelColor(userGrid), QColor(0xD4, 0xD0, 0xC8));
    EXPECT_EQ(saved.pixelColor(odd + below), QColor(0xF4, 0xF3, 0xEA));
    EXPECT_EQ(saved.pixelColor(even + below), QColor(Qt::white));
}

}  // namespace
