// The host's main window in GUI mode: its IO tree and system tree with check boxes and live
// values, and the plug-in's server window and information form embedded beside them.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <vector>

#include "host/core/Plant.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace host {

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(Plant& plant, QWidget* parent = nullptr);

    // Where the plug-in's windows go (command 49, InitInformForm).
    QWidget* ServerArea() const { return serverArea_; }
    QWidget* InfoArea() const { return infoArea_; }

  private:
    struct LiveTag {
        QTreeWidgetItem* Item;
        const kelvane::TIOList* Record;
    };
    struct LiveUnit {
        QTreeWidgetItem* Item;
        int32_t* ConnectState;
    };

    QTreeWidget* BuildIoTree();
    QTreeWidget* BuildSystemTree();
    void AddIoNodes(QTreeWidget* view, QTreeWidgetItem* parent, kelvane::TTreeNode* node);
    void OnCheckChanged(QTreeWidgetItem* item, int column);
    void RefreshLiveValues();

    Plant& plant_;
    QWidget* serverArea_;
    QWidget* infoArea_;
    std::vector<LiveTag> liveTags_;
    std::vector<LiveUnit> liveUnits_;
    QTimer liveTimer_;
};

}  // namespace host
