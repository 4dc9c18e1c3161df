#include "chart/ValuesModel.h"

#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <limits>

#include "tests/chart/Printers.h"

namespace calorix {

void PrintTo(const TRowRange& r, std::ostream* os) {
  *os << r.First << ".." << r.Last;
}

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
  // Out of order, overlapping, and reaching past the last row.
  EXPECT_EQ(model.SelectedText({{7, 8}, {1, 2}, {2, 3}, {9, 40}}),
            "0:00:01 1,00\n0:00:02 2,00\n0:00:03 3,00\n0:00:07 7,00\n0:00:08 8,00\n0:00:09 9,00");
  EXPECT_EQ(model.SelectedText({}), "");
}

// Extended selection, gesture by gesture: the rows selected after each.
TEST(RowSelection, ExtendedSelectionRules) {
  enum TOp { Pick, Toggle, Extend, ExtendKeep, Move, All, Insert };
  struct TStep {
    TOp Op;
    int Row;
    std::vector<TRowRange> Selected;
  };
  struct TCase {
    const char* Name;
    std::vector<TStep> Steps;
  };
  const TCase cases[] = {
      {"a click picks one row", {{Pick, 4, {{4, 4}}}, {Pick, 2, {{2, 2}}}}},
      {"shift spans from the anchor, either way",
       {{Pick, 4, {{4, 4}}}, {Extend, 7, {{4, 7}}}, {Extend, 1, {{1, 4}}}}},
      {"ctrl toggles, keeping the others",
       {{Pick, 2, {{2, 2}}},
        {Toggle, 5, {{2, 2}, {5, 5}}},
        {Toggle, 2, {{5, 5}}},
        {Toggle, 6, {{5, 6}}}}},
      {"ctrl toggles a row out of a span",
       {{Pick, 1, {{1, 1}}}, {Extend, 5, {{1, 5}}}, {Toggle, 3, {{1, 2}, {4, 5}}}}},
      {"shift alone drops the rows picked with ctrl",
       {{Pick, 1, {{1, 1}}}, {Toggle, 5, {{1, 1}, {5, 5}}}, {Extend, 7, {{5, 7}}}}},
      {"ctrl+shift adds a span, its end moves",
       {{Pick, 1, {{1, 1}}},
        {Toggle, 5, {{1, 1}, {5, 5}}},
        {ExtendKeep, 8, {{1, 1}, {5, 8}}},
        {ExtendKeep, 6, {{1, 1}, {5, 6}}}}},
      {"ctrl+key moves the anchor only",
       {{Pick, 1, {{1, 1}}}, {Move, 4, {{1, 1}}}, {ExtendKeep, 5, {{1, 1}, {4, 5}}}}},
      {"select all", {{Pick, 3, {{3, 3}}}, {All, 10, {{0, 9}}}, {Toggle, 0, {{1, 9}}}}},
      {"a row inserted above moves the selection down",
       {{Pick, 2, {{2, 2}}},
        {Extend, 4, {{2, 4}}},
        {Insert, 3, {{2, 5}}},
        {Insert, 0, {{3, 6}}},
        {Insert, 9, {{3, 6}}},
        {Extend, 8, {{3, 8}}}}},
  };
  for (const TCase& c : cases) {
    TRowSelection s;
    for (std::size_t i = 0; i < c.Steps.size(); ++i) {
      const TStep& step = c.Steps[i];
      switch (step.Op) {
        case Pick:
          s.Pick(step.Row);
          break;
        case Toggle:
          s.Toggle(step.Row);
          break;
        case Extend:
          s.Extend(step.Row, false);
          break;
        case ExtendKeep:
          s.Extend(step.Row, true);
          break;
        case Move:
          s.MoveCurrent(step.Row);
          break;
        case All:
          s.SelectAll(step.Row);
          break;
        case Insert:
          s.RowsInserted(step.Row, 1);
          break;
      }
      EXPECT_EQ(s.Ranges(), step.Selected) << c.Name << ", step " << i;
      for (int row = 0; row < 12; ++row) {
        const bool in = std::any_of(step.Selected.begin(), step.Selected.end(),
                                    [&](auto r) { return r.First <= row && row <= r.Last; });
        EXPECT_EQ(s.Contains(row), in) << c.Name << ", step " << i << ", row " << row;
      }
    }
  }
}

// A list of n lines "0:00:0i <20 + i>", shown 200 x 120 px.
struct TShownList {
  explicit TShownList(int n) : Model(Record, Format('.')) {
    for (int i = 0; i < n; ++i)
      Record->Add(i * kSec, 20 + i);
    View.setModel(&Model);
    View.resize(200, 120);
    View.show();
    QApplication::processEvents();
  }
  int PageRows() const { return View.viewport()->height() / View.RowHeight(); }
  void Click(int row, Qt::KeyboardModifiers mods) {
    const QPointF at(10, (row - View.TopRow()) * View.RowHeight() + View.RowHeight() / 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, View.viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, mods);
    QApplication::sendEvent(View.viewport(), &press);
  }
  void Key(int key, Qt::KeyboardModifiers mods) {
    QKeyEvent event(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(&View, &event);
  }
  std::shared_ptr<TMeasurementRecord> Record = std::make_shared<TMeasurementRecord>();
  TValuesModel Model;
  TValuesView View;
};

TEST(ValuesView, ClicksAndKeysSelectWhatCtrlCCopies) {
  constexpr auto kCtrl = Qt::ControlModifier;
  constexpr auto kShift = Qt::ShiftModifier;
  constexpr int kPage = -1;  // stands for the rows wholly in view
  struct TInput {
    bool Click;
    int RowOrKey;
    Qt::KeyboardModifiers Mods = {};
  };
  struct TCase {
    const char* Name;
    std::vector<TInput> Inputs;
    std::vector<TRowRange> Selected;
  };
  const TCase cases[] = {
      {"click, ctrl+click, ctrl+shift+click",
       {{true, 1}, {true, 3, kCtrl}, {true, 4, kCtrl | kShift}},
       {{1, 1}, {3, 4}}},
      {"click, shift+click upwards", {{true, 5}, {true, 2, kShift}}, {{2, 5}}},
      {"ctrl+click twice takes the row out",
       {{true, 1}, {true, 2, kCtrl}, {true, 2, kCtrl}},
       {{1, 1}}},
      {"shift+arrows",
       {{true, 2}, {false, Qt::Key_Down, kShift}, {false, Qt::Key_Down, kShift}},
       {{2, 4}}},
      {"arrows move one row",
       {{true, 2}, {false, Qt::Key_Down}, {false, Qt::Key_Up}, {false, Qt::Key_Up}},
       {{1, 1}}},
      {"page down", {{true, 0}, {false, Qt::Key_PageDown}}, {{kPage, kPage}}},
      {"ctrl+end, shift+home",
       {{true, 3}, {false, Qt::Key_End, kCtrl}, {false, Qt::Key_Home, kShift}},
       {{0, 49}}},
      {"ctrl+a", {{true, 3}, {false, Qt::Key_A, kCtrl}}, {{0, 49}}},
  };
  for (const TCase& c : cases) {
    TShownList list(50);
    for (const TInput& in : c.Inputs)
      in.Click ? list.Click(in.RowOrKey, in.Mods) : list.Key(in.RowOrKey, in.Mods);
    std::vector<TRowRange> expected = c.Selected;
    for (TRowRange& r : expected)
      r = {r.First == kPage ? list.PageRows() : r.First,
           r.Last == kPage ? list.PageRows() : r.Last};
    EXPECT_EQ(list.View.Selection().Ranges(), expected) << c.Name;
    const int current = list.View.Selection().Current();
    EXPECT_TRUE(current >= list.View.TopRow() && current < list.View.TopRow() + list.PageRows())
        << c.Name << ": the current row stays in view";
  }

  TShownList list(5);
  list.Click(1, {});
  list.Click(3, kCtrl);
  list.Click(4, kCtrl | kShift);
  list.Click(3, kCtrl | kShift);  // row 3 reached twice
  list.Click(4, kCtrl | kShift);
  QApplication::clipboard()->clear();
  list.Key(Qt::Key_C, kCtrl);
  EXPECT_EQ(QApplication::clipboard()->text(), "0:00:01 21.00\n0:00:03 23.00\n0:00:04 24.00");
  EXPECT_EQ(list.View.font().pixelSize(), 13);
  EXPECT_TRUE(list.View.font().bold());
  // Selected rows are painted highlighted, the others on the base colour.
  const QImage shot = list.View.viewport()->grab().toImage();
  const auto pixel = [&](int row) {
    return shot.pixelColor(shot.width() - 3, row * list.View.RowHeight() + 1);
  };
  EXPECT_EQ(pixel(0), list.View.palette().color(QPalette::Inactive, QPalette::Base));
  EXPECT_EQ(pixel(3), list.View.palette().color(QPalette::Inactive, QPalette::Highlight));
  EXPECT_EQ(pixel(1), pixel(3));
  EXPECT_EQ(pixel(2), pixel(0));
  // Assistive technology reads a table, a cell per line.
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&list.View);
  ASSERT_TRUE(table && table->tableInterface());
  EXPECT_EQ(table->role(), QAccessible::Table);
  EXPECT_EQ(table->tableInterface()->rowCount(), 5);
  EXPECT_EQ(table->tableInterface()->cellAt(4, 0)->text(QAccessible::Name), "0:00:04 24.00");
  EXPECT_EQ(table->tableInterface()->selectedRows(), QList<int>({1, 3, 4}));
}

// The list follows new lines while its scroll bar is at the end, and keeps
// the lines in view once the user scrolled up. The scroll bar counts rows.
TEST(ValuesView, KeepsToTheBottomOnlyWhenLeftThere) {
  enum TWhere { Bottom, Top, OneUp };
  struct TCase {
    const char* Name;
    int Rows;
    TWhere Where;
    double LateSecond;  // < 0: new lines at the end; else one line at this time
    bool Follows;
    int TopShift;  // when not following: rows the top row moves
  };
  const TCase cases[] = {
      {"left at the bottom", 200, Bottom, -1, true, 0},
      {"scrolled to the top", 200, Top, -1, false, 0},
      {"one row up", 200, OneUp, -1, false, 0},
      {"a late line above the view", 200, OneUp, 0.5, false, 1},
      {"a late line below the top row", 200, Top, 0.5, false, 0},
      {"an empty list", 0, Bottom, -1, true, 0},
      {"lines that fit", 2, Top, -1, true, 0},
  };
  for (const TCase& c : cases) {
    TShownList list(c.Rows);
    QScrollBar* bar = list.View.verticalScrollBar();
    if (c.Where == Bottom)
      list.View.ScrollToBottom();
    else
      bar->setValue(c.Where == Top ? 0 : bar->maximum() - 1);
    const int top = list.View.TopRow();
    const int added = c.LateSecond < 0 ? 30 : 1;
    for (int i = 0; i < added; ++i)
      list.Record->Add(c.LateSecond < 0 ? (c.Rows + i) * kSec : c.LateSecond * kSec, 0);
    QApplication::processEvents();
    const int rows = c.Rows + added;
    EXPECT_EQ(bar->maximum(), std::max(0, rows - list.PageRows())) << c.Name;
    if (c.Follows)
      EXPECT_EQ(bar->value(), bar->maximum()) << c.Name;
    else
      EXPECT_EQ(list.View.TopRow(), top + c.TopShift) << c.Name;
  }
}

// Clearing the record empties the list and its selection, and it follows
// again; a loaded file shows from its first line.
TEST(ValuesView, FollowsTheRecordReset) {
  TShownList list(100);
  list.Click(2, {});
  list.Key(Qt::Key_A, Qt::ControlModifier);
  list.Record->Clear();
  EXPECT_EQ(list.View.SelectedText(), "");
  EXPECT_EQ(list.View.verticalScrollBar()->maximum(), 0);
  for (int i = 0; i < 100; ++i)
    list.Record->Add(i * kSec, 0);
  EXPECT_TRUE(list.View.AtBottom());
  EXPECT_GT(list.View.TopRow(), 0);
  list.Record->Clear();
  {
    TMeasurementRecord::TBulkUpdate bulk(*list.Record);
    for (int i = 0; i < 100; ++i)
      list.Record->Add(i * kSec, 0);
  }
  EXPECT_EQ(list.View.TopRow(), 0);
  EXPECT_EQ(list.View.verticalScrollBar()->maximum(), 100 - list.PageRows());
}
}  // namespace
}  // namespace calorix
