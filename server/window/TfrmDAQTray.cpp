// The server window: construction, the operator's controls, what the runtime shows, texts,
// embedding, and hiding on close.
#include "server/window/TfrmDAQTray.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "server/runtime/GuardedStep.h"
#include "server/runtime/ServerConfig.h"
#include "server/runtime/TextFormat.h"
#include "server/runtime/TextTable.h"
#include "server/window/AlignClient.h"
#include "server/window/EventListModel.h"
#include "server/window/PopupWindow.h"
#include "server/window/TfrmConfig.h"
#include "server/window/UserListModel.h"

namespace daq::window {

TfrmDAQTray::TfrmDAQTray(kelvane::TApplication* application, Options options)
    : runtime_(application, std::move(options), *this) {
    setObjectName(QStringLiteral("frmDAQTray"));
    buildLayout();
    createTimers();
    // FormCreate, in order (the runtime installed the exception handler and read the settings).
    cbxActive->setChecked(false);
    HTMLPopup = new PopupWindow(this);
    HTMLPopup->setObjectName(QStringLiteral("HTMLPopup"));
    TimerInit->start();
}

// FormDestroy: the runtime, the last member, closes the listener and ends the refresh thread
// first; the event rows, the popup and the other widgets go with the window's children.
TfrmDAQTray::~TfrmDAQTray() = default;

void TfrmDAQTray::createTimers() {
    auto timer = [this](const char* name, int interval, void (TfrmDAQTray::*handler)()) {
        auto* created = new QTimer(this);
        created->setObjectName(QString::fromLatin1(name));
        created->setInterval(interval);
        connect(created, &QTimer::timeout, this, handler);
        return created;
    };
    TimerInit = timer("TimerInit", kQueueTimerMs, &TfrmDAQTray::TimerInitTimer);
    TimerUserUpdate = timer("TimerUserUpdate", kQueueTimerMs, &TfrmDAQTray::TimerUserUpdateTimer);
    TimerLogoutUser = timer("TimerLogoutUser", kQueueTimerMs, &TfrmDAQTray::TimerLogoutUserTimer);
    TimerEventMsg = timer("TimerEventMsg", kQueueTimerMs, &TfrmDAQTray::TimerEventMsgTimer);
    TimerPopupMsg = timer("TimerPopupMsg", kQueueTimerMs, &TfrmDAQTray::TimerPopupMsgTimer);
    TimerHint = timer("TimerHint", kHintTimerMs, &TfrmDAQTray::TimerHintTimer);
}

void TfrmDAQTray::TimerInitTimer() {
    TimerInit->stop();
    guardedStep("TimerInitTimer", __LINE__, [&] {
        PageControl1->setCurrentIndex(0);
        runtime_.listAddresses();
    });
}

// ---- What the runtime shows ----

void TfrmDAQTray::showAddresses(const std::vector<std::string>& addresses, std::size_t selected) {
    cbxIP->clear();
    for (const std::string& address : addresses) {
        cbxIP->addItem(QString::fromStdString(address));
    }
    cbxIP->setCurrentIndex(static_cast<int>(selected));
}

void TfrmDAQTray::enableAddressChoice(bool enabled) {
    cbxIP->setEnabled(enabled);
}

void TfrmDAQTray::enableActiveSwitch(bool enabled) {
    cbxActive->setEnabled(enabled);
}

void TfrmDAQTray::enableControls(bool enabled) {
    cbxActive->setEnabled(enabled);
    cbxIP->setEnabled(enabled);
    btnConfig->setEnabled(enabled);
}

void TfrmDAQTray::showActive(bool active) {
    cbxActive->setChecked(active);
}

void TfrmDAQTray::showRunState(bool running) {
    lbStatus->setText(text(running ? 17 : 18));
}

bool TfrmDAQTray::waitForEvents(int ms) {
    const QPointer<TfrmDAQTray> self(this);
    QEventLoop wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    wait.exec();
    return !self.isNull();
}

// ---- The operator's controls ----

void TfrmDAQTray::btnConfigClick() {
    // Created for this use and freed afterwards; the window may go away while it is shown.
    const QPointer<TfrmConfig> dialog(new TfrmConfig(this));
    dialog->applyTexts(TextTable_);
    dialog->setPortText(QString::number(runtime_.listener().defaultPort()));
    dialog->setEditable(!runtime_.daqRunning());
    const bool confirmed = dialog->exec() == QDialog::Accepted;
    if (dialog.isNull()) {
        return;
    }
    const std::string portText = dialog->portText().toStdString();
    delete dialog;
    if (!confirmed) {
        return;
    }
    guardedStep("btnConfigClick", __LINE__, [&] {
        if (runtime_.changePort(parsePortText(portText)) && OnActiveChange) {
            OnActiveChange(this);
        }
    });
}

void TfrmDAQTray::cbxIPChange() {
    runtime_.setServerAddress(cbxIP->currentText().toStdString());
    const std::string caption = formatHostText(
        TextTable_ == nullptr ? std::string_view() : TextTable_->at(29),
        {std::string_view(runtime_.serverAddress()), int64_t{runtime_.listener().defaultPort()}});
    setWindowTitle(QString::fromStdString(caption));
}

void TfrmDAQTray::cbxActiveChange() {
    runtime_.setActive(cbxActive->isChecked());
    if (OnActiveChange) {
        OnActiveChange(this);
    }
}

void TfrmDAQTray::btnRunClick() {
    if (btnRun->isChecked()) {
        runtime_.open_Server(kOpenTimeoutMs);
    } else {
        runtime_.close_Server();
    }
}

// ---- Texts, embedding, closing ----

QString TfrmDAQTray::text(int entry) const {
    return TextTable_ == nullptr ? QString() : QString::fromStdString(TextTable_->at(entry));
}

void TfrmDAQTray::applyTexts(const TextTable* texts) {
    TextTable_ = texts;
    lbTitle->setText(text(42));
    btnConfig->setText(text(1));
    Label1->setText(text(2));
    lbStatus->setText(text(3));
    PageControl1->setTabText(PageControl1->indexOf(TabSheet1), text(5));
    PageControl1->setTabText(PageControl1->indexOf(TabSheet3), text(6));
    const TextLookup lookup = [this](int entry) { return text(entry); };
    userRows_->applyTexts(lookup);
    eventRows_->applyTexts(lookup);
    miConfig->setText(text(1));
    miShow->setText(text(40));
}

void TfrmDAQTray::embedIn(QWidget* parent) {
    alignClient(*this, parent);
    show();
}

void TfrmDAQTray::closeEvent(QCloseEvent* event) {
    // Closing only hides the window; the server goes on.
    event->ignore();
    hide();
}

bool TfrmDAQTray::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace daq::window
