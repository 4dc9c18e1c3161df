#pragma once
// A main window under test: its own settings file in a temporary folder,
// scripted prompts, a manual clock and manual timers.
#include "app/MainForm.h"
#include "base/Clock.h"
#include "base/Timer.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "tests/support/ui/ScriptedPrompts.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace calorix::test {

class TWindowFixture {
 public:
  TWindowFixture();
  ~TWindowFixture() { Destroy(); }

  QString IniPath() const { return FDir.filePath(QStringLiteral("Calorix.ini")); }
  void WriteIni(const QByteArray& text) const;
  QByteArray ReadIni() const;
  // The journal folder: the fixture's own unless another program's is shared.
  QString JournalFolder() const {
    return FJournalFolder.isEmpty() ? FDir.filePath(QStringLiteral("state")) : FJournalFolder;
  }
  void SetJournalFolder(const QString& folder) { FJournalFolder = folder; }

  // Builds the window over a simulated HID platform and runs FormCreate.
  // The devices plugged in before are announced from the event loop.
  TMainFrm& Create();
  // Plugs a simulated thermostat in (before or after Create).
  std::shared_ptr<TSimThermostat> Plug(TSimThermostatOptions options = {});
  // Runs the event loop until cond() holds or timeoutMs pass; false on time-out.
  static bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 3000);
  // Lets queued events (scans, report hand-overs) run.
  static void Settle(int ms = 50);
  // Closes the window as the user would (close question, settings written).
  void Close();
  void Destroy();

  TMainFrm* Window() { return FWindow.get(); }
  TScriptedPrompts Prompts;
  TManualClock Clock;
  std::optional<TEndpoint> MqttOption;  // --mqtt, given before Create
  TSimHidPlatform* Sim = nullptr;       // owned by the window's HID controller

 private:
  QTemporaryDir FDir;
  QString FJournalFolder;
  std::unique_ptr<TSimHidPlatform> FSim;  // until the window takes it
  std::unique_ptr<TMainFrm> FWindow;
};

}  // namespace calorix::test
