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
    QWidget* serverArea() const { return serverArea_; }
    QWidget* infoArea() const { return infoArea_; }

  private:
    struct LiveTag {
        QTreeWidgetItem* item;
        const kelvane::TIOList* record;
    };
    struct LiveUnit {
        QTreeWidgetItem* item;
        int32_t* connectState;
    };

    QTreeWidget* buildIoTree();
    QTreeWidget* buildSystemTree();
    void addIoNodes(QTreeWidget* view, QTreeWidgetItem* parent, kelvane::TTreeNode* node);
    void onCheckChanged(QTreeWidgetItem* item, int column);
    void refreshLiveValues();

    Plant& plant_;
    QWidget* serverArea_;
    QWidget* infoArea_;
    std::vector<LiveTag> liveTags_;
    std::vector<LiveUnit> liveUnits_;
    QTimer liveTimer_;
};

}  // namespace host
