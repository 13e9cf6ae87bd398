#pragma once

#include "server/window/FlatListModel.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace daq::window {

// A flat list that owns one record per row; a record is freed with its row. Column 0 shows the
// row's number, kept with the row and renumbered (with a change signal) after removals.
template <typename Record>
class RecordListModel : public FlatListModel {
  public:
    using Records = std::vector<std::unique_ptr<Record>>;

    // Appends the records at the end, in their order, as one insertion. Null entries are skipped.
    void append(Records records) {
        std::erase(records, nullptr);
        if (records.empty()) {
            return;
        }
        const int first = count();
        beginInsertRows({}, first, first + static_cast<int>(records.size()) - 1);
        for (auto& record : records) {
            rows_.push_back({std::move(record), count() + 1});
        }
        endInsertRows();
    }

    // The shown records in row order.
    std::vector<const Record*> records() const {
        std::vector<const Record*> shown;
        shown.reserve(rows_.size());
        for (const Row& row : rows_) {
            shown.push_back(row.record.get());
        }
        return shown;
    }

    const Record* record(int row) const {
        return row >= 0 && row < count() ? rows_[static_cast<size_t>(row)].record.get() : nullptr;
    }

  protected:
    struct Row {
        std::unique_ptr<Record> record;
        int number;
    };

    using FlatListModel::FlatListModel;

    virtual QString recordText(const Record& record, int column) const = 0;  // column >= 1

    int count() const override { return static_cast<int>(rows_.size()); }

    QString cellText(int row, int column) const override {
        const Row& shown = rows_[static_cast<size_t>(row)];
        return column == 0 ? QString::number(shown.number) : recordText(*shown.record, column);
    }

    // Removes the first `rows` rows (all when there are fewer) and renumbers the rest.
    void removeFirst(int rows) {
        rows = std::min(rows, count());
        if (rows <= 0) {
            return;
        }
        beginRemoveRows({}, 0, rows - 1);
        rows_.erase(rows_.begin(), rows_.begin() + rows);
        endRemoveRows();
        renumberFrom(0);
    }

    // Gives the rows from `first` on their numbers again after removals.
    void renumberFrom(int first) {
        for (int row = first; row < count(); ++row) {
            rows_[static_cast<size_t>(row)].number = row + 1;
        }
        if (first < count()) {
            emit dataChanged(index(first, 0), index(count() - 1, 0), {Qt::DisplayRole});
        }
    }

    std::vector<Row> rows_;
};

}  // namespace daq::window
