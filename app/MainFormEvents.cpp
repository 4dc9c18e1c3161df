// The page "События": the session's event log beside the values page, the
// chart's marks of its events, and the selected event shown on the chart.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "chart/Chart.h"
#include "chart/EventsModel.h"

#include <QCheckBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace calorix {

void TMainFrm::CreateEventsPage() {
  EventsTab = new QWidget(Tabs);
  EventsTab->setObjectName(QStringLiteral("EventsTab"));
  auto* layout = new QVBoxLayout(EventsTab);
  layout->setContentsMargins(0, 0, 0, 0);
  FEventsModel = new TEventsModel(FLocalFormat, this);
  EventsView = new TEventsView(EventsTab);
  EventsView->setObjectName(QStringLiteral("EventsView"));
  EventsView->setModel(FEventsModel);
  layout->addWidget(EventsView);
  Tabs->addTab(EventsTab, LoadStr(1240));

  connect(FEventsModel, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { AddEventMarks(first, last); });
  connect(FEventsModel, &QAbstractItemModel::modelReset, this, [this] {
    Chart->EventMarks()->List().Clear();
    AddEventMarks(0, FEventsModel->rowCount() - 1);
  });
  connect(FSession, &TThermostatSession::EventLogged, this, &TMainFrm::FollowEvents);
  // A record emptied or replaced may leave its log replaced without an event
  // logged: looked at once the session is done with it.
  for (auto signal : {&TThermostatSession::RecordReset, &TThermostatSession::RecordLoaded})
    connect(FSession, signal, this, &TMainFrm::FollowEvents, Qt::QueuedConnection);
  connect(EventsView, &TEventsView::CurrentChanged, this,
          [this](int row) { Guarded([this, row] { ShowEventOnChart(row); }); });
  connect(EventsView, &TEventsView::Activated, this, [this] { Tabs->setCurrentWidget(GraphTab); });
  FollowEvents();
}

void TMainFrm::FollowEvents() {
  FEventsModel->Follow(FSession->Events());
}

void TMainFrm::AddEventMarks(int first, int last) {
  TEventMarkList& marks = Chart->EventMarks()->List();
  for (int row = first; row <= last; ++row) {
    const TEvent& e = FEventsModel->Event(row);
    if (e.Elapsed)
      marks.Add(MarkClassOf(e.Kind), *e.Elapsed, e.Text);
  }
  Chart->QueueReplot();
}

void TMainFrm::ShowEventOnChart(int row) {
  std::optional<double> time;
  if (row >= 0 && row < FEventsModel->rowCount())
    time = FEventsModel->Event(row).Elapsed;
  Chart->EventMarks()->SetHighlight(time);
  // The whole record shows it already; one outside the record has no place.
  if (time && *time >= 0 && *time <= RecordLength() && !cbXAuto->isChecked()) {
    const TAxisRange view = Chart->BottomRange();
    Chart->SetBottomRange({*time - view.Size() / 2, *time + view.Size() / 2});
    ChartMovedByUser();  // the window no longer follows the newest sample
  }
  Chart->QueueReplot();
}

}  // namespace calorix
