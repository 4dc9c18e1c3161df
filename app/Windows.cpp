#include "app/Windows.h"

#include "app/SettingsForm.h"
#include "base/IniFile.h"
#include "link/Hid.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace calorix {

TWindows::TWindows(TWindowsOptions options, std::unique_ptr<IHidPlatform> platform, QObject* parent)
    : QObject(parent),
      FOptions(std::move(options)),
      FStation(std::make_unique<TStation>(std::move(platform))) {}

TWindows::~TWindows() {
  // The windows go before the services and the station their sessions stand on.
  while (!FWindows.empty())
    delete FWindows.front().data();  // it forgets itself
  FServices.reset();
}

void TWindows::Start() {
  FServices = std::make_unique<TStationServices>(*FStation, FOptions.Remote, FOptions.Mqtt);
  FServices->Start(TIniFile(FOptions.IniFileName));
  if (FOptions.Thermostats.isEmpty()) {
    Create(QString())->show();
    return;
  }
  // The first named thermostat takes the first window's part (the settings);
  // every named one waits in a window of its own.
  for (const QString& serial : FOptions.Thermostats) {
    if (!WindowOf(FStation->SessionFor(serial)))
      Create(serial)->show();
  }
}

TMainFrm* TWindows::Create(const QString& serial) {
  TMainFrmOptions options;
  options.Prompts = FOptions.Prompts;
  options.Clock = FOptions.Clock;
  options.IniFileName = FOptions.IniFileName;
  options.JournalFolder = FOptions.JournalFolder;
  options.JournalPeriodMs = FOptions.JournalPeriodMs;
  options.Station = FStation.get();
  options.Windows = this;
  const bool first = List().empty();
  options.First = first;
  options.Serial = serial;
  options.Services = FServices.get();
  auto* window = new TMainFrm(std::move(options));
  window->setAttribute(Qt::WA_DeleteOnClose);
  if (!first) {
    // Beside the newest window; the placement rule brings it onto the screen.
    const TMainFrm* last = List().back();
    window->resize(last->size());
    window->move(last->pos() + QPoint(32, 32));
  }
  FWindows.emplace_back(window);
  window->FormCreate();
  // The dialog is the window's own (a child: it goes with the window).
  window->SetSettingsForm(new TSettingsFrm(window, window->PollTimeRef()));
  connect(window->Session(), &TThermostatSession::Attached, this, [this] { Titles(); });
  if (first)
    MainFrm = window;
  Titles();
  emit WindowsChanged();
  return window;
}

TMainFrm* TWindows::Open(const QString& serial) {
  if (serial.isEmpty())
    return nullptr;
  if (TMainFrm* shown = WindowOf(FStation->SessionFor(serial))) {
    BringUp(shown);
    return shown;
  }
  TMainFrm* window = Create(serial);
  window->show();
  BringUp(window);
  return window;
}

TMainFrm* TWindows::OpenNext() {
  TJvHidDevice* dev = FStation->FreeDevice();
  return dev ? Open(FStation->Serial(dev)) : nullptr;
}

TMainFrm* TWindows::WindowOf(const TThermostatSession* session) const {
  for (const auto& w : FWindows) {
    if (w && session && w->Session() == session)
      return w.data();
  }
  return nullptr;
}

int TWindows::Number(const TMainFrm* window) const {
  int n = 0;
  for (const auto& w : FWindows) {
    if (!w)
      continue;
    ++n;
    if (w.data() == window)
      return n;
  }
  return 0;
}

std::vector<TMainFrm*> TWindows::List() const {
  std::vector<TMainFrm*> out;
  for (const auto& w : FWindows) {
    if (w)
      out.push_back(w.data());
  }
  return out;
}

void TWindows::BringUp(TMainFrm* window) {
  if (window->isMinimized())
    window->showNormal();
  window->raise();
  window->activateWindow();
}

void TWindows::Forget(TMainFrm* window) {
  FWindows.erase(std::remove_if(FWindows.begin(), FWindows.end(),
                                [window](const QPointer<TMainFrm>& w) {
                                  return w.isNull() || w.data() == window;
                                }),
                 FWindows.end());
  if (MainFrm == window)
    MainFrm = nullptr;
  Titles();
  emit WindowsChanged();
}

void TWindows::Titles() {
  const auto windows = List();
  for (TMainFrm* w : windows)
    w->UpdateTitle(windows.size() > 1);
}

}  // namespace calorix
