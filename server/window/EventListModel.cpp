#include "server/window/EventListModel.h"

#include "server/window/DateTimeText.h"
#include "server/window/ToolkitColor.h"

#include <QBrush>

namespace daq::window {
namespace {

constexpr uint32_t kOddRowColor = 0xEAF3F4;

}  // namespace

EventListModel::EventListModel(QObject* parent)
    : RecordListModel({{QStringLiteral("No"), 0},
                       {QStringLiteral("Date/Time"), 160},
                       {QStringLiteral("User ID"), 100},
                       {QStringLiteral("IP Address"), 100},
                       {QStringLiteral("Events"), 300}},
                      parent) {}

void EventListModel::append(std::vector<EventRecord> events) {
    Records records;
    records.reserve(events.size());
    for (EventRecord& event : events) {
        records.push_back(std::make_unique<EventRecord>(std::move(event)));
    }
    append(std::move(records));
}

void EventListModel::append(Records records) {
    RecordListModel::append(std::move(records));
    dropOldest();
}

void EventListModel::setMaxRows(int rows) {
    maxRows_ = std::max(1, rows);
    dropOldest();
}

void EventListModel::dropOldest() {
    removeFirst(count() - maxRows_);
}

void EventListModel::setEventTexts(const QString& loginText, const QString& logoutText) {
    loginText_ = loginText;
    logoutText_ = logoutText;
    if (count() > 0) {
        emit dataChanged(index(0, Events), index(count() - 1, Events), {Qt::DisplayRole});
    }
}

QString EventListModel::shownText(const EventRecord& event) const {
    switch (event.EventType) {
        case etLogin:
            return loginText_;
        case etLogout:
            return logoutText_;
        default:
            return QString::fromStdString(event.Text);
    }
}

void EventListModel::applyTexts(const TextLookup& text) {
    relabel(text, {{DateTime, 15}, {UserId, 10}, {IpAddress, 2}, {Events, 16}});
    setEventTexts(text(34), text(35));
}

QString EventListModel::recordText(const EventRecord& event, int column) const {
    switch (column) {
        case DateTime:
            return dateTimeText(event.Time);
        case UserId:
            return QString::fromStdString(event.ID);
        case IpAddress:
            return QString::fromStdString(event.IP);
        case Events:
            return shownText(event);
        default:
            return {};
    }
}

QVariant EventListModel::rowBackground(int row) const {
    return row % 2 == 1 ? QVariant(QBrush(toolkitColor(kOddRowColor))) : QVariant();
}

}  // namespace daq::window
