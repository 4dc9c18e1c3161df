// The window's side of remote control: the station's SCPI port (station/),
// its panel in the status bar and its group of settings.
#include "app/MainFormRemote.h"

#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "base/Messages.h"
#include "remote/RemoteServer.h"
#include "station/Services.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

namespace calorix {

TRemoteWindow::TRemoteWindow(TMainFrm& window, TRemoteService& service)
    : QObject(&window), FWindow(window), FService(service), Settings(service.Settings) {
  connect(&FService, &TRemoteService::StatusChanged, this, [this] { ShowStatus(); });
  // What a client's command would have shown in a box is shown where it stays
  // in view, by the window of the session it concerns.
  connect(&FService, &TRemoteService::ClientNotice, this,
          [this](TThermostatSession* session, const QString& text) {
            if (session == FWindow.Session())
              FWindow.SetStatusText(1, text);
          });
  ShowStatus();
}

TRemoteWindow::~TRemoteWindow() = default;

void TRemoteWindow::ShowStatus() {
  if (!FPanel) {
    FPanel = new QLabel(FWindow.statusBar());
    FPanel->setObjectName(QStringLiteral("RemotePanel"));
    FWindow.statusBar()->addPermanentWidget(FPanel);
  }
  const TRemoteService& s = FService;
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
  if (!FRemote && FServices)
    FRemote = std::make_unique<TRemoteWindow>(*this, FServices->Remote());
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
    if (!FServices)
      return;
    const TRemoteSettings& s = FServices->Remote().Settings;
    enabled->setChecked(s.Enabled);
    address->setText(s.Address);
    port->setText(QString::number(s.Port));
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
    if (!FServices)
      return;
    TRemoteSettings s = FServices->Remote().Settings;
    s.Enabled = enabled->isChecked();
    s.Address = address->text().trimmed();
    bool ok = false;
    const int p = port->text().trimmed().toInt(&ok);
    s.Port = ok && p >= 1 && p <= 65535 ? p : kDefaultRemotePort;
    FServices->ApplyRemote(s);
  };
  form->AddSection(std::move(section));
}

}  // namespace calorix
