// The configuration dialog TfrmConfig: the listener's port and the popup switch.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace daq {
class TextTable;
}  // namespace daq

namespace daq::window {

class TfrmConfig : public QDialog {
    Q_OBJECT

  public:
    // Longest port text the edit takes.
    static constexpr int kPortTextLimit = 5;

    // A child of `owner` named "frmConfig" while it is shown.
    explicit TfrmConfig(QWidget* owner);

    // Caption 1, CheckBox1 36, LMDLabel1 37, btnOk 38, btnCancel 39; a null table reads as
    // empty texts.
    void applyTexts(const TextTable* texts);
    void setPortText(const QString& text);
    QString portText() const;
    // The port edit and the popup switch are enabled only while no DAQ run is on.
    void setEditable(bool editable);

  private:
    QLineEdit* LMDEdit1;
    QLabel* LMDLabel1;
    QCheckBox* CheckBox1;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};

}  // namespace daq::window
