// The server window: construction and destruction, layout, the state the plug-in object moves,
// relabelling, embedding, and hiding on close.
#include "server/FormTray.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <charconv>

#include "server/AlignClient.h"
#include "server/DescriptorLimit.h"
#include "server/FormTrayTrace.h"
#include "server/TextTable.h"
#include "server/window/EventListModel.h"
#include "server/window/ListView.h"
#include "server/window/PopupWindow.h"
#include "server/window/ToolkitColor.h"
#include "server/window/UserListModel.h"
#include "trace/Trace.h"

namespace daq {

TfrmDAQTray* frmDAQTray = nullptr;

namespace {

constexpr uint32_t kTitleBarColor = 0x2E2E2E;
constexpr int kTitleBarHeight = 41;
constexpr int kToolRowHeight = 32;
constexpr int kTitlePixelSize = 16;
constexpr const char* kConfigNode = "TCPServer";
constexpr const char* kRunModeAttribute = "RunMode";
constexpr const char* kActiveAttribute = "Active";

tcp::TcpServerSettings listenerSettings(const TfrmDAQTray::Options& options) {
    tcp::TcpServerSettings settings;
    settings.ioThreads = options.ioThreads;
    settings.maxConnections = options.limits.maxConnections;
    settings.maxOutputBacklog = options.limits.maxOutputBacklog;
    settings.unfinishedInputTimeout =
        std::chrono::seconds(options.limits.unfinishedFrameTimeoutSeconds);
    settings.idleTimeout = std::chrono::seconds(options.limits.idleTimeoutSeconds);
    return settings;
}

QFont titleFont() {
    const QString tahoma = QStringLiteral("Tahoma");
    QFont font = QFontDatabase::hasFamily(tahoma)
                     ? QFont(tahoma)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(kTitlePixelSize);
    font.setBold(true);
    return font;
}

TfrmDAQTray::Options withConfigured(TfrmDAQTray::Options options,
                                    const ServerSettings& configured) {
    options.limits = configured.limits;
    options.ioThreads = configured.ioThreads;
    raiseDescriptorLimit(configured.limits.maxConnections);
    return options;
}

// A decimal integer, 0 when the text is not one.
int32_t integerOrZero(const std::string& text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

TfrmDAQTray::TfrmDAQTray(kelvane::TApplication* application, Options options)
    : application_(application),
      configured_(daq::loadServerConfig(
          serverConfigPath(application != nullptr ? application->ExeDir() : std::string()),
          options.limits, options.ioThreads)),
      options_(withConfigured(std::move(options), configured_)),
      core_(ioMap_, *this, options_.limits),
      BMThread1(ioMap_, DaqRunning, configured_.refreshIntervalMs),
      IdTCPServer1(listenerSettings(options_)) {
    setObjectName(QStringLiteral("frmDAQTray"));
    buildLayout();
    createTimers();
    // FormCreate, in order.
    installExceptionHandler();
    Active = false;
    cbxActive->setChecked(false);
    HTMLPopup = new window::PopupWindow(this);
    HTMLPopup->setObjectName(QStringLiteral("HTMLPopup"));
    wireListener();
    loadServerConfig();
    BMThread1.start();
    TimerInit->start();
}

TfrmDAQTray::~TfrmDAQTray() {
    // FormDestroy: one guard; a failing step skips the rest.
    try {
        core_.setDestroying();
        close_Server();
        BMThread1.requestEnd();
        BMThread1.wake();
        BMThread1.join();
        // The event rows, the popup and the other widgets go with the window's children.
    } catch (const std::exception& error) {
        DAQ_TRACE(kTraceError, "FormDestroy", kFormTraySource, "TCP/IP DAQ Server error : %s",
                  error.what());
    }
    removeExceptionHandler();
    if (frmDAQTray == this) {
        frmDAQTray = nullptr;
    }
}

void TfrmDAQTray::buildLayout() {
    setWindowTitle(QStringLiteral("DAQServer"));
    resize(kWidth, kHeight);
    setMinimumWidth(kMinWidth);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    auto named = [](auto* widget, const char* name) {
        widget->setObjectName(QString::fromLatin1(name));
        return widget;
    };

    pnlMainTool = named(new QWidget(this), "pnlMainTool");
    pnlMainTool->setFixedHeight(kTitleBarHeight);
    pnlMainTool->setAutoFillBackground(true);
    QPalette dark = pnlMainTool->palette();
    dark.setColor(QPalette::Window, window::toolkitColor(kTitleBarColor));
    pnlMainTool->setPalette(dark);
    lbTitle = named(new QLabel(QStringLiteral("TCP/IP Server"), pnlMainTool), "lbTitle");
    lbTitle->setFont(titleFont());
    QPalette titleText = lbTitle->palette();
    titleText.setColor(QPalette::WindowText, Qt::white);
    lbTitle->setPalette(titleText);
    auto* raised = new QGraphicsDropShadowEffect(lbTitle);
    raised->setOffset(1, 1);
    raised->setBlurRadius(0);
    raised->setColor(Qt::black);
    lbTitle->setGraphicsEffect(raised);
    lbStatus = named(new QLabel(QStringLiteral("Server Ready"), pnlMainTool), "lbStatus");
    lbStatus->setVisible(false);
    Panel3 = named(new QWidget(pnlMainTool), "Panel3");
    cbxActive = named(new QCheckBox(QStringLiteral("Active"), Panel3), "cbxActive");
    Panel3->setVisible(false);
    auto* titleRow = new QHBoxLayout(pnlMainTool);
    titleRow->setContentsMargins(8, 0, 8, 0);
    titleRow->addWidget(lbTitle);
    titleRow->addStretch();
    titleRow->addWidget(lbStatus);
    titleRow->addWidget(Panel3);

    Panel1 = named(new QWidget(this), "Panel1");
    Panel1->setFixedHeight(kToolRowHeight);
    btnConfig = named(new QPushButton(QStringLiteral("Config"), Panel1), "btnConfig");
    Label1 = named(new QLabel(QStringLiteral("IP Address"), Panel1), "Label1");
    cbxIP = named(new QComboBox(Panel1), "cbxIP");
    cbxIP->setEditable(false);
    btnRun = named(new QPushButton(QStringLiteral("Run"), Panel1), "btnRun");
    btnRun->setCheckable(true);
    btnRun->setVisible(false);
    auto* toolRow = new QHBoxLayout(Panel1);
    toolRow->setContentsMargins(4, 2, 4, 2);
    toolRow->addWidget(btnConfig);
    toolRow->addSpacing(8);
    toolRow->addWidget(Label1);
    toolRow->addWidget(cbxIP);
    toolRow->addWidget(btnRun);
    toolRow->addStretch();

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    TabSheet1 = named(new QWidget, "TabSheet1");
    TabSheet3 = named(new QWidget, "TabSheet3");
    userRows_ = new window::UserListModel(this);
    eventRows_ = new window::EventListModel(this);
    eventRows_->setMaxRows(options_.limits.maxEventRows);
    vst = named(new QTreeView(TabSheet1), "vst");
    vstEvents = named(new QTreeView(TabSheet3), "vstEvents");
    window::configureListView(*vst, *userRows_);
    window::configureListView(*vstEvents, *eventRows_);
    for (auto [sheet, view] : {std::pair{TabSheet1, vst}, std::pair{TabSheet3, vstEvents}}) {
        auto* fill = new QVBoxLayout(sheet);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(view);
    }
    PageControl1->addTab(TabSheet1, QStringLiteral("Login Users"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Events"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(pnlMainTool);
    column->addWidget(Panel1);
    column->addWidget(PageControl1);

    // A menu of the window that nothing opens; kept for its commands and texts.
    PopupMenuTray = named(new QMenu(this), "PopupMenuTray");
    miConfig = PopupMenuTray->addAction(QStringLiteral("Config"));
    miShow = PopupMenuTray->addAction(QStringLiteral("Show"));
    miRun = PopupMenuTray->addAction(QStringLiteral("Run"));
    miRun->setVisible(false);
    connect(miConfig, &QAction::triggered, this, &TfrmDAQTray::btnConfigClick);
    connect(miShow, &QAction::triggered, this, &QWidget::show);

    connect(btnConfig, &QPushButton::clicked, this, &TfrmDAQTray::btnConfigClick);
    connect(cbxIP, &QComboBox::activated, this, &TfrmDAQTray::cbxIPChange);
    connect(cbxActive, &QCheckBox::toggled, this, &TfrmDAQTray::cbxActiveChange);
    connect(btnRun, &QPushButton::clicked, this, &TfrmDAQTray::btnRunClick);

    // Key preview: the window sees key presses before its controls.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
}

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

void TfrmDAQTray::installExceptionHandler() {
    if (application_ == nullptr) {
        return;
    }
    previousExceptionHandler_ = application_->OnException();
    application_->SetOnException(
        kelvane::TApplication::ExceptionEvent::bind<&TfrmDAQTray::ApplicationEventsException>(
            this));
}

void TfrmDAQTray::removeExceptionHandler() {
    // The host's application outlives this window: it must not call into a destroyed one.
    if (application_ != nullptr &&
        application_->OnException() ==
            kelvane::TApplication::ExceptionEvent::bind<&TfrmDAQTray::ApplicationEventsException>(
                this)) {
        application_->SetOnException(previousExceptionHandler_);
    }
}

void TfrmDAQTray::setEnableFlag(const int32_t* flag) {
    EnableFlag = flag;
    const bool enabled = flag != nullptr && *flag != 0;
    if (enabled) {
        if (RunMode != rmDisconnected && RunMode != rmDaqRunning) {
            RunMode = rmUncoupled;
        }
    } else {
        RunMode = rmDisabled;
    }
    cbxActive->setEnabled(enabled);
    cbxIP->setEnabled(enabled);
    btnConfig->setEnabled(enabled);
}

void TfrmDAQTray::Connect() {
    guardedStep("Connect", __LINE__, [&] {
        if (RunMode == rmDisabled || RunMode == rmUncoupled) {
            return;
        }
        RunMode = rmConnected;
        Active = true;
        cbxActive->setEnabled(false);
        core_.setDaqStatus(1);
        core_.rebuildDeviceList();
    });
}

void TfrmDAQTray::Disconnect() {
    guardedStep("Disconnect", __LINE__, [&] {
        if (RunMode == rmDisabled || RunMode == rmUncoupled) {
            return;
        }
        RunMode = rmDisconnected;
        cbxActive->setEnabled(true);
        core_.setDaqStatus(0);
    });
}

void TfrmDAQTray::ReadConfig(kelvane::IXMLNode* node) {
    guardedStep("ReadConfig", __LINE__, [&] {
        if (EnableFlag == nullptr || *EnableFlag == 0 || node == nullptr) {
            return;
        }
        kelvane::IXMLNode* settings = node->ChildNode(kConfigNode);
        if (settings == nullptr) {
            return;
        }
        Active = false;
        RunMode = rmUncoupled;
        if (settings->HasAttribute(kRunModeAttribute)) {
            RunMode = integerOrZero(settings->Attribute(kRunModeAttribute));
            if (RunMode == rmDisabled) {
                RunMode = rmUncoupled;
            }
            if (RunMode == rmUncoupled) {
                Active = true;
            } else {
                Active = false;
                RunMode = rmDisconnected;
            }
        }
        cbxActive->setChecked(Active);
    });
}

void TfrmDAQTray::WriteConfig(kelvane::IXMLNode* node) {
    guardedStep("WriteConfig", __LINE__, [&] {
        if (node == nullptr) {
            return;
        }
        kelvane::IXMLNode* settings = node->AddChild(kConfigNode);
        settings->SetAttribute(kRunModeAttribute, std::to_string(RunMode));
        settings->SetAttribute(kActiveAttribute, Active ? "1" : "0");
    });
}

void TfrmDAQTray::setSystemTree(kelvane::IHostTree* tree) {
    core_.setSystemTree(tree);
}

void TfrmDAQTray::setProject(const kelvane::TProjectRecord* project) {
    core_.setProject(project);
}

void TfrmDAQTray::setLoginCallback(kelvane::TLoginEvent callback) {
    core_.setLoginCallback(callback);
}

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
    const window::TextLookup lookup = [this](int entry) { return text(entry); };
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

}  // namespace daq
