// The window's side of publishing to an MQTT broker: its group in the settings
// dialog and the connection's state in the status bar. The publishing itself
// and its section of the settings file are the program's (station/Services.h):
// one connection for every session.
#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "base/Messages.h"
#include "station/Services.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStatusBar>

namespace calorix {

void TMainFrm::SetUpPublish() {
  TSessionPublisher* publisher = FServices ? FServices->Publisher() : nullptr;
  if (!publisher)
    return;
  connect(publisher, &TSessionPublisher::StateChanged, this, &TMainFrm::ShowPublishState);
  ShowPublishState(publisher->State());
}

void TMainFrm::ShowPublishState(const QString& text) {
  if (!MqttPanel) {
    if (text.isEmpty())
      return;
    MqttPanel = new QLabel(statusBar());
    MqttPanel->setObjectName(QStringLiteral("MqttPanel"));
    MqttPanel->setFrameShape(QFrame::StyledPanel);
    statusBar()->addPermanentWidget(MqttPanel);
  }
  MqttPanel->setText(text);
  MqttPanel->setAccessibleName(text);
  MqttPanel->setVisible(!text.isEmpty());
}

void TMainFrm::AddPublishSettings(TSettingsFrm* form) {
  auto* box = new QGroupBox(tr("Публикация MQTT"));
  box->setObjectName(QStringLiteral("MqttGroup"));
  auto* layout = new QFormLayout(box);
  auto* enabled = new QCheckBox(tr("Публиковать показания на брокере MQTT"), box);
  auto* host = new QLineEdit(box);
  auto* port = new QSpinBox(box);
  port->setRange(1, 65535);
  auto* prefix = new QLineEdit(box);
  auto* clientId = new QLineEdit(box);
  clientId->setPlaceholderText(tr("calorix-<имя компьютера>-<номер процесса>"));
  auto* user = new QLineEdit(box);
  auto* passwordFile = new QLineEdit(box);
  auto* caFile = new QLineEdit(box);
  auto* qos = new QSpinBox(box);
  qos->setRange(0, 2);
  auto* commands = new QCheckBox(tr("Принимать уставку от брокера (только с авторизацией)"), box);
  layout->addRow(enabled);
  layout->addRow(tr("Брокер:"), host);
  layout->addRow(tr("Порт:"), port);
  layout->addRow(tr("Префикс тем:"), prefix);
  layout->addRow(tr("Идентификатор клиента:"), clientId);
  layout->addRow(tr("Пользователь:"), user);
  layout->addRow(tr("Файл пароля:"), passwordFile);
  layout->addRow(tr("Файл CA (TLS):"), caFile);
  layout->addRow(tr("QoS:"), qos);
  layout->addRow(commands);
  const struct {
    QWidget* Widget;
    const char* Name;
  } names[] = {{enabled, "MqttEnabled"},
               {host, "MqttHost"},
               {port, "MqttPort"},
               {prefix, "MqttPrefix"},
               {clientId, "MqttClientId"},
               {user, "MqttUser"},
               {passwordFile, "MqttPasswordFile"},
               {caFile, "MqttCAFile"},
               {qos, "MqttQoS"},
               {commands, "MqttCommands"}};
  for (const auto& n : names)
    n.Widget->setObjectName(QString::fromLatin1(n.Name));

  auto read = [=] {
    TPublishConfig c;
    c.Enabled = enabled->isChecked();
    c.Host = host->text().trimmed();
    c.Port = port->value();
    c.Prefix = prefix->text().trimmed();
    c.ClientId = clientId->text().trimmed();
    c.User = user->text();
    c.PasswordFile = passwordFile->text();
    c.CAFile = caFile->text();
    c.QoS = qos->value();
    c.Commands = commands->isChecked();
    return c;
  };
  TSettingsSection section;
  section.Widget = box;
  section.Load = [=, this] {
    const TSessionPublisher* publisher = FServices ? FServices->Publisher() : nullptr;
    const TPublishConfig c = publisher ? publisher->Effective() : TPublishConfig{};
    enabled->setChecked(c.Enabled);
    host->setText(c.Host);
    port->setValue(c.Port);
    prefix->setText(c.Prefix);
    clientId->setText(c.ClientId);
    user->setText(c.User);
    passwordFile->setText(c.PasswordFile);
    caFile->setText(c.CAFile);
    qos->setValue(c.QoS);
    commands->setChecked(c.Commands);
  };
  section.Check = [=] {
    const TPublishConfig c = read();
    if (c.Enabled && c.Host.isEmpty())
      return LoadStr(1100);
    if (!IsPublishPrefix(c.Prefix))
      return LoadStr(1101);
    return QString();
  };
  section.Apply = [=, this] {
    if (TSessionPublisher* publisher = FServices ? FServices->Publisher() : nullptr)
      publisher->Apply(read());
  };
  form->AddSection(std::move(section));
}

}  // namespace calorix
