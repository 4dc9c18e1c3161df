// The main window's thermostat panel: temperature, setpoint, readiness band and
// protection status, and the answers of the request queue.
#include "app/MainForm.h"
#include "base/Messages.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

#include <cmath>
#include <limits>

namespace calorix {

void TMainFrm::Dispatch(TRequestKind kind, const std::string& value) {
  const QString text = QString::fromLatin1(value.data(), qsizetype(value.size()));
  switch (kind) {
    case rkTemperature:
      ShowTemperature(text);
      break;
    case rkSetpointRead:
      ShowSetpoint(text);
      break;
    case rkReadyBand:
      SetReadyBand(text);
      break;
    case rkAlarmStatus:
      ShowAlarm(text);
      break;
    case rkSetpointWrite:  // a successful write shows nothing; the read-back does
    case rkConsole:
      break;
  }
}

void TMainFrm::ShowTemperature(const QString& value) {
  const double t = ParseFloatValue(value, FDotFormat);
  // A comparison with NaN is false, so NaN shows green.
  const bool outside = std::fabs(t - FSetpoint) > FReadyBand;
  QPalette pal = stTemp->palette();
  pal.setColor(QPalette::Text, outside ? QColor(255, 0, 0) : QColor(0, 128, 0));
  stTemp->setPalette(pal);
  AddSample(FClock.Now() - FTimeBase, t);
  emit TemperatureRead(t);
}

void TMainFrm::ShowSetpoint(const QString& value) {
  FSetpoint = ParseFloatValue(value, FDotFormat);
  edSet->setText(FormatFixed2(FSetpoint, FLocalFormat));
  emit SetpointRead(FSetpoint);
}

void TMainFrm::SetReadyBand(const QString& value) {
  FReadyBand = ParseFloatValue(value, FDotFormat);
  emit ReadyBandRead(FReadyBand);
}

void TMainFrm::ShowAlarm(const QString& value) {
  QString result = LoadStr(1021);
  // The last character is bit 0; only the lowest set bit is named.
  const int bits = int(FAlarmTexts.size());
  for (int bit = 0; bit < bits && bit < value.size(); ++bit) {
    if (value.at(value.size() - 1 - bit) == QLatin1Char('1')) {
      result = FAlarmTexts.at(bit);
      break;
    }
  }
  stAlarm->setText(result);
  int flags = 0;
  for (int bit = 0; bit < 31 && bit < value.size(); ++bit) {
    if (value.at(value.size() - 1 - bit) == QLatin1Char('1'))
      flags |= 1 << bit;
  }
  emit ProtectionRead(flags);
}

bool TMainFrm::edSetKeyPress(QChar key) {
  const ushort c = key.unicode();
  return (c >= '0' && c <= '9') || c == 8 || c == 3 || c == 22 || c == 24 || c == ',' || c == '.' ||
         c == '-';
}

std::optional<std::string> TMainFrm::SetpointWriteRequest(QString s) const {
  // The text goes on the wire as typed (comma made a point), but only when it
  // is a number: surrounding blanks and control characters are cut off, so a
  // pasted text cannot carry a second command.
  s.replace(QLatin1Char(','), QLatin1Char('.'));
  while (!s.isEmpty() && s.front().unicode() <= ' ')
    s.remove(0, 1);
  while (!s.isEmpty() && s.back().unicode() <= ' ')
    s.chop(1);
  const double v = ParseFloatValue(s, FDotFormat);
  // Valid when it is a finite number in single precision, as the thermostat keeps it.
  const bool valid = std::isfinite(v) && std::fabs(v) <= double(std::numeric_limits<float>::max());
  if (!valid)
    return std::nullopt;
  return std::string(kSetpointWritePrefix) + s.toStdString() + "\r";
}

void TMainFrm::ChangeSetBtnClick() {
  // A running program is paused first, or the setpoint is left alone.
  if (!ProgramAllowsSetpointChange())
    return;
  if (const auto request = SetpointWriteRequest(edSet->text())) {
    QueueRequest(rkSetpointWrite, *request);
  } else {
    ShowError(LoadStr(1013));
  }
  QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
}

void TMainFrm::ReadSetBtnClick() {
  QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
}

bool TMainFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edSet && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!key->text().isEmpty() && !edSetKeyPress(key->text().at(0)))
      return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace calorix
