#include "chart/EventLog.h"

#include "base/Messages.h"

#include <QDateTime>

#include <algorithm>

namespace calorix {

TMarkClass MarkClassOf(TEventKind kind) {
  switch (kind) {
    case TEventKind::SetpointWritten:
    case TEventKind::SetpointFailed:
      return TMarkClass::Setpoint;
    case TEventKind::ProgramLoaded:
    case TEventKind::ProgramStarted:
    case TEventKind::ProgramPaused:
    case TEventKind::ProgramResumed:
    case TEventKind::ProgramStopped:
    case TEventKind::ProgramFinished:
    case TEventKind::ProgramStep:
      return TMarkClass::Program;
    case TEventKind::AlarmRaised:
    case TEventKind::AlarmAcknowledged:
    case TEventKind::AlarmCleared:
      return TMarkClass::Alarm;
    default:
      return TMarkClass::Other;
  }
}

QColor MarkColor(TMarkClass c) {
  switch (c) {
    case TMarkClass::Setpoint:
      return QColor(0, 140, 70);  // as the written setpoints' curve
    case TMarkClass::Program:
      return QColor(230, 120, 0);  // as the planned setpoints' curve
    case TMarkClass::Alarm:
      return QColor(220, 0, 0);
    case TMarkClass::Other:
      break;
  }
  return QColor(110, 110, 110);
}

QString EventTimeText(qint64 utcMs) {
  return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC)
      .toLocalTime()
      .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString EventSourceText(const QString& source) {
  if (source == source::kUser)
    return LoadStr(1245);
  if (source == source::kProgram)
    return LoadStr(1246);
  if (source == source::kMqtt)
    return LoadStr(1247);
  if (source == source::kSystem)
    return LoadStr(1248);
  const QString remote = source::Remote(QString());
  if (source.startsWith(remote))
    return LoadStr(1249).arg(source.mid(remote.size()));
  return source;
}

QString EventClipboardLine(const TEvent& e) {
  return EventTimeText(e.UtcMs) + QLatin1Char('\t') + EventSourceText(e.Source) +
         QLatin1Char('\t') + e.Text + QLatin1Char('\n');
}

namespace {

bool Before(const TEventMark& m, double time) {
  return m.Time < time;
}

}  // namespace

void TEventMarkList::Add(TMarkClass c, double time, QString text) {
  auto& marks = FMarks[std::size_t(c)];
  TEventMark mark{time, std::move(text)};
  if (marks.empty() || marks.back().Time <= time) {
    marks.push_back(std::move(mark));
    return;
  }
  const auto at = std::upper_bound(marks.begin(), marks.end(), time,
                                   [](double t, const TEventMark& m) { return t < m.Time; });
  marks.insert(at, std::move(mark));
}

void TEventMarkList::Clear() {
  for (auto& marks : FMarks)
    marks.clear();
}

std::size_t TEventMarkList::Count() const {
  std::size_t n = 0;
  for (const auto& marks : FMarks)
    n += marks.size();
  return n;
}

std::size_t TEventMarkList::FirstFrom(TMarkClass c, double time) const {
  const auto& marks = Marks(c);
  return std::size_t(std::lower_bound(marks.begin(), marks.end(), time, Before) - marks.begin());
}

std::pair<std::size_t, std::size_t> TEventMarkList::Within(TMarkClass c, double from,
                                                           double to) const {
  const auto& marks = Marks(c);
  const std::size_t first = FirstFrom(c, from);
  const auto last = std::upper_bound(marks.begin() + std::ptrdiff_t(first), marks.end(), to,
                                     [](double t, const TEventMark& m) { return t < m.Time; });
  return {first, std::size_t(last - marks.begin())};
}

QString TEventMarkList::TextsWithin(double from, double to, int lines) const {
  std::vector<const TEventMark*> found;
  for (std::size_t c = 0; c < kMarkClasses; ++c) {
    const auto [first, last] = Within(TMarkClass(c), from, to);
    for (std::size_t i = first; i < last; ++i)
      found.push_back(&FMarks[c][i]);
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const TEventMark* a, const TEventMark* b) { return a->Time < b->Time; });
  QStringList texts;
  for (const TEventMark* m : found) {
    if (texts.size() == lines) {
      texts << QStringLiteral("…");
      break;
    }
    texts << m->Text;
  }
  return texts.join(QLatin1Char('\n'));
}

}  // namespace calorix
