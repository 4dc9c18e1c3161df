#include "app/MainFormAlarms.h"

#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "station/Notify.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace calorix {

TAlarmView::TAlarmView(TMainFrm& window) : QObject(&window), FWindow(window) {
  setObjectName(QStringLiteral("AlarmView"));
  QWidget* panel = window.Panel4;
  FLine = new QLabel(panel);
  FLine->setObjectName(QStringLiteral("stAlarms"));
  FLine->setStyleSheet(QStringLiteral("color: #d00000; font-weight: bold"));
  FLine->setWordWrap(true);
  FLine->hide();
  FButton = new QPushButton(LoadStr(1144), panel);
  FButton->setObjectName(QStringLiteral("AckAlarmsBtn"));
  FButton->setToolTip(LoadStr(1162));
  FButton->setAutoDefault(false);
  FButton->hide();
  // Right under the protection status.
  auto* col = static_cast<QVBoxLayout*>(panel->layout());
  const int at = col->indexOf(window.stInBand);
  col->insertWidget(at, FLine);
  col->insertWidget(at + 1, FButton);
  connect(FButton, &QPushButton::clicked, this,
          [this] { FWindow.Guarded([this] { FWindow.Session()->AcknowledgeAlarms(); }); });
  connect(window.Session(), &TThermostatSession::AlarmsChanged, this,
          [this] { FWindow.Guarded([this] { Changed(); }); });
}

void TAlarmView::Changed() {
  Show();
  const TThermostatSession& session = *FWindow.Session();
  const QString serial = session.Device() ? session.Serial() : FWindow.BoundSerial();
  bool raised = false;
  for (const TAlarmChange& change : session.AlarmChanges()) {
    if (change.Event != TAlarmEvent::Raised)
      continue;
    raised = true;
    if (session.Alarms().Settings().Notify)
      NotifyDesktop(
          LoadStr(1161).arg(serial.isEmpty() ? LoadStr(1123) : serial),
          LoadStr(1142).arg(AlarmText(change.Code, change.Detail), AlarmTimeText(change.Utc)));
  }
  if (raised)
    QApplication::alert(&FWindow);
}

void TAlarmView::Show() {
  const TAlarmWatch& alarms = FWindow.Session()->Alarms();
  const QString line = AlarmsLine(alarms);
  FLine->setText(line);
  FLine->setAccessibleName(line);
  FLine->setVisible(!line.isEmpty());
  FButton->setVisible(alarms.AnyUnacknowledged());
  // The title's mark: the window sets the rest of it (see TMainFrm::UpdateTitle).
  const QString mark = LoadStr(1151).arg(QString());
  QString title = FWindow.windowTitle();
  if (title.startsWith(mark))
    title.remove(0, mark.size());
  FWindow.setWindowTitle(alarms.Any() ? LoadStr(1151).arg(title) : title);
}

void TAlarmView::AddSettings(TSettingsFrm& form) {
  auto* box = new QGroupBox(LoadStr(1140));
  box->setObjectName(QStringLiteral("AlarmGroup"));
  auto* layout = new QFormLayout(box);
  auto* band = new QLineEdit(box);
  auto* delay = new QLineEdit(box);
  auto* high = new QLineEdit(box);
  auto* low = new QLineEdit(box);
  auto* notify = new QCheckBox(LoadStr(1156), box);
  band->setObjectName(QStringLiteral("edAlarmBand"));
  delay->setObjectName(QStringLiteral("edAlarmDelay"));
  high->setObjectName(QStringLiteral("edAlarmHigh"));
  low->setObjectName(QStringLiteral("edAlarmLow"));
  notify->setObjectName(QStringLiteral("cbAlarmNotify"));
  layout->addRow(LoadStr(1152), band);
  layout->addRow(LoadStr(1153), delay);
  layout->addRow(LoadStr(1154), high);
  layout->addRow(LoadStr(1155), low);
  layout->addRow(notify);
  TStation& station = *FWindow.Station();
  TSettingsSection section;
  section.Widget = box;
  section.Load = [=, &station] {
    const TAlarmSettings& s = station.AlarmConfig().Base();
    band->setText(AlarmNumberText(s.Band));
    delay->setText(AlarmNumberText(s.DelaySeconds));
    high->setText(s.High ? AlarmNumberText(*s.High) : QString());
    low->setText(s.Low ? AlarmNumberText(*s.Low) : QString());
    notify->setChecked(s.Notify);
  };
  section.Check = [=] {
    return CheckAlarmTexts(band->text(), delay->text(), high->text(), low->text());
  };
  section.Apply = [=, this, &station] {
    const TAlarmSettings s = AlarmSettingsFromTexts(band->text(), delay->text(), high->text(),
                                                    low->text(), notify->isChecked());
    TAlarmConfig config = station.AlarmConfig();
    if (s == config.Base())
      return;
    config.SetBase(s);
    station.SetAlarmConfig(config);
    // Written now; only settings of one's own make a section.
    TIniFile ini(FWindow.IniFileName());
    if (!WriteAlarmSettings(ini, s))
      FWindow.ShowError(LoadStr(1030).arg(FWindow.IniFileName()));
  };
  form.AddSection(std::move(section));
}

}  // namespace calorix
