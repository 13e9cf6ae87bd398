// The information form TfrmInfo: "Information" and "About..." tabs over a page stack, with the
// plug-in's texts in read-only edits and its icon. Its creation makes the command object
// (and with it the server window); its destruction deletes them.
#pragma once

#include <QDialog>
#include <QImage>

class QLabel;
class QLineEdit;
class QStackedWidget;
class QTabBar;

namespace daq {

class ClsInterface;

class TfrmInfo : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kInfoEdits = 5;

    explicit TfrmInfo(QWidget* parent = nullptr);
    ~TfrmInfo() override;

    ClsInterface& commandObject() { return *FInterface; }
    // edtInfo0 (title) .. edtInfo4 (description).
    void setInfoText(int edit, const QString& text);
    QString infoText(int edit) const;
    const QImage& bitmap() const { return bitmap_; }

  private:
    void selectPage(int index);

    QTabBar* TabSet1;
    QStackedWidget* nbTab;
    QLineEdit* edtInfo[kInfoEdits];
    QLabel* imgIcon;
    QImage bitmap_;
    ClsInterface* FInterface;
};

}  // namespace daq
