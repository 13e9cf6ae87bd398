// The server window TfrmDAQTray: the listener and its settings, the DAQ run with its IO map
// and refresh thread, and the window that lists logged-in users and events and announces
// logins and logouts. It owns the server core and wires the listener's events to it.
//
// Everything here runs on the window (GUI) thread, except WindowSink::startTimer, which the
// core calls on IO threads and which only posts a timer start to the window thread.
#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kelvane/Application.h"
#include "kelvane/HostTree.h"
#include "kelvane/Pinz.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/Stopwatch.h"
#include "kelvane/SystemRecords.h"
#include "kelvane/XMLNode.h"
#include "server/IoMap.h"
#include "server/LocalAddresses.h"
#include "server/RefreshThread.h"
#include "server/ServerConfig.h"
#include "server/core/ServerCore.h"
#include "server/core/WindowSink.h"
#include "server/tcp/TcpServer.h"

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

namespace window {
class EventListModel;
class PopupWindow;
class UserListModel;
}  // namespace window

// RunMode values.
enum TRunMode : int32_t {
    rmUncoupled = 0,  // host connect, disconnect, DAQ run and stop are ignored
    rmDisconnected = 1,
    rmConnected = 2,
    rmDaqRunning = 3,
    rmDisabled = 4,
};

class TfrmDAQTray : public QWidget, private WindowSink {
    Q_OBJECT

  public:
    static constexpr int kQueueTimerMs = 100;  // TimerInit and the four queue timers
    static constexpr int kHintTimerMs = 10;
    static constexpr int32_t kOpenTimeoutMs = 3000;
    // How often open_Server looks at the listener while it waits for it.
    static constexpr int kOpenPollMs = 10;
    static constexpr int kWidth = 772;
    static constexpr int kHeight = 564;
    static constexpr int kMinWidth = 470;

    struct Options {
        ServerLimits limits{};
        std::size_t ioThreads = kDefaultIoThreads;
        // The machine's IPv4 addresses in adapter order (getLocalIPList).
        std::function<std::vector<std::string>()> localAddresses = localIPv4Addresses;
    };

    // FormCreate. `application` is the library's application object (may be null): the
    // unhandled-exception handler is installed on it and "config.ini" lies in its ExeDir().
    explicit TfrmDAQTray(kelvane::TApplication* application, Options options);
    explicit TfrmDAQTray(kelvane::TApplication* application)
        : TfrmDAQTray(application, Options()) {}
    // FormDestroy.
    ~TfrmDAQTray() override;

    // ---- State moved by the plug-in object ----
    int32_t runMode() const { return RunMode; }
    // The host reads the run state through this address (command 22).
    int32_t* runModeAddress() { return &RunMode; }
    bool active() const { return Active; }
    // Keeps the host's enable flag address and applies it (command 66).
    void setEnableFlag(const int32_t* flag);
    void Connect();
    void Disconnect();
    void ReadConfig(kelvane::IXMLNode* node);
    void WriteConfig(kelvane::IXMLNode* node);

    // ---- Host objects (SendParam) ----
    void setIoTree(kelvane::IHostTree* tree) { ioTree_ = tree; }
    void setSystemTree(kelvane::IHostTree* tree);
    void setProject(const kelvane::TProjectRecord* project);
    void setOnActiveChange(kelvane::TActivateEvent handler) { OnActiveChange = handler; }
    void setLoginCallback(kelvane::TLoginEvent callback);
    // Keeps the table and relabels the window from it (language change).
    void applyTexts(const TextTable* texts);
    // Command 49: the window fills `parent` (frameless) and is shown.
    void embedIn(QWidget* parent);

    // ---- Listener and settings ----
    bool open_Server(int32_t timeoutMs);
    void close_Server();
    void btnConfigClick();
    void cbxIPChange();
    void cbxActiveChange();
    void btnRunClick();
    void ApplicationEventsException(void* sender, const std::exception& error);
    void IdTCPServer1Status(std::string_view text);
    static void IdTCPServer1Exception(const tcp::ConnectionPtr& connection,
                                      const std::exception& error);
    const std::string& serverAddress() const { return ServerAddress; }
    int32_t serverPort() const { return ServerPort; }
    tcp::TcpServer& listener() { return IdTCPServer1; }
    // The host's choice over "config.ini", for the next open of the listener. An address that
    // is not on this machine gives all interfaces, as a stored one does.
    void setListenAddress(std::string address);
    void setListenPort(int32_t port);
    struct ListenerState {
        bool listening = false;
        // Listening: where, as "<address>:<port>" with the port it bound ("0.0.0.0:5050").
        // Otherwise why: the last open's failure, or that none was tried.
        std::string text;
    };
    ListenerState listenerState() const;

    // ---- DAQ run ----
    void SetDAQRun(bool run);
    bool daqRunning() const { return DaqRunning.load(); }
    IoMap& ioMap() { return ioMap_; }
    RefreshThread& refreshThread() { return BMThread1; }

    ServerCore& core() { return core_; }
    window::PopupWindow& popup() { return *HTMLPopup; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildLayout();
    void createTimers();
    void wireListener();
    void installExceptionHandler();
    void removeExceptionHandler();
    void loadServerConfig();
    void saveServerConfig();
    std::string configPath() const;
    void getLocalIPList();
    void TimerInitTimer();
    void listAddresses();
    void selectServerAddress();
    // Settings the operator has to mend: traced and written to standard error (the journal of
    // a host run as a service).
    static void reportSettingsProblem(const char* operation, const std::string& text);
    void addDAQIO_Map(kelvane::TTreeNode* node);
    void notifyServerStop();
    void sendStatusLine(const std::string& text);
    std::string addressAndPort() const;
    QString text(int entry) const;

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
    void clearUserRows();

    kelvane::TApplication* application_;
    kelvane::TApplication::ExceptionEvent previousExceptionHandler_{};
    // "config.ini" as read once at creation; its limits and IO threads start from the
    // options'.
    const ServerSettings configured_;
    const Options options_;

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
    window::UserListModel* userRows_ = nullptr;
    window::EventListModel* eventRows_ = nullptr;
    QMenu* PopupMenuTray = nullptr;
    QAction* miConfig = nullptr;
    QAction* miShow = nullptr;
    QAction* miRun = nullptr;
    window::PopupWindow* HTMLPopup = nullptr;
    QTimer* TimerInit = nullptr;
    QTimer* TimerUserUpdate = nullptr;
    QTimer* TimerLogoutUser = nullptr;
    QTimer* TimerEventMsg = nullptr;
    QTimer* TimerPopupMsg = nullptr;
    QTimer* TimerHint = nullptr;

    // Host objects, referenced only.
    kelvane::IHostTree* ioTree_ = nullptr;
    const int32_t* EnableFlag = nullptr;
    kelvane::TActivateEvent OnActiveChange{};
    const TextTable* TextTable_ = nullptr;

    int32_t RunMode = rmUncoupled;
    bool Active = false;
    std::string ServerAddress;
    int32_t ServerPort = 0;
    std::vector<std::string> IPList;
    std::string listenerError_;
    std::atomic<bool> DaqRunning{false};

    kelvane::TReadMapFile ReadMap;
    IoMap ioMap_{ReadMap};
    // Times open_Server's wait for the listener; the window thread's alone.
    kelvane::Stopwatch stopwatch_;
    ServerCore core_;
    RefreshThread BMThread1;
    // Last member: destroyed first, so no listener event reaches a destroyed member.
    tcp::TcpServer IdTCPServer1;
};

// The one server window, created by the plug-in's command object; null otherwise.
extern TfrmDAQTray* frmDAQTray;

}  // namespace daq
