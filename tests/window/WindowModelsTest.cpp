#include "server/window/DateTimeText.h"
#include "server/window/EventListModel.h"
#include "server/window/ListView.h"
#include "server/window/UserListModel.h"
#include "tests/window/PluginTestSupport.h"

#include <QAbstractItemModelTester>
#include <QScrollBar>
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

std::unique_ptr<UserRecord> user(const std::string& id, uint64_t connection) {
    auto record = std::make_unique<UserRecord>();
    record->ID = id;
    record->LoginTime = kSampleTime;
    record->ConnectionId = connection;
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

TEST(WindowModels, DateTimeTextUsesShortDateAndLongTime) {
    const QLocale british(QLocale::English, QLocale::UnitedKingdom);
    EXPECT_TRUE(dateTimeText(kSampleTime, british).startsWith("05/03/2024 14:07:09"));
    // A fraction that rounds to a whole day is the next midnight.
    EXPECT_TRUE(dateTimeText(45356.0 - 1e-10, british).startsWith("05/03/2024 00:00:00"));
    EXPECT_EQ(dateTimeText(std::nan(""), british), QString());
    EXPECT_EQ(dateTimeText(1e300, british), QString());
}

TEST(WindowModels, UserListShowsRecordsAndRemovesExactlyTheQueuedRows) {
    UserListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.append(userBatch(user("alice", 1), user("bob", 2)));
    model.append(userBatch(user("carol", 3), nullptr, user("alice-again", 1)));
    ASSERT_EQ(model.rowCount(), 4);
    // The other columns: ServerWindowTest (the session scenario).
    EXPECT_EQ(text(model, 0, UserListModel::LoginTime), dateTimeText(kSampleTime));

    // Logouts queued in an order unlike the rows, one twice, one of a connection that logged in
    // twice, and a record that is not shown though its fields are equal.
    const std::vector<const UserRecord*> shown = model.records();
    const UserRecord stranger = *shown[3];
    model.removeRecords({shown[2], shown[3], shown[2], &stranger});
    EXPECT_EQ(model.records(), std::vector<const UserRecord*>({shown[0], shown[1]}));
    EXPECT_EQ(text(model, 1, UserListModel::UserId), "bob");
    EXPECT_EQ(text(model, 1, UserListModel::No), "2");

    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(WindowModels, EventListShowsTextsPerTypeAndShadesEverySecondRow) {
    EventListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.append(std::vector<EventRecord>{event(0, "alice"), event(1, "alice")});
    model.append(
        std::vector<EventRecord>{event(2, "mallory", "Login Fail"), event(7, "x", "other")});
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(text(model, 2, EventListModel::DateTime), dateTimeText(kSampleTime));
    EXPECT_EQ(text(model, 2, EventListModel::Events), "Login Fail");
    // Without texts from the host, logins and logouts show nothing.
    EXPECT_EQ(text(model, 0, EventListModel::Events), "");
    EXPECT_EQ(text(model, 3, EventListModel::Events), "other");
    model.setEventTexts("logged in", "logged out");
    EXPECT_EQ(text(model, 0, EventListModel::Events), "logged in");
    EXPECT_EQ(text(model, 1, EventListModel::Events), "logged out");

    EXPECT_FALSE(model.data(model.index(2, 1), Qt::BackgroundRole).isValid());
    EXPECT_TRUE(model.data(model.index(3, 1), Qt::BackgroundRole).isValid());
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
    EXPECT_EQ(text(model, 0, EventListModel::No), "1");  // renumbered

    // A batch larger than the bound keeps its own newest rows.
    std::vector<EventRecord> burst;
    for (int i = 0; i < 5; ++i) {
        burst.push_back(event(2, "u" + std::to_string(i), "Login Fail"));
    }
    model.append(std::move(burst));
    EXPECT_EQ(text(model, 0, EventListModel::UserId), "u2");

    model.setMaxRows(1);  // a lower bound drops at once
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(text(model, 0, EventListModel::UserId), "u4");
}

// The list view follows what is appended.
TEST(WindowModels, ListViewScrollsToTheNewestRow) {
    UserListModel users;
    QTreeView view;
    configureListView(view, users);
    view.resize(772, 120);
    view.show();
    for (int i = 0; i < 20; ++i) {
        users.append(userBatch(user("user" + std::to_string(i), i)));
    }
    const QScrollBar& scroll = *view.verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scroll.maximum() > 0; }));
    EXPECT_EQ(scroll.value(), scroll.maximum());
}

}  // namespace
