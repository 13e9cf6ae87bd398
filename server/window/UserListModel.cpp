#include "server/window/UserListModel.h"

#include "server/window/DateTimeText.h"

#include <algorithm>

namespace daq::window {

UserListModel::UserListModel(QObject* parent)
    : RecordListModel({{QStringLiteral("No"), 0},
                       {QStringLiteral("User ID"), 100},
                       {QStringLiteral("IP Address"), 100},
                       {QStringLiteral("Login Time"), 150},
                       {QStringLiteral("OS"), 100},
                       {QStringLiteral("OS Version"), 100},
                       {QStringLiteral("Device Model Name"), 150}},
                      parent) {}

void UserListModel::removeRecords(const std::vector<const UserRecord*>& records) {
    int firstRemoved = count();
    for (const UserRecord* gone : records) {
        const auto it = std::find_if(rows_.rbegin(), rows_.rend(),
                                     [gone](const Row& row) { return row.record.get() == gone; });
        if (it == rows_.rend()) {
            continue;
        }
        const int row = static_cast<int>(std::distance(rows_.begin(), it.base()) - 1);
        beginRemoveRows({}, row, row);
        rows_.erase(std::next(it).base());
        endRemoveRows();
        firstRemoved = std::min(firstRemoved, row);
    }
    renumberFrom(firstRemoved);
}

void UserListModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void UserListModel::applyTexts(const TextLookup& text) {
    relabel(text, {{UserId, 10}, {IpAddress, 2}, {LoginTime, 13}, {DeviceModelName, 14}});
}

QString UserListModel::recordText(const UserRecord& user, int column) const {
    switch (column) {
        case UserId:
            return QString::fromStdString(user.ID);
        case IpAddress:
            return QString::fromStdString(user.PeerAddress);
        case LoginTime:
            return dateTimeText(user.LoginTime);
        case Os:
            return QString::fromStdString(user.OS);
        case OsVersion:
            return QString::fromStdString(user.OSVersion);
        case DeviceModelName:
            return QString::fromStdString(user.ModelName);
        default:
            return {};
    }
}

}  // namespace daq::window
