#include "app/SettingsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/Helper.h"

namespace calorix {
namespace {

// Keys that make a control character with Ctrl held (Ctrl+C, Ctrl+V, ...).
bool IsControlCharacterKey(int key) {
  return (key >= Qt::Key_A && key <= Qt::Key_Z) || key == Qt::Key_At ||
         key == Qt::Key_BracketLeft || key == Qt::Key_Backslash || key == Qt::Key_BracketRight ||
         key == Qt::Key_AsciiCircum || key == Qt::Key_Underscore;
}

// The settings file's keys of the dialog's controls, by the control's name;
// a control not named here is logged under its own name.
QString SettingKey(const QString& control) {
  static const std::pair<const char*, const char*> kKeys[] = {
      {"cbRemote", "Remote/Enabled"},
      {"edRemoteAddress", "Remote/Address"},
      {"edRemotePort", "Remote/Port"},
      {"MqttEnabled", "MQTT/Enabled"},
      {"MqttHost", "MQTT/Host"},
      {"MqttPort", "MQTT/Port"},
      {"MqttPrefix", "MQTT/Prefix"},
      {"MqttClientId", "MQTT/ClientId"},
      {"MqttUser", "MQTT/User"},
      {"MqttPasswordFile", "MQTT/PasswordFile"},
      {"MqttCAFile", "MQTT/CAFile"},
      {"MqttQoS", "MQTT/QoS"},
      {"MqttCommands", "MQTT/Commands"},
      {"edMinSetpoint", "Program/MinSetpoint"},
      {"edMaxSetpoint", "Program/MaxSetpoint"},
      {"edAlarmBand", "Alarm/Band"},
      {"edAlarmDelay", "Alarm/Delay"},
      {"edAlarmHigh", "Alarm/High"},
      {"edAlarmLow", "Alarm/Low"},
      {"cbAlarmNotify", "Alarm/Notify"},
      {"cbLanguage", "UI/Language"},
  };
  for (const auto& [name, key] : kKeys) {
    if (control == QLatin1String(name))
      return QString::fromLatin1(key);
  }
  return control;
}

}  // namespace

std::vector<std::pair<QString, QString>> TSettingsFrm::Values() const {
  std::vector<std::pair<QString, QString>> values;
  values.emplace_back(QStringLiteral("Chart/PollTime"), QString::number(FPollTime));
  for (const QWidget* w : findChildren<QWidget*>()) {
    if (w == edPollingTime || w->objectName().isEmpty())
      continue;
    QString value;
    if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
      if (qobject_cast<const QAbstractSpinBox*>(w->parentWidget()))
        continue;  // the spin box's own edit
      value = edit->text();
    } else if (const auto* check = qobject_cast<const QCheckBox*>(w)) {
      value = check->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    } else if (const auto* spin = qobject_cast<const QSpinBox*>(w)) {
      value = QString::number(spin->value());
    } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
      value = combo->currentText();
    } else {
      continue;
    }
    values.emplace_back(SettingKey(w->objectName()), value);
  }
  return values;
}

TSettingsFrm::TSettingsFrm(QWidget* parent, int& pollTime)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      FPollTime(pollTime) {
  setObjectName(QStringLiteral("SettingsFrm"));
  setWindowTitle(tr("Настройки программы"));
  QFont f(QStringLiteral("Tahoma"));
  f.setPixelSize(13);
  setFont(f);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  Label1 = new QLabel(tr("Период опроса термостата, мс"), GroupBox1);
  Label1->setObjectName(QStringLiteral("Label1"));
  edPollingTime = new QLineEdit(GroupBox1);
  edPollingTime->setObjectName(QStringLiteral("edPollingTime"));
  edPollingTime->setFixedWidth(64);
  edPollingTime->installEventFilter(this);
  Label1->setBuddy(edPollingTime);

  auto* groupLayout = new QHBoxLayout(GroupBox1);
  groupLayout->addWidget(Label1);
  groupLayout->addWidget(edPollingTime);
  groupLayout->addStretch();

  // Neither button is a default button, so Enter closes nothing.
  OkBtn = new QPushButton(QStringLiteral("OK"), this);
  OkBtn->setObjectName(QStringLiteral("OkBtn"));
  CancelBtn = new QPushButton(tr("Отмена"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  for (QPushButton* b : {OkBtn, CancelBtn}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkBtn);
  buttons->addWidget(CancelBtn);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  FSectionsLayout = new QVBoxLayout;
  layout->addLayout(FSectionsLayout);
  // Why OK did not close the dialog; said here rather than in a box of its own.
  FSectionError = new QLabel(this);
  FSectionError->setObjectName(QStringLiteral("SectionError"));
  FSectionError->setStyleSheet(QStringLiteral("color: #c00000"));
  FSectionError->setWordWrap(true);
  FSectionError->hide();
  layout->addWidget(FSectionError);
  layout->addStretch();
  layout->addLayout(buttons);

  setTabOrder(edPollingTime, OkBtn);
  setTabOrder(OkBtn, CancelBtn);
  resize(356, 110);
}

void TSettingsFrm::AddSection(TSettingsSection section) {
  FSectionsLayout->addWidget(section.Widget);
  FSections.push_back(std::move(section));
  adjustSize();
}

void TSettingsFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TSettingsFrm::keyPressEvent(QKeyEvent* event) {
  if (!FormShortCut(*event))
    QDialog::keyPressEvent(event);
}

bool TSettingsFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edPollingTime && event->type() == QEvent::KeyPress) {
    return edPollingTimeKeyPress(static_cast<const QKeyEvent&>(*event));
  }
  return QDialog::eventFilter(watched, event);
}

void TSettingsFrm::FormActivate() {
  // Every showing starts from the current period, not from the text typed
  // before an earlier cancel.
  edPollingTime->setText(QString::number(FPollTime));
  FSectionError->hide();
  for (const auto& section : FSections) {
    if (section.Load)
      section.Load();
  }
  FShown = Values();
  FChanges.clear();
  edPollingTime->setFocus(Qt::ActiveWindowFocusReason);
  edPollingTime->selectAll();
}

bool TSettingsFrm::edPollingTimeKeyPress(const QKeyEvent& key) {
  // Escape is the dialog's shortcut before the edit sees it.
  if (FormShortCut(key))
    return true;
  switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
      return false;  // Backspace is a character the edit takes; the rest make none
    default:
      break;
  }
  if ((key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) &&
      IsControlCharacterKey(key.key())) {
    return true;  // Ctrl+C, Ctrl+V, Ctrl+X and the other control characters
  }
  const QString text = key.text();
  if (text.isEmpty())
    return false;  // navigation keys make no character
  for (QChar c : text) {
    if (!PollTimeKeyAccepted(c))
      return true;
  }
  return false;
}

bool TSettingsFrm::FormShortCut(const QKeyEvent& key) {
  if (key.key() != Qt::Key_Escape)
    return false;
  reject();
  return true;
}

void TSettingsFrm::OkBtnClick() {
  for (const auto& section : FSections) {
    const QString error = section.Check ? section.Check() : QString();
    if (!error.isEmpty()) {
      FSectionError->setText(error);
      FSectionError->show();
      return;
    }
  }
  FPollTime = PollTimeFromText(edPollingTime->text());
  for (const auto& section : FSections) {
    if (section.Apply)
      section.Apply();
  }
  FChanges.clear();
  for (const auto& [key, value] : Values()) {
    for (const auto& [shownKey, shown] : FShown) {
      if (shownKey == key && shown != value)
        FChanges.push_back({key, shown, value});
    }
  }
  accept();
}

}  // namespace calorix
