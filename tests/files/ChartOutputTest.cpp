#include "files/ChartOutput.h"

#include <gtest/gtest.h>
#include <qcustomplot.h>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>

namespace calorix {
namespace {

TEST(PrintMargins, LandscapeChartTakes70PercentOfWidthCentred) {
  // A4 landscape at 96 and at 1200 dpi, and Letter at 300 dpi.
  const QSize pages[] = {{1123, 794}, {14031, 9921}, {3300, 2550}};
  for (const QSize page : pages) {
    const TPrintMargins m = ComputePrintMargins(698, 494, page.width(), page.height(), 1.0);
    EXPECT_EQ(m.Left, 15);
    EXPECT_EQ(m.Right, 15);
    EXPECT_EQ(m.Top, m.Bottom);
    const QRect r = PrintRectangle(m, page.width(), page.height());
    EXPECT_NEAR(r.width(), 0.7 * page.width(), 1.0);
    EXPECT_NEAR(r.top(), page.height() - r.bottom() - 1, 1.0);  // centred vertically
    // Whole-percent margins: proportions within one percent of the page.
    EXPECT_NEAR(double(r.height()) / r.width(), 494.0 / 698.0, 0.02);
  }
  // (794 - 0.7 * 1123 * 494 / 698) * 100 / 794 = 29.93: N = 30.
  EXPECT_EQ(ComputePrintMargins(698, 494, 1123, 794, 1.0), (TPrintMargins{15, 15, 15, 15}));
}

TEST(PrintMargins, PortraitChartTakes70PercentOfHeight) {
  for (const QSize chart : {QSize(400, 600), QSize(500, 500)}) {
    const TPrintMargins m = ComputePrintMargins(chart.width(), chart.height(), 1123, 794, 1.0);
    EXPECT_EQ(m.Top, 15);
    EXPECT_EQ(m.Bottom, 15);
    EXPECT_EQ(m.Left, m.Right);
    const QRect r = PrintRectangle(m, 1123, 794);
    EXPECT_NEAR(r.height(), 0.7 * 794, 1.0);
    EXPECT_NEAR(double(r.width()) / r.height(), double(chart.width()) / chart.height(), 0.03);
  }
}

// With unequal resolutions the proportions hold in inches, not in pixels.
TEST(PrintMargins, UnequalResolutionKeepsProportionsOnPaper) {
  struct TCase {
    QSize Chart;
    int DpiX, DpiY;
  };
  const TCase cases[] = {{{698, 494}, 600, 300},
                         {{698, 494}, 300, 600},
                         {{400, 600}, 600, 300},
                         {{400, 600}, 300, 600}};
  for (const TCase& c : cases) {
    const int pw = 11 * c.DpiX, ph = int(8.5 * c.DpiY);
    const TPrintMargins m =
        ComputePrintMargins(c.Chart.width(), c.Chart.height(), pw, ph, double(c.DpiX) / c.DpiY);
    const QRect r = PrintRectangle(m, pw, ph);
    const double inchesW = double(r.width()) / c.DpiX, inchesH = double(r.height()) / c.DpiY;
    EXPECT_NEAR(inchesH / inchesW, double(c.Chart.height()) / c.Chart.width(), 0.03)
        << c.DpiX << "x" << c.DpiY;
  }
}

TEST(PrintMargins, NeverNegativeAndSurvivesZeroSizes) {
  const TPrintMargins wide = ComputePrintMargins(1000, 999, 1650, 850, 1.0);  // legal page
  EXPECT_GE(wide.Top, 0);
  const TPrintMargins zero = ComputePrintMargins(0, 0, 0, 0, 0.0);
  EXPECT_GE(zero.Left, 0);
  EXPECT_GE(zero.Top, 0);
  EXPECT_GT(PrintRectangle(zero, 0, 0).width(), 0);
}

// A chart with axes, a zero-width pen and a few points, at the given size.
class ChartOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    chart_.resize(698, 494);
    QCPGraph* graph = chart_.addGraph();
    graph->setPen(QPen(Qt::blue, 0));
    for (int i = 0; i < 50; ++i)
      graph->addData(i, std::sin(i / 5.0));
    chart_.rescaleAxes();
    chart_.show();
    chart_.replot();
  }
  QCustomPlot chart_;
};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(ChartOutput, PrintsOneLandscapePageAndRestoresPrinter) {
  QTemporaryDir dir;
  const QString pdf = dir.filePath("chart.pdf");
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf);
  printer.setPageOrientation(QPageLayout::Portrait);
  const int resolution = printer.resolution();

  EXPECT_EQ(PrintChart(chart_, printer), QString());
  EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Portrait);
  EXPECT_EQ(printer.resolution(), resolution);
  EXPECT_EQ(printer.docName(), QString("Chart"));
  EXPECT_EQ(chart_.viewport().size(), QSize(698, 494));

  const QByteArray bytes = ReadAll(pdf);
  ASSERT_TRUE(bytes.startsWith("%PDF"));
  EXPECT_EQ(QString::fromLatin1(bytes).count(QRegularExpression("/Type\\s*/Page[^s]")), 1);
  const QRegularExpressionMatch box =
      QRegularExpression("/MediaBox\\s*\\[\\s*0\\s+0\\s+([\\d.]+)\\s+([\\d.]+)")
          .match(QString::fromLatin1(bytes));
  ASSERT_TRUE(box.hasMatch());
  EXPECT_GT(box.captured(1).toDouble(), box.captured(2).toDouble()) << "not landscape";
}

TEST_F(ChartOutput, PrintsAnEmptyChart) {
  QCustomPlot empty;
  empty.resize(300, 200);
  QTemporaryDir dir;
  QPrinter printer;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath("empty.pdf"));
  EXPECT_EQ(PrintChart(empty, printer), QString());
  EXPECT_TRUE(ReadAll(dir.filePath("empty.pdf")).startsWith("%PDF"));
}

TEST_F(ChartOutput, FailedPrintRestoresOrientation) {
  QPrinter printer;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName("/nonexistent-folder/chart.pdf");
  printer.setPageOrientation(QPageLayout::Portrait);
  EXPECT_FALSE(PrintChart(chart_, printer).isEmpty());
  EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Portrait);
}

TEST_F(ChartOutput, CopiesSvgAndImageOfScreenSize) {
  QGuiApplication::clipboard()->clear();
  EXPECT_EQ(CopyChartToClipboard(chart_), QString());
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  ASSERT_TRUE(mime->hasFormat("image/svg+xml"));
  const QString svg = QString::fromUtf8(mime->data("image/svg+xml"));
  EXPECT_TRUE(svg.contains("<svg"));
  EXPECT_TRUE(svg.contains("viewBox=\"0 0 698 494\"")) << svg.left(600).toStdString();
  // Zero-width pens are drawn with a real width, not as hairlines.
  EXPECT_FALSE(svg.contains("non-scaling-stroke"));
  ASSERT_TRUE(mime->hasImage());
  EXPECT_EQ(qvariant_cast<QImage>(mime->imageData()).size(), QSize(698, 494));
}

TEST_F(ChartOutput, CopiesAtLeastOnePixel) {
  QCustomPlot tiny;
  tiny.resize(0, 0);
  EXPECT_EQ(CopyChartToClipboard(tiny), QString());
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  EXPECT_TRUE(mime->hasFormat("image/svg+xml"));
  EXPECT_FALSE(qvariant_cast<QImage>(mime->imageData()).isNull());
}

}  // namespace
}  // namespace calorix
