#include "chart/Chart.h"
#include "chart/VerticalScale.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QMouseEvent>
#include <QRegularExpression>

#include <cmath>
#include <limits>

#include "tests/chart/Printers.h"

namespace calorix {
namespace {

constexpr double kSec = 1.0 / 86400.0;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct TChartFixture : testing::Test {
  TChartFixture() : Chart(TFormatSettings{}) {
    Series = Chart.CreateSeries(Record);
    Chart.resize(1000, 600);
  }
  void Render() { (void)Chart.toPixmap(1000, 600); }

  std::shared_ptr<TMeasurementRecord> Record = std::make_shared<TMeasurementRecord>();
  TChart Chart;
  TFastLineSeries* Series = nullptr;
};

TEST_F(TChartFixture, SeriesAndAxesAreSetUp) {
  ASSERT_EQ(Chart.SeriesCount(), 1);
  EXPECT_EQ(Chart.SeriesName(0), "Temp");
  EXPECT_EQ(Series->pen().color(), QColor(0, 0, 255));
  EXPECT_EQ(Series->pen().widthF(), 2.0);
  EXPECT_FALSE(Series->pen().isCosmetic());
  EXPECT_EQ(Series->keyAxis(), Chart.xAxis);
  EXPECT_EQ(Series->valueAxis(), Chart.yAxis2);
  EXPECT_FALSE(Chart.yAxis->visible());
  EXPECT_TRUE(Chart.yAxis2->visible());
  EXPECT_FALSE(Chart.legend->visible());
  EXPECT_EQ(Chart.Series(1), nullptr);
  EXPECT_EQ(Chart.SeriesName(-1), "");
}

TEST_F(TChartFixture, RecordLengthIsTheLargestTime) {
  EXPECT_EQ(Chart.RecordLength(), 0.0);
  Record->Add(5 * kSec, 1);
  Record->Add(3 * kSec, 1);
  EXPECT_EQ(Chart.RecordLength(), 5 * kSec);
}

TEST_F(TChartFixture, SetRangesOrderWidenAndRefuseNonFinite) {
  Chart.SetBottomRange({0, 0.1 * kSec});
  EXPECT_NEAR(Chart.BottomRange().Size(), kSec, 1e-15);
  EXPECT_NEAR(Chart.BottomRange().Min + Chart.BottomRange().Max, 0.1 * kSec, 1e-15);
  Chart.SetRightRange({4, -4});
  EXPECT_EQ(Chart.RightRange(), (TAxisRange{-4, 4}));
  Chart.SetRightRange(ScaleRange(1, 11));  // the finest trackbar step is kept
  EXPECT_DOUBLE_EQ(Chart.RightRange().Max, 1e-8);
  Chart.SetRightRange({5, 5});
  EXPECT_GT(Chart.RightRange().Size(), 0.0);
  Chart.SetRightRange({-4, 4});
  Chart.SetRightRange({kNaN, 1});
  Chart.SetRightRange({-kInf, kInf});
  EXPECT_EQ(Chart.RightRange(), (TAxisRange{-4, 4}));
}

TEST_F(TChartFixture, AutomaticRangesFollowTheDataAndSkipNaNAndInfinities) {
  Record->Add(0, 20);
  Record->Add(60 * kSec, kNaN);
  Record->Add(120 * kSec, kInf);
  Record->Add(180 * kSec, 30);
  Chart.SetBottomAutomatic(true);
  Chart.SetRightAutomatic(true);
  EXPECT_TRUE(Chart.BottomAutomatic());
  EXPECT_EQ(Chart.BottomRange(), (TAxisRange{0, 180 * kSec}));
  EXPECT_EQ(Chart.RightRange(), (TAxisRange{20, 30}));
  Record->Add(240 * kSec, -kInf);
  Record->Add(300 * kSec, 10);
  Chart.replot();
  EXPECT_DOUBLE_EQ(Chart.xAxis->range().upper, 300 * kSec);
  EXPECT_EQ(Chart.yAxis2->range().lower, 10);
  // Setting a range switches automatic off.
  Chart.SetBottomRange({0, 1});
  Chart.SetRightRange({0, 1});
  EXPECT_FALSE(Chart.BottomAutomatic());
  EXPECT_FALSE(Chart.RightAutomatic());
}

TEST_F(TChartFixture, ScrollWithAndWithoutLimitCheck) {
  Chart.SetBottomRange({0, 10 * kSec});
  Chart.ScrollBottom(5 * kSec, true);  // no data: stays
  EXPECT_EQ(Chart.BottomRange().Min, 0);
  Record->Add(0, 1);
  Record->Add(12 * kSec, 1);
  Chart.ScrollBottom(5 * kSec, true);
  EXPECT_DOUBLE_EQ(Chart.BottomRange().Max, 15 * kSec);
  Chart.ScrollBottom(5 * kSec, true);  // the newest sample is inside now
  EXPECT_DOUBLE_EQ(Chart.BottomRange().Max, 15 * kSec);
  Chart.ScrollBottom(-5 * kSec, true);  // the oldest sample lies before the start
  EXPECT_DOUBLE_EQ(Chart.BottomRange().Max, 10 * kSec);
  Chart.SetBottomAutomatic(true);
  Chart.ScrollBottom(0, false);  // always: switches automatic off
  EXPECT_FALSE(Chart.BottomAutomatic());
  Chart.ScrollBottom(100 * kSec, false);
  EXPECT_DOUBLE_EQ(Chart.BottomRange().Max, 112 * kSec);
  Chart.ScrollBottom(kNaN, false);
  EXPECT_DOUBLE_EQ(Chart.BottomRange().Max, 112 * kSec);
}

TEST_F(TChartFixture, AxisLabelsShowElapsedTimeAndGroupedValues) {
  Chart.SetBottomRange({0, 26.0 / 24});
  Chart.SetRightRange({-2000, 2000});
  Render();
  const QStringList times = Chart.xAxis->tickVectorLabels().toList();
  ASSERT_FALSE(times.isEmpty());
  const QRegularExpression elapsed(QStringLiteral("^-?\\d+:\\d\\d:\\d\\d$"));
  for (const QString& t : times)
    EXPECT_TRUE(elapsed.match(t).hasMatch()) << t.toStdString();
  EXPECT_TRUE(times.contains("24:00:00")) << times.join(' ').toStdString();
  const QStringList values = Chart.yAxis2->tickVectorLabels().toList();
  EXPECT_TRUE(values.contains("1,000") || values.contains("2,000"))
      << values.join(' ').toStdString();
  // Tick labels never get finer than 0.0001 nor finer than one second.
  Chart.SetRightRange({0, 0.00004});
  Chart.SetBottomRange({0, 0.5 * kSec});
  Render();
  EXPECT_LE(Chart.yAxis2->tickVector().size(), 1);
  EXPECT_LE(Chart.xAxis->tickVector().size(), 2);
}

TEST_F(TChartFixture, DrawsBlueLineAndSurvivesGapsAndInfinities) {
  const double values[] = {0, 10, kNaN, 1e300, -kInf, kInf, 5, -1e308, 0};
  for (int i = 0; i < 9; ++i)
    Record->Add(i * 10 * kSec, values[i]);
  Chart.SetBottomRange({0, 80 * kSec});
  Chart.SetRightRange({-20, 20});
  const QImage image = Chart.toPixmap(1000, 600).toImage();
  int blue = 0;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2)
      blue += image.pixelColor(x, y) == QColor(0, 0, 255);
  EXPECT_GT(blue, 50);
  Chart.SetRightAutomatic(true);
  Chart.SetBottomAutomatic(true);
  Render();
}

TEST_F(TChartFixture, ThinnedCurveKeepsTheLinesThicknessAndItsSpikes) {
  // 100 per pixel column, all at 0 but one spike to 10.
  for (int i = 0; i < 100'000; ++i)
    Record->Add(i * kSec, i == 50'000 ? 10 : 0);
  Chart.SetBottomRange({0, 100'000 * kSec});
  Chart.SetRightRange({-20, 20});
  const QImage image = Chart.toPixmap(1000, 600).toImage();
  ASSERT_TRUE(Series->LastPath().Dense);
  const QRect plot = Chart.axisRect()->rect();
  int twoPixels = 0, tallest = 0;
  for (int x = plot.left() + 2; x < plot.right() - 2; ++x) {
    int blue = 0;
    for (int y = plot.top(); y <= plot.bottom(); ++y)
      blue += image.pixelColor(x, y) == QColor(0, 0, 255);
    twoPixels += blue == 2;  // the pen is 2 px
    tallest = std::max(tallest, blue);
  }
  EXPECT_GE(twoPixels, plot.width() - 10);
  const double spike = Chart.yAxis2->coordToPixel(0) - Chart.yAxis2->coordToPixel(10);
  EXPECT_GE(tallest, int(spike));
}

TEST_F(TChartFixture, ClickOnTheCurveReportsSampleAndButton) {
  for (int i = 0; i < 10; ++i)
    Record->Add(i * 60 * kSec, 10.0 * (i % 3));
  Chart.SetBottomRange({-60 * kSec, 600 * kSec});
  Chart.SetRightRange({-10, 30});
  Chart.show();
  Chart.replot();
  QApplication::processEvents();
  const QPointF at(Chart.xAxis->coordToPixel(4 * 60 * kSec) + 1,
                   Chart.yAxis2->coordToPixel(10.0) - 1);
  ASSERT_TRUE(Chart.PointAt(at));
  EXPECT_EQ(Chart.PointAt(at)->Index, 4u);
  EXPECT_FALSE(Chart.PointAt(at + QPointF(0, 40)));
  std::vector<std::pair<std::size_t, Qt::MouseButton>> clicks;
  QObject::connect(&Chart, &TChart::SeriesClick,
                   [&](int series, std::size_t index, Qt::MouseButton b) {
                     EXPECT_EQ(series, 0);
                     clicks.emplace_back(index, b);
                   });
  for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton}) {
    QMouseEvent press(QEvent::MouseButtonPress, at, Chart.mapToGlobal(at), b, b, Qt::NoModifier);
    QApplication::sendEvent(&Chart, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, Chart.mapToGlobal(at), b, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&Chart, &release);
  }
  EXPECT_EQ(clicks, (std::vector<std::pair<std::size_t, Qt::MouseButton>>{{4, Qt::LeftButton},
                                                                          {4, Qt::RightButton}}));
  QMouseEvent move(QEvent::MouseMove, at, Chart.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&Chart, &move);
  EXPECT_EQ(Chart.cursor().shape(), Qt::PointingHandCursor);
}

}  // namespace
}  // namespace calorix
