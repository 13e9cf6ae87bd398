#pragma once

#include "server/window/ListRecords.h"
#include "server/window/RecordListModel.h"

#include <limits>
#include <vector>

namespace daq::window {

// The "Events" list: one row per event, in the order taken from the queue; the newest rows stay,
// up to a bound (the oldest go first). Every second row is painted on a light background.
class EventListModel : public RecordListModel<EventRecord> {
    Q_OBJECT

  public:
    enum ColumnIndex { No, DateTime, UserId, IpAddress, Events };

    explicit EventListModel(QObject* parent = nullptr);

    // Appends events as the core's queue hands them over, in order, as one insertion.
    void append(std::vector<EventRecord> events);
    // Appends, then removes the oldest rows beyond the bound.
    void append(Records records);

    // Rows kept (at least 1); fewer are removed at once when the bound drops below the count.
    void setMaxRows(int rows);

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
    void dropOldest();

    int maxRows_ = std::numeric_limits<int>::max();  // the server window sets its bound
    QString loginText_;
    QString logoutText_;
};

}  // namespace daq::window
