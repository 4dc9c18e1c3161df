// Temperature programs: the runner wired to the window's readings, the request
// queue, the recording, the status bar and the settings.
#include "app/MainFormProgram.h"

#include "base/IniFile.h"
#include "app/MainForm.h"
#include "base/Messages.h"
#include "base/NumberFormat.h"
#include "app/SettingsForm.h"
#include "base/Timer.h"
#include "chart/Chart.h"
#include "record/Journal.h"
#include "chart/SetpointCurve.h"
#include "link/Codec.h"
#include "link/Hid.h"
#include "program/ProgramFile.h"
#include "app/ProgramModel.h"

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

TProgramControl::TProgramControl(TMainFrm& window)
    : QObject(&window), FWindow(window), FRunner(*this, window.FClock) {
  setObjectName(QStringLiteral("ProgramControl"));
  Model = new TProgramModel(this);
  connect(Model, &TProgramModel::ProgramEdited, this, [this] { ShowEstimate(); });
  Timer = new TTimer(this, kTickMs);
  Timer->OnTimer = [this] {
    FWindow.Guarded([this] {
      FRunner.Tick();
      ProgramChanged();
    });
  };
  connect(&window, &TMainFrm::TemperatureRead, this, [this](double t) {
    FRunner.Temperature(t);
    if (FRunner.State() != TProgramState::Stopped)
      ProgramChanged();
  });
  connect(&window, &TMainFrm::SetpointRead, this, [this](double v) { FRunner.SetpointInForce(v); });
  connect(&window, &TMainFrm::ProtectionRead, this,
          [this](int bits) { FRunner.Protection(bits, FWindow.stAlarm->text()); });
  connect(&window, &TMainFrm::ThermostatSwitchedOff, this, [this] { FRunner.SwitchedOff(); });
  connect(&window, &TMainFrm::SelectionChanged, this, [this] { FRunner.DeviceGone(); });
}

TProgramControl::~TProgramControl() = default;

void TProgramControl::UpdateCurves() {
  if (!FWindow.Chart)
    return;
  if (!FCurves)
    FCurves = std::make_unique<TSetpointCurves>(*FWindow.Chart);
  const TProgramState state = FRunner.State();
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
  const double now = FWindow.FClock.Now();
  const double key = now - FWindow.FTimeBase;
  const double anchor = FRunner.PlannedStepEnd();
  // The plan is drawn anew when the step changes or its end moved by more
  // than two seconds (a soak out of band, a wait not yet stable, a pause).
  constexpr double kDrift = 2.0 / 86400.0;
  if (state != FPlanState || FRunner.Step() != FPlanStep ||
      std::fabs(anchor - FPlanAnchor) > kDrift) {
    FRunner.Plan(FPlan, kMaxPlanPoints);
    QVector<double> keys, values;
    keys.reserve(qsizetype(FPlan.size()));
    values.reserve(qsizetype(FPlan.size()));
    for (const TPlanPoint& p : FPlan) {
      keys.push_back(key + p.Seconds / 86400.0);
      values.push_back(p.Setpoint);
    }
    FCurves->SetPlanned(keys, values);
    FPlanAnchor = anchor;
    FPlanStep = FRunner.Step();
    FPlanState = state;
  } else {
    FCurves->MovePlannedStart(key, FRunner.Commanded());
  }
  FWindow.Chart->QueueReplot();
}

QString TProgramControl::StateFileName() const {
  if (FWindow.FJournalFolder.isEmpty())
    return {};
  // In the journal's folder, one per process like the crash journal: what a
  // program that ended abnormally leaves for the next start.
  return QDir(FWindow.FJournalFolder)
      .filePath(QStringLiteral("program-%1.json").arg(QCoreApplication::applicationPid()));
}

void TProgramControl::WriteStateFile() {
  const QString path = StateFileName();
  if (path.isEmpty())
    return;
  QJsonObject o{{QStringLiteral("name"), FRunner.Program().Name},
                {QStringLiteral("file"), FPath},
                {QStringLiteral("step"), FRunner.Step()},
                {QStringLiteral("steps"), int(FRunner.Program().Steps.size())}};
  QDir().mkpath(FWindow.FJournalFolder);
  const QByteArray text = QJsonDocument(o).toJson(QJsonDocument::Compact);
  // Written whole to a new file that is locked before it takes the name, so
  // the name always belongs to a whole note locked while this program lives
  // (another copy of the program leaves it alone). A note that cannot be
  // written costs only the notice at the next start.
  const QString temp = path + QStringLiteral(".new");
  QFile::remove(temp);
  auto f = std::make_unique<QFile>(temp);
  if (!f->open(QIODevice::WriteOnly | QIODevice::NewOnly))
    return;
  if (::flock(f->handle(), LOCK_EX | LOCK_NB) != 0 || f->write(text) != text.size() ||
      !f->flush() || ::fsync(f->handle()) != 0 ||
      ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
    f->remove();
    return;
  }
  FNote = std::move(f);  // the previous note's lock goes with its replaced file
}

void TProgramControl::RemoveStateFile() {
  const QString path = StateFileName();
  if (!path.isEmpty() && FNote)
    QFile::remove(path);  // the name first, then the lock
  FNote.reset();
}

void TProgramControl::WriteSetpoint(double value) {
  // The same two requests as "Изменить": the write, then the read-back.
  auto result = std::make_shared<TWriteResult>();
  if (FCurves || FWindow.Chart) {
    UpdateCurves();
    FCurves->AddWritten(FWindow.FClock.Now() - FWindow.FTimeBase, value);
  }
  const std::string text = QString::number(value, 'f', 2).toStdString();
  FWindow.QueueRequest(rkSetpointWrite, std::string(kSetpointWritePrefix) + text + "\r",
                       [result](const TRequestDone& done) {
                         result->Written = done.Outcome == TRequestOutcome::Answered;
                       });
  FWindow.QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest),
                       [this, result](const TRequestDone& done) {
                         result->ReadBack = done.Outcome == TRequestOutcome::Answered;
                         if (result->ReadBack)
                           result->Value = ParseFloatValue(done.Value, '.');
                         // Told from the event loop: the runner may write again, and the queue
                         // is still telling its ends.
                         QMetaObject::invokeMethod(
                             this,
                             [this, result] {
                               FWindow.Guarded([&] {
                                 FRunner.WriteDone(*result);
                                 ProgramChanged();
                               });
                             },
                             Qt::QueuedConnection);
                       });
}

void TProgramControl::ProgramChanged() {
  const TProgramState state = FRunner.State();
  const int step = FRunner.Step();
  Timer->SetEnabled(state == TProgramState::Running);
  Model->SetRunningRow(state == TProgramState::Stopped ? -1 : step - 1);
  EnablePage();
  UpdateCurves();
  if (state != TProgramState::Stopped)
    FWindow.SetStatusText(1, FRunner.StatusText(FWindow.FLocalFormat));
  if (state == FNotedState && step == FNotedStep)
    return;
  if (state == TProgramState::Stopped) {
    RemoveStateFile();
    FWindow.SetStatusText(
        1, FRunner.Finished() ? LoadStr(1063).arg(FRunner.Program().Name) : LoadStr(1066));
  } else if (step != FNotedStep) {
    WriteStateFile();
  }
  const bool notice = state == TProgramState::Paused && FNotedState == TProgramState::Running &&
                      FRunner.Cause() != TPauseCause::User;
  // Noted before the box: readings that arrive while it is open are no new pause.
  FNotedState = state;
  FNotedStep = step;
  emit FWindow.ProgramChanged();
  if (notice)
    FWindow.ShowError(
        LoadStr(1050).arg(step).arg(FRunner.Program().Steps.size()).arg(FRunner.CauseText()));
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

  connect(edProgramName, &QLineEdit::textEdited, this,
          [this](const QString& text) { Model->SetName(text); });
  connect(edProgramEnd, &QLineEdit::textEdited, this,
          [this] { FWindow.Guarded([this] { edProgramEndChange(); }); });
  EnablePage();
  ShowEstimate();
  return ProgramTab;
}

void TProgramControl::EnablePage() {
  if (!ProgramTab)
    return;
  const TProgramState state = FRunner.State();
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
  const double seconds = EstimateSeconds(Model->Program(), FWindow.FSetpoint);
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
    FPath = *path;
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
    edMin->setText(FormatGeneral8(FLimits.Min, FWindow.FLocalFormat));
    edMax->setText(FormatGeneral8(FLimits.Max, FWindow.FLocalFormat));
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
    FLimits.Min = ParseTypedNumber(edMin->text());
    FLimits.Max = ParseTypedNumber(edMax->text());
    Model->SetLimits(FLimits);
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

  // Notes left by programs that were running when their program ended. A
  // note whose owner still runs is locked and left alone; "program.json" is
  // an earlier version's, and a ".new" one a note cut short.
  if (FJournalFolder.isEmpty())
    return;
  const QDir folder(FJournalFolder);
  const QStringList names =
      folder.entryList({QStringLiteral("program-*.json"), QStringLiteral("program.json"),
                        QStringLiteral("program-*.json.new")},
                       QDir::Files, QDir::Name);
  for (const QString& name : names) {
    const QString path = folder.filePath(name);
    QFile f;
    const int fd = OpenAbandoned(path);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
      if (fd >= 0)
        ::close(fd);
      continue;
    }
    QJsonObject o;
    if (f.size() < (1 << 16))
      o = QJsonDocument::fromJson(f.readAll()).object();
    QFile::remove(path);  // while still locked: no other start tells it again
    if (name.endsWith(QStringLiteral(".new")))
      continue;
    const QString text =
        LoadStr(1062).arg(o.value(QStringLiteral("name")).toString(),
                          QString::number(o.value(QStringLiteral("step")).toInt()),
                          QString::number(o.value(QStringLiteral("steps")).toInt()));
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
  if (ProgramState() != TProgramState::Stopped) {
    if (error)
      *error = LoadStr(1065);
    return false;
  }
  auto program = LoadProgramFile(path, &FProgram->Limits(), error);
  if (!program)
    return false;
  FProgram->Model->SetProgram(std::move(*program));
  FProgram->SetPath(path);
  FProgram->edProgramName->setText(FProgram->Model->Program().Name);
  const auto end = FProgram->Model->Program().End;
  FProgram->edProgramEnd->setText(end ? FormatGeneral8(*end, FLocalFormat) : QString());
  FProgram->edProgramEnd->setStyleSheet(QString());
  FProgram->ShowEstimate();
  emit ProgramChanged();
  return true;
}

bool TMainFrm::ProgramRun(QString* error) {
  TProgramRunner& runner = FProgram->Runner();
  auto refuse = [&](const QString& why) {
    if (error)
      *error = LoadStr(1058).arg(why);
    return false;
  };
  if (runner.State() == TProgramState::Running)
    return true;
  if (!FSelectedDevice)
    return refuse(LoadStr(1060));
  if (runner.State() == TProgramState::Paused) {
    // Only on the thermostat it started on, and within the limits now in force.
    QString why;
    const QString serial = FSelectedDevice->SerialNumber();
    if (serial != FProgram->Serial())
      why = tr("выбран термостат %1, а программа запущена на %2").arg(serial, FProgram->Serial());
    else
      why = runner.Resume(FProgram->Limits());
    if (why.isEmpty())
      return true;
    if (error)
      *error = tr("Программа не может быть продолжена: %1").arg(why);
    return false;
  }
  const TProgram& program = FProgram->Model->Program();
  if (program.Steps.empty())
    return refuse(LoadStr(1059));
  const QString fault = CheckProgram(program, &FProgram->Limits());
  if (!fault.isEmpty())
    return refuse(fault);
  runner.SetProgram(program);
  if (FProgram->Curves())
    FProgram->Curves()->Clear();
  runner.SetPollSeconds(FPollTime / 1000.0);
  runner.SetpointInForce(FSetpoint);
  if (!FRecording)
    RecordBtnClick();
  FProgram->SetSerial(FSelectedDevice->SerialNumber());
  const QString why = runner.Start(FProgram->Limits());
  if (!why.isEmpty())
    return refuse(why);
  return true;
}

void TMainFrm::ProgramPause() {
  FProgram->Runner().Pause();
}

void TMainFrm::ProgramStop() {
  FProgram->Runner().Stop();
}

TProgramState TMainFrm::ProgramState() const {
  return FProgram->Runner().State();
}

int TMainFrm::ProgramStep() const {
  return FProgram->Runner().Step();
}

QString TMainFrm::ProgramName() const {
  // The running program's, or the one in the editor.
  if (ProgramState() != TProgramState::Stopped)
    return FProgram->Runner().Program().Name;
  return FProgram->Model->Program().Name;
}

void TMainFrm::ProgramSettings(TSettingsFrm& form) {
  FProgram->AddSettings(form);
}

}  // namespace calorix
