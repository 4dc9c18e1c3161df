// Temperature programs: the runner wired to the window's readings, the request
// queue, the recording, the status bar and the settings.
#include "app/MainFormProgram.h"

#include "app/IniFile.h"
#include "app/MainForm.h"
#include "app/Messages.h"
#include "app/NumberFormat.h"
#include "app/SettingsForm.h"
#include "app/Timer.h"
#include "link/Codec.h"
#include "program/ProgramFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSaveFile>

#include <cmath>
#include <memory>

namespace calorix {

namespace {

const QString kSection = QStringLiteral("Program");
constexpr int kTickMs = 500;

}  // namespace

TProgramControl::TProgramControl(TMainFrm& window)
    : QObject(&window), FWindow(window), FRunner(*this, window.FClock) {
  setObjectName(QStringLiteral("ProgramControl"));
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

QString TProgramControl::StateFileName() const {
  if (FWindow.FJournalFolder.isEmpty())
    return {};
  return QFileInfo(FWindow.FJournalFolder).absoluteDir().filePath(QStringLiteral("program.json"));
}

void TProgramControl::WriteStateFile() {
  const QString path = StateFileName();
  if (path.isEmpty())
    return;
  QJsonObject o{{QStringLiteral("name"), FRunner.Program().Name},
                {QStringLiteral("file"), FPath},
                {QStringLiteral("step"), FRunner.Step()},
                {QStringLiteral("steps"), int(FRunner.Program().Steps.size())}};
  QSaveFile f(path);
  const QByteArray text = QJsonDocument(o).toJson(QJsonDocument::Compact);
  // A note that cannot be written costs only the notice at the next start.
  if (f.open(QIODevice::WriteOnly) && f.write(text) == text.size())
    f.commit();
}

void TProgramControl::RemoveStateFile() {
  const QString path = StateFileName();
  if (!path.isEmpty())
    QFile::remove(path);
}

void TProgramControl::WriteSetpoint(double value) {
  // The same two requests as "Изменить": the write, then the read-back.
  auto result = std::make_shared<TWriteResult>();
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
  if (state == TProgramState::Paused && FNotedState == TProgramState::Running &&
      FRunner.Cause() != TPauseCause::User)
    FWindow.ShowError(
        LoadStr(1050).arg(step).arg(FRunner.Program().Steps.size()).arg(FRunner.CauseText()));
  FNotedState = state;
  FNotedStep = step;
  emit FWindow.ProgramChanged();
}

// ---------------------------------------------------------------------------
// The window's side

void TMainFrm::ProgramCreate() {
  FProgram = new TProgramControl(*this);
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
  FProgram->Runner().SetPollSeconds(FPollTime / 1000.0);

  // A note left by a program that was running when the program ended.
  const QString note = FProgram->StateFileName();
  if (note.isEmpty() || !QFile::exists(note))
    return;
  QFile f(note);
  QJsonObject o;
  if (f.open(QIODevice::ReadOnly) && f.size() < (1 << 16))
    o = QJsonDocument::fromJson(f.readAll()).object();
  f.close();
  const QString text = LoadStr(1062).arg(o.value(QStringLiteral("name")).toString(),
                                         QString::number(o.value(QStringLiteral("step")).toInt()),
                                         QString::number(o.value(QStringLiteral("steps")).toInt()));
  QFile::remove(note);
  QMetaObject::invokeMethod(
      this, [this, text] { Guarded([&] { FPrompts.ShowError(this, text); }); },
      Qt::QueuedConnection);
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
  FProgram->Runner().SetProgram(std::move(*program));
  FProgram->SetPath(path);
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
    runner.Resume();
    return true;
  }
  if (runner.Program().Steps.empty())
    return refuse(LoadStr(1059));
  const QString fault = CheckProgram(runner.Program(), &FProgram->Limits());
  if (!fault.isEmpty())
    return refuse(fault);
  runner.SetPollSeconds(FPollTime / 1000.0);
  runner.SetpointInForce(FSetpoint);
  if (!FRecording)
    RecordBtnClick();
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
  return FProgram->Runner().Program().Name;
}

void TMainFrm::ProgramSettings(TSettingsFrm& form) {
  (void)form;
}

}  // namespace calorix
