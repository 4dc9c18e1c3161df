#include "files/ChartOutput.h"

#include <qcustomplot.h>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPrinter>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <memory>

namespace calorix {
namespace {

// Nearest integer, halves to even, clamped to a margin pair that fits the page.
int MarginPair(double percent) {
  const double n = std::nearbyint(percent);
  return int(std::clamp(n, 0.0, 100.0));
}

// Zero-width (cosmetic) pens get a width of 1 that scales with the chart:
// hairlines would nearly vanish on a high-resolution printer.
void PrepareVectorPainter(QCPPainter& painter) {
  painter.setMode(QCPPainter::pmVectorized);
  painter.setMode(QCPPainter::pmNoCaching);
  painter.setMode(QCPPainter::pmNonCosmetic);
}

}  // namespace

TPrintMargins ComputePrintMargins(int chartW, int chartH, int pageW, int pageH, double c) {
  const double w = std::max(chartW, 1), h = std::max(chartH, 1);
  const double pw = std::max(pageW, 1), ph = std::max(pageH, 1);
  if (!(c > 0.0) || !std::isfinite(c))
    c = 1.0;
  TPrintMargins m;
  if (h < w) {
    // The chart's height in vertical device pixels: its width is 0.7 PW
    // horizontal pixels, and a horizontal pixel is 1/c of a vertical one.
    const int n = MarginPair((ph - 0.7 * pw * (h / w) / c) * 100.0 / ph);
    m.Left = m.Right = 15;
    m.Top = m.Bottom = n / 2;
  } else {
    const int n = MarginPair((pw - 0.7 * ph * (w / h) * c) * 100.0 / pw);
    m.Top = m.Bottom = 15;
    m.Left = m.Right = n / 2;
  }
  return m;
}

QRect PrintRectangle(const TPrintMargins& m, int pageW, int pageH) {
  const int left = int(std::lround(pageW * m.Left / 100.0));
  const int right = int(std::lround(pageW * m.Right / 100.0));
  const int top = int(std::lround(pageH * m.Top / 100.0));
  const int bottom = int(std::lround(pageH * m.Bottom / 100.0));
  return QRect(left, top, std::max(pageW - left - right, 1), std::max(pageH - top - bottom, 1));
}

QString PrintChart(QCustomPlot& chart, QPrinter& printer) {
  const QPageLayout::Orientation oldOrientation = printer.pageLayout().orientation();
  const int oldResolution = printer.resolution();
  printer.setPageOrientation(QPageLayout::Landscape);
  // Point sizes resolve at the device's resolution: at the chart's own the
  // fonts keep their size relative to the chart when it is scaled to the page.
  const int screenDpi = std::max(chart.logicalDpiY(), 1);
  printer.setResolution(screenDpi);

  const int w = std::max(chart.width(), 1), h = std::max(chart.height(), 1);
  const int pw = printer.width(), ph = printer.height();
  const double c = double(std::max(printer.logicalDpiX(), 1)) / std::max(printer.logicalDpiY(), 1);
  const QRect rect = PrintRectangle(ComputePrintMargins(w, h, pw, ph, c), pw, ph);
  printer.setDocName(QStringLiteral("Chart"));

  QString error;
  QCPPainter painter;
  if (!painter.begin(&printer)) {
    error = QStringLiteral("Cannot start printing on \"%1\".").arg(printer.printerName());
  } else {
    PrepareVectorPainter(painter);
    painter.translate(rect.topLeft());
    painter.scale(double(rect.width()) / w, double(rect.height()) / h);
    chart.toPainter(&painter, w, h);
    if (printer.printerState() == QPrinter::Error) {
      error = QStringLiteral("Printing on \"%1\" failed.").arg(printer.printerName());
      printer.abort();
      if (painter.isActive())
        painter.end();
    } else if (!painter.end()) {
      error = QStringLiteral("Printing on \"%1\" failed.").arg(printer.printerName());
    }
  }
  printer.setResolution(oldResolution);
  printer.setPageOrientation(oldOrientation);
  chart.replot();
  return error;
}

QString CopyChartToClipboard(QCustomPlot& chart, const QString& text) {
  const int w = std::max(chart.width(), 1), h = std::max(chart.height(), 1);
  QByteArray svg;
  {
    QBuffer buffer(&svg);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(QSize(w, h));
    generator.setViewBox(QRect(0, 0, w, h));
    // Without it the picture is sized at 72 dpi.
    generator.setResolution(std::max(chart.logicalDpiX(), 1));
    generator.setTitle(QStringLiteral("Chart"));
    QCPPainter painter;
    if (!painter.begin(&generator))
      return QStringLiteral("Cannot draw the chart for the clipboard.");
    PrepareVectorPainter(painter);
    chart.toPainter(&painter, w, h);
    painter.end();
  }
  const QImage image = chart.toPixmap(w, h).toImage();
  chart.replot();

  auto mime = std::make_unique<QMimeData>();
  mime->setData(QStringLiteral("image/svg+xml"), svg);
  mime->setImageData(image);
  if (!text.isEmpty())
    mime->setText(text);  // figures beside the picture
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr)
    return QStringLiteral("Cannot open clipboard: no clipboard");
  clipboard->setMimeData(mime.release());  // the clipboard owns it now
  return {};
}

}  // namespace calorix
