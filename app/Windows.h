#pragma once
// The program's windows: one per thermostat session, all over one station.
// The first window is the program of one window as it always was (it keeps
// the settings); the SCPI port and the broker are the program's, shown by
// every window, and stay while any window is open. Others are opened for one
// thermostat each ("Открыть в новом окне", Ctrl+N, the overview, the command
// line), beside the others, and remember their placement per serial.
#include "app/MainForm.h"
#include "station/Services.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace calorix {

struct TWindowsOptions {
  IPrompts* Prompts = nullptr;  // required, not owned
  IClock* Clock = nullptr;      // required, not owned
  QString IniFileName;
  QString JournalFolder;
  int JournalPeriodMs = 5000;
  std::optional<TEndpoint> Remote;
  std::optional<TEndpoint> Mqtt;
  // --thermostat: one window per serial at start, each waiting for its thermostat.
  QStringList Thermostats;
};

class TWindows final : public QObject {
  Q_OBJECT
 public:
  TWindows(TWindowsOptions options, std::unique_ptr<IHidPlatform> platform,
           QObject* parent = nullptr);
  ~TWindows() override;

  // Opens the windows of the start and shows them.
  void Start();
  // The window of the thermostat of this serial, brought up; one is opened for
  // it when none shows it. Empty serial: nothing.
  TMainFrm* Open(const QString& serial);
  // A window for the first thermostat that no window shows; none when every one is shown.
  TMainFrm* OpenNext();
  TMainFrm* WindowOf(const TThermostatSession* session) const;
  // 1-based, in the order the windows were opened; 0 for none.
  int Number(const TMainFrm* window) const;
  std::vector<TMainFrm*> List() const;
  TStation& Station() { return *FStation; }
  TStationServices* Services() const { return FServices.get(); }  // from Start
  static void BringUp(TMainFrm* window);
  // A window going: from its destructor, before anything of it is gone.
  void Forget(TMainFrm* window);

 signals:
  void WindowsChanged();  // one opened or closed

 private:
  TMainFrm* Create(const QString& serial);
  void Titles();

  TWindowsOptions FOptions;
  std::unique_ptr<TStation> FStation;
  std::unique_ptr<TStationServices> FServices;  // gone before the station
  std::vector<QPointer<TMainFrm>> FWindows;
};

}  // namespace calorix
