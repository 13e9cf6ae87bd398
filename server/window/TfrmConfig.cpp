#include "server/window/TfrmConfig.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "server/runtime/TextTable.h"

namespace daq::window {

namespace {

QString tableText(const TextTable* texts, int entry) {
    return texts == nullptr ? QString() : QString::fromStdString(texts->at(entry));
}

}  // namespace

TfrmConfig::TfrmConfig(QWidget* owner)
    : QDialog(owner),
      LMDEdit1(new QLineEdit(QStringLiteral("5050"), this)),
      LMDLabel1(new QLabel(QStringLiteral("TCP/IP Port"), this)),
      CheckBox1(new QCheckBox(QStringLiteral("Show Popup when login or logout"), this)),
      btnOk(new QPushButton(QStringLiteral("OK"), this)),
      btnCancel(new QPushButton(QStringLiteral("Cancel"), this)) {
    setObjectName(QStringLiteral("frmConfig"));
    LMDEdit1->setObjectName(QStringLiteral("LMDEdit1"));
    LMDLabel1->setObjectName(QStringLiteral("LMDLabel1"));
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    LMDEdit1->setMaxLength(kPortTextLimit);
    CheckBox1->setChecked(true);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QGridLayout(this);
    layout->addWidget(LMDLabel1, 0, 0);
    layout->addWidget(LMDEdit1, 0, 1);
    layout->addWidget(CheckBox1, 1, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons, 2, 0, 1, 2);
}

void TfrmConfig::applyTexts(const TextTable* texts) {
    setWindowTitle(tableText(texts, 1));
    CheckBox1->setText(tableText(texts, 36));
    LMDLabel1->setText(tableText(texts, 37));
    btnOk->setText(tableText(texts, 38));
    btnCancel->setText(tableText(texts, 39));
}

void TfrmConfig::setPortText(const QString& text) {
    LMDEdit1->setText(text);
}

QString TfrmConfig::portText() const {
    return LMDEdit1->text();
}

void TfrmConfig::setEditable(bool editable) {
    LMDEdit1->setEnabled(editable);
    CheckBox1->setEnabled(editable);
}

}  // namespace daq::window
