#pragma once
// One bath: the thermostat a session is attached to, its request queue, its
// poll and answer time-out, the readings, the record with its crash journal.
// No widgets: what a front end shows comes from the signals, what its user
// does reaches the session through plain calls.
#include "base/Clock.h"
#include "base/NumberFormat.h"
#include "link/RequestQueue.h"
#include "program/Program.h"
#include "program/Runner.h"
#include "record/Events.h"
#include "record/Record.h"
#include "record/Sidecar.h"
#include "record/TimeInBand.h"
#include "station/Alarms.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QFile;

namespace calorix {

class TJvHidDevice;
class TEventJournal;
class TRecordJournal;
class TTimer;
struct TFileSample;
struct TJournalFound;

struct TSessionOptions {
  IClock* Clock = nullptr;  // required, not owned
  // Where the crash journal lives; empty: none is kept.
  QString JournalFolder;
  // Where the note of a running program lives (see ProgramNoteFileName);
  // empty: the journal's folder.
  QString NotesFolder;
  // Names the journal's file and the program's note (see JournalOwnerFor);
  // empty: the process id alone, as a program of one window names them.
  QString JournalOwner;
  // The thermostat the session is for (see Bind); empty: the first one found.
  QString Serial;
  int JournalPeriodMs = 5000;  // how often the journal is written to the disk
};

class TThermostatSession;

// What a session asks of the person behind its front end.
class ISessionQuestions {
 public:
  virtual ~ISessionQuestions() = default;
  virtual bool Confirm(const QString& question) = 0;  // true for yes
  virtual void Tell(const QString& text) = 0;         // a notice that waits for nobody
  // Whether SessionFor gives a session of a thermostat's own (a front end of
  // several windows); otherwise every record goes into the asking session.
  virtual bool OpensSessions() const { return false; }
  // The session of the thermostat of this serial, opened for it when there is none.
  virtual TThermostatSession* SessionFor(const QString& serial) {
    (void)serial;
    return nullptr;
  }
};

class TThermostatSession : public QObject, private TRequestQueueHost, private IProgramHost {
  Q_OBJECT
 public:
  explicit TThermostatSession(TSessionOptions options, QObject* parent = nullptr);
  ~TThermostatSession() override;

  // --- The thermostat
  TJvHidDevice* Device() const { return FDevice; }
  bool Adapter() const { return FAdapterFraming; }
  // The attached thermostat's serial as every list shows it ("#2" after a
  // serial met twice); empty while none is attached.
  const QString& Serial() const { return FSerial; }
  // The thermostat this session is for: it takes that one only, waits for it
  // and takes it again when it comes back. Empty: the station's first rule.
  const QString& BoundSerial() const { return FBoundSerial; }
  void Bind(const QString& serial) { FBoundSerial = serial; }
  // Takes dev (already locked by the station), shown as serial: what was asked
  // of the previous one is dropped, the setpoint, band and temperature are
  // asked, polling starts.
  void Attach(TJvHidDevice* dev, bool adapter, const QString& serial);
  // The thermostat went away or was given up: recording stops, nothing waits for it.
  void Detach();
  // The thermostat is no longer the session's (the session or the station
  // that found it goes): unlocked, and nothing is told of it.
  void ForgetDevice();

  // --- Requests, poll and answer time-out
  using TRequestDoneHandler = std::function<void(const TRequestDone&)>;
  void QueueRequest(TRequestKind kind, const std::string& text);
  // A request whose asker (a temperature program, a remote client) hears how
  // it ended, once; its error statuses raise no error.
  void QueueRequest(TRequestKind kind, const std::string& text, TRequestDoneHandler done);
  void WriteRequest(const std::string& text);
  void ClearRequests() { FRequests.Clear(); }
  const TRequestQueue& Requests() const { return FRequests; }
  void PollTick();                                               // the poll timer's tick
  void TimeoutTick();                                            // the answer time-out
  void InputReport(const std::uint8_t* data, std::size_t size);  // one of the thermostat's reports
  TTimer* PollTimer() const { return FPollTimer; }
  TTimer* TimeoutTimer() const { return FTimeoutTimer; }
  void SetPollTime(int ms);  // at least 1000 ms

  // Whether a handler of some thermostat's data is running now. An error raised
  // in it is shown once it has returned: a modal loop inside would hold back
  // the hand-over of the thermostat's reports.
  static bool HandlingData();

  // --- Setpoint and readings
  // The write request for a setpoint text, by the rules of "Изменить"; none
  // when the text is not a valid setpoint.
  std::optional<std::string> SetpointWriteRequest(QString text) const;
  // Writes the setpoint text and reads it back; an invalid text is an error.
  void WriteSetpoint(const QString& text);
  void ReadSetpoint();
  double Temperature() const { return FTemperature; }  // NaN before the first reading
  double Setpoint() const { return FSetpoint; }        // as last read back
  double ReadyBand() const { return FReadyBand; }      // as last read
  int Protection() const { return FProtection; }       // bit 0 overheating ... bit 5 sensor
  bool SwitchedOffNow() const { return FSwitchedOff; }
  // How long the temperature has kept within the band; none while outside.
  std::optional<double> TimeInBand() const { return FInside; }
  const TFormatSettings& LocalFormat() const { return FLocalFormat; }
  const TFormatSettings& DotFormat() const { return FDotFormat; }
  const TFormatSettings& CommaFormat() const { return FCommaFormat; }

  // --- Record
  bool Recording() const { return FRecording; }
  // A sample at record time `time` (days): kept while recording (true).
  bool AddSample(double time, double value);
  void StartRecording();
  void StopRecording();
  bool Modified() const { return FModified; }
  const std::shared_ptr<TMeasurementRecord>& RecordPtr() const { return FRecord; }
  const TMeasurementRecord& Record() const { return *FRecord; }
  double RecordLength() const { return FRecord->Length(); }
  // The clock reading of the record's time 0.
  double TimeBase() const { return FTimeBase; }
  // Elapsed record time now.
  double Elapsed() const { return FClock.Now() - FTimeBase; }
  // Empties the record (it starts at the next sample); nothing of it is kept.
  void ClearRecord();
  // Writes the record to path; the error text, empty when written. The record is saved.
  QString SaveRecordTo(const QString& path);
  // The record becomes an opened file's samples, saved as they are; with the
  // file's path, its metadata file brings back its events.
  void OpenRecord(const std::vector<TFileSample>& samples, const QString& path = {});
  // Offers to restore the records left by a program that did not close
  // normally: each naming its thermostat into that thermostat's session (see
  // ISessionQuestions::SessionFor), the first of the others into this one.
  void RestoreAbandoned(ISessionQuestions& ask);
  // The record becomes that journal's (unsaved); false when it cannot be read.
  bool RestoreJournal(const QString& path);
  TRecordJournal* Journal() const { return FJournal.get(); }
  const QString& JournalFolder() const { return FJournalFolder; }
  // At the end of the run: the journal goes unless a save wanted then did not happen.
  void Close(bool keepJournal);

  // While set, errors go here instead of ErrorRaised: a remote client's
  // command runs, and the client hears of them.
  std::function<void(const QString&)> ErrorDiversion;

  // --- Temperature program
  TProgramRunner& Runner() { return FRunner; }
  const TProgramRunner& Runner() const { return FRunner; }
  // Bind programs, scripts and the broker alike.
  TSetpointLimits& Limits() { return FLimits; }
  // What RunProgram starts: the program loaded, or the one the editor set.
  const TProgram& Program() const { return FProgram; }
  const QString& ProgramPath() const { return FProgramPath; }
  void SetProgram(TProgram program) { FProgram = std::move(program); }
  void SetProgramPath(const QString& path) { FProgramPath = path; }
  // Loads a program file; refused while a program runs or is paused.
  bool LoadProgram(const QString& path, QString* error);
  // Starts when stopped (refused when a step is outside the limits, without a
  // thermostat or without a program), resumes when paused.
  bool RunProgram(QString* error);
  void PauseProgram() { FRunner.Pause(); }
  void StopProgram() { FRunner.Stop(); }
  TProgramState ProgramState() const { return FRunner.State(); }
  int ProgramStep() const { return FRunner.Step(); }  // 1-based; 0 when stopped
  // The running program's, or the one that would run.
  QString ProgramName() const {
    return FRunner.State() != TProgramState::Stopped ? FRunner.Program().Name : FProgram.Name;
  }
  // The serial number of the thermostat the running program started on.
  const QString& ProgramSerial() const { return FProgramSerial; }
  TTimer* ProgramTimer() const { return FProgramTimer; }
  // The note of a running program in the notes folder, this process's own
  // and locked while written; empty: none kept.
  QString ProgramNoteFileName() const;
  // The notices of programs that were running when their program ended
  // (their notes are gone once read).
  QStringList TakeAbandonedProgramNotes();

  IClock& Clock() const { return FClock; }

  // --- The event log (SessionEvents.cpp): what happened to the thermostat,
  // kept with the record (a cleared record starts a new log, an opened file
  // brings back its own).
  const std::vector<TEvent>& Events() const { return FEvents; }
  // Logs an event now, caused by who acts on the session (see TActing).
  void LogEvent(TEventKind kind, const QString& text, QJsonObject values = {});
  // A setting of the program changed (key as the settings file names it).
  void LogSettingChanged(const QString& key, const QString& old, const QString& now);
  // The wall clock now (UTC, ms): it follows the session's clock from a
  // reading of the system's taken when the session was made.
  qint64 UtcMs() const;
  // Tests: the wall clock at the clock's reading now.
  void SetUtcBase(qint64 utcMs);
  // The metadata of the record as the file beside a measurement file keeps it.
  TRunMeta RunMeta() const;
  // Who acts on the session while one of these lives; the user otherwise.
  class TActing {
   public:
    TActing(TThermostatSession& session, QString source);
    ~TActing();
    TActing(const TActing&) = delete;
    TActing& operator=(const TActing&) = delete;

   private:
    QPointer<TThermostatSession> FSession;
    QString FPrevious;
  };

  // --- Alarms (station/Alarms.h): watched on every reading, never written to the thermostat
  const TAlarmWatch& Alarms() const { return FAlarms; }
  TAlarmWatch& Alarms() { return FAlarms; }
  void AcknowledgeAlarms();
  // The settings of every thermostat; the attached one's apply.
  void SetAlarmConfig(const TAlarmConfig& config);
  // The front end's data file cannot be written (true) or is written again.
  void DataFileFailed(bool failed);
  // What the last AlarmsChanged raised, acknowledged and cleared.
  const std::vector<TAlarmChange>& AlarmChanges() const { return FAlarmChanges; }

 signals:
  void Attached();                     // a thermostat is attached now (Device())
  void Detached();                     // none is
  void TemperatureRead(double value);  // every polled temperature, NaN when unreadable
  void SetpointRead(double value);     // every setpoint read-back
  void ProtectionRead(int bits);       // the protection status: bit 0 overheating ... bit 5 sensor
  void ReadyBandRead(double value);
  void ThermostatSwitchedOff();                 // status 6
  void ConsoleAnswerRead(const QString& line);  // the whole answer line to a console request
  void RecordingChanged(bool recording);
  void RecordReset();   // the record was emptied (its time window starts anew)
  void RecordLoaded();  // the record became a file's or a journal's samples
  // An error to show (an error status, a write that could not be made).
  void ErrorRaised(const QString& text);
  // An exception escaped one of the session's handlers.
  void HandlerFailed(const QString& text);
  // A status line to show (the journal could not be written).
  void StatusMessage(const QString& text);
  // The program's state, step or cause changed; noted: its state or step differs
  // from the last one told so.
  void ProgramStateChanged(bool noted);
  void ProgramLoaded();    // LoadProgram put a program in
  void ProgramStarting();  // a program passed its checks and starts now
  // A program writes this setpoint now (before the request is queued).
  void ProgramWriting(double value);
  void EventLogged(const TEvent& event);  // appended to Events()

  // The list of alarms changed (AlarmChanges() says how).
  void AlarmsChanged();

 private:
  void LogProtection(int bits);
  void LogProgramChange(TProgramState state, int step);  // before it is noted
  void ReadSidecarOf(const QString& path);
  void AlarmsFed();  // tells of what the last input changed
  template <class TSamples>
  void LoadRecord(const TSamples& samples) {
    ResetRecord();
    {
      const TMeasurementRecord::TBulkUpdate bulk(*FRecord);
      for (const auto& s : samples)
        FRecord->Add(s.Time, s.Value);
    }
    emit RecordLoaded();
  }
  void ResetRecord();
  void Guarded(const std::function<void()>& handler);
  void WriteProgramNote();
  void RemoveProgramNote();

  // IProgramHost
  void WriteSetpoint(double value) override;
  void ProgramChanged() override;

  // TRequestQueueHost
  bool HasDevice() const override { return FDevice != nullptr; }
  std::size_t OutputReportLength() const override { return FReportLength; }
  bool AdapterFraming() const override { return FAdapterFraming; }
  void WriteReport(const TBytes& report) override;
  void StartTimeout() override;
  void StopTimeout() override;
  void StopPolling() override;
  void Dispatch(TRequestKind kind, const std::string& value) override;
  void ConsoleAnswer(const std::string& line) override;
  void SwitchedOff() override;
  void ShowError(const QString& text) override { RaiseError(text); }
  void RaiseError(const QString& text);
  void RequestDone(const TRequestDone& done) override;

  // Setpoint writes and read-backs are ticketed, so the log hears how they end
  // (SessionEvents.cpp); loud ones still raise their errors.
  void QueueTicketed(TRequestKind kind, const std::string& text, TRequestDoneHandler done,
                     bool loud);
  struct TSetpointWrite {
    QString Source;
    std::optional<double> Old;  // none before the first read-back
    double Requested = 0.0;
  };
  TRequestDoneHandler WatchSetpointWrite(const std::string& text, TRequestDoneHandler done);
  TRequestDoneHandler WatchSetpointRead(TRequestDoneHandler done);
  void LogSetpointWritten(const TSetpointWrite& write, std::optional<double> readBack);
  void LogSetpointFailed(const TSetpointWrite& write, const TRequestDone& done);
  void LogAlarmChanges();
  // The log was replaced as a whole (cleared, opened, restored): the events file follows.
  void EventsReplaced();

  IClock& FClock;
  TFormatSettings FLocalFormat, FDotFormat, FCommaFormat;
  TJvHidDevice* FDevice = nullptr;
  QString FSerial;
  QString FBoundSerial;
  bool FAdapterFraming = false;
  std::size_t FReportLength = 0;
  TRequestQueue FRequests;
  std::uint64_t FLastTicket = 0;
  std::unordered_map<std::uint64_t, TRequestDoneHandler> FTickets;
  TTimer* FPollTimer = nullptr;     // owned as a child
  TTimer* FTimeoutTimer = nullptr;  // owned as a child

  double FTemperature;
  double FSetpoint = 0.0;
  double FReadyBand = 0.1;
  int FProtection = 0;
  bool FSwitchedOff = false;
  TTimeInBand FInBand;
  std::optional<double> FInside;

  std::shared_ptr<TMeasurementRecord> FRecord;
  bool FRecording = false;
  double FTimeBase = 0.0;
  bool FModified = false;
  QString FJournalFolder;
  QString FJournalOwner;
  QString FNotesFolder;  // of the program's note
  std::unique_ptr<TRecordJournal> FJournal;
  std::unique_ptr<TEventJournal> FEventJournal;  // the journal's events, beside it

  TProgramRunner FRunner;
  TSetpointLimits FLimits;
  TProgram FProgram;
  QString FProgramPath;
  QString FProgramSerial;
  TTimer* FProgramTimer = nullptr;  // owned as a child
  std::unique_ptr<QFile> FNote;     // the note written last, holding its lock
  int FNotedStep = -1;
  TProgramState FNotedState = TProgramState::Stopped;

  std::vector<TEvent> FEvents;
  QString FActing;        // the source of what happens now; empty: the user
  TWallClock FWall;       // the wall clock of the session's clock readings
  int FLoggedProtection = 0;  // the protection status last logged
  std::vector<TSetpointWrite> FReadBacks;  // written; their read-back not yet answered
  bool FSetpointKnown = false;             // a setpoint was read from this thermostat

  TAlarmConfig FAlarmConfig;
  TAlarmWatch FAlarms;
  std::vector<TAlarmChange> FAlarmChanges;
};

// The journal owner of a session bound to serial: the process id and the
// serial, percent-encoded for a file name ("1234@SIM0001", "1234@SN%2D3").
QString JournalOwnerFor(const QString& serial);
// The serial a journal file of such an owner names; empty for one of a
// program of one window.
QString JournalSerial(const QString& journalPath);

// A temperature program that was running when its program ended, as its note tells.
struct TAbandonedProgram {
  QString Serial;  // the thermostat it ran on; empty in an earlier version's note
  QString Notice;  // what a person is told of it
};
// The notes of such programs in folder, each gone once read; a note whose
// program still runs is locked and left alone.
std::vector<TAbandonedProgram> TakeAbandonedPrograms(const QString& folder);

// The text of a protection status: "Норма", or the lowest fault bit's name.
QString ProtectionText(int bits);

}  // namespace calorix
