#pragma once
// The event log's marks on the chart: one item of the plot draws them all, a
// small bar at the top of the plot per event in view, coloured by its class,
// at most one per class every few pixels (the rest hide under it). The
// selected event gets a line across the plot.
#include "chart/EventLog.h"

#include <qcustomplot.h>

#include <optional>

namespace calorix {

class TEventMarks final : public QCPAbstractItem {
  Q_OBJECT

 public:
  static constexpr double kWidth = 3.0;   // pixels of a mark
  static constexpr double kHeight = 9.0;  // from the plot's top edge
  static constexpr double kHitTolerance = 4.0;

  TEventMarks(QCustomPlot* plot, QCPAxis* keyAxis);

  TEventMarkList& List() { return FList; }
  const TEventMarkList& List() const { return FList; }
  // The selected event's time, drawn as a line across the plot; none: no line.
  void SetHighlight(std::optional<double> time) { FHighlight = time; }
  std::optional<double> Highlight() const { return FHighlight; }
  // The texts of the marks under a widget pixel, one per line; empty when
  // there is none.
  QString TextAt(const QPointF& pixel) const;
  // How many marks the last drawing drew (benchmarks and tests look at it).
  int LastDrawn() const { return FLastDrawn; }

  double selectTest(const QPointF& pos, bool onlySelectable,
                    QVariant* details = nullptr) const override;

 protected:
  void draw(QCPPainter* painter) override;

 private:
  QCPAxis* FKeyAxis;
  TEventMarkList FList;
  std::optional<double> FHighlight;
  QVector<QRect> FRects;  // kept between drawings to reuse their memory
  int FLastDrawn = 0;
};

}  // namespace calorix
