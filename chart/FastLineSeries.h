#pragma once
// The measurement series on the chart: one line through the samples of a
// record, drawn with a few vertices per pixel column however long it is.
#include "chart/LinePath.h"
#include "record/Record.h"

#include <qcustomplot.h>

#include <memory>
#include <optional>

namespace calorix {

class TFastLineSeries final : public QCPAbstractPlottable {
  Q_OBJECT

 public:
  // Pixels around the curve that still count as a hit.
  static constexpr double kHitTolerance = 4.0;

  TFastLineSeries(QCPAxis* keyAxis, QCPAxis* valueAxis,
                  std::shared_ptr<const TMeasurementRecord> record);

  const TMeasurementRecord& Record() const { return *FRecord; }
  // The pixel mapping of the current axes and axis rect.
  TCurveView View() const;
  // The sample under a widget pixel, if the curve passes within tolerance.
  std::optional<std::size_t> PointNear(const QPointF& pixel,
                                       double tolerance = kHitTolerance) const;
  // Vertices of the last drawing (benchmarks and tests look at them).
  const TLinePath& LastPath() const { return FPath; }

  double selectTest(const QPointF& pos, bool onlySelectable,
                    QVariant* details = nullptr) const override;
  QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
  QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                         const QCPRange& inKeyRange = QCPRange()) const override;

 protected:
  void draw(QCPPainter* painter) override;
  void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

 private:
  // A thinned curve on screen: bands of whole pixels.
  void DrawBands(QCPPainter* painter);

 private:
  std::shared_ptr<const TMeasurementRecord> FRecord;
  // Kept between drawings to reuse their memory.
  TLinePath FPath;
  TPixelBands FBands;
  QVector<QLineF> FLines;
  QVector<QPointF> FDots;
  QVector<QPoint> FOutline;
  QVector<QRect> FRects;
};

}  // namespace calorix
