#pragma once
// The window's side of its session's alarms (station/Alarms.h): the red line
// under "Защита:" and its button "Подтвердить", the title's mark, the window's
// alert and the desktop notification of each raise; and the group "Тревоги"
// of the settings dialog, the section "Alarm" of the settings file.
#include <QObject>

class QLabel;
class QPushButton;

namespace calorix {

class TMainFrm;
class TSettingsFrm;

class TAlarmView final : public QObject {
  Q_OBJECT
 public:
  // Made by the window's constructor, its child; the line and the button go
  // under the protection status.
  explicit TAlarmView(TMainFrm& window);

  void AddSettings(TSettingsFrm& form);
  void Show();  // the line, the button and the title as the list stands

 private:
  void Changed();  // the session's list changed

  TMainFrm& FWindow;
  QLabel* FLine = nullptr;         // "stAlarms"
  QPushButton* FButton = nullptr;  // "AckAlarmsBtn"
};

}  // namespace calorix
