#pragma once
// The chart handed to the outside world: one landscape page on a printer, or
// an SVG plus a bitmap on the clipboard.
#include <QRect>
#include <QString>

class QCustomPlot;
class QPrinter;

namespace calorix {

// Print margins in percent of the page: left, top, right, bottom.
struct TPrintMargins {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TPrintMargins&) const = default;
};

// Margins that keep the chart's on-screen proportions (W x H pixels) on a page
// of PW x PH device pixels whose horizontal resolution is `c` times its
// vertical one: 70 % of the page width when H < W, else of its height, the
// other pair centring the chart. Margins never go below 0.
TPrintMargins ComputePrintMargins(int chartW, int chartH, int pageW, int pageH, double c);

// The page less the margins, in device pixels.
QRect PrintRectangle(const TPrintMargins& margins, int pageW, int pageH);

// Prints the chart as it is drawn now on one landscape page titled "Chart".
// The printer's orientation and resolution are restored afterwards, also after
// a failure. Returns an empty string or the error text.
QString PrintChart(QCustomPlot& chart, QPrinter& printer);

// Puts the chart at its on-screen size on the clipboard as "image/svg+xml" and
// as an image, and a non-empty `text` as plain text beside them. Returns an
// empty string or the error text.
QString CopyChartToClipboard(QCustomPlot& chart, const QString& text = {});

}  // namespace calorix
