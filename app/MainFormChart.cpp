// The main window's measurement record, its chart and the values page: the
// record, the time window, the vertical scale, capture and the read-out.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "chart/Chart.h"
#include "chart/EventsModel.h"
#include "chart/ReadOut.h"
#include "chart/ValuesModel.h"
#include "chart/VerticalScale.h"
#include "record/Journal.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSlider>
#include <QToolButton>

namespace calorix {

void TMainFrm::CreateSeries() {
  Chart->legend->setVisible(false);
  Chart->CreateSeries(FSession->RecordPtr());
}

void TMainFrm::RecordBtnClick() {
  if (FSession->Recording())
    FSession->StopRecording();
  else
    FSession->StartRecording();
}

void TMainFrm::ShowRecording(bool recording) {
  OpenGraphBtn->setEnabled(!recording);
  SaveGraphBtn->setEnabled(!recording);
  RecordBtn->setText(LoadStr(recording ? 1004 : 1003));
  RecordBtn->setIcon(
      style()->standardIcon(recording ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
}

void TMainFrm::ClearBtnClick() {
  if (!FPrompts.Warn(this, LoadStr(1006)))
    return;
  ClearRecord();
}

void TMainFrm::ShowResetRecord() {
  const TAxisRange window = FWindow.Reset();
  if (!cbXAuto->isChecked())
    Chart->SetBottomRange(window);
  ScrollBar->setValue(kScrollMax);  // runs ScrollBarChange when it moves
  cbYAutoClick();
  Chart->QueueReplot();
}

void TMainFrm::TrackNewest() {
  // Vertical part: a captured series pulls the range to its newest value.
  if (FCatchIndex > 0 && FCatchIndex <= Chart->SeriesCount()) {
    const TMeasurementRecord& r = Chart->Series(FCatchIndex - 1)->Record();
    if (!r.Empty()) {
      if (auto moved = Recentre(Chart->RightRange(), r.Last().Value))
        Chart->SetRightRange(*moved);
    }
  }
  // Time part: the window creeps forward while the newest sample is beyond it
  // (not while the user looks elsewhere with the mouse).
  if (!Chart->BottomAutomatic() && !FUserView)
    Chart->ScrollBottom(FWindow.FollowStep(), /*checkLimits=*/true);
  Chart->QueueReplot();
}

// ---------------------------------------------------------------------------
// Time window

void TMainFrm::SetUpTimeWindow(int frameSetting) {
  FWindow.SetFrame(FrameIndexFromSetting(frameSetting));
  const auto items = FramePopup->actions();
  if (FWindow.FrameIndex() < items.size())
    items.at(FWindow.FrameIndex())->setChecked(true);
  Chart->SetBottomRange(FWindow.Reset());
  FWindow.ScrollOffset(ScrollBar->value(), 0.0);  // remembers the thumb position
}

void TMainFrm::FrameBtnClick() {
  FramePopup->popup(QCursor::pos());
}

void TMainFrm::FramePopupItemClick(QObject* Sender) {
  auto* item = qobject_cast<QAction*>(Sender);
  if (!item)
    return;
  item->setChecked(true);
  FUserView = false;
  FWindow.SetFrame(item->data().toInt());
  if (Chart->BottomAutomatic())
    return;  // takes effect when the whole record is left
  ApplyFrame();
}

void TMainFrm::ApplyFrame() {
  Chart->SetBottomRange(FWindow.ApplyFrame(RecordLength()));
  Chart->QueueReplot();
}

void TMainFrm::cbXAutoClick() {
  FUserView = false;
  if (cbXAuto->isChecked()) {
    ScrollBar->setValue(kScrollMax);
    ScrollBar->setEnabled(false);
    FWindow.Remember(Chart->BottomRange());
    Chart->SetBottomAutomatic(true);
  } else {
    ScrollBar->setEnabled(true);
    Chart->SetBottomAutomatic(false);
    ApplyFrame();
  }
  Chart->QueueReplot();
}

void TMainFrm::ScrollBarChange(int position) {
  if (FUserView && position >= kScrollMax) {
    ReturnToFollowing();
    return;
  }
  Chart->ScrollBottom(FWindow.ScrollOffset(position, RecordLength()), /*checkLimits=*/false);
  Chart->QueueReplot();
}

// ---------------------------------------------------------------------------
// Vertical scale

void TMainFrm::SetUpVerticalScale(int maxYSetting, int positionSetting) {
  FScaleMaxY = MaxYFromSetting(maxYSetting);
  TrackBar->setRange(0, kScalePositions - 1);
  {
    // The change handler runs once, below, like the set-up's own call.
    const QSignalBlocker quiet(TrackBar);
    TrackBar->setValue(ClampScalePosition(positionSetting));
  }
  Chart->SetRightRange({-FScaleMaxY, FScaleMaxY});
  TrackBarChange();
}

void TMainFrm::TrackBarChange() {
  const int p = ClampScalePosition(TrackBar->value());
  stYScale->setText(QString::fromLatin1(ScaleLabels[std::size_t(p)]));
  Chart->SetRightRange(ScaleRange(FScaleMaxY, p));
  TrackNewest();
}

void TMainFrm::cbYAutoClick() {
  if (!cbYAuto->isChecked()) {
    TrackBar->setEnabled(true);
    Chart->SetRightAutomatic(false);
    TrackBarChange();
    return;
  }
  TrackBar->setEnabled(false);
  if (FCatchIndex <= 0) {
    Chart->SetRightAutomatic(true);
  } else if (FCatchIndex <= Chart->SeriesCount()) {
    if (auto fit = CaptureFit(Chart->Series(FCatchIndex - 1)->Record()))
      Chart->SetRightRange(*fit);
  }
  Chart->QueueReplot();
}

void TMainFrm::ChartClick() {
  if (TrackBar->hasFocus())
    FrameBtn->setFocus();
}

// ---------------------------------------------------------------------------
// Mouse navigation, range statistics and time in band

void TMainFrm::SetUpChartMouse() {
  connect(Chart, &TChart::BottomMovedByUser, this,
          [this] { Guarded([this] { ChartMovedByUser(); }); });
  connect(Chart, &TChart::RightZoomedByUser, this,
          [this] { Guarded([this] { ChartZoomedByUser(); }); });
  connect(Chart, &TChart::ViewResetByUser, this,
          [this] { Guarded([this] { ReturnToFollowing(); }); });
  connect(Chart, &TChart::MarkedRangeChanged, this,
          [this] { Guarded([this] { MarkedRangeChanged(); }); });
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  esc->setObjectName(QStringLiteral("ClearRangeShortcut"));
  esc->setContext(Qt::WindowShortcut);
  esc->setEnabled(false);
  connect(esc, &QShortcut::activated, this, [this] { Chart->SetMarkedRange(std::nullopt); });
}

void TMainFrm::ChartMovedByUser() {
  FUserView = true;
  if (cbXAuto->isChecked()) {
    const QSignalBlocker quiet(cbXAuto);
    cbXAuto->setChecked(false);
    ScrollBar->setEnabled(true);
  }
  // The thumb follows the view: the whole scroll range is the whole record.
  const double length = RecordLength();
  int position = kScrollMax;
  if (length > 0) {
    const double p = double(kScrollMax) * Chart->BottomRange().Max / length;
    position = int(std::lround(std::clamp(p, double(kScrollMin), double(kScrollMax))));
  }
  const QSignalBlocker quiet(ScrollBar);
  ScrollBar->setValue(position);
  FWindow.ScrollOffset(position, length);  // remembers the thumb position
}

void TMainFrm::ChartZoomedByUser() {
  if (cbYAuto->isChecked()) {
    const QSignalBlocker quiet(cbYAuto);
    cbYAuto->setChecked(false);
    TrackBar->setEnabled(true);
  }
  stYScale->setText(LoadStr(1110));  // the range is the user's own
}

void TMainFrm::ReturnToFollowing() {
  FUserView = false;
  const double length = RecordLength();
  {
    const QSignalBlocker quiet(ScrollBar);
    ScrollBar->setValue(kScrollMax);
    FWindow.ScrollOffset(kScrollMax, length);
  }
  if (cbXAuto->isChecked()) {
    Chart->SetBottomAutomatic(true);
  } else {
    // The window moves to the newest sample as the frame gives it.
    FWindow.Remember({length - FWindow.FrameLength(), length});
    ApplyFrame();
  }
  Chart->QueueReplot();
}

void TMainFrm::MarkedRangeChanged() {
  if (auto* esc = findChild<QShortcut*>(QStringLiteral("ClearRangeShortcut")))
    esc->setEnabled(Chart->MarkedRange().has_value());
  const auto range = Chart->MarkedRange();
  if (!range || Chart->SeriesCount() == 0) {
    SetStatusText(2, QString());
    return;
  }
  const TMeasurementRecord& r = Chart->Series(0)->Record();
  SetStatusText(
      2, RangeStatsText(r.Stats(r.LowerBound(range->Min), r.UpperBound(range->Max)), FLocalFormat));
}

QString TMainFrm::MarkedRangeClipboardText() const {
  const auto range = Chart->MarkedRange();
  if (!range || Chart->SeriesCount() == 0)
    return {};
  const TMeasurementRecord& r = Chart->Series(0)->Record();
  QString text =
      RangeStatsTable(r.Stats(r.LowerBound(range->Min), r.UpperBound(range->Max)), FLocalFormat);
  // Then the events within the range, under the events page's title.
  const QString events = RangeEventsText(FEventsModel->Events(), *range);
  if (!events.isEmpty()) {
    if (!text.endsWith(QLatin1Char('\n')))
      text += QLatin1Char('\n');
    text += LoadStr(1240) + QLatin1Char('\n') + events;
  }
  return text;
}

// ---------------------------------------------------------------------------
// Capture and read-out

void TMainFrm::ResetCatch() {
  FCatchIndex = 0;
  SetCatchCaption(LoadStr(1007));
}

void TMainFrm::SetCatchCaption(const QString& text) {
  CatchPnl->setText(text);
}

void TMainFrm::BuildCatchMenu() {
  CatchPopup->clear();
  auto* group = new QActionGroup(CatchPopup);
  auto add = [&](const QString& caption, int tag) {
    QAction* item = CatchPopup->addAction(caption);
    item->setCheckable(true);
    item->setData(tag);
    group->addAction(item);
    connect(item, &QAction::triggered, this,
            [this, item] { Guarded([this, item] { CatchItemClick(item); }); });
    return item;
  };
  add(LoadStr(1007), 0)->setChecked(true);
  for (int i = 0; i < Chart->SeriesCount(); ++i) {
    QAction* item = add(CatchCaption(Chart->SeriesName(i)), i + 1);
    if (i + 1 == FCatchIndex) {
      item->setChecked(true);
      SetCatchCaption(item->text());
    }
  }
}

void TMainFrm::CatchBtnClick() {
  CatchPopup->popup(QCursor::pos());
}

void TMainFrm::CatchItemClick(QObject* Sender) {
  auto* item = qobject_cast<QAction*>(Sender);
  if (!item)
    return;
  item->setChecked(true);
  FCatchIndex = item->data().toInt();
  if (FCatchIndex > 0) {
    SetCatchCaption(item->text());
    TrackNewest();
  } else {
    SetCatchCaption(LoadStr(1007));
  }
}

void TMainFrm::SeriesClick(int series, std::size_t index, Qt::MouseButton button) {
  QString text;
  if (button == Qt::LeftButton && series >= 0 && series < Chart->SeriesCount()) {
    const TMeasurementRecord& r = Chart->Series(series)->Record();
    if (index < r.Count())
      text = ReadOutText(r[index].Time, r[index].Value, FLocalFormat);
  }
  SetStatusText(2, text);
}

}  // namespace calorix
