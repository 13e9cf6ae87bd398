#include "host/app/ServerEventLog.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QApplication>
#include <QWidget>
#include <cstdio>

namespace host {

namespace {

constexpr const char* kEventListName = "vstEvents";
// Columns of the server window's event list after its row number.
enum EventColumn { kDateTime = 1, kUserId, kAddress, kText };
// Longest text of one column written to the log.
constexpr qsizetype kLoggedTextLength = 128;

// A column's text with control characters replaced, so that one event stays one line.
std::string cell(const QAbstractItemModel& model, int row, int column) {
    QString text = model.data(model.index(row, column)).toString().left(kLoggedTextLength);
    for (QChar& c : text) {
        if (!c.isPrint()) {
            c = u'?';
        }
    }
    return text.toStdString();
}

void logRows(const QAbstractItemModel& model, int first, int last) {
    for (int row = first; row <= last; ++row) {
        std::fprintf(stderr, "kelvane-host: server event %s: user \"%s\" from %s: %s\n",
                     cell(model, row, kDateTime).c_str(), cell(model, row, kUserId).c_str(),
                     cell(model, row, kAddress).c_str(), cell(model, row, kText).c_str());
    }
}

}  // namespace

ServerEventLog::~ServerEventLog() {
    QObject::disconnect(connection_);
}

bool ServerEventLog::attach() {
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* view = qobject_cast<QAbstractItemView*>(widget);
        if (view == nullptr || view->objectName() != QLatin1String(kEventListName) ||
            view->model() == nullptr) {
            continue;
        }
        const QAbstractItemModel* model = view->model();
        connection_ = QObject::connect(
            model, &QAbstractItemModel::rowsInserted, model,
            [model](const QModelIndex&, int first, int last) { logRows(*model, first, last); });
        return true;
    }
    return false;
}

}  // namespace host
