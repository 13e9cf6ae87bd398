// The server window's widgets: title bar, tool row, the two lists, the menu, and their
// connections.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include "server/window/EventListModel.h"
#include "server/window/ListView.h"
#include "server/window/TfrmDAQTray.h"
#include "server/window/ToolkitColor.h"
#include "server/window/UserListModel.h"

namespace daq::window {

namespace {

constexpr uint32_t kTitleBarColor = 0x2E2E2E;
constexpr int kTitleBarHeight = 41;
constexpr int kToolRowHeight = 32;
constexpr int kTitlePixelSize = 16;

QFont titleFont() {
    const QString tahoma = QStringLiteral("Tahoma");
    QFont font = QFontDatabase::hasFamily(tahoma)
                     ? QFont(tahoma)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(kTitlePixelSize);
    font.setBold(true);
    return font;
}

template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

void TfrmDAQTray::buildLayout() {
    setWindowTitle(QStringLiteral("DAQServer"));
    resize(kWidth, kHeight);
    setMinimumWidth(kMinWidth);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildTitleBar());
    column->addWidget(buildToolRow());
    column->addWidget(buildPages());
    buildMenu();
    connectControls();
}

QWidget* TfrmDAQTray::buildTitleBar() {
    pnlMainTool = named(new QWidget(this), "pnlMainTool");
    pnlMainTool->setFixedHeight(kTitleBarHeight);
    pnlMainTool->setAutoFillBackground(true);
    QPalette dark = pnlMainTool->palette();
    dark.setColor(QPalette::Window, toolkitColor(kTitleBarColor));
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
    return pnlMainTool;
}

QWidget* TfrmDAQTray::buildToolRow() {
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
    return Panel1;
}

QWidget* TfrmDAQTray::buildPages() {
    PageControl1 = named(new QTabWidget(this), "PageControl1");
    TabSheet1 = named(new QWidget, "TabSheet1");
    TabSheet3 = named(new QWidget, "TabSheet3");
    userRows_ = new UserListModel(this);
    eventRows_ = new EventListModel(this);
    eventRows_->setMaxRows(runtime_.core().limits().maxEventRows);
    vst = named(new QTreeView(TabSheet1), "vst");
    vstEvents = named(new QTreeView(TabSheet3), "vstEvents");
    configureListView(*vst, *userRows_);
    configureListView(*vstEvents, *eventRows_);
    for (auto [sheet, view] : {std::pair{TabSheet1, vst}, std::pair{TabSheet3, vstEvents}}) {
        auto* fill = new QVBoxLayout(sheet);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(view);
    }
    PageControl1->addTab(TabSheet1, QStringLiteral("Login Users"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Events"));
    return PageControl1;
}

// A menu of the window that nothing opens; kept for its commands and texts.
void TfrmDAQTray::buildMenu() {
    PopupMenuTray = named(new QMenu(this), "PopupMenuTray");
    miConfig = PopupMenuTray->addAction(QStringLiteral("Config"));
    miShow = PopupMenuTray->addAction(QStringLiteral("Show"));
    miRun = PopupMenuTray->addAction(QStringLiteral("Run"));
    miRun->setVisible(false);
}

void TfrmDAQTray::connectControls() {
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

}  // namespace daq::window
