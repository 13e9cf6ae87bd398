#include "plugin/TfrmInfo.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

#include "plugin/ClsInterface.h"
#include "plugin/IconResource.h"

namespace daq {

namespace {

constexpr int kInformationPage = 0;
constexpr const char* kEditLabels[TfrmInfo::kInfoEdits] = {
    nullptr, "Plugin Type :", "Date : ", "Version : ", "Description :"};

}  // namespace

TfrmInfo::TfrmInfo(QWidget* parent)
    : QDialog(parent),
      TabSet1(new QTabBar(this)),
      nbTab(new QStackedWidget(this)),
      edtInfo{},
      imgIcon(new QLabel),
      FInterface(nullptr) {
    setObjectName(QStringLiteral("frmInfo"));
    TabSet1->setObjectName(QStringLiteral("TabSet1"));
    nbTab->setObjectName(QStringLiteral("nbTab"));
    imgIcon->setObjectName(QStringLiteral("imgIcon"));
    TabSet1->addTab(QStringLiteral("Information"));
    TabSet1->addTab(QStringLiteral("About..."));

    auto* information = new QWidget;
    auto* fields = new QFormLayout(information);
    for (int i = 0; i < kInfoEdits; ++i) {
        edtInfo[i] = new QLineEdit(information);
        edtInfo[i]->setObjectName(QStringLiteral("edtInfo%1").arg(i));
        edtInfo[i]->setReadOnly(true);
        if (kEditLabels[i] == nullptr) {
            fields->addRow(edtInfo[i]);
        } else {
            fields->addRow(QString::fromLatin1(kEditLabels[i]), edtInfo[i]);
        }
    }
    auto* about = new QWidget;
    auto* aboutLayout = new QVBoxLayout(about);
    aboutLayout->addWidget(imgIcon, 0, Qt::AlignCenter);
    nbTab->addWidget(information);
    nbTab->addWidget(about);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TabSet1);
    layout->addWidget(nbTab);
    connect(TabSet1, &QTabBar::currentChanged, this, &TfrmInfo::selectPage);

    // Creation hook: the bitmap, the first page, the command object.
    bitmap_ = loadPluginIcon();
    imgIcon->setPixmap(QPixmap::fromImage(bitmap_));
    selectPage(kInformationPage);
    FInterface = new ClsInterface();
}

TfrmInfo::~TfrmInfo() {
    // Destruction hook: the bitmap and the command object (which destroys the server window).
    bitmap_ = QImage();
    delete FInterface;
    FInterface = nullptr;
}

void TfrmInfo::selectPage(int index) {
    TabSet1->setCurrentIndex(index);
    nbTab->setCurrentIndex(index);
}

void TfrmInfo::setInfoText(int edit, const QString& text) {
    if (edit >= 0 && edit < kInfoEdits) {
        edtInfo[edit]->setText(text);
    }
}

QString TfrmInfo::infoText(int edit) const {
    return edit >= 0 && edit < kInfoEdits ? edtInfo[edit]->text() : QString();
}

}  // namespace daq
