#pragma once
// The event log as the window shows it: its texts (local time, who caused an
// event), the classes the chart colours its marks by, and the marks of the
// chart kept sorted by time so a drawing finds those in view by binary search.
// No QCustomPlot here.
#include "base/NumberFormat.h"
#include "chart/AxisRange.h"
#include "record/Events.h"

#include <QColor>
#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace calorix {

// In drawing order: a later class is drawn over an earlier one.
enum class TMarkClass { Other, Program, Setpoint, Alarm };
inline constexpr std::size_t kMarkClasses = 4;

TMarkClass MarkClassOf(TEventKind kind);
QColor MarkColor(TMarkClass c);

// "09.12.2026 23:31:05", the local time of a UTC time in milliseconds.
QString EventTimeText(qint64 utcMs);
// Who caused it, in the interface language ("пользователь", "удаленный
// клиент 127.0.0.1:5025"); a source not known here as it is.
QString EventSourceText(const QString& source);
// "time<TAB>source<TAB>text" of an event, the line ended.
QString EventClipboardLine(const TEvent& event);
// The lines of the events whose elapsed time lies in range (both ends
// included), in log order; empty when none does.
template <class TEvents>
QString RangeEventsText(const TEvents& events, TAxisRange range) {
  QString text;
  for (const TEvent& e : events) {
    if (e.Elapsed && *e.Elapsed >= range.Min && *e.Elapsed <= range.Max)
      text += EventClipboardLine(e);
  }
  return text;
}

struct TEventMark {
  double Time;  // elapsed, days
  QString Text;
};

// The chart's marks, one list per class, each sorted by time. Events come in
// time order, so adding one is a push at the end; an earlier one is inserted.
class TEventMarkList {
 public:
  void Add(TMarkClass c, double time, QString text);
  void Clear();
  std::size_t Count() const;
  const std::vector<TEventMark>& Marks(TMarkClass c) const { return FMarks[std::size_t(c)]; }
  // The index range [first, last) of a class's marks with from <= time <= to.
  std::pair<std::size_t, std::size_t> Within(TMarkClass c, double from, double to) const;
  // The index of the first mark of a class at or after time.
  std::size_t FirstFrom(TMarkClass c, double time) const;
  // The texts of every mark with from <= time <= to, by time, one per line; at
  // most `lines` of them, then "…".
  QString TextsWithin(double from, double to, int lines = 10) const;

 private:
  std::array<std::vector<TEventMark>, kMarkClasses> FMarks;
};

}  // namespace calorix
