#include "app/MainForm.h"

#include "app/MainFormAlarms.h"
#include "app/MainFormRemote.h"
#include "app/Placement.h"
#include "app/SettingsForm.h"
#include "app/Windows.h"
#include "base/Guarded.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "chart/Chart.h"
#include "chart/ValuesModel.h"
#include "chart/VerticalScale.h"
#include "console/Console.h"
#include "link/Hid.h"
#include "link/RegEx.h"
#include "record/Journal.h"
#include "station/Services.h"

#include <qcustomplot.h>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace calorix {

TMainFrm* MainFrm = nullptr;

namespace {

QFont PixelFont(const QString& family, int pixels, bool bold = false) {
  QFont f(family);
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

QToolButton* MakeToolButton(QToolBar* bar, const QString& name, const QString& caption,
                            const QString& hint, QStyle::StandardPixmap icon) {
  auto* b = new QToolButton(bar);
  b->setObjectName(name);
  b->setText(caption);
  b->setToolTip(hint);
  b->setIcon(bar->style()->standardIcon(icon));
  b->setIconSize(QSize(32, 32));
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  // 68 x 52, wider where the caption needs it (fonts differ between systems).
  b->setFixedHeight(52);
  b->setMinimumWidth(68);
  b->setFont(PixelFont(QStringLiteral("Tahoma"), 11));
  b->setAccessibleName(caption);
  bar->addWidget(b);
  return b;
}

QAction* MakeAction(QWidget* owner, const QString& name, const QString& caption,
                    const QString& hint, const QKeySequence& shortcut) {
  auto* a = new QAction(caption, owner);
  a->setObjectName(name);
  a->setToolTip(hint);
  a->setShortcut(shortcut);
  a->setShortcutContext(Qt::WindowShortcut);
  owner->addAction(a);  // the shortcut works even while the tool button is disabled
  return a;
}

// A caption above a one-line edit, as a labelled edit shows it.
QLineEdit* MakeLabelledEdit(QWidget* parent, QVBoxLayout* layout, const QString& name,
                            const QString& caption) {
  auto* label = new QLabel(caption, parent);
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setFont(PixelFont(QStringLiteral("Tahoma"), 19, true));
  edit->setAccessibleName(caption);
  label->setBuddy(edit);
  layout->addWidget(label);
  layout->addWidget(edit);
  return edit;
}

}  // namespace

TMainFrm::TMainFrm(TMainFrmOptions options, QWidget* parent)
    : QMainWindow(parent),
      FPrompts(*options.Prompts),
      FClock(*options.Clock),
      FIniFileName(options.IniFileName),
      FMqttOption(options.Mqtt),
      FRemoteOption(options.Remote) {
  setObjectName(QStringLiteral("MainFrm"));
  // Construction: fields start empty; the number formats come from the locale.
  FLocalFormat = TFormatSettings::FromLocale(QLocale::system());
  FWindows = options.Windows;
  FBoundSerial = options.Serial;
  FFirst = options.First;
  FServices = options.Services;
  if (options.Station) {
    FStation = options.Station;
  } else {
    // The controller posts its first scan now; it runs from the event loop, after FormCreate.
    FOwnStation = std::make_unique<TStation>(std::move(options.Platform));
    FStation = FOwnStation.get();
  }
  HidController = FStation->Controller();
  TSessionOptions session;
  session.Clock = &FClock;
  session.JournalFolder = options.JournalFolder;
  session.JournalPeriodMs = options.JournalPeriodMs;
  session.Serial = FBoundSerial;
  if (!First()) {
    // A window of its own thermostat: its journal and program note name it,
    // and its placement is kept in a section of its own.
    session.JournalOwner = JournalOwnerFor(FBoundSerial);
    setObjectName(QStringLiteral("Window %1").arg(FBoundSerial));
  }
  FSession = new TThermostatSession(std::move(session), FStation);
  FStation->AddSession(FSession);
  DataTimer = FSession->PollTimer();
  Timeout = FSession->TimeoutTimer();
  CreateComponents();
  ConnectHandlers();
  ConnectSession();
  ProgramCreate();
  CreateOverviewPage();
  new TAlarmView(*this);  // the window's child
}

TMainFrm::~TMainFrm() {
  if (MainFrm == this)
    MainFrm = nullptr;
  // Nothing may reach a window that is going: the others and the overview forget it.
  if (FWindows)
    FWindows->Forget(this);
  OverviewTable = nullptr;
  FRemote.reset();  // it shows the services
  FOwnServices.reset();
  // No handler of the thermostats may run into a half-destroyed window: the
  // session goes (its thermostat is free again), and an own station with it.
  FStation->disconnect(this);
  delete FSession;
  FSession = nullptr;
  FOwnStation.reset();
  HidController = nullptr;
  DataTimer = Timeout = nullptr;
}

void TMainFrm::CreateComponents() {
  setWindowTitle(tr("Calorix v3.0 - Норвик"));
  setFont(PixelFont(QStringLiteral("Tahoma"), 11));
  move(240, 328);
  resize(970, 629);

  // Timers (polling and the answer time-out are the session's).
  PromptTimer = new TTimer(this, 250, /*singleShot=*/true);
  PromptTimer->setObjectName(QStringLiteral("PromptTimer"));

  // Tool bar.
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(32, 32));
  ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  addToolBar(Qt::TopToolBarArea, ToolBar1);

  OpenAction = MakeAction(this, QStringLiteral("OpenAction"), tr("Открыть"), tr("Открыть графики"),
                          QKeySequence(QStringLiteral("Ctrl+O")));
  SaveAction = MakeAction(this, QStringLiteral("SaveAction"), tr("Сохранить"),
                          tr("Сохранить графики"), QKeySequence(QStringLiteral("Ctrl+S")));
  PrintAction = MakeAction(this, QStringLiteral("PrintAction"), tr("Печать"), tr("Печать графиков"),
                           QKeySequence(QStringLiteral("Ctrl+P")));
  CopyAction =
      MakeAction(this, QStringLiteral("CopyAction"), tr("Копировать"),
                 tr("Копировать графики в буфер обмена"), QKeySequence(QStringLiteral("Ctrl+C")));
  NewWindowAction = MakeAction(this, QStringLiteral("NewWindowAction"), LoadStr(1129),
                               LoadStr(1130), QKeySequence(QStringLiteral("Ctrl+N")));

  OpenGraphBtn = MakeToolButton(ToolBar1, QStringLiteral("OpenGraphBtn"), OpenAction->text(),
                                OpenAction->toolTip(), QStyle::SP_DialogOpenButton);
  SaveGraphBtn = MakeToolButton(ToolBar1, QStringLiteral("SaveGraphBtn"), SaveAction->text(),
                                SaveAction->toolTip(), QStyle::SP_DialogSaveButton);
  PrintBtn = MakeToolButton(ToolBar1, QStringLiteral("PrintBtn"), PrintAction->text(),
                            PrintAction->toolTip(), QStyle::SP_FileDialogDetailedView);
  CopyBtn = MakeToolButton(ToolBar1, QStringLiteral("CopyBtn"), CopyAction->text(),
                           CopyAction->toolTip(), QStyle::SP_FileDialogContentsView);
  SettingsBtn = MakeToolButton(ToolBar1, QStringLiteral("SettingsBtn"), tr("Настройки"),
                               tr("Настройки программы"), QStyle::SP_FileDialogListView);
  ToolBar1->addSeparator();
  AdaptersBtn = MakeToolButton(ToolBar1, QStringLiteral("AdaptersBtn"), tr("Термостаты"),
                               tr("Список подключенных термостатов"), QStyle::SP_DriveHDIcon);
  DevPopup = new QMenu(AdaptersBtn);
  DevPopup->setToolTipsVisible(true);  // an item says what its right button offers
  DevPopup->setObjectName(QStringLiteral("DevPopup"));
  AdaptersBtn->setMenu(DevPopup);
  AdaptersBtn->setPopupMode(QToolButton::InstantPopup);

  // The progress bar stands over the right-hand part of the tool bar area.
  auto* spacer = new QWidget(ToolBar1);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  ToolBar1->addWidget(spacer);
  ProgressBar = new QProgressBar(ToolBar1);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setFixedWidth(300);
  ProgressBar->setTextVisible(false);
  QAction* progressAction = ToolBar1->addWidget(ProgressBar);
  progressAction->setVisible(false);
  ProgressBar->setProperty("toolbarAction", QVariant::fromValue<QObject*>(progressAction));

  // Central area: the thermostat panel on the left, the pages on the right.
  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(CreateLeftPanel());

  Tabs = new QTabWidget(central);
  Tabs->setObjectName(QStringLiteral("Tabs"));
  row->addWidget(Tabs, 1);
  GraphTab = CreateGraphPage();
  Tabs->addTab(GraphTab, tr("Графики"));

  ValTab = new QWidget(Tabs);
  ValTab->setObjectName(QStringLiteral("ValTab"));
  auto* valLayout = new QVBoxLayout(ValTab);
  valLayout->setContentsMargins(0, 0, 0, 0);
  FValues = new TValuesModel(FSession->RecordPtr(), FLocalFormat, this);
  Memo = new TValuesView(ValTab);
  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setModel(FValues);
  valLayout->addWidget(Memo);
  Tabs->addTab(ValTab, tr("Значения"));
  CreateEventsPage();

  ConsoleTab = new QWidget(Tabs);
  ConsoleTab->setObjectName(QStringLiteral("ConsoleTab"));
  auto* conLayout = new QVBoxLayout(ConsoleTab);
  conLayout->setContentsMargins(0, 0, 0, 0);
  FConsole = new TConsole(ConsoleTab, PromptTimer);
  FConsole->setParent(this);
  edConsole = FConsole->edConsole();
  conLayout->addWidget(edConsole);
  Tabs->addTab(ConsoleTab, tr("Консоль"));
  Tabs->setCurrentIndex(0);
  setCentralWidget(central);

  // Status bar with three panels.
  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->setSizeGripEnabled(true);
  const int widths[] = {200, 350, 50};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(statusBar());
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setMinimumWidth(widths[i]);
    if (i < 2)
      panel->setFixedWidth(widths[i]);
    panel->setFrameShape(QFrame::StyledPanel);
    statusBar()->addWidget(panel, i == 2 ? 1 : 0);
    StatusPanels.push_back(panel);
  }

  // Popup menus.
  FramePopup = new QMenu(this);
  FramePopup->setObjectName(QStringLiteral("FramePopup"));
  auto* frames = new QActionGroup(FramePopup);
  const char* frameNames[] = {"FramePopupItem", "N151", "N301", "N11", "N21"};
  for (int i = 0; i < kFrameCount; ++i) {
    QAction* item = FramePopup->addAction(FrameCaption(i));
    item->setObjectName(QString::fromLatin1(frameNames[i]));
    item->setCheckable(true);
    item->setData(i);
    frames->addAction(item);
  }
  CatchPopup = new QMenu(this);
  CatchPopup->setObjectName(QStringLiteral("CatchPopup"));
}

QWidget* TMainFrm::CreateLeftPanel() {
  Panel4 = new QFrame(this);
  Panel4->setObjectName(QStringLiteral("Panel4"));
  Panel4->setFixedWidth(200);
  Panel4->setFrameShape(QFrame::StyledPanel);
  auto* col = new QVBoxLayout(Panel4);
  stTemp = MakeLabelledEdit(Panel4, col, QStringLiteral("stTemp"), tr("Температура, °C"));
  stTemp->setReadOnly(true);
  col->addSpacing(8);
  edSet = MakeLabelledEdit(Panel4, col, QStringLiteral("edSet"), tr("Уставка, °C"));
  auto* buttons = new QHBoxLayout;
  ChangeSetBtn = new QPushButton(tr("Изменить"), Panel4);
  ChangeSetBtn->setObjectName(QStringLiteral("ChangeSetBtn"));
  ChangeSetBtn->setToolTip(tr("Задать новую уставку"));
  ReadSetBtn = new QPushButton(tr("Прочитать"), Panel4);
  ReadSetBtn->setObjectName(QStringLiteral("ReadSetBtn"));
  ReadSetBtn->setToolTip(tr("Прочитать из термостата текущую уставку"));
  for (QPushButton* b : {ChangeSetBtn, ReadSetBtn}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  col->addLayout(buttons);
  col->addSpacing(8);
  auto* alarmRow = new QHBoxLayout;
  StaticText1 = new QLabel(tr("Защита:"), Panel4);
  StaticText1->setObjectName(QStringLiteral("StaticText1"));
  stAlarm = new QLabel(LoadStr(1021), Panel4);
  stAlarm->setObjectName(QStringLiteral("stAlarm"));
  alarmRow->addWidget(StaticText1);
  alarmRow->addWidget(stAlarm, 1);
  col->addLayout(alarmRow);
  stInBand = new QLabel(Panel4);  // filled by the first temperature read
  stInBand->setObjectName(QStringLiteral("stInBand"));
  col->addWidget(stInBand);
  col->addStretch(1);
  return Panel4;
}

QWidget* TMainFrm::CreateGraphPage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("GraphTab"));
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(0);

  Chart = new TChart(FLocalFormat, page);
  Chart->setObjectName(QStringLiteral("Chart"));
  grid->addWidget(Chart, 0, 0);

  // Right-hand column.
  Panel2 = new QFrame(page);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFixedWidth(90);
  auto* col = new QVBoxLayout(Panel2);
  stYScale = new QLabel(Panel2);
  stYScale->setObjectName(QStringLiteral("stYScale"));
  stYScale->setAlignment(Qt::AlignCenter);
  stYScale->setFont(PixelFont(QStringLiteral("Tahoma"), 11, true));
  stYScale->setToolTip(tr("Коэффициент масштаба"));
  cbYAuto = new QCheckBox(tr("Авто"), Panel2);
  cbYAuto->setObjectName(QStringLiteral("cbYAuto"));
  cbYAuto->setToolTip(tr("Автомасштаб"));
  TrackBar = new QSlider(Qt::Vertical, Panel2);
  TrackBar->setObjectName(QStringLiteral("TrackBar"));
  TrackBar->setToolTip(tr("Масштаб"));
  TrackBar->setRange(0, 11);
  TrackBar->setPageStep(1);
  TrackBar->setInvertedAppearance(true);  // position 0 at the top
  TrackBar->setInvertedControls(true);
  TrackBar->setTickPosition(QSlider::TicksLeft);
  TrackBar->setTickInterval(1);
  RecordBtn = new QPushButton(LoadStr(1003), Panel2);
  RecordBtn->setObjectName(QStringLiteral("RecordBtn"));
  ClearBtn = new QPushButton(tr("Очистить"), Panel2);
  ClearBtn->setObjectName(QStringLiteral("ClearBtn"));
  FrameBtn = new QPushButton(tr("Фрейм"), Panel2);
  FrameBtn->setObjectName(QStringLiteral("FrameBtn"));
  CatchBtn = new QPushButton(tr("Захват"), Panel2);
  CatchBtn->setObjectName(QStringLiteral("CatchBtn"));
  CatchPnl = new QLabel(LoadStr(1007), Panel2);
  CatchPnl->setObjectName(QStringLiteral("CatchPnl"));
  CatchPnl->setAlignment(Qt::AlignCenter);
  CatchPnl->setFrameShape(QFrame::StyledPanel);
  col->addWidget(stYScale);
  col->addWidget(cbYAuto);
  col->addWidget(TrackBar, 1, Qt::AlignHCenter);
  for (QPushButton* b : {RecordBtn, ClearBtn, FrameBtn, CatchBtn}) {
    b->setAutoDefault(false);
    col->addWidget(b);
  }
  col->addWidget(CatchPnl);
  grid->addWidget(Panel2, 0, 1);

  // Bottom strip.
  Panel3 = new QFrame(page);
  Panel3->setObjectName(QStringLiteral("Panel3"));
  auto* strip = new QHBoxLayout(Panel3);
  strip->setContentsMargins(4, 2, 4, 2);
  cbXAuto = new QCheckBox(tr("Вся запись"), Panel3);
  cbXAuto->setObjectName(QStringLiteral("cbXAuto"));
  cbXAuto->setToolTip(tr("Показать всю запись"));
  ScrollBar = new QScrollBar(Qt::Horizontal, Panel3);
  ScrollBar->setObjectName(QStringLiteral("ScrollBar"));
  ScrollBar->setRange(0, 100);
  ScrollBar->setPageStep(0);
  ScrollBar->setValue(100);
  strip->addWidget(cbXAuto);
  strip->addWidget(ScrollBar, 1);
  grid->addWidget(Panel3, 1, 0, 1, 2);
  return page;
}

void TMainFrm::ConnectHandlers() {
  auto on = [this](auto* sender, auto signal, void (TMainFrm::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  on(SettingsBtn, &QToolButton::clicked, &TMainFrm::SettingsBtnClick);
  on(ChangeSetBtn, &QPushButton::clicked, &TMainFrm::ChangeSetBtnClick);
  on(ReadSetBtn, &QPushButton::clicked, &TMainFrm::ReadSetBtnClick);
  edSet->installEventFilter(this);
  on(OpenAction, &QAction::triggered, &TMainFrm::OpenActionExecute);
  connect(SaveAction, &QAction::triggered, this,
          [this] { Guarded([this] { SaveActionExecute(); }); });
  on(PrintAction, &QAction::triggered, &TMainFrm::PrintActionExecute);
  on(CopyAction, &QAction::triggered, &TMainFrm::CopyActionExecute);
  on(NewWindowAction, &QAction::triggered, &TMainFrm::NewWindowActionExecute);
  DevPopup->installEventFilter(this);
  // The tool buttons run their actions; a disabled button leaves its shortcut working.
  connect(OpenGraphBtn, &QToolButton::clicked, OpenAction, &QAction::trigger);
  connect(SaveGraphBtn, &QToolButton::clicked, SaveAction, &QAction::trigger);
  connect(PrintBtn, &QToolButton::clicked, PrintAction, &QAction::trigger);
  connect(CopyBtn, &QToolButton::clicked, CopyAction, &QAction::trigger);
  on(RecordBtn, &QPushButton::clicked, &TMainFrm::RecordBtnClick);
  on(ClearBtn, &QPushButton::clicked, &TMainFrm::ClearBtnClick);
  on(FrameBtn, &QPushButton::clicked, &TMainFrm::FrameBtnClick);
  on(CatchBtn, &QPushButton::clicked, &TMainFrm::CatchBtnClick);
  on(cbXAuto, &QCheckBox::clicked, &TMainFrm::cbXAutoClick);
  on(cbYAuto, &QCheckBox::clicked, &TMainFrm::cbYAutoClick);
  on(TrackBar, &QSlider::valueChanged, &TMainFrm::TrackBarChange);
  on(Chart, &QCustomPlot::mousePress, &TMainFrm::ChartClick);
  SetUpChartMouse();
  connect(ScrollBar, &QScrollBar::valueChanged, this,
          [this](int pos) { Guarded([this, pos] { ScrollBarChange(pos); }); });
  connect(Chart, &TChart::SeriesClick, this,
          [this](int series, std::size_t index, Qt::MouseButton button) {
            Guarded([&] { SeriesClick(series, index, button); });
          });
  for (QAction* item : FramePopup->actions()) {
    connect(item, &QAction::triggered, this,
            [this, item] { Guarded([this, item] { FramePopupItemClick(item); }); });
  }
  connect(Tabs, &QTabWidget::currentChanged, this,
          [this](int index) { Guarded([this, index] { TabsChange(index); }); });
  PromptTimer->OnTimer = [this] { Guarded([this] { FConsole->PromptTimerTimer(); }); };
  FConsole->SendLine = [this](const QByteArray& line) {
    QueueRequest(rkConsole, std::string(line.constData(), std::size_t(line.size())));
  };
  FConsole->ClearRequests = [this] { FSession->ClearRequests(); };
  FConsole->ShowError = [this](const QString& text) { ShowError(text); };
  FConsole->HistoryUp = [this] { return FHistory.Up(); };
  FConsole->HistoryDown = [this] { return FHistory.Down(); };
  FConsole->HistoryAdd = [this](const QString& line) { FHistory.Add(line); };
}

void TMainFrm::ConnectSession() {
  TThermostatSession* s = FSession;
  connect(FStation, &TStation::HandlerFailed, this, [this](const QString& text) {
    ShowBox({true, text});
  });
  connect(s, &TThermostatSession::HandlerFailed, this, [this](const QString& text) {
    ShowBox({true, text});
  });
  connect(s, &TThermostatSession::ErrorRaised, this, &TMainFrm::ShowError);
  connect(s, &TThermostatSession::StatusMessage, this,
          [this](const QString& text) { SetStatusText(1, text); });
  connect(FStation, &TStation::DeviceArrived, this, &TMainFrm::HidControllerArrival);
  connect(FStation, &TStation::DeviceRemoved, this, &TMainFrm::HidControllerRemoval);
  connect(FStation, &TStation::DeviceCaptionChanged, this, [this](TJvHidDevice* dev) {
    const int index = DeviceIndex(dev);
    for (QAction* item : DevPopup->actions()) {
      if (item->data().toInt() == index)
        item->setText(FStation->DeviceCaption(dev));
    }
  });
  connect(FStation, &TStation::Refused, this,
          [this](TThermostatSession* session, TJvHidDevice*, const QString& why) {
            if (session != FSession)
              return;
            SetStatusText(1, why);
            // The check mark stays with the thermostat still selected.
            CheckSelectedDevice();
          });
  connect(s, &TThermostatSession::Attached, this, [this] {
    CheckSelectedDevice();
    ShowConnected();
  });
  connect(s, &TThermostatSession::Detached, this, [this] { ShowDisconnected(); });
  connect(s, &TThermostatSession::TemperatureRead, this, &TMainFrm::ShowTemperature);
  connect(s, &TThermostatSession::SetpointRead, this, &TMainFrm::ShowSetpoint);
  connect(s, &TThermostatSession::ProtectionRead, this, &TMainFrm::ShowAlarm);
  connect(s, &TThermostatSession::ThermostatSwitchedOff, this,
          [this] { SetStatusText(1, LoadStr(1033)); });
  connect(s, &TThermostatSession::ConsoleAnswerRead, this,
          [this](const QString& line) { FConsole->ShowConsoleAnswer(line); });
  connect(s, &TThermostatSession::RecordingChanged, this, &TMainFrm::ShowRecording);
  connect(s, &TThermostatSession::RecordReset, this, &TMainFrm::ShowResetRecord);
  connect(s, &TThermostatSession::RecordLoaded, this, &TMainFrm::ShowLoadedRecord);
}

void TMainFrm::Guarded(const std::function<void()>& handler) {
  if (const auto escaped = RunGuarded(handler))
    ShowBox({true, *escaped});
}

void TMainFrm::ShowBox(const TBox& box) {
  // A box with nothing waiting, outside those handlers, is shown at once.
  if (!TThermostatSession::HandlingData() && !TTimer::Ticking() && !FOpenBox) {
    if (box.Exception)
      FPrompts.ShowException(this, box.Text);
    else
      FPrompts.ShowError(this, box.Text);
    return;
  }
  if (FOpenBox == box ||
      std::find(FWaitingBoxes.begin(), FWaitingBoxes.end(), box) != FWaitingBoxes.end())
    return;
  FWaitingBoxes.push_back(box);
  // While a waiting box is open, the loop that shows it takes this one next.
  if (FOpenBox || FWaitingBoxesPosted)
    return;
  FWaitingBoxesPosted = true;
  QMetaObject::invokeMethod(
      this, [this] { ShowWaitingBoxes(); }, Qt::QueuedConnection);
}

void TMainFrm::ShowWaitingBoxes() {
  FWaitingBoxesPosted = false;
  while (!FWaitingBoxes.empty() && !FOpenBox) {
    // Events posted before the box's own loop starts (a report handed over,
    // a scan) would wait in it for the next new event: deliver them first.
    QCoreApplication::sendPostedEvents();
    // Those events may have raised a box and shown every waiting one.
    if (FWaitingBoxes.empty() || FOpenBox)
      return;
    FOpenBox = FWaitingBoxes.front();
    FWaitingBoxes.pop_front();
    struct TClosed {
      std::optional<TBox>& Box;
      ~TClosed() { Box.reset(); }
    } closed{FOpenBox};
    // Polling, recording, programs and remote clients go on while it is open.
    if (FOpenBox->Exception)
      FPrompts.ShowException(this, FOpenBox->Text);
    else
      FPrompts.ShowError(this, FOpenBox->Text);
  }
}

QString TMainFrm::StatusText(int panel) const {
  return StatusPanels.at(std::size_t(panel))->text();
}

void TMainFrm::SetStatusText(int panel, const QString& text) {
  StatusPanels.at(std::size_t(panel))->setText(text);
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

void TMainFrm::FormCreate() {
  Guarded([this] {
    ShowDisconnected();
    LoadFormPlacement(*this, FIniFileName);
    TIniFile ini(FIniFileName);
    FPollTime = ini.ReadInteger(QStringLiteral("Chart"), QStringLiteral("PollTime"), 1000);
    ApplyPollTime();
    if (First())
      FStation->SetProductPattern(ini.ReadString(QStringLiteral("usb"), QStringLiteral("pname"),
                                                 QStringLiteral("thermostat|(usb.{0,}adapter)")));
    CreateSeries();
    Chart->setToolTip(LoadStr(1010));
    SetUpVerticalScale(ini.ReadInteger(QStringLiteral("Chart"), QStringLiteral("MaxY"), 2000),
                       ini.ReadInteger(QStringLiteral("Chart"), QStringLiteral("RAxis"), 0));
    SetUpTimeWindow(ini.ReadInteger(QStringLiteral("Chart"), QStringLiteral("Frame"), 1));
    ResetCatch();
    BuildCatchMenu();
    FConsole->StartUp();
    ProgramFormCreate(ini);
    LanguageFormCreate(ini);
    if (!FServices && First()) {
      FOwnServices = std::make_unique<TStationServices>(*FStation, FRemoteOption, FMqttOption);
      FServices = FOwnServices.get();
      FServices->Start(ini);
    }
    SetUpPublish();
    StartRemote();
    if (!First()) {
      // A window of its own thermostat: the thermostat, when it is here already.
      FStation->Assign(*FSession);
      return;
    }
    // Asked once the window is on the screen.
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { AskRestoreJournal(); }); }, Qt::QueuedConnection);
  });
}

void TMainFrm::ShowDisconnected() {
  // A window of its own thermostat waits for it.
  SetStatusText(0, FBoundSerial.isEmpty() ? LoadStr(1002) : LoadStr(1111).arg(FBoundSerial));
  SetStatusText(1, QString());
  FSession->StopRecording();
  RecordBtn->setEnabled(false);
  EnableConsole(false);
  SetStatusText(1, QString());
  stTemp->clear();
  edSet->clear();
  stAlarm->clear();
  stInBand->clear();  // nothing is shown until a thermostat has been measured
}

void TMainFrm::UpdateTitle(bool several) {
  const QString serial = FSession->Device() ? FSession->Serial() : FBoundSerial;
  QString title = tr("Calorix v3.0 - Норвик");
  if (several && !serial.isEmpty())
    title += QStringLiteral(" [%1]").arg(serial);
  if (FSession->Alarms().Any())
    title = LoadStr(1151).arg(title);
  setWindowTitle(title);
}

void TMainFrm::EnableConsole(bool enabled) {
  FConsole->EnableConsole(enabled);
}

void TMainFrm::TabsChange(int index) {
  // Ctrl+C copies the chart on the graph page only; elsewhere it copies text.
  const QWidget* page = Tabs->widget(index);
  CopyAction->setShortcut(page == GraphTab ? QKeySequence(QStringLiteral("Ctrl+C"))
                                           : QKeySequence());
  if (page == ConsoleTab)
    FConsole->FocusConsole();
}

void TMainFrm::closeEvent(QCloseEvent* event) {
  // The window closes in every case; the question only offers to save first.
  Guarded([this] { FormCloseQuery(); });
  Guarded([this] { FormClose(); });
  event->accept();
}

bool TMainFrm::FormCloseQuery() {
  // Neither No nor a cancelled or failed save keeps the window open. A save
  // that was wanted but did not happen leaves the journal for the next start.
  if (FSession->Modified() && FPrompts.Confirm(this, LoadStr(1029)))
    FKeepJournal = !SaveActionExecute();
  return true;
}

void TMainFrm::FormClose() {
  FSession->Close(FKeepJournal);
  if (!SaveFormPlacement(*this, FIniFileName)) {
    ReportIniFailure(FIniFileName);
    return;
  }
  TIniFile ini(FIniFileName);
  // The port and the broker are the program's: any window's dialog may have changed them.
  bool ok = !FServices || FServices->Save(ini);
  // The other windows keep only their placement (their section names their thermostat).
  if (!First()) {
    if (!ok)
      ReportIniFailure(FIniFileName);
    return;
  }
  const QString chart = QStringLiteral("Chart");
  ok = ini.WriteInteger(chart, QStringLiteral("RAxis"), TrackBar->value()) &&
       ini.WriteInteger(chart, QStringLiteral("Frame"), FWindow.FrameIndex()) &&
       ini.WriteInteger(chart, QStringLiteral("MaxY"), MaxYToSetting(FScaleMaxY)) &&
       ini.WriteInteger(chart, QStringLiteral("PollTime"), FPollTime) &&
       SaveLanguageSettings(ini) && ok;
  if (!ok)
    ReportIniFailure(FIniFileName);
  ProgramFormClose(ini);
}

void TMainFrm::ReportIniFailure(const QString& path) {
  // Reported once; the window still closes.
  if (FIniFailureReported)
    return;
  FIniFailureReported = true;
  FPrompts.ShowError(this, LoadStr(1030).arg(path));
}

// ---------------------------------------------------------------------------
// Settings

void TMainFrm::ApplyPollTime() {
  FPollTime = ClampPollTime(FPollTime);
  FSession->SetPollTime(FPollTime);
}

void TMainFrm::SetSettingsForm(TSettingsFrm* form) {
  FSettingsForm = form;
  if (!form)
    return;
  // Each subsystem adds its group of settings here (app/MainForm<Subsystem>.cpp).
  ProgramSettings(*form);
  AddPublishSettings(form);
  AddRemoteSettings(form);
  AddLanguageSettings(form);
  findChild<TAlarmView*>()->AddSettings(*form);
}

void TMainFrm::SettingsBtnClick() {
  if (!FSettingsForm)
    return;
  if (FPrompts.ExecDialog(*FSettingsForm) != QDialog::Accepted)
    return;
  ApplyPollTime();
  // The settings are the program's: every bath's log keeps what changed.
  for (const TSettingChange& c : FSettingsForm->Changes()) {
    for (TThermostatSession* session : FStation->Sessions())
      session->LogSettingChanged(c.Key, c.Old, c.New);
  }
}

// ---------------------------------------------------------------------------
// Errors

void TMainFrm::ShowError(const QString& text) {
  ShowBox({false, text});
}

}  // namespace calorix
