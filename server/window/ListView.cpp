#include "server/window/ListView.h"

#include "server/window/FlatListModel.h"
#include "server/window/ToolkitColor.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace daq::window {
namespace {

constexpr int kRowHeight = 20;
constexpr int kFontPixelSize = 11;
constexpr uint32_t kSelectionColor = 0xEAC291;
constexpr uint32_t kGridColor = 0xC8D0D4;
constexpr Qt::GlobalColor kTextColor = Qt::darkBlue;

// Fixed row height and a grid line on the right and bottom edge of every cell.
class GridDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kRowHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(toolkitColor(kGridColor));
        const QRect& r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }
};

QFont listFont() {
    const QString tahoma = QStringLiteral("Tahoma");
    QFont font = QFontDatabase::hasFamily(tahoma)
                     ? QFont(tahoma)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(kFontPixelSize);
    return font;
}

QPalette listPalette(QPalette palette) {
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Text, kTextColor);
        palette.setColor(group, QPalette::ButtonText, kTextColor);
        palette.setColor(group, QPalette::WindowText, kTextColor);
        palette.setColor(group, QPalette::Highlight, toolkitColor(kSelectionColor));
        palette.setColor(group, QPalette::HighlightedText, kTextColor);
    }
    return palette;
}

}  // namespace

void configureListView(QTreeView& view, FlatListModel& model) {
    view.setModel(&model);
    view.setItemDelegate(new GridDelegate(&view));
    view.setRootIsDecorated(false);
    view.setItemsExpandable(false);
    view.setUniformRowHeights(true);
    view.setAllColumnsShowFocus(true);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.setFont(listFont());
    view.setPalette(listPalette(view.palette()));

    QHeaderView& header = *view.header();
    QFont bold = listFont();
    bold.setBold(true);
    header.setFont(bold);
    header.setPalette(listPalette(header.palette()));
    header.setStretchLastSection(false);
    for (int column = 0; column < model.columnCount(); ++column) {
        if (model.columnWidth(column) > 0) {
            header.resizeSection(column, model.columnWidth(column));
        }
    }

    QObject::connect(&model, &QAbstractItemModel::rowsInserted, &view,
                     [&view] { view.scrollToBottom(); });
}

}  // namespace daq::window
