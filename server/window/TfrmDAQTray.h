// The server window TfrmDAQTray: a view over the server runtime. It lists logged-in users and
// events, announces logins and logouts, lets the operator pick the address, the port and Active,
// and shows the run state; the runtime (IO map, core, listener, settings, run state) does the
// rest and tells the window what to show through ServerRuntimeView.
//
// Everything here runs on the window (GUI) thread, except WindowSink::startTimer, which the
// core calls on IO threads and which only posts a timer start to the window thread.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kelvane/Application.h"
#include "kelvane/Pinz.h"
#include "server/runtime/ServerRuntime.h"

class QAction;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeView;

namespace daq {
class TextTable;
}  // namespace daq

namespace daq::window {

class EventListModel;
class PopupWindow;
class UserListModel;

class TfrmDAQTray : public QWidget, private ServerRuntimeView {
    Q_OBJECT

  public:
    static constexpr int kQueueTimerMs = 100;  // TimerInit and the four queue timers
    static constexpr int kHintTimerMs = 10;
    static constexpr int32_t kOpenTimeoutMs = ServerRuntime::kOpenTimeoutMs;
    static constexpr int kWidth = 772;
    static constexpr int kHeight = 564;
    static constexpr int kMinWidth = 470;

    using Options = RuntimeOptions;

    // FormCreate. `application` is the library's application object (may be null): the
    // unhandled-exception handler is installed on it and "config.ini" lies in its ExeDir().
    explicit TfrmDAQTray(kelvane::TApplication* application, Options options);
    explicit TfrmDAQTray(kelvane::TApplication* application)
        : TfrmDAQTray(application, Options()) {}
    // FormDestroy.
    ~TfrmDAQTray() override;

    // The server behind the window: run state, listener, IO map and core.
    ServerRuntime& runtime() { return runtime_; }
    const ServerRuntime& runtime() const { return runtime_; }

    void setOnActiveChange(kelvane::TActivateEvent handler) { OnActiveChange = handler; }
    // Keeps the table and relabels the window from it (language change).
    void applyTexts(const TextTable* texts);
    // Command 49: the window fills `parent` (frameless) and is shown.
    void embedIn(QWidget* parent);

    // ---- The operator's controls ----
    void btnConfigClick();
    void cbxIPChange();
    void cbxActiveChange();
    void btnRunClick();

    PopupWindow& popup() { return *HTMLPopup; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildLayout();
    QWidget* buildTitleBar();
    QWidget* buildToolRow();
    QWidget* buildPages();
    void buildMenu();
    void connectControls();
    void createTimers();
    void TimerInitTimer();
    QString text(int entry) const;

    // ServerRuntimeView.
    void showAddresses(const std::vector<std::string>& addresses, std::size_t selected) override;
    void enableAddressChoice(bool enabled) override;
    void enableActiveSwitch(bool enabled) override;
    void enableControls(bool enabled) override;
    void showActive(bool active) override;
    void showRunState(bool running) override;
    void clearUserRows() override;
    bool waitForEvents(int ms) override;

    // Queue timers: the core asks from IO threads, the timers drain its queues on this thread.
    void startTimer(WindowTimer timer) override;
    // Starts the timer unless it runs (window thread; `timer` is a WindowTimer).
    Q_INVOKABLE void startIdleTimer(int timer);
    void TimerUserUpdateTimer();
    void TimerLogoutUserTimer();
    void TimerEventMsgTimer();
    void TimerPopupMsgTimer();
    void TimerHintTimer();
    QStringList popupLines(const PopupRequest& request) const;

    // Widgets (children of the window).
    QWidget* pnlMainTool = nullptr;
    QLabel* lbTitle = nullptr;
    QLabel* lbStatus = nullptr;
    QWidget* Panel3 = nullptr;
    QCheckBox* cbxActive = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* btnConfig = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cbxIP = nullptr;
    QPushButton* btnRun = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QTreeView* vst = nullptr;
    QTreeView* vstEvents = nullptr;
    UserListModel* userRows_ = nullptr;
    EventListModel* eventRows_ = nullptr;
    QMenu* PopupMenuTray = nullptr;
    QAction* miConfig = nullptr;
    QAction* miShow = nullptr;
    QAction* miRun = nullptr;
    PopupWindow* HTMLPopup = nullptr;
    QTimer* TimerInit = nullptr;
    QTimer* TimerUserUpdate = nullptr;
    QTimer* TimerLogoutUser = nullptr;
    QTimer* TimerEventMsg = nullptr;
    QTimer* TimerPopupMsg = nullptr;
    QTimer* TimerHint = nullptr;

    kelvane::TActivateEvent OnActiveChange{};
    const TextTable* TextTable_ = nullptr;

    // Last member: destroyed first, so the listener and the refresh thread end while the
    // widgets they report to still exist.
    ServerRuntime runtime_;
};

}  // namespace daq::window
