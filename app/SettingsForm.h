#pragma once
// The settings dialog: the thermostat's poll period, limited to 1000..60000 ms.
#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace calorix {

class TSettingsFrm : public QDialog {
  Q_OBJECT
 public:
  // pollTime is the main window's poll period: shown each time the dialog
  // opens, written by OK only. With a parent the dialog opens centred on it.
  TSettingsFrm(QWidget* parent, int& pollTime);

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QLineEdit* edPollingTime;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormActivate();
  // True when the key is consumed.
  bool edPollingTimeKeyPress(const QKeyEvent& key);
  bool FormShortCut(const QKeyEvent& key);
  void OkBtnClick();

  int& FPollTime;
};

}  // namespace calorix
