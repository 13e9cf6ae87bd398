#pragma once

#include <QAbstractItemModel>
#include <QString>

#include <functional>
#include <initializer_list>
#include <vector>

namespace daq::window {

// The host's text table by entry number; an entry the host did not supply reads as "".
using TextLookup = std::function<QString(int entry)>;

// A flat list with settable header texts and the column widths its view starts with.
class FlatListModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    struct Column {
        QString header;
        int width = 0;  // 0: the view's default width
    };

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void setHeaderText(int column, const QString& text);
    int columnWidth(int column) const;

  protected:
    // Header relabelling from the text table: `column` gets the text of `entry`.
    struct Relabel {
        int column;
        int entry;
    };

    FlatListModel(std::vector<Column> columns, QObject* parent);
    void relabel(const TextLookup& text, std::initializer_list<Relabel> relabels);

    virtual int count() const = 0;
    virtual QString cellText(int row, int column) const = 0;  // row in range
    virtual QVariant rowBackground(int row) const;

  private:
    std::vector<Column> columns_;
};

}  // namespace daq::window
