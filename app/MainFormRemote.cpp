// The window's side of remote control: the station's SCPI port (station/),
// its panel in the status bar and its group of settings.
#include "app/MainFormRemote.h"

#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "remote/RemoteServer.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

namespace calorix {
namespace {

const QString kSection = QStringLiteral("Remote");

}  // namespace

TRemoteWindow::TRemoteWindow(TMainFrm& window)
    : QObject(&window),
      FWindow(window),
      FService(std::make_unique<TRemoteService>(*window.Station())),
      Settings(FService->Settings) {
  connect(FService.get(), &TRemoteService::StatusChanged, this, [this] { ShowStatus(); });
  // What a client's command would have shown in a box is shown where it stays
  // in view, by the window of the session it concerns.
  connect(FService.get(), &TRemoteService::ClientNotice, this,
          [this](TThermostatSession* session, const QString& text) {
            if (session == FWindow.Session())
              FWindow.SetStatusText(1, text);
          });
}

TRemoteWindow::~TRemoteWindow() {
  FService->disconnect(this);  // dropping its clients tells nobody
}

void TRemoteWindow::ShowStatus() {
  if (!FPanel) {
    FPanel = new QLabel(FWindow.statusBar());
    FPanel->setObjectName(QStringLiteral("RemotePanel"));
    FWindow.statusBar()->addPermanentWidget(FPanel);
  }
  const TRemoteService& s = *FService;
  if (!s.Server()) {
    // A failure to listen stays in view; stopped, the panel goes.
    FPanel->setText(s.Failure());
    FPanel->setVisible(!s.Failure().isEmpty());
    return;
  }
  FPanel->setVisible(true);
  FPanel->setText(LoadStr(s.Public() ? 1071 : 1070).arg(s.Listening()).arg(s.ClientCount()));
}

// ---------------------------------------------------------------------------
// The window's part

void TMainFrm::StartRemote() {
  if (!FRemote)
    FRemote = std::make_unique<TRemoteWindow>(*this);
  TIniFile ini(FIniFileName);
  TRemoteSettings& s = FRemote->Settings;
  s.Enabled = ini.ReadBool(kSection, QStringLiteral("Enabled"), false);
  s.Address = ini.ReadString(kSection, QStringLiteral("Address"), QStringLiteral("127.0.0.1"));
  s.Port = ini.ReadInteger(kSection, QStringLiteral("Port"), kDefaultRemotePort);
  s.Folder = ini.ReadString(kSection, QStringLiteral("Folder"), QString()).trimmed();
  const int idle = ini.ReadInteger(kSection, QStringLiteral("IdleTimeout"), 600);
  // Negative or beyond a day: the default.
  s.IdleSeconds = idle >= 0 && idle <= 86400 ? idle : 600;
  std::optional<TEndpoint> endpoint = FRemoteOption;
  if (!endpoint && s.Enabled) {
    // A port outside 1..65535 in the file means the default one.
    const int port = s.Port >= 1 && s.Port <= 65535 ? s.Port : kDefaultRemotePort;
    endpoint = TEndpoint{s.Address.trimmed(), std::uint16_t(port)};
  }
  FRemote->Start(endpoint);
}

void TMainFrm::SaveRemoteSettings(TIniFile& ini) {
  if (!FRemote)
    return;
  const TRemoteSettings& s = FRemote->Settings;
  // The defaults are not written into a file that never had the section.
  const TRemoteSettings def;
  if (s.Enabled == def.Enabled && s.Address == def.Address && s.Port == def.Port &&
      ini.ReadString(kSection, QStringLiteral("Enabled"), QString()).isEmpty())
    return;
  if (!ini.WriteBool(kSection, QStringLiteral("Enabled"), s.Enabled) ||
      !ini.WriteString(kSection, QStringLiteral("Address"), s.Address) ||
      !ini.WriteInteger(kSection, QStringLiteral("Port"), s.Port))
    ReportIniFailure(FIniFileName);
}

void TMainFrm::AddRemoteSettings(TSettingsFrm* form) {
  auto* box = new QGroupBox(LoadStr(1073));
  box->setObjectName(QStringLiteral("RemoteGroup"));
  auto* layout = new QFormLayout(box);
  auto* enabled = new QCheckBox(LoadStr(1074), box);
  enabled->setObjectName(QStringLiteral("cbRemote"));
  auto* address = new QLineEdit(box);
  address->setObjectName(QStringLiteral("edRemoteAddress"));
  auto* port = new QLineEdit(box);
  port->setObjectName(QStringLiteral("edRemotePort"));
  layout->addRow(enabled);
  layout->addRow(LoadStr(1075), address);
  layout->addRow(LoadStr(1076), port);
  TSettingsSection section;
  section.Widget = box;
  section.Load = [this, enabled, address, port] {
    if (!FRemote)
      return;
    enabled->setChecked(FRemote->Settings.Enabled);
    address->setText(FRemote->Settings.Address);
    port->setText(QString::number(FRemote->Settings.Port));
  };
  section.Check = [enabled, address, port]() -> QString {
    if (!enabled->isChecked())
      return {};
    if (!IsListenAddress(address->text().trimmed()))
      return LoadStr(1077);
    bool ok = false;
    const int p = port->text().trimmed().toInt(&ok);
    if (!ok || p < 1 || p > 65535)
      return LoadStr(1078);
    return {};
  };
  section.Apply = [this, enabled, address, port] {
    if (!FRemote)
      return;
    TRemoteSettings s;
    s.Enabled = enabled->isChecked();
    s.Address = address->text().trimmed();
    bool ok = false;
    const int p = port->text().trimmed().toInt(&ok);
    s.Port = ok && p >= 1 && p <= 65535 ? p : kDefaultRemotePort;
    const bool changed = s.Enabled != FRemote->Settings.Enabled ||
                         s.Address != FRemote->Settings.Address || s.Port != FRemote->Settings.Port;
    FRemote->Settings = s;
    if (!changed)
      return;
    // The dialog's choice now replaces the command line's for this run.
    FRemoteOption.reset();
    FRemote->Start(s.Enabled ? std::optional<TEndpoint>(TEndpoint{s.Address, std::uint16_t(s.Port)})
                             : std::nullopt);
  };
  form->AddSection(std::move(section));
}

}  // namespace calorix
