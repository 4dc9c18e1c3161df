#pragma once
// An in-process HID platform of virtual thermostats, for tests, benchmarks and
// the program's simulated mode. Plugging and unplugging are done on the UI
// thread and fire the change notification from the event loop.
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "base/Clock.h"
#include "link/HidPlatform.h"
#include "link/SimThermostat.h"

namespace calorix {

class TSimHidPlatform final : public IHidPlatform {
 public:
  // Without a clock the bath runs on the steady clock.
  explicit TSimHidPlatform(std::shared_ptr<IClock> clock = {});
  ~TSimHidPlatform() override;

  // Each plug gets a new identity; the node name is the lowest free one, as
  // the kernel reuses minor numbers.
  std::shared_ptr<TSimThermostat> Plug(TSimThermostatOptions options = {});
  bool Unplug(const std::shared_ptr<TSimThermostat>& device);
  std::vector<std::shared_ptr<TSimThermostat>> Present() const { return FPresent; }
  int EnumerationCount() const { return FEnumerations; }
  // Runs a pending change notification at once (benchmarks without an event loop).
  void NotifyNow();

  std::vector<THidInterfaceInfo> Enumerate() override;
  bool ReadStrings(const THidInterfaceInfo& info, THidStrings& strings) override;
  std::unique_ptr<IHidChannel> Open(const THidInterfaceInfo& info, QString& error) override;
  void SetChangeCallback(std::function<void()> callback) override;

 private:
  void Notify();
  std::shared_ptr<TSimThermostat> Find(const QString& identity) const;

  std::shared_ptr<IClock> FClock;
  std::unique_ptr<QObject> FContext;  // target of the queued notifications
  std::function<void()> FCallback;
  std::vector<std::shared_ptr<TSimThermostat>> FPresent;
  bool FNotifyPending = false;
  int FNextIdentity = 1;
  int FNextSerial = 1;
  int FEnumerations = 0;
};

// The kinds of device named by "--simulate=..." ("" = one thermostat); false
// and a message in error for an unknown word.
bool ParseSimulatedDevices(const QString& devices, std::vector<TSimFraming>* kinds,
                           QString* error = nullptr);

// The devices of "--simulate" ("" = one thermostat) or "--simulate=thermostat,adapter,...".
// Unknown words give nullptr and a message in error.
std::unique_ptr<IHidPlatform> MakeSimulatedPlatform(const QString& devices,
                                                    QString* error = nullptr,
                                                    std::shared_ptr<IClock> clock = {});

}  // namespace calorix
