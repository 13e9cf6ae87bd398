#pragma once

#include "server/window/ListRecords.h"
#include "server/window/RecordListModel.h"

#include <vector>

namespace daq::window {

// The "Login Users" list: one row per accepted login, in the order the logins were shown.
class UserListModel : public RecordListModel<UserRecord> {
    Q_OBJECT

  public:
    enum ColumnIndex { No, UserId, IpAddress, LoginTime, Os, OsVersion, DeviceModelName };

    explicit UserListModel(QObject* parent = nullptr);

    // Deletes the rows that show these records, each once (by record identity, so two rows of
    // one connection stay apart); records that are not shown are ignored. Rows are renumbered.
    void removeRecords(const std::vector<const UserRecord*>& records);
    // Deletes every row (the listener stopped).
    void clear();
    // Relabels columns 1, 2, 3 and 6 from text table entries 10, 2, 13 and 14.
    void applyTexts(const TextLookup& text);

  protected:
    QString recordText(const UserRecord& user, int column) const override;
};

}  // namespace daq::window
