#pragma once
// The window's side of temperature programs: the page "Программа" with its
// editor, the chart's setpoint curves and the program's state in the status
// bar. The runner itself is the session's.
#include "program/Program.h"
#include "program/Runner.h"

#include <QObject>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace calorix {

class TMainFrm;
class TTimer;
class TProgramModel;
class TSetpointCurves;

class TProgramControl final : public QObject {
  Q_OBJECT
 public:
  explicit TProgramControl(TMainFrm& window);
  ~TProgramControl() override;

  TProgramRunner& Runner();
  TSetpointLimits& Limits();
  TProgramModel* EditorModel() const { return Model; }
  // The planned curve as last handed to the chart, in clock days and °C.
  const std::vector<TPlanPoint>& PlanPoints() const { return FPlan; }
  TSetpointCurves* Curves() const { return FCurves.get(); }
  // Brings the chart's setpoint curves up to date (cheap unless the plan moved).
  void UpdateCurves();
  // Most points of the planned curve.
  static constexpr std::size_t kMaxPlanPoints = 20000;

  // The page "Программа" and its handlers.
  QWidget* CreatePage(QWidget* parent);
  void AddStepBtnClick();
  void RemoveStepBtnClick();
  void MoveStepBtnClick(int delta);
  void OpenProgramBtnClick();
  void SaveProgramBtnClick();
  void StartProgramBtnClick();
  void PauseProgramBtnClick();
  void StopProgramBtnClick();
  void edProgramEndChange();
  void ShowEstimate();
  void EnablePage();
  // The settings dialog's group: the setpoint limits.
  void AddSettings(class TSettingsFrm& form);

  TProgramModel* Model = nullptr;
  TTimer* Timer = nullptr;  // the session's program tick
  QWidget* ProgramTab = nullptr;
  QLineEdit* edProgramName = nullptr;
  QLineEdit* edProgramEnd = nullptr;
  QTableView* ProgramView = nullptr;
  QLabel* stProgramDuration = nullptr;
  QPushButton *AddStepBtn = nullptr, *RemoveStepBtn = nullptr, *StepUpBtn = nullptr,
              *StepDownBtn = nullptr, *OpenProgramBtn = nullptr, *SaveProgramBtn = nullptr,
              *StartProgramBtn = nullptr, *PauseProgramBtn = nullptr, *StopProgramBtn = nullptr;

 private:
  void ShowProgramState(bool noted);    // the session's program changed
  void ShowProgramWrite(double value);  // the written-setpoint curve

  TMainFrm& FWindow;
  std::vector<TPlanPoint> FPlan;
  std::unique_ptr<TSetpointCurves> FCurves;
  double FPlanAnchor = 0;  // the running step's planned end the curve was drawn for
  int FPlanStep = -1;
  TProgramState FPlanState = TProgramState::Stopped;
};

}  // namespace calorix
