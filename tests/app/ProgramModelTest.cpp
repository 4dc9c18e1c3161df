// The editor's table: adding, removing and moving steps keep every loop on
// the step it starts from; typed values are taken or refused by the field.
#include "app/ProgramModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace calorix {
namespace {

// A step by a short name: "7" sets 7 °C, "r2" repeats from step 2.
TProgramStep Named(const std::string& name) {
  TProgramStep s;
  if (name[0] == 'r') {
    s.Type = TStepType::Repeat;
    s.From = std::stoi(name.substr(1));
    s.Count = 1;
  } else {
    s.Setpoint = std::stod(name);
  }
  return s;
}

std::vector<std::string> Names(const TProgram& p) {
  std::vector<std::string> out;
  for (const TProgramStep& s : p.Steps)
    out.push_back(s.Type == TStepType::Repeat ? "r" + std::to_string(s.From)
                                              : std::to_string(int(s.Setpoint)));
  return out;
}

void Load(TProgramModel& m, const std::vector<std::string>& names) {
  TProgram p;
  for (const std::string& n : names)
    p.Steps.push_back(Named(n));
  m.SetProgram(p);
}

TEST(ProgramModel, EditsKeepEachLoopOnItsFirstStep) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Before;
    std::function<void(TProgramModel&)> Edit;
    std::vector<std::string> After;
  };
  const std::vector<std::string> loop{"1", "2", "3", "r2"};  // steps 2..3 twice
  const TCase cases[] = {
      {"the first step moves down",
       loop,
       [](TProgramModel& m) { m.MoveStep(1, 1); },
       {"1", "3", "2", "r3"}},
      {"the step before moves down onto it",
       loop,
       [](TProgramModel& m) { m.MoveStep(0, 1); },
       {"2", "1", "3", "r1"}},
      {"the repeat moves up",
       loop,
       [](TProgramModel& m) { m.MoveStep(3, -1); },
       {"1", "2", "r2", "3"}},
      {"a move out of range", loop, [](TProgramModel& m) { m.MoveStep(3, 1); }, loop},
      {"a step added before",
       loop,
       [](TProgramModel& m) { m.AddStep(0, Named("9")); },
       {"9", "1", "2", "3", "r3"}},
      {"a step added inside",
       loop,
       [](TProgramModel& m) { m.AddStep(2, Named("9")); },
       {"1", "2", "9", "3", "r2"}},
      {"a repeat added keeps its own",
       loop,
       [](TProgramModel& m) { m.AddStep(1, Named("r1")); },
       {"1", "r1", "2", "3", "r3"}},
      {"the step before removed",
       loop,
       [](TProgramModel& m) { m.RemoveStep(0); },
       {"2", "3", "r1"}},
      {"the first step removed: the next begins it",
       loop,
       [](TProgramModel& m) { m.RemoveStep(1); },
       {"1", "3", "r2"}},
      {"a step after removed",
       {"1", "r1", "3"},
       [](TProgramModel& m) { m.RemoveStep(2); },
       {"1", "r1"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TProgramModel m;
    Load(m, c.Before);
    c.Edit(m);
    EXPECT_EQ(Names(m.Program()), c.After);
  }
}

TEST(ProgramModel, TypedValuesAreTakenOrRefusedByTheField) {
  using C = TProgramModel::TColumn;
  struct TCase {
    TStepType Type;
    int Column;
    const char* Text;
    bool Taken;
    QString Shown;  // the cell afterwards
  };
  const TCase cases[] = {
      {TStepType::Set, C::colSetpoint, "21,5", true, "21.5"},
      {TStepType::Set, C::colSetpoint, " 21.25 ", true, "21.25"},
      {TStepType::Set, C::colSetpoint, "abc", false, "5"},
      {TStepType::Set, C::colSetpoint, "", false, "5"},
      {TStepType::Set, C::colRate, "1", false, ""},  // not a field of a set
      {TStepType::Ramp, C::colRate, "", true, ""},   // rate or seconds: either may go
      {TStepType::Hold, C::colBand, "", true, ""},   // optional soak band
      {TStepType::Wait, C::colBand, "", false, "5"},
      {TStepType::Repeat, C::colFrom, "1.5", false, "5"},
      {TStepType::Repeat, C::colCount, "3", true, "3"},
      {TStepType::Set, C::colType, "ramp", true, StepTypeTitle(TStepType::Ramp)},
      {TStepType::Set, C::colType, "шаг", false, StepTypeTitle(TStepType::Set)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(StepTypeKey(c.Type)) + " column " + std::to_string(c.Column) + " \"" +
                 c.Text + "\"");
    TProgramStep s{c.Type, 5, 5, 5, 5, 5, 5, 5};
    TProgramModel m;
    m.SetProgram({"p", {s}, std::nullopt});
    const QModelIndex cell = m.index(0, c.Column);
    EXPECT_EQ(m.setData(cell, QString::fromUtf8(c.Text), Qt::EditRole), c.Taken);
    EXPECT_EQ(m.data(cell, Qt::DisplayRole).toString(), c.Shown);
  }
}

TEST(ProgramModel, AStepThatDoesNotFitShowsWhy) {
  TProgramModel m;
  Load(m, {"1", "r1"});
  EXPECT_EQ(m.data(m.index(1, 0), Qt::ToolTipRole).toString(), QString());
  m.MoveStep(1, -1);  // the repeat now comes before the step it names
  EXPECT_EQ(m.data(m.index(0, 0), Qt::ToolTipRole).toString(),
            QString::fromUtf8(
                "Шаг 1, поле \"from\": повтор может ссылаться только на один из предыдущих шагов"));
  EXPECT_TRUE(m.data(m.index(0, 3), Qt::BackgroundRole).isValid());
  m.SetLimits({0, 0.5});
  EXPECT_EQ(m.RowFault(1),
            QString::fromUtf8("Шаг 2, поле \"setpoint\": уставка вне допустимых пределов"));
}

}  // namespace
}  // namespace calorix
