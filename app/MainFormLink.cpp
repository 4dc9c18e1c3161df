// The main window's thermostat panel: temperature, setpoint, readiness band and
// protection status as the session reads them.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "chart/Chart.h"
#include "chart/ReadOut.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>

#include <cmath>

namespace calorix {

void TMainFrm::ShowTemperature(double t) {
  // A comparison with NaN is false, so NaN shows green.
  const bool outside = std::fabs(t - FSession->Setpoint()) > FSession->ReadyBand();
  QPalette pal = stTemp->palette();
  pal.setColor(QPalette::Text, outside ? QColor(255, 0, 0) : QColor(0, 128, 0));
  stTemp->setPalette(pal);
  ShowSample(t);
  const auto inside = FSession->TimeInBand();
  stInBand->setText(TimeInBandText(inside, FLocalFormat));
  QPalette band = stInBand->palette();
  band.setColor(QPalette::WindowText, inside ? QColor(0, 128, 0) : QColor(255, 0, 0));
  stInBand->setPalette(band);
}

void TMainFrm::AddSample(double time, double value) {
  FSession->AddSample(time, value);
  ShowSample(value);
}

void TMainFrm::ShowSample(double value) {
  stTemp->setText(FormatFixed2(value, FLocalFormat));
  if (!FSession->Recording())
    return;
  // The values page follows the record by itself (it is a view of it).
  TrackNewest();
  Chart->QueueReplot();
}

void TMainFrm::ShowSetpoint(double value) {
  edSet->setText(FormatFixed2(value, FLocalFormat));
}

void TMainFrm::ShowAlarm(int bits) {
  stAlarm->setText(ProtectionText(bits));
}

bool TMainFrm::edSetKeyPress(QChar key) {
  const ushort c = key.unicode();
  return (c >= '0' && c <= '9') || c == 8 || c == 3 || c == 22 || c == 24 || c == ',' || c == '.' ||
         c == '-';
}

void TMainFrm::ChangeSetBtnClick() {
  // A running program is paused first, or the setpoint is left alone.
  if (!ProgramAllowsSetpointChange())
    return;
  FSession->WriteSetpoint(edSet->text());
}

void TMainFrm::ReadSetBtnClick() {
  FSession->ReadSetpoint();
}

bool TMainFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edSet && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!key->text().isEmpty() && !edSetKeyPress(key->text().at(0)))
      return true;
  }
  // The right button on a thermostat of the menu offers it a window of its own.
  if (watched == DevPopup && FWindows && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    QAction* item = DevPopup->actionAt(mouse->position().toPoint());
    if (mouse->button() == Qt::RightButton && item) {
      const int tag = item->data().toInt();
      QMenu offer(DevPopup);
      offer.setObjectName(QStringLiteral("DevItemPopup"));
      QAction* open = offer.addAction(LoadStr(1127));
      if (offer.exec(mouse->globalPosition().toPoint()) == open) {
        DevPopup->close();
        Guarded([this, tag] { OpenInNewWindow(tag); });
      }
      return true;  // the item itself is not chosen
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace calorix
