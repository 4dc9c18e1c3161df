#include "chart/ReadOut.h"

#include "base/Messages.h"

#include <QCoreApplication>

#include <cmath>

namespace calorix {

QString ReadOutText(double x, double y, const TFormatSettings& format) {
  return QStringLiteral("X = ") + FormatElapsed(x, format) + QStringLiteral(", Y = ") +
         FormatGeneral8(y, format);
}

QString CatchCaption(const QString& seriesName) {
  return seriesName.isEmpty() ? LoadStr(1008) : seriesName;
}

namespace {

// Texts marked with QT_TRANSLATE_NOOP("calorix", ...).
QString Tr(const char* text) {
  return QCoreApplication::translate("calorix", text);
}

struct TFigure {
  QString Name;
  QString Value;
};

std::vector<TFigure> Figures(const TRangeStats& s, const TFormatSettings& f) {
  const QString deg = QStringLiteral(" °C");
  return {
      {Tr(QT_TRANSLATE_NOOP("calorix", "Длительность")), FormatElapsed(s.Duration(), f)},
      {Tr(QT_TRANSLATE_NOOP("calorix", "Измерений")), QString::number(s.Count)},
      {Tr(QT_TRANSLATE_NOOP("calorix", "Изменение")),
       FormatGeneral8(s.LastValue - s.FirstValue, f) + deg},
      {Tr(QT_TRANSLATE_NOOP("calorix", "Скорость")),
       FormatGeneral8(s.Slope / 1440.0, f) + Tr(QT_TRANSLATE_NOOP("calorix", " °C/мин"))},
      {Tr(QT_TRANSLATE_NOOP("calorix", "Минимум")), FormatGeneral8(s.Min, f) + deg},
      {Tr(QT_TRANSLATE_NOOP("calorix", "Максимум")), FormatGeneral8(s.Max, f) + deg},
      {Tr(QT_TRANSLATE_NOOP("calorix", "Среднее")), FormatGeneral8(s.Mean, f) + deg},
      {Tr(QT_TRANSLATE_NOOP("calorix", "Стандартное отклонение")),
       FormatGeneral8(s.StdDev, f) + deg},
  };
}

}  // namespace

QString RangeStatsText(const TRangeStats& s, const TFormatSettings& f) {
  if (s.Count == 0)
    return Tr(QT_TRANSLATE_NOOP("calorix", "В участке нет измерений"));
  const std::vector<TFigure> v = Figures(s, f);
  QString text =
      Tr(QT_TRANSLATE_NOOP(
             "calorix",
             "Участок %1, %2 изм.: изменение %3, %4, мин. %5, макс. %6, среднее %7, ско %8"))
          .arg(v[0].Value, v[1].Value, v[2].Value, v[3].Value, v[4].Value, v[5].Value, v[6].Value,
               v[7].Value);
  if (s.Skipped > 0)
    text += Tr(QT_TRANSLATE_NOOP("calorix", " (пропущено: %1)")).arg(s.Skipped);
  return text;
}

QString RangeStatsTable(const TRangeStats& s, const TFormatSettings& f) {
  if (s.Count == 0)
    return Tr(QT_TRANSLATE_NOOP("calorix", "В участке нет измерений"));
  QString text;
  for (const TFigure& fig : Figures(s, f))
    text += fig.Name + QLatin1Char('\t') + fig.Value + QLatin1Char('\n');
  if (s.Skipped > 0)
    text += Tr(QT_TRANSLATE_NOOP("calorix", "Пропущено")) + QLatin1Char('\t') +
            QString::number(s.Skipped) + QLatin1Char('\n');
  return text;
}

QString TimeInBandText(std::optional<double> inside, const TFormatSettings& format) {
  return inside
             ? Tr(QT_TRANSLATE_NOOP("calorix", "В допуске: %1")).arg(FormatElapsed(*inside, format))
             : Tr(QT_TRANSLATE_NOOP("calorix", "Вне допуска"));
}

}  // namespace calorix
