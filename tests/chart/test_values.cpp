#include "chart/ValuesModel.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScrollBar>

#include <cmath>
#include <limits>

#include "tests/chart/Printers.h"

namespace calorix {
namespace {

constexpr double kSec = 1.0 / 86400.0;

TFormatSettings Format(char decimal) {
  TFormatSettings f;
  f.DecimalSeparator = QLatin1Char(decimal);
  return f;
}

TEST(ValuesModel, LinesInBothDecimalSeparators) {
  struct TCase {
    double Seconds, Value;
    const char* Dot;
    const char* Comma;
  };
  const TCase cases[] = {
      {5, 25, "0:00:05 25.00", "0:00:05 25,00"},
      {5.999, -3.5, "0:00:05 -3.50", "0:00:05 -3,50"},
      {3600 + 125, 24.374, "1:02:05 24.37", "1:02:05 24,37"},
      {25 * 3600, 0.005, "25:00:00 0.01", "25:00:00 0,01"},  // hours not folded at 24
      {1, std::numeric_limits<double>::quiet_NaN(), "0:00:01 NAN", "0:00:01 NAN"},
      {2, -std::numeric_limits<double>::infinity(), "0:00:02 -INF", "0:00:02 -INF"},
  };
  auto record = std::make_shared<TMeasurementRecord>();
  TValuesModel dot(record, Format('.'));
  TValuesModel comma(record, Format(','));
  for (const auto& c : cases) {
    record->Clear();
    record->Add(c.Seconds * kSec, c.Value);
    EXPECT_EQ(dot.LineText(0), QString::fromUtf8(c.Dot));
    EXPECT_EQ(comma.LineText(0), QString::fromUtf8(c.Comma));
    EXPECT_EQ(dot.data(dot.index(0)).toString(), QString::fromUtf8(c.Dot));
  }
}

TEST(ValuesModel, FollowsTheRecordRowByRow) {
  auto record = std::make_shared<TMeasurementRecord>();
  TValuesModel model(record, Format('.'));
  std::vector<std::pair<int, int>> inserted;
  int resets = 0;
  QObject::connect(
      &model, &QAbstractItemModel::rowsInserted,
      [&](const QModelIndex&, int first, int last) { inserted.emplace_back(first, last); });
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
  record->Add(1 * kSec, 1);
  record->Add(3 * kSec, 3);
  record->Add(2 * kSec, 2);  // a late sample goes to its place in time
  EXPECT_EQ(inserted, (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {1, 1}}));
  EXPECT_EQ(model.rowCount(), 3);
  EXPECT_EQ(model.Text(), "0:00:01 1.00\n0:00:02 2.00\n0:00:03 3.00");
  EXPECT_FALSE(model.data(model.index(3)).isValid());
  EXPECT_EQ(model.rowCount(model.index(0)), 0);
  EXPECT_FALSE(model.flags(model.index(0)) & Qt::ItemIsEditable);
  {
    TMeasurementRecord::TBulkUpdate bulk(*record);
    for (int i = 0; i < 1000; ++i)
      record->Add((10 + i) * kSec, i);
  }
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(inserted.size(), 3u);
  EXPECT_EQ(model.rowCount(), 1003);
  record->Clear();
  EXPECT_EQ(resets, 2);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.Text(), "");
}

TEST(ValuesModel, SelectedTextTakesRowsInOrderOnce) {
  auto record = std::make_shared<TMeasurementRecord>();
  for (int i = 0; i < 10; ++i)
    record->Add(i * kSec, i);
  TValuesModel model(record, Format(','));
  QItemSelection selection;
  selection.select(model.index(7), model.index(8));
  selection.select(model.index(1), model.index(2));
  selection.select(model.index(2), model.index(3));  // overlaps the one before
  EXPECT_EQ(model.SelectedText(selection),
            "0:00:01 1,00\n0:00:02 2,00\n0:00:03 3,00\n0:00:07 7,00\n0:00:08 8,00");
  EXPECT_EQ(model.SelectedText(QItemSelection()), "");
}

TEST(ValuesView, CtrlCCopiesTheSelectedLines) {
  auto record = std::make_shared<TMeasurementRecord>();
  for (int i = 0; i < 5; ++i)
    record->Add(i * kSec, 20 + i);
  TValuesModel model(record, Format('.'));
  TValuesView view;
  view.setModel(&model);
  view.selectionModel()->select(QItemSelection(model.index(3), model.index(4)),
                                QItemSelectionModel::Select);
  view.selectionModel()->select(model.index(1), QItemSelectionModel::Select);
  QApplication::clipboard()->clear();
  QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
  QApplication::sendEvent(&view, &copy);
  EXPECT_EQ(QApplication::clipboard()->text(), "0:00:01 21.00\n0:00:03 23.00\n0:00:04 24.00");
  EXPECT_EQ(view.font().pixelSize(), 13);
  EXPECT_TRUE(view.font().bold());
  EXPECT_EQ(view.editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST(ValuesView, KeepsToTheBottomOnlyWhenLeftThere) {
  auto record = std::make_shared<TMeasurementRecord>();
  for (int i = 0; i < 200; ++i)
    record->Add(i * kSec, i);
  TValuesModel model(record, Format('.'));
  TValuesView view;
  view.setModel(&model);
  view.resize(200, 120);
  view.show();
  QApplication::processEvents();
  QScrollBar* bar = view.verticalScrollBar();
  view.scrollToBottom();
  QApplication::processEvents();
  record->Add(200 * kSec, 0);
  QApplication::processEvents();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  bar->setValue(0);  // the user reads older lines
  record->Add(201 * kSec, 0);
  QApplication::processEvents();
  EXPECT_EQ(bar->value(), 0);
}

}  // namespace
}  // namespace calorix
