// The session's temperature program: the runner fed with the session's
// readings, its setpoints written through the request queue, and the note of a
// running program kept in the notes folder (the journal's, unless told otherwise).
#include "station/Session.h"

#include "base/Messages.h"
#include "base/Timer.h"
#include "link/Codec.h"
#include "link/Hid.h"
#include "program/ProgramFile.h"
#include "record/Journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include <sys/file.h>
#include <unistd.h>

namespace calorix {

bool TThermostatSession::LoadProgram(const QString& path, QString* error) {
  if (FRunner.State() != TProgramState::Stopped) {
    if (error)
      *error = LoadStr(1065);
    return false;
  }
  auto program = LoadProgramFile(path, &FLimits, error);
  if (!program)
    return false;
  FProgram = std::move(*program);
  FProgramPath = path;
  LogEvent(TEventKind::ProgramLoaded, LoadStr(1212).arg(FProgram.Name),
           {{QStringLiteral("file"), path}, {QStringLiteral("steps"), int(FProgram.Steps.size())}});
  emit ProgramLoaded();
  return true;
}

bool TThermostatSession::RunProgram(QString* error) {
  auto refuse = [&](const QString& why) {
    if (error)
      *error = LoadStr(1058).arg(why);
    return false;
  };
  if (FRunner.State() == TProgramState::Running)
    return true;
  if (!FDevice)
    return refuse(LoadStr(1060));
  if (FRunner.State() == TProgramState::Paused) {
    // Only on the thermostat it started on, and within the limits now in force.
    QString why;
    const QString serial = FSerial;
    if (serial != FProgramSerial)
      why = tr("выбран термостат %1, а программа запущена на %2").arg(serial, FProgramSerial);
    else
      why = FRunner.Resume(FLimits);
    if (why.isEmpty())
      return true;
    if (error)
      *error = tr("Программа не может быть продолжена: %1").arg(why);
    return false;
  }
  if (FProgram.Steps.empty())
    return refuse(LoadStr(1059));
  const QString fault = CheckProgram(FProgram, &FLimits);
  if (!fault.isEmpty())
    return refuse(fault);
  emit ProgramStarting();
  FRunner.SetProgram(FProgram);
  FRunner.SetPollSeconds(FPollTimer->Interval() / 1000.0);
  FRunner.SetpointInForce(FSetpoint);
  StartRecording();
  FProgramSerial = FSerial;
  const QString why = FRunner.Start(FLimits);
  if (!why.isEmpty())
    return refuse(why);
  return true;
}

void TThermostatSession::WriteSetpoint(double value) {
  emit ProgramWriting(value);
  const TActing program(*this, source::kProgram);
  // The same two requests as "Изменить": the write, then the read-back.
  auto result = std::make_shared<TWriteResult>();
  const std::string text = QString::number(value, 'f', 2).toStdString();
  QueueRequest(rkSetpointWrite, std::string(kSetpointWritePrefix) + text + "\r",
               [result](const TRequestDone& done) {
                 result->Written = done.Outcome == TRequestOutcome::Answered;
               });
  QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest),
               [this, result](const TRequestDone& done) {
                 result->ReadBack = done.Outcome == TRequestOutcome::Answered;
                 if (result->ReadBack)
                   result->Value = ParseFloatValue(done.Value, '.');
                 // Told from the event loop: the runner may write again, and the queue
                 // is still telling its ends.
                 QMetaObject::invokeMethod(
                     this,
                     [this, result] {
                       Guarded([&] {
                         FRunner.WriteDone(*result);
                         ProgramChanged();
                       });
                     },
                     Qt::QueuedConnection);
               });
}

void TThermostatSession::ProgramChanged() {
  const TProgramState state = FRunner.State();
  const int step = FRunner.Step();
  FProgramTimer->SetEnabled(state == TProgramState::Running);
  const bool noted = state != FNotedState || step != FNotedStep;
  bool notice = false;
  if (noted) {
    if (state == TProgramState::Stopped)
      RemoveProgramNote();
    else if (step != FNotedStep)
      WriteProgramNote();
    notice = state == TProgramState::Paused && FNotedState == TProgramState::Running &&
             FRunner.Cause() != TPauseCause::User;
    LogProgramChange(state, step);
    // Noted before the error: readings that arrive while it is shown are no new pause.
    FNotedState = state;
    FNotedStep = step;
  }
  emit ProgramStateChanged(noted);
  if (notice)
    RaiseError(
        LoadStr(1050).arg(step).arg(FRunner.Program().Steps.size()).arg(FRunner.CauseText()));
}

void TThermostatSession::LogProgramChange(TProgramState state, int step) {
  const int steps = int(FRunner.Program().Steps.size());
  const QJsonObject where{{QStringLiteral("step"), step}, {QStringLiteral("steps"), steps}};
  if (state == TProgramState::Stopped) {
    // The end of its last step is the program's own doing; a stop is who asked for it.
    if (FRunner.Finished()) {
      const TActing program(*this, source::kProgram);
      LogEvent(TEventKind::ProgramFinished, LoadStr(1213), where);
    } else {
      LogEvent(TEventKind::ProgramStopped, LoadStr(1214), where);
    }
    return;
  }
  if (state == TProgramState::Paused) {
    if (FNotedState != TProgramState::Paused) {
      // A pause the bath caused (protection, switched off, lost, a failed write)
      // is the system's; one for stability that did not come, the program's.
      const TPauseCause why = FRunner.Cause();
      const TActing cause(*this, why == TPauseCause::User        ? FActing
                                 : why == TPauseCause::WaitLimit ? source::kProgram
                                                                 : source::kSystem);
      QJsonObject values = where;
      values[QStringLiteral("cause")] = FRunner.CauseText();
      LogEvent(TEventKind::ProgramPaused, LoadStr(1215).arg(FRunner.CauseText()), values);
    }
    return;
  }
  if (FNotedState == TProgramState::Stopped)
    LogEvent(TEventKind::ProgramStarted, LoadStr(1216).arg(FRunner.Program().Name), where);
  else if (FNotedState == TProgramState::Paused)
    LogEvent(TEventKind::ProgramResumed, LoadStr(1217), where);
  // A step can end before anyone is told (a setpoint step ends with its
  // write): each one entered is logged, in order.
  const int first = FNotedState == TProgramState::Stopped ? 1 : FNotedStep + 1;
  const TActing program(*this, source::kProgram);
  for (int entered = std::max(first, 1); entered <= step; ++entered) {
    LogEvent(TEventKind::ProgramStep, LoadStr(1218).arg(entered).arg(steps),
             {{QStringLiteral("step"), entered}, {QStringLiteral("steps"), steps}});
  }
}

QString TThermostatSession::ProgramNoteFileName() const {
  if (FNotesFolder.isEmpty())
    return {};
  // One per process (and thermostat) like the crash journal: what a program
  // that ended abnormally leaves for the next start.
  const QString owner =
      FJournalOwner.isEmpty() ? QString::number(QCoreApplication::applicationPid()) : FJournalOwner;
  return QDir(FNotesFolder).filePath(QStringLiteral("program-%1.json").arg(owner));
}

void TThermostatSession::WriteProgramNote() {
  const QString path = ProgramNoteFileName();
  if (path.isEmpty())
    return;
  QJsonObject o{{QStringLiteral("name"), FRunner.Program().Name},
                {QStringLiteral("file"), FProgramPath},
                {QStringLiteral("step"), FRunner.Step()},
                {QStringLiteral("steps"), int(FRunner.Program().Steps.size())},
                {QStringLiteral("serial"), FProgramSerial}};
  QDir().mkpath(FNotesFolder);
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

void TThermostatSession::RemoveProgramNote() {
  const QString path = ProgramNoteFileName();
  if (!path.isEmpty() && FNote)
    QFile::remove(path);  // the name first, then the lock
  FNote.reset();
}

QStringList TThermostatSession::TakeAbandonedProgramNotes() {
  QStringList notices;
  for (const TAbandonedProgram& p : TakeAbandonedPrograms(FNotesFolder))
    notices << p.Notice;
  return notices;
}

std::vector<TAbandonedProgram> TakeAbandonedPrograms(const QString& notesFolder) {
  // A note whose owner still runs is locked and left alone; "program.json" is
  // an earlier version's, and a ".new" one a note cut short.
  std::vector<TAbandonedProgram> found;
  if (notesFolder.isEmpty())
    return found;
  const QDir folder(notesFolder);
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
    found.push_back({o.value(QStringLiteral("serial")).toString(),
                     LoadStr(1062).arg(o.value(QStringLiteral("name")).toString(),
                                       QString::number(o.value(QStringLiteral("step")).toInt()),
                                       QString::number(o.value(QStringLiteral("steps")).toInt()))});
  }
  return found;
}

}  // namespace calorix
