#include "server/window/FlatListModel.h"

namespace daq::window {

FlatListModel::FlatListModel(std::vector<Column> columns, QObject* parent)
    : QAbstractItemModel(parent), columns_(std::move(columns)) {}

QModelIndex FlatListModel::index(int row, int column, const QModelIndex& parent) const {
    return hasIndex(row, column, parent) ? createIndex(row, column) : QModelIndex();
}

QModelIndex FlatListModel::parent(const QModelIndex&) const {
    return {};
}

int FlatListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int FlatListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant FlatListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return cellText(index.row(), index.column());
        case Qt::BackgroundRole:
            return rowBackground(index.row());
        default:
            return {};
    }
}

QVariant FlatListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount()) {
        return {};
    }
    return columns_[static_cast<size_t>(section)].header;
}

void FlatListModel::setHeaderText(int column, const QString& text) {
    if (column < 0 || column >= columnCount()) {
        return;
    }
    columns_[static_cast<size_t>(column)].header = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

int FlatListModel::columnWidth(int column) const {
    return column >= 0 && column < columnCount() ? columns_[static_cast<size_t>(column)].width : 0;
}

void FlatListModel::relabel(const TextLookup& text, std::initializer_list<Relabel> relabels) {
    for (const Relabel& r : relabels) {
        setHeaderText(r.column, text(r.entry));
    }
}

QVariant FlatListModel::rowBackground(int) const {
    return {};
}

}  // namespace daq::window
