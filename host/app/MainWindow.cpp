#include "host/app/MainWindow.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <atomic>

#include "host/app/ClientArea.h"
#include "host/core/Utf16.h"
#include "host/readmap/MapAccess.h"
#include "kelvane/Text.h"

namespace host {

namespace {

// Live values are shown for this many tags at most; a larger project shows its structure only.
constexpr std::size_t kMaxLiveTags = 2000;
constexpr int kLiveIntervalMs = 1000;

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

Qt::CheckState toQt(int checkState) {
    switch (static_cast<CheckState>(checkState)) {
        case CheckState::Checked:
        case CheckState::Disabled:
            return Qt::Checked;
        case CheckState::Pressed:
            return Qt::PartiallyChecked;
        case CheckState::Unchecked:
            break;
    }
    return Qt::Unchecked;
}

kelvane::TTreeNode* nodeOf(QTreeWidgetItem* item) {
    return static_cast<kelvane::TTreeNode*>(item->data(0, Qt::UserRole).value<void*>());
}

}  // namespace

MainWindow::MainWindow(Plant& plant, QWidget* parent)
    : QMainWindow(parent), plant_(plant), serverArea_(new ClientArea), infoArea_(new ClientArea) {
    setWindowTitle(QStringLiteral("Kelvane host - %1").arg(text(plant.model().info.projectName)));
    auto* trees = new QTabWidget;
    trees->addTab(buildIoTree(), tr("IO tree"));
    trees->addTab(buildSystemTree(), tr("System tree"));
    auto* plugin = new QTabWidget;
    plugin->addTab(serverArea_, tr("TCP server"));
    plugin->addTab(infoArea_, tr("Information"));
    auto* splitter = new QSplitter;
    splitter->addWidget(trees);
    splitter->addWidget(plugin);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    setCentralWidget(splitter);
    resize(1280, 720);

    connect(&liveTimer_, &QTimer::timeout, this, &MainWindow::refreshLiveValues);
    liveTimer_.start(kLiveIntervalMs);
}

QTreeWidget* MainWindow::buildIoTree() {
    auto* view = new QTreeWidget;
    view->setObjectName(QStringLiteral("ioTree"));
    view->setHeaderLabels({tr("Tag"), tr("Value"), tr("Unit"), tr("Description")});
    for (const auto& node : plant_.io().tree().topNodes()) {
        addIoNodes(view, nullptr, node.get());
    }
    view->expandAll();
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(view, &QTreeWidget::itemChanged, this, &MainWindow::onCheckChanged);
    return view;
}

void MainWindow::addIoNodes(QTreeWidget* view, QTreeWidgetItem* parent, kelvane::TTreeNode* node) {
    auto* item = parent == nullptr ? new QTreeWidgetItem(view) : new QTreeWidgetItem(parent);
    item->setText(0, text(node->Caption));
    item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(node)));
    item->setCheckState(0, toQt(node->CheckState));
    const auto* record = static_cast<kelvane::TIONodeRecord*>(node->Record);
    if (record != nullptr && record->Kind != kelvane::nkGroup && record->IO != nullptr) {
        item->setText(
            2, QString::fromStdU16String(std::u16string(kelvane::RefText(record->IO->Unit))));
        item->setText(3, QString::fromStdU16String(
                             std::u16string(kelvane::RefText(record->IO->Description))));
        if (liveTags_.size() < kMaxLiveTags) {
            liveTags_.push_back({item, record->IO});
        }
    }
    for (const auto& child : node->Children) {
        addIoNodes(view, item, child.get());
    }
}

QTreeWidget* MainWindow::buildSystemTree() {
    auto* view = new QTreeWidget;
    view->setObjectName(QStringLiteral("systemTree"));
    view->setHeaderLabels(
        {tr("Unit"), tr("Model / description"), tr("Connect state"), tr("Parameters")});
    std::vector<QTreeWidgetItem*> items;
    for (const SystemRecords::Unit& unit : plant_.system().units()) {
        kelvane::TTreeNode* node = unit.node;
        QTreeWidgetItem* parentItem = nullptr;
        for (std::size_t i = items.size(); i-- > 0;) {
            if (nodeOf(items[i]) == node->Parent) {
                parentItem = items[i];
                break;
            }
        }
        auto* item =
            parentItem == nullptr ? new QTreeWidgetItem(view) : new QTreeWidgetItem(parentItem);
        item->setText(0, text(node->Caption));
        item->setText(1, text(unit.spec->info.value_or("")));
        item->setText(3, QString::number(unit.spec->parameters.size()));
        item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(node)));
        item->setCheckState(0, toQt(node->CheckState));
        if (static_cast<CheckState>(node->CheckState) == CheckState::Disabled) {
            item->setDisabled(true);
        }
        liveUnits_.push_back({item, unit.connectState});
        items.push_back(item);
    }
    view->expandAll();
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(view, &QTreeWidget::itemChanged, this, &MainWindow::onCheckChanged);
    refreshLiveValues();
    return view;
}

void MainWindow::onCheckChanged(QTreeWidgetItem* item, int column) {
    kelvane::TTreeNode* node = nodeOf(item);
    if (column != 0 || node == nullptr) {
        return;
    }
    const Qt::CheckState shown = item->checkState(0);
    if (shown == Qt::Checked && node->CheckState != static_cast<int>(CheckState::Checked)) {
        node->CheckState = static_cast<int>(CheckState::Checked);
    } else if (shown == Qt::Unchecked) {
        node->CheckState = static_cast<int>(CheckState::Unchecked);
    }
}

void MainWindow::refreshLiveValues() {
    for (const LiveTag& tag : liveTags_) {
        kelvane::TCurrentValue value{};
        if (readHeader(tag.record, &value) && value.Updated != 0) {
            tag.item->setText(
                1, QString::fromStdU16String(std::u16string(kelvane::FieldText(value.ValueText))));
        }
    }
    for (const LiveUnit& unit : liveUnits_) {
        const int32_t state =
            std::atomic_ref<int32_t>(*unit.connectState).load(std::memory_order_relaxed);
        unit.item->setText(2, QString::number(state));
    }
}

}  // namespace host
