#pragma once

#include "server/window/ListRecords.h"
#include "server/window/RecordListModel.h"

#include <vector>

namespace daq::window {

// The "Events" list: one row per event, in the order taken from the queue; rows stay for the
// life of the list. Every second row is painted on a light background.
class EventListModel : public RecordListModel<EventRecord> {
    Q_OBJECT

  public:
    enum ColumnIndex { No, DateTime, UserId, IpAddress, Events };

    explicit EventListModel(QObject* parent = nullptr);

    using RecordListModel::append;
    // Appends events as the core's queue hands them over, in order, as one insertion.
    void append(std::vector<EventRecord> events);

    // Texts shown for logins (event type 0) and logouts (type 1); "" until set.
    void setEventTexts(const QString& loginText, const QString& logoutText);
    // What the "Events" column shows for this event.
    QString shownText(const EventRecord& event) const;
    // Relabels columns 1 to 4 from entries 15, 10, 2, 16; login and logout texts from 34, 35.
    void applyTexts(const TextLookup& text);

  protected:
    QString recordText(const EventRecord& event, int column) const override;
    QVariant rowBackground(int row) const override;

  private:
    QString loginText_;
    QString logoutText_;
};

}  // namespace daq::window
