#pragma once
// The window's side of temperature programs: it feeds the runner with the
// window's readings, writes its setpoints through the request queue, keeps
// the note of a running program on disk and shows the program's state.
#include "program/Program.h"
#include "program/Runner.h"

#include <QObject>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QFile;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace calorix {

class TMainFrm;
class TTimer;
class TProgramModel;
class TSetpointCurves;

class TProgramControl final : public QObject, private IProgramHost {
  Q_OBJECT
 public:
  explicit TProgramControl(TMainFrm& window);
  ~TProgramControl() override;

  TProgramRunner& Runner() { return FRunner; }
  const TProgramRunner& Runner() const { return FRunner; }
  TSetpointLimits& Limits() { return FLimits; }
  TProgramModel* EditorModel() const { return Model; }
  const QString& Path() const { return FPath; }
  void SetPath(const QString& path) { FPath = path; }
  // The serial number of the thermostat the running program started on.
  const QString& Serial() const { return FSerial; }
  void SetSerial(const QString& serial) { FSerial = serial; }
  // The note of a running program in the journal folder, this process's own
  // and locked while written; empty: none kept.
  QString StateFileName() const;
  void WriteStateFile();
  void RemoveStateFile();
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
  TTimer* Timer = nullptr;
  QWidget* ProgramTab = nullptr;
  QLineEdit* edProgramName = nullptr;
  QLineEdit* edProgramEnd = nullptr;
  QTableView* ProgramView = nullptr;
  QLabel* stProgramDuration = nullptr;
  QPushButton *AddStepBtn = nullptr, *RemoveStepBtn = nullptr, *StepUpBtn = nullptr,
              *StepDownBtn = nullptr, *OpenProgramBtn = nullptr, *SaveProgramBtn = nullptr,
              *StartProgramBtn = nullptr, *PauseProgramBtn = nullptr, *StopProgramBtn = nullptr;

 private:
  void WriteSetpoint(double value) override;
  void ProgramChanged() override;

  TMainFrm& FWindow;
  TProgramRunner FRunner;
  TSetpointLimits FLimits;
  QString FPath;
  QString FSerial;
  std::unique_ptr<QFile> FNote;  // the note written last, holding its lock
  int FNotedStep = -1;
  TProgramState FNotedState = TProgramState::Stopped;
  std::vector<TPlanPoint> FPlan;
  std::unique_ptr<TSetpointCurves> FCurves;
  double FPlanAnchor = 0;  // the running step's planned end the curve was drawn for
  int FPlanStep = -1;
  TProgramState FPlanState = TProgramState::Stopped;
};

}  // namespace calorix
