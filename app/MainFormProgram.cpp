// Temperature programs: the runner wired to the window's readings, the request
// queue, the recording, the status bar and the settings.
#include "app/MainFormProgram.h"

#include "app/MainForm.h"
#include "app/ProgramModel.h"
#include "app/SettingsForm.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "base/NumberFormat.h"
#include "base/Timer.h"
#include "chart/Chart.h"
#include "chart/SetpointCurve.h"
#include "link/Codec.h"
#include "link/Hid.h"
#include "program/ProgramFile.h"
#include "record/Journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <memory>

#include <sys/file.h>
#include <unistd.h>

namespace calorix {

namespace {

const QString kSection = QStringLiteral("Program");
constexpr int kTickMs = 500;

}  // namespace

TProgramControl::TProgramControl(TMainFrm& window) : QObject(&window), FWindow(window) {
  setObjectName(QStringLiteral("ProgramControl"));
  Model = new TProgramModel(this);
  connect(Model, &TProgramModel::ProgramEdited, this, [this] {
    ShowEstimate();
    FWindow.Session()->SetProgram(Model->Program());
  });
  TThermostatSession* session = window.Session();
  Timer = session->ProgramTimer();
  connect(session, &TThermostatSession::ProgramStateChanged, this,
          [this](bool noted) { ShowProgramState(noted); });
  connect(session, &TThermostatSession::ProgramWriting, this,
          [this](double value) { ShowProgramWrite(value); });
  connect(session, &TThermostatSession::ProgramStarting, this, [this] {
    if (FCurves)
      FCurves->Clear();
  });
  connect(session, &TThermostatSession::ProgramLoaded, &window, &TMainFrm::ShowLoadedProgram);
}

TProgramControl::~TProgramControl() = default;

TProgramRunner& TProgramControl::Runner() {
  return FWindow.Session()->Runner();
}

TSetpointLimits& TProgramControl::Limits() {
  return FWindow.Session()->Limits();
}

void TProgramControl::UpdateCurves() {
  if (!FWindow.Chart)
    return;
  if (!FCurves)
    FCurves = std::make_unique<TSetpointCurves>(*FWindow.Chart);
  const TProgramState state = Runner().State();
  if (state == TProgramState::Stopped) {
    if (FPlanState != state) {
      FCurves->ClearPlanned();
      FWindow.Chart->SetRightFitGraphs({});
      FWindow.Chart->QueueReplot();
    }
    FPlanState = state;
    return;
  }
  // "Авто" shows the plan and the setpoints written beside the measurement.
  if (FPlanState == TProgramState::Stopped)
    FWindow.Chart->SetRightFitGraphs({FCurves->Planned(), FCurves->Written()});
  const double key = FWindow.FSession->Elapsed();
  const double anchor = Runner().PlannedStepEnd();
  // The plan is drawn anew when the step changes or its end moved by more
  // than two seconds (a soak out of band, a wait not yet stable, a pause).
  constexpr double kDrift = 2.0 / 86400.0;
  if (state != FPlanState || Runner().Step() != FPlanStep ||
      std::fabs(anchor - FPlanAnchor) > kDrift) {
    Runner().Plan(FPlan, kMaxPlanPoints);
    QVector<double> keys, values;
    keys.reserve(qsizetype(FPlan.size()));
    values.reserve(qsizetype(FPlan.size()));
    for (const TPlanPoint& p : FPlan) {
      keys.push_back(key + p.Seconds / 86400.0);
      values.push_back(p.Setpoint);
    }
    FCurves->SetPlanned(keys, values);
    FPlanAnchor = anchor;
    FPlanStep = Runner().Step();
    FPlanState = state;
  } else {
    FCurves->MovePlannedStart(key, Runner().Commanded());
  }
  FWindow.Chart->QueueReplot();
}

void TProgramControl::ShowProgramWrite(double value) {
  if (FCurves || FWindow.Chart) {
    UpdateCurves();
    FCurves->AddWritten(FWindow.FSession->Elapsed(), value);
  }
}

void TProgramControl::ShowProgramState(bool noted) {
  const TProgramRunner& runner = Runner();
  const TProgramState state = runner.State();
  const int step = runner.Step();
  Model->SetRunningRow(state == TProgramState::Stopped ? -1 : step - 1);
  EnablePage();
  UpdateCurves();
  if (state != TProgramState::Stopped)
    FWindow.SetStatusText(1, runner.StatusText(FWindow.FLocalFormat));
  if (!noted)
    return;
  if (state == TProgramState::Stopped)
    FWindow.SetStatusText(
        1, runner.Finished() ? LoadStr(1063).arg(runner.Program().Name) : LoadStr(1066));
}

// ---------------------------------------------------------------------------
// The page

QWidget* TProgramControl::CreatePage(QWidget* parent) {
  ProgramTab = new QWidget(parent);
  ProgramTab->setObjectName(QStringLiteral("ProgramTab"));
  auto* layout = new QVBoxLayout(ProgramTab);
  auto* form = new QFormLayout;
  edProgramName = new QLineEdit(ProgramTab);
  edProgramName->setObjectName(QStringLiteral("edProgramName"));
  edProgramName->setAccessibleName(tr("Название программы"));
  form->addRow(tr("Название:"), edProgramName);
  edProgramEnd = new QLineEdit(ProgramTab);
  edProgramEnd->setObjectName(QStringLiteral("edProgramEnd"));
  edProgramEnd->setAccessibleName(tr("Конечная уставка"));
  edProgramEnd->setPlaceholderText(tr("не задана"));
  form->addRow(tr("Уставка по окончании, °C:"), edProgramEnd);
  layout->addLayout(form);

  ProgramView = new QTableView(ProgramTab);
  ProgramView->setObjectName(QStringLiteral("ProgramView"));
  ProgramView->setModel(Model);
  ProgramView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ProgramView->setSelectionMode(QAbstractItemView::SingleSelection);
  ProgramView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  layout->addWidget(ProgramView, 1);

  stProgramDuration = new QLabel(ProgramTab);
  stProgramDuration->setObjectName(QStringLiteral("stProgramDuration"));
  layout->addWidget(stProgramDuration);

  auto button = [&](QHBoxLayout* row, const QString& caption, const char* name,
                    std::function<void()> handler) {
    auto* b = new QPushButton(caption, ProgramTab);
    b->setObjectName(QLatin1String(name));
    connect(b, &QPushButton::clicked, this, [this, handler] { FWindow.Guarded(handler); });
    row->addWidget(b);
    return b;
  };
  auto* edit = new QHBoxLayout;
  AddStepBtn = button(edit, tr("Добавить шаг"), "AddStepBtn", [this] { AddStepBtnClick(); });
  RemoveStepBtn =
      button(edit, tr("Удалить шаг"), "RemoveStepBtn", [this] { RemoveStepBtnClick(); });
  StepUpBtn = button(edit, tr("Вверх"), "StepUpBtn", [this] { MoveStepBtnClick(-1); });
  StepDownBtn = button(edit, tr("Вниз"), "StepDownBtn", [this] { MoveStepBtnClick(1); });
  edit->addStretch();
  OpenProgramBtn =
      button(edit, tr("Открыть программу..."), "OpenProgramBtn", [this] { OpenProgramBtnClick(); });
  SaveProgramBtn = button(edit, tr("Сохранить программу..."), "SaveProgramBtn",
                          [this] { SaveProgramBtnClick(); });
  layout->addLayout(edit);
  auto* run = new QHBoxLayout;
  StartProgramBtn =
      button(run, tr("Запустить"), "StartProgramBtn", [this] { StartProgramBtnClick(); });
  PauseProgramBtn =
      button(run, tr("Приостановить"), "PauseProgramBtn", [this] { PauseProgramBtnClick(); });
  StopProgramBtn =
      button(run, tr("Остановить"), "StopProgramBtn", [this] { StopProgramBtnClick(); });
  run->addStretch();
  layout->addLayout(run);

  connect(edProgramName, &QLineEdit::textEdited, this, [this](const QString& text) {
    Model->SetName(text);
    FWindow.Session()->SetProgram(Model->Program());  // its name is published
  });
  connect(edProgramEnd, &QLineEdit::textEdited, this,
          [this] { FWindow.Guarded([this] { edProgramEndChange(); }); });
  EnablePage();
  ShowEstimate();
  return ProgramTab;
}

void TProgramControl::EnablePage() {
  if (!ProgramTab)
    return;
  const TProgramState state = Runner().State();
  const bool stopped = state == TProgramState::Stopped;
  for (QWidget* w :
       std::initializer_list<QWidget*>{edProgramName, edProgramEnd, AddStepBtn, RemoveStepBtn,
                                       StepUpBtn, StepDownBtn, OpenProgramBtn})
    w->setEnabled(stopped);
  ProgramView->setEditTriggers(stopped ? QAbstractItemView::DoubleClicked |
                                             QAbstractItemView::EditKeyPressed |
                                             QAbstractItemView::AnyKeyPressed
                                       : QAbstractItemView::NoEditTriggers);
  StartProgramBtn->setText(state == TProgramState::Paused ? tr("Продолжить") : tr("Запустить"));
  StartProgramBtn->setEnabled(state != TProgramState::Running);
  PauseProgramBtn->setEnabled(state == TProgramState::Running);
  StopProgramBtn->setEnabled(!stopped);
}

void TProgramControl::ShowEstimate() {
  if (!stProgramDuration)
    return;
  const double seconds = EstimateSeconds(Model->Program(), FWindow.FSession->Setpoint());
  stProgramDuration->setText(
      LoadStr(1064).arg(FormatElapsed(seconds / 86400.0, FWindow.FLocalFormat)));
}

void TProgramControl::AddStepBtnClick() {
  // A new step goes after the selected one; a hold is the harmless default.
  const QModelIndex current = ProgramView->currentIndex();
  const int row = current.isValid() ? current.row() + 1 : Model->rowCount();
  TProgramStep step;
  step.Type = TStepType::Hold;
  step.Seconds = 60;
  Model->AddStep(row, step);
  ProgramView->selectRow(row);
}

void TProgramControl::RemoveStepBtnClick() {
  const QModelIndex current = ProgramView->currentIndex();
  if (current.isValid())
    Model->RemoveStep(current.row());
}

void TProgramControl::MoveStepBtnClick(int delta) {
  const QModelIndex current = ProgramView->currentIndex();
  if (!current.isValid())
    return;
  const int to = current.row() + delta;
  if (to < 0 || to >= Model->rowCount())
    return;
  Model->MoveStep(current.row(), delta);
  ProgramView->setCurrentIndex(Model->index(to, current.column()));
}

void TProgramControl::edProgramEndChange() {
  const QString text = edProgramEnd->text().trimmed();
  const double v = ParseTypedNumber(text);
  // Not a number: no end setpoint, and the field says so by its colour.
  edProgramEnd->setStyleSheet(text.isEmpty() || std::isfinite(v) ? QString()
                                                                 : QStringLiteral("color: red"));
  Model->SetEnd(std::isfinite(v) ? std::optional<double>(v) : std::nullopt);
}

namespace {

TFileDialogSpec ProgramFileDialog(const QString& title) {
  return {title, QCoreApplication::translate("calorix", "Программы (*.json);;Все файлы (*.*)"),
          QStringLiteral("json")};
}

}  // namespace

void TProgramControl::OpenProgramBtnClick() {
  const auto path =
      FWindow.FPrompts.OpenFileName(&FWindow, ProgramFileDialog(tr("Открытие программы")));
  if (!path)
    return;
  QString error;
  if (!FWindow.ProgramLoad(*path, &error))
    FWindow.FPrompts.ShowError(&FWindow, error);
}

void TProgramControl::SaveProgramBtnClick() {
  const auto path =
      FWindow.FPrompts.SaveFileName(&FWindow, ProgramFileDialog(tr("Сохранение программы")));
  if (!path)
    return;
  QString error;
  if (!SaveProgramFile(*path, Model->Program(), &error))
    FWindow.FPrompts.ShowError(&FWindow, error);
  else
    FWindow.FSession->SetProgramPath(*path);
}

void TProgramControl::StartProgramBtnClick() {
  QString error;
  if (!FWindow.ProgramRun(&error))
    FWindow.FPrompts.ShowError(&FWindow, error);
}

void TProgramControl::PauseProgramBtnClick() {
  FWindow.ProgramPause();
}

void TProgramControl::StopProgramBtnClick() {
  FWindow.ProgramStop();
}

void TProgramControl::AddSettings(TSettingsFrm& form) {
  // The limits bind whatever writes setpoints by itself, not only programs.
  auto* box = new QGroupBox(tr("Пределы уставки программ, сценариев и брокера"));
  box->setObjectName(QStringLiteral("ProgramSettings"));
  auto* layout = new QFormLayout(box);
  auto* edMin = new QLineEdit(box);
  edMin->setObjectName(QStringLiteral("edMinSetpoint"));
  auto* edMax = new QLineEdit(box);
  edMax->setObjectName(QStringLiteral("edMaxSetpoint"));
  layout->addRow(tr("Наименьшая уставка, °C:"), edMin);
  layout->addRow(tr("Наибольшая уставка, °C:"), edMax);
  TSettingsSection section;
  section.Widget = box;
  section.Load = [this, edMin, edMax] {
    edMin->setText(FormatGeneral8(Limits().Min, FWindow.FLocalFormat));
    edMax->setText(FormatGeneral8(Limits().Max, FWindow.FLocalFormat));
  };
  section.Check = [edMin, edMax]() -> QString {
    const double lo = ParseTypedNumber(edMin->text()), hi = ParseTypedNumber(edMax->text());
    if (!std::isfinite(lo) || !std::isfinite(hi))
      return tr("Пределы уставки программы должны быть числами");
    if (lo > hi)
      return tr("Наименьшая уставка программы больше наибольшей");
    return {};
  };
  section.Apply = [this, edMin, edMax] {
    Limits().Min = ParseTypedNumber(edMin->text());
    Limits().Max = ParseTypedNumber(edMax->text());
    Model->SetLimits(Limits());
  };
  form.AddSection(std::move(section));
}

// ---------------------------------------------------------------------------
// The window's side

void TMainFrm::ProgramCreate() {
  FProgram = new TProgramControl(*this);
  Tabs->addTab(FProgram->CreatePage(Tabs), tr("Программа"));
}

void TMainFrm::ProgramFormCreate(const TIniFile& ini) {
  auto read = [&](const QString& key, double def) {
    const double v = ParseFloatValue(ini.ReadString(kSection, key, QString()).toStdString(), '.');
    return std::isfinite(v) ? v : def;
  };
  TSetpointLimits& limits = FProgram->Limits();
  limits.Min = read(QStringLiteral("MinSetpoint"), -50.0);
  limits.Max = read(QStringLiteral("MaxSetpoint"), 150.0);
  if (limits.Min > limits.Max)
    limits = TSetpointLimits{};
  FProgram->Model->SetLimits(limits);
  FProgram->Runner().SetPollSeconds(FPollTime / 1000.0);

  // Notes left by programs that were running when their program ended (the
  // first window tells of every one).
  if (!First())
    return;
  for (const QString& text : FSession->TakeAbandonedProgramNotes()) {
    QMetaObject::invokeMethod(
        this, [this, text] { Guarded([&] { FPrompts.ShowError(this, text); }); },
        Qt::QueuedConnection);
  }
}

void TMainFrm::ProgramFormClose(TIniFile& ini) {
  const TSetpointLimits& limits = FProgram->Limits();
  // The section appears once the limits differ from the defaults.
  const TSetpointLimits defaults;
  const bool had = !ini.ReadString(kSection, QStringLiteral("MinSetpoint"), QString()).isEmpty() ||
                   !ini.ReadString(kSection, QStringLiteral("MaxSetpoint"), QString()).isEmpty();
  if (!had && limits.Min == defaults.Min && limits.Max == defaults.Max)
    return;
  if (!ini.WriteString(kSection, QStringLiteral("MinSetpoint"),
                       QString::number(limits.Min, 'g', 15)) ||
      !ini.WriteString(kSection, QStringLiteral("MaxSetpoint"),
                       QString::number(limits.Max, 'g', 15)))
    ReportIniFailure(FIniFileName);
}

bool TMainFrm::ProgramAllowsSetpointChange() {
  if (ProgramState() != TProgramState::Running)
    return true;
  if (!FPrompts.Confirm(this, LoadStr(1061)))
    return false;
  ProgramPause();
  return true;
}

bool TMainFrm::ProgramLoad(const QString& path, QString* error) {
  return FSession->LoadProgram(path, error);
}

void TMainFrm::ShowLoadedProgram() {
  FProgram->Model->SetProgram(FSession->Program());
  FProgram->edProgramName->setText(FProgram->Model->Program().Name);
  const auto end = FProgram->Model->Program().End;
  FProgram->edProgramEnd->setText(end ? FormatGeneral8(*end, FLocalFormat) : QString());
  FProgram->edProgramEnd->setStyleSheet(QString());
  FProgram->ShowEstimate();
}

bool TMainFrm::ProgramRun(QString* error) {
  // What the editor holds now is what starts (a paused program resumes as it was).
  if (ProgramState() == TProgramState::Stopped)
    FSession->SetProgram(FProgram->Model->Program());
  return FSession->RunProgram(error);
}

void TMainFrm::ProgramPause() {
  FSession->PauseProgram();
}

void TMainFrm::ProgramStop() {
  FSession->StopProgram();
}

TProgramState TMainFrm::ProgramState() const {
  return FSession->ProgramState();
}

int TMainFrm::ProgramStep() const {
  return FSession->ProgramStep();
}

QString TMainFrm::ProgramName() const {
  return FSession->ProgramName();
}

void TMainFrm::ProgramSettings(TSettingsFrm& form) {
  FProgram->AddSettings(form);
}

}  // namespace calorix
