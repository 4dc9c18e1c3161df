#pragma once
// The main window: owner of every object of the program and the hub of its
// events. The subsystems' logic lives in plain classes (link/, chart/, files/,
// console/); the handlers here wire the window's controls to them.
#include "app/CommandLine.h"
#include "app/Prompts.h"
#include "base/Clock.h"
#include "base/Helper.h"
#include "base/Language.h"
#include "base/NumberFormat.h"
#include "base/Timer.h"
#include "chart/ReadOut.h"
#include "chart/TimeWindow.h"
#include "link/HidPlatform.h"
#include "link/RequestQueue.h"
#include "program/Program.h"
#include "record/Record.h"
#include "station/Session.h"
#include "station/Station.h"

#include <QMainWindow>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QSlider;
class QTabWidget;
class QTableWidget;
class QToolBar;
class QToolButton;
class QWidget;
class QPlainTextEdit;
class QFrame;
class QCustomPlot;

namespace calorix {

class TSettingsFrm;
class TConsole;
class TChart;
class TValuesModel;
class TValuesView;
class TEventsModel;
class TEventsView;
class TJvHidDevice;
class TJvHidDeviceController;
class TRegEx;
class TRecordJournal;
class TProgramControl;
class TRemoteWindow;
class TIniFile;
class TStationServices;
class TWindows;

// What the window is given from outside; tests pass their own.
struct TMainFrmOptions {
  IPrompts* Prompts = nullptr;             // required, not owned
  IClock* Clock = nullptr;                 // required, not owned
  QString IniFileName;                     // the settings file
  std::unique_ptr<IHidPlatform> Platform;  // where HID devices come from; none: no devices
  // Where the recording journal lives; empty: no journal is kept.
  QString JournalFolder;
  // How often the journal is written to the disk, milliseconds.
  int JournalPeriodMs = 5000;
  // Named on the command line: switch these on for this run, whatever the settings file says.
  std::optional<TEndpoint> Remote;  // the SCPI server
  std::optional<TEndpoint> Mqtt;    // the MQTT broker
  // The thermostats of the program, shared by its windows; none: the window
  // makes its own from Platform.
  TStation* Station = nullptr;
  // The program's windows (opening one, bringing one up); none: this window only.
  TWindows* Windows = nullptr;
  // The thermostat the window is for; empty: the first one found.
  QString Serial;
  // The first window keeps the settings; the others keep only their
  // placement, per serial.
  bool First = true;
  // The program's SCPI port and broker, shown by every window; none: the
  // first window makes its own from Remote and Mqtt.
  TStationServices* Services = nullptr;
};

class TMainFrm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainFrm(TMainFrmOptions options, QWidget* parent = nullptr);
  ~TMainFrm() override;

  // Runs once after construction (the program entry calls it).
  void FormCreate();

  // --- Application shell
  void ShowDisconnected();
  void EnableConsole(bool enabled);
  void ApplyPollTime();
  void SettingsBtnClick();
  // Also adds the settings groups of the other subsystems to the dialog.
  void SetSettingsForm(TSettingsFrm* form);

  // --- The bath this window shows, and the thermostats plugged in
  TThermostatSession* Session() const { return FSession; }
  TStation* Station() const { return FStation; }
  // The first window: keeps today's settings keys, the SCPI port and the
  // broker; the others only their placement.
  bool First() const { return FFirst; }
  // The thermostat the window is for; empty: the first one found.
  const QString& BoundSerial() const { return FBoundSerial; }
  // The title, with " [SERIAL]" while several windows are open.
  void UpdateTitle(bool several);

  // --- Thermostat discovery and selection (the station decides, the window shows)
  void HidControllerArrival(TJvHidDevice* HidDev);
  void HidControllerRemoval(TJvHidDevice* HidDev);
  bool IsSupportedDevice(TJvHidDevice* device) { return FStation->IsSupportedDevice(device); }
  bool IsAdapterDevice(TJvHidDevice* device) { return FStation->IsAdapterDevice(device); }
  void RebuildDevPopup();
  void DevPopupItemClick(QObject* Sender);
  // "Открыть в новом окне" of the menu's item with this tag (its device's position).
  void OpenInNewWindow(int tag);
  // Ctrl+N: a window for the first thermostat that no window shows.
  void NewWindowActionExecute();

  // --- The page "Обзор" (app/MainFormOverview.cpp)
  void ShowOverview();            // drawn anew while in view
  void OverviewRowOpen(int row);  // a double-click: the row's window up, or a new one
  void ShowConnected();
  TJvHidDevice* SelectedDevice() const { return FSession->Device(); }
  const std::vector<TJvHidDevice*>& Devices() const { return FStation->Devices(); }

  // --- Request queue, polling and time-outs (the session's)
  void QueueRequest(TRequestKind kind, const std::string& text) {
    FSession->QueueRequest(kind, text);
  }
  // A request whose asker (a temperature program, a remote client) hears how
  // it ended, once, on the UI thread; its error statuses raise no box.
  using TRequestDoneHandler = TThermostatSession::TRequestDoneHandler;
  void QueueRequest(TRequestKind kind, const std::string& text, TRequestDoneHandler done) {
    FSession->QueueRequest(kind, text, std::move(done));
  }
  void DataTimerTimer() { FSession->PollTick(); }
  void TimeoutTimer() { FSession->TimeoutTick(); }
  void HidControllerDeviceData(const std::uint8_t* data, std::size_t size) {
    FSession->InputReport(data, size);
  }
  // The error box. Raised while the thermostat's data or a timer is handled,
  // it waits until that handler has returned (see TBox).
  void ShowError(const QString& text);

  // --- Setpoint and protection status
  double Setpoint() const {
    return FSession->Setpoint();
  }  // as last read back; NaN when unreadable
  double ReadyBand() const { return FSession->ReadyBand(); }  // as last read
  void ShowTemperature(double value);
  void ShowSetpoint(double value);
  void ShowAlarm(int bits);
  bool edSetKeyPress(QChar key);  // false: the character is discarded
  void ChangeSetBtnClick();
  void ReadSetBtnClick();
  // The write request for a setpoint text, by the rules of "Изменить"; none
  // when the text is not a valid setpoint.
  std::optional<std::string> SetpointWriteRequest(QString text) const {
    return FSession->SetpointWriteRequest(std::move(text));
  }

  // --- Publishing to an MQTT broker (MainFormPublish.cpp)
  void SetUpPublish();  // the connection's state in the status bar
  void AddPublishSettings(TSettingsFrm* form);
  QLabel* MqttPanel = nullptr;  // the broker connection, in the status bar
  void ShowPublishState(const QString& text);

  // --- Measurement file, printing and the clipboard
  bool SaveActionExecute();  // true when the file was written
  // Writes the record to path without asking; the error text, empty when written.
  QString SaveRecordTo(const QString& path);
  void OpenActionExecute();
  void PrintActionExecute();
  void CopyActionExecute();

  // --- Pages
  void TabsChange(int index);

  // --- The page "События" and the chart's marks (app/MainFormEvents.cpp)
  TEventsModel* EventsModel() const { return FEventsModel; }
  // The selected event: its mark gets a line, the chart moves to it when it
  // lies within the record.
  void ShowEventOnChart(int row);

  // --- Console
  TConsole* Console() const { return FConsole; }

  // --- Measurement record (the session's)
  void CreateSeries();
  // A sample as a poll would add it (the temperature is shown, the chart follows).
  void AddSample(double time, double value);
  void RecordBtnClick();
  void ShowRecording(bool recording);
  void ClearBtnClick();
  void ClearRecord() { FSession->ClearRecord(); }  // what Clear does once confirmed
  void ShowResetRecord();
  double RecordLength() const { return FSession->RecordLength(); }
  // Offers to restore a record left by a program that did not close normally.
  void AskRestoreJournal();
  TRecordJournal* Journal() const { return FSession->Journal(); }
  void TrackNewest();
  // --- Interface language (app/MainFormLanguage.cpp): the choice for the next start.
  TLanguage LanguageSetting() const { return FLanguage; }
  void AddLanguageSettings(TSettingsFrm* form);
  // --- Remote control (app/MainFormRemote.cpp)
  void StartRemote();  // from FormCreate: the port's panel in the status bar
  void AddRemoteSettings(TSettingsFrm* form);
  bool Recording() const { return FSession->Recording(); }
  const TMeasurementRecord& Record() const { return FSession->Record(); }
  TValuesModel* ValuesModel() const { return FValues; }

  // --- Time window
  void FrameBtnClick();
  void FramePopupItemClick(QObject* Sender);
  void ApplyFrame();
  void cbXAutoClick();
  void ScrollBarChange(int position);
  const TTimeWindow& TimeWindow() const { return FWindow; }

  // --- Vertical scale
  void TrackBarChange();
  void cbYAutoClick();
  void ChartClick();
  // Mouse navigation and range statistics on the chart.
  void SetUpChartMouse();
  void ChartMovedByUser();
  void ChartZoomedByUser();
  void ReturnToFollowing();
  void MarkedRangeChanged();
  QString MarkedRangeClipboardText() const;  // empty without a marked range
  bool FollowsNewest() const { return !FUserView; }
  double ScaleMaxY() const { return FScaleMaxY; }

  // --- Capture and read-out
  void ResetCatch();
  void SetCatchCaption(const QString& text);
  void BuildCatchMenu();
  void CatchBtnClick();
  void CatchItemClick(QObject* Sender);
  void SeriesClick(int series, std::size_t index, Qt::MouseButton button);
  int CatchIndex() const { return FCatchIndex; }

  // --- Temperature programs
  // Loads a program file as the page's open does, without questions.
  bool ProgramLoad(const QString& path, QString* error);
  // Starts when stopped (refused when a step is outside the limits, without a
  // thermostat or without a program), resumes when paused.
  bool ProgramRun(QString* error);
  void ProgramPause();
  void ProgramStop();
  TProgramState ProgramState() const;
  int ProgramStep() const;  // the running step, 1-based; 0 when stopped
  QString ProgramName() const;
  TProgramControl* Program() const { return FProgram; }

  // Runs a handler; an exception that escapes it is shown and the program goes on.
  void Guarded(const std::function<void()>& handler);
  // Guarded, for a handler of the thermostat's data: the boxes it raises wait.
  void GuardedDataHandler(const std::function<void()>& handler);

  // --- State read by tests and by the program entry.
  int PollTime() const { return FPollTime; }
  void SetPollTime(int ms) { FPollTime = ms; }
  int& PollTimeRef() { return FPollTime; }
  bool Modified() const { return FSession->Modified(); }
  const TRequestQueue& Requests() const { return FSession->Requests(); }
  const TFormatSettings& LocalFormat() const { return FLocalFormat; }
  const QString& IniFileName() const { return FIniFileName; }

  // Components, named as in the form layout.
  QToolBar* ToolBar1 = nullptr;
  QAction* OpenAction = nullptr;
  QAction* SaveAction = nullptr;
  QAction* PrintAction = nullptr;
  QAction* CopyAction = nullptr;
  QToolButton* OpenGraphBtn = nullptr;
  QToolButton* SaveGraphBtn = nullptr;
  QToolButton* PrintBtn = nullptr;
  QToolButton* CopyBtn = nullptr;
  QToolButton* SettingsBtn = nullptr;
  QToolButton* AdaptersBtn = nullptr;
  QMenu* DevPopup = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QFrame* Panel4 = nullptr;
  QLineEdit* stTemp = nullptr;
  QLineEdit* edSet = nullptr;
  QPushButton* ChangeSetBtn = nullptr;
  QPushButton* ReadSetBtn = nullptr;
  QLabel* StaticText1 = nullptr;
  QLabel* stAlarm = nullptr;
  QLabel* stInBand = nullptr;  // time within the readiness band
  QTabWidget* Tabs = nullptr;
  QWidget* GraphTab = nullptr;
  QWidget* ValTab = nullptr;
  QWidget* EventsTab = nullptr;
  TEventsView* EventsView = nullptr;
  QWidget* ConsoleTab = nullptr;
  QWidget* OverviewTab = nullptr;
  QTableWidget* OverviewTable = nullptr;
  QAction* NewWindowAction = nullptr;
  TChart* Chart = nullptr;
  QFrame* Panel2 = nullptr;
  QFrame* Panel3 = nullptr;
  QLabel* stYScale = nullptr;
  QCheckBox* cbYAuto = nullptr;
  QSlider* TrackBar = nullptr;
  QPushButton* RecordBtn = nullptr;
  QPushButton* ClearBtn = nullptr;
  QPushButton* FrameBtn = nullptr;
  QPushButton* CatchBtn = nullptr;
  QLabel* CatchPnl = nullptr;
  QCheckBox* cbXAuto = nullptr;
  QScrollBar* ScrollBar = nullptr;
  TValuesView* Memo = nullptr;
  QPlainTextEdit* edConsole = nullptr;
  std::vector<QLabel*> StatusPanels;  // the status bar's three panels
  QMenu* FramePopup = nullptr;
  QMenu* CatchPopup = nullptr;
  TTimer* DataTimer = nullptr;  // the session's poll
  TTimer* Timeout = nullptr;    // the session's answer time-out
  TTimer* PromptTimer = nullptr;
  TJvHidDeviceController* HidController = nullptr;  // the station's

  QString StatusText(int panel) const;
  void SetStatusText(int panel, const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateComponents();
  QWidget* CreateLeftPanel();
  QWidget* CreateGraphPage();
  void ConnectHandlers();
  void SetUpTimeWindow(int frameSetting);
  void SetUpVerticalScale(int maxYSetting, int positionSetting);
  bool FormCloseQuery();
  void FormClose();
  void ReportIniFailure(const QString& path);
  void ConnectSession();
  void CreateOverviewPage();
  void CreateEventsPage();
  void FollowEvents();  // the page and the marks follow the session's log
  void AddEventMarks(int first, int last);
  void FollowSessions();  // the overview follows every session's readings
  QString OverviewWindowText(const TThermostatSession* session) const;
  void ShowSample(double value);  // the temperature text, and the chart following the record
  void ShowLoadedRecord();
  int DeviceIndex(const TJvHidDevice* dev) const;
  // The check marks of the device menu follow the selected thermostat.
  void CheckSelectedDevice();
  // A box raised inside a handler of the thermostat's data or of a timer waits
  // until the handler has returned: a modal loop inside it would stop the
  // hand-over of input reports (or that timer) for as long as the box is open.
  // Waiting boxes are shown one at a time, never two of the same text at once.
  struct TBox {
    bool Exception = false;  // the box for an exception that escaped a handler
    QString Text;
    bool operator==(const TBox&) const = default;
  };
  void ShowBox(const TBox& box);
  void ShowWaitingBoxes();
  // Temperature programs (app/MainFormProgram.cpp).
  friend class TProgramControl;
  void ProgramCreate();
  void ShowLoadedProgram();  // the session loaded a program: the editor shows it
  void ProgramFormCreate(const TIniFile& ini);
  void ProgramFormClose(TIniFile& ini);
  void ProgramSettings(TSettingsFrm& form);
  bool ProgramAllowsSetpointChange();
  void LanguageFormCreate(const TIniFile& ini);
  bool SaveLanguageSettings(TIniFile& ini);  // false: the write failed

  IPrompts& FPrompts;
  TConsole* FConsole = nullptr;  // owned by the window
  IClock& FClock;
  QString FIniFileName;
  TSettingsFrm* FSettingsForm = nullptr;
  bool FIniFailureReported = false;

  std::deque<TBox> FWaitingBoxes;    // raised in a handler, not shown yet
  std::optional<TBox> FOpenBox;      // the waiting box shown now
  bool FWaitingBoxesPosted = false;  // ShowWaitingBoxes is queued on the event loop

  // The thermostats and this window's bath: gone before anything of the window.
  std::unique_ptr<TStation> FOwnStation;  // when no station was given
  TStation* FStation = nullptr;
  TThermostatSession* FSession = nullptr;  // the window's own (a child of the station)
  TWindows* FWindows = nullptr;
  QString FBoundSerial;
  bool FFirst = true;
  QList<QMetaObject::Connection> FOverviewLinks;

  // Private fields, in declaration order of the window's layout.
  int FCatchIndex = 0;
  // The frame (FFrameIndex, FFrameLength), the remembered window
  // (FWindowMin, FWindowMax) and the last scroll position (FScrollPos).
  TTimeWindow FWindow;
  double FScaleMaxY = 2000.0;
  TValuesModel* FValues = nullptr;  // the values page's lines, owned by the window
  TEventsModel* FEventsModel = nullptr;  // the events page's rows, owned by the window
  TCommandHistory FHistory;
  bool FUserView = false;     // the time axis was zoomed or panned by mouse
  bool FKeepJournal = false;  // a save wanted at close did not happen
  int FPollTime = 1000;
  std::optional<TEndpoint> FMqttOption;  // --mqtt for this run, for services of its own
  TFormatSettings FLocalFormat;
  TProgramControl* FProgram = nullptr;       // owned by the window
  TLanguage FLanguage = TLanguage::Russian;  // as the next start will load it
  bool FLanguageInFile = false;              // the settings file names one: kept up to date
  std::optional<TEndpoint> FRemoteOption;    // --remote for this run, for services of its own
  TStationServices* FServices = nullptr;     // the program's, or FOwnServices
  std::unique_ptr<TStationServices> FOwnServices;
  std::unique_ptr<TRemoteWindow> FRemote;  // last: gone before anything it uses
};

// The program's one main window, set by the program entry.
extern TMainFrm* MainFrm;

}  // namespace calorix
