#pragma once
// The settings dialog: the thermostat's poll period, limited to 1000..60000 ms,
// and below it the groups of settings the other parts of the program add.
#include <QDialog>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace calorix {

// A group of settings shown below the poll period. Load fills its controls
// each time the dialog opens; Apply takes them at OK and returns an empty text,
// or the reason they cannot be taken (the dialog then shows it below the
// groups and stays open, and no section's settings are taken).
struct TSettingsSection {
  QWidget* Widget = nullptr;  // reparented to the dialog
  std::function<void()> Load;
  std::function<QString()> Check;  // may be empty: nothing to refuse
  std::function<void()> Apply;
};

// A setting the last OK changed: its key as the settings file names it
// ("Chart/PollTime"), and its value before and after as the dialog shows it.
struct TSettingChange {
  QString Key, Old, New;
};

class TSettingsFrm : public QDialog {
  Q_OBJECT
 public:
  // pollTime is the main window's poll period: shown each time the dialog
  // opens, written by OK only. With a parent the dialog opens centred on it.
  TSettingsFrm(QWidget* parent, int& pollTime);

  void AddSection(TSettingsSection section);
  // What the last OK changed (empty after a cancel).
  const std::vector<TSettingChange>& Changes() const { return FChanges; }

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
  QVBoxLayout* FSectionsLayout = nullptr;
  QLabel* FSectionError = nullptr;
  std::vector<TSettingsSection> FSections;
  // The controls' values as the dialog opened, by the setting's key.
  std::vector<std::pair<QString, QString>> FShown;
  std::vector<TSettingChange> FChanges;
  std::vector<std::pair<QString, QString>> Values() const;
};

}  // namespace calorix
