// The server window's hand-over from the IO threads: the core asks for a timer, the timer
// drains the core's queue into the "Login Users" and "Events" lists or the popup.
#include <QMetaObject>
#include <QTimer>
#include <QTreeView>

#include "server/runtime/GuardedStep.h"
#include "server/runtime/TextFormat.h"
#include "server/runtime/TextTable.h"
#include "server/window/EventListModel.h"
#include "server/window/PopupWindow.h"
#include "server/window/TfrmDAQTray.h"
#include "server/window/UserListModel.h"
#include "trace/TzrTrace.h"

namespace daq::window {

namespace {

constexpr uint32_t kLoginShade = 0xF2BF82;
constexpr uint32_t kLogoutShade = 0x666600;
const QString kInfoImageLine = QStringLiteral("<IMG src=\"INFO\">");

}  // namespace

void TfrmDAQTray::startTimer(WindowTimer timer) {
    // Posted by name with a plain argument: no functor object shared between the threads.
    QMetaObject::invokeMethod(this, "startIdleTimer", Qt::QueuedConnection,
                              Q_ARG(int, static_cast<int>(timer)));
}

void TfrmDAQTray::startIdleTimer(int timer) {
    QTimer* target = nullptr;
    switch (static_cast<WindowTimer>(timer)) {
        case WindowTimer::UserUpdate:
            target = TimerUserUpdate;
            break;
        case WindowTimer::LogoutUser:
            target = TimerLogoutUser;
            break;
        case WindowTimer::EventMsg:
            target = TimerEventMsg;
            break;
        case WindowTimer::PopupMsg:
            target = TimerPopupMsg;
            break;
    }
    // A running timer keeps its deadline: restarting it on every request would hold the lists
    // back for as long as requests come faster than the interval.
    if (target != nullptr && !target->isActive()) {
        target->start();
    }
}

void TfrmDAQTray::TimerUserUpdateTimer() {
    TimerUserUpdate->stop();
    guardedStep("TimerUserUpdateTimer", __LINE__, [&] {
        userRows_->append(runtime_.core().takeLogins());
        vst->scrollToBottom();
    });
}

void TfrmDAQTray::TimerLogoutUserTimer() {
    TimerLogoutUser->stop();
    guardedStep("TimerLogoutUserTimer", __LINE__,
                [&] { userRows_->removeRecords(runtime_.core().takeLogouts()); });
}

void TfrmDAQTray::clearUserRows() {
    userRows_->clear();
}

void TfrmDAQTray::TimerEventMsgTimer() {
    TimerEventMsg->stop();
    guardedStep("TimerEventMsgTimer", __LINE__, [&] {
        EventListModel::Records rows;
        for (TDAQServerEvent& event : runtime_.core().takeEvents()) {
            auto row = std::make_unique<TDAQServerEvent>(std::move(event));
            const QByteArray shown = eventRows_->shownText(*row).toUtf8();
            TzrTrace::instance(nullptr).sendFormatted(kStatusLineCode, kStatusLineSource,
                                                      "%s : %s, %s", shown.constData(),
                                                      row->ID.c_str(), row->IP.c_str());
            rows.push_back(std::move(row));
        }
        eventRows_->append(std::move(rows));
        vstEvents->scrollToBottom();
    });
}

QStringList TfrmDAQTray::popupLines(const PopupRequest& request) const {
    // The popup shows HTML; the user ID and the address are texts from the network.
    auto formatted = [this](int entry, const std::string& argument) {
        const std::string escaped = QString::fromStdString(argument).toHtmlEscaped().toStdString();
        const std::string format = TextTable_ == nullptr ? std::string() : TextTable_->at(entry);
        return QString::fromStdString(formatHostText(format, {std::string_view(escaped)}));
    };
    if (request.kind == PopupRequest::Kind::Login) {
        return {kInfoImageLine, text(23), text(27), formatted(24, request.ID),
                formatted(25, request.IP)};
    }
    return {kInfoImageLine, text(19), text(27), formatted(22, request.ID)};
}

void TfrmDAQTray::TimerPopupMsgTimer() {
    TimerPopupMsg->stop();
    guardedStep("TimerPopupMsgTimer", __LINE__, [&] {
        for (const PopupRequest& request : runtime_.core().takePopups()) {
            HTMLPopup->hidePopup();
            HTMLPopup->setShadeStart(request.kind == PopupRequest::Kind::Login ? kLoginShade
                                                                               : kLogoutShade);
            HTMLPopup->setLines(popupLines(request));
            TimerHint->start();
        }
    });
}

void TfrmDAQTray::TimerHintTimer() {
    TimerHint->stop();
    HTMLPopup->showPopup();
}

}  // namespace daq::window
