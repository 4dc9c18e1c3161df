// The page "Обзор": every thermostat found, the window that shows it and its
// readings, kept up to date while the page is in view.
#include "app/MainForm.h"
#include "app/Windows.h"
#include "base/Messages.h"
#include "link/Hid.h"

#include <QHeaderView>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace calorix {

void TMainFrm::CreateOverviewPage() {
  OverviewTab = new QWidget(Tabs);
  OverviewTab->setObjectName(QStringLiteral("OverviewTab"));
  auto* layout = new QVBoxLayout(OverviewTab);
  layout->setContentsMargins(0, 0, 0, 0);
  OverviewTable = new QTableWidget(0, 8, OverviewTab);
  OverviewTable->setObjectName(QStringLiteral("OverviewTable"));
  QStringList headers;
  for (int id = 1113; id <= 1120; ++id)
    headers << LoadStr(id);
  OverviewTable->setHorizontalHeaderLabels(headers);
  OverviewTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  OverviewTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  OverviewTable->setSelectionMode(QAbstractItemView::SingleSelection);
  OverviewTable->verticalHeader()->setVisible(false);
  OverviewTable->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(OverviewTable);
  Tabs->addTab(OverviewTab, LoadStr(1112));
  connect(OverviewTable, &QTableWidget::cellDoubleClicked, this,
          [this](int row, int) { Guarded([this, row] { OverviewRowOpen(row); }); });
  connect(Tabs, &QTabWidget::currentChanged, this, [this] { ShowOverview(); });
  // Every thermostat's readings move the page; a session added or gone, its
  // connections with it.
  connect(FStation, &TStation::SessionsChanged, this, [this] {
    FollowSessions();
    ShowOverview();
  });
  connect(FStation, &TStation::DeviceArrived, this, [this] { ShowOverview(); });
  connect(FStation, &TStation::DeviceRemoved, this, [this] { ShowOverview(); });
  connect(FStation, &TStation::DeviceCaptionChanged, this, [this] { ShowOverview(); });
  FollowSessions();
}

void TMainFrm::FollowSessions() {
  for (const QMetaObject::Connection& c : FOverviewLinks)
    disconnect(c);
  FOverviewLinks.clear();
  const auto show = [this] { ShowOverview(); };
  for (TThermostatSession* s : FStation->Sessions()) {
    FOverviewLinks << connect(s, &TThermostatSession::TemperatureRead, this, show)
                   << connect(s, &TThermostatSession::SetpointRead, this, show)
                   << connect(s, &TThermostatSession::ProtectionRead, this, show)
                   << connect(s, &TThermostatSession::RecordingChanged, this, show)
                   << connect(s, &TThermostatSession::ProgramStateChanged, this, show)
                   << connect(s, &TThermostatSession::Attached, this, show)
                   << connect(s, &TThermostatSession::Detached, this, show)
                   << connect(s, &TThermostatSession::AlarmsChanged, this, show);
  }
}

QString TMainFrm::OverviewWindowText(const TThermostatSession* session) const {
  if (!session)
    return LoadStr(1123);
  if (session == FSession)
    return LoadStr(1121);
  const int n = FWindows ? FWindows->Number(FWindows->WindowOf(session)) : 0;
  return n > 0 ? LoadStr(1122).arg(n) : LoadStr(1123);
}

void TMainFrm::ShowOverview() {
  // Drawn while in view (and when it comes into view): nothing to do otherwise.
  if (!OverviewTable || Tabs->currentWidget() != OverviewTab)
    return;
  const auto& devices = FStation->Devices();
  OverviewTable->setRowCount(int(devices.size()));
  const auto cell = [this](int row, int column, const QString& text) {
    QTableWidgetItem* item = OverviewTable->item(row, column);
    if (!item) {
      item = new QTableWidgetItem;
      OverviewTable->setItem(row, column, item);
    }
    if (item->text() != text)
      item->setText(text);
    return item;
  };
  for (std::size_t i = 0; i < devices.size(); ++i) {
    TJvHidDevice* dev = devices[i];
    const int row = int(i);
    const TThermostatSession* s = FStation->SessionOf(dev);
    cell(row, 0, FStation->DeviceCaption(dev))->setData(Qt::UserRole, FStation->Serial(dev));
    cell(row, 1, dev->ProductName());
    cell(row, 2, OverviewWindowText(s));
    QTableWidgetItem* temperature = cell(row, 3, QString());
    if (s && s->Device()) {
      const double t = s->Temperature();
      temperature->setText(std::isnan(t) ? QString() : FormatFixed2(t, FLocalFormat));
      // The left panel's colour rule: red outside the band (NaN shows green).
      const bool outside = std::fabs(t - s->Setpoint()) > s->ReadyBand();
      temperature->setForeground(outside ? QColor(255, 0, 0) : QColor(0, 128, 0));
      cell(row, 4, FormatFixed2(s->Setpoint(), FLocalFormat));
      cell(row, 5, ProtectionText(s->Protection()));
      cell(row, 6, s->Recording() ? LoadStr(1124) : LoadStr(1123));
      const int steps = int(s->Runner().Program().Steps.size());
      switch (s->ProgramState()) {
        case TProgramState::Running:
          cell(row, 7, LoadStr(1125).arg(s->ProgramStep()).arg(steps));
          break;
        case TProgramState::Paused:
          cell(row, 7, LoadStr(1126).arg(s->ProgramStep()).arg(steps));
          break;
        case TProgramState::Stopped:
          cell(row, 7, LoadStr(1123));
          break;
      }
    } else {
      for (int column = 4; column < 8; ++column)
        cell(row, column, QString());
    }
    // A thermostat with alarms: its row in red, the alarms in its tip.
    const bool alarmed = s && s->Alarms().Any();
    const QString tip = alarmed ? AlarmsLine(s->Alarms()) : QString();
    for (int column = 0; column < 8; ++column) {
      QTableWidgetItem* item = OverviewTable->item(row, column);
      item->setBackground(alarmed ? QBrush(QColor(255, 200, 200)) : QBrush());
      item->setToolTip(tip);
    }
  }
}

void TMainFrm::OverviewRowOpen(int row) {
  const QTableWidgetItem* item = OverviewTable->item(row, 0);
  if (!item)
    return;
  const QString serial = item->data(Qt::UserRole).toString();
  if (FWindows) {
    FWindows->Open(serial);
  } else if (TJvHidDevice* dev = FStation->Device(serial)) {
    FStation->Select(*FSession, dev);  // a window alone: as its menu does
  }
}

}  // namespace calorix
