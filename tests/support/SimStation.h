#pragma once
// Simulated baths found by a station, on manual timers and a manual clock:
// the set-up of the tests and benchmarks of what hangs off a session (the
// broker, the alarms, the event log). Manual timers from its making till it goes.
#include "base/Clock.h"
#include "base/Timer.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "station/Session.h"
#include "station/Station.h"

#include <initializer_list>
#include <memory>
#include <vector>

namespace calorix::test {

class TSimStation {
 public:
  // One bath of this serial at a steady 20 °C (no noise) for each serial.
  explicit TSimStation(std::initializer_list<const char*> serials) {
    TTimer::SetManualMode(true);
    auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&Clock, [](IClock*) {}));
    Sim = sim.get();
    for (const char* serial : serials) {
      TSimThermostatOptions bath;
      bath.Serial = serial;
      bath.Setpoint = bath.Temperature = 20.0;
      bath.Noise = 0.0;
      Baths.push_back(Sim->Plug(bath));
    }
    Station = std::make_unique<TStation>(std::move(sim));
    Station->SetProductPattern(QStringLiteral("thermostat"));
  }
  ~TSimStation() {
    Station.reset();
    TTimer::SetManualMode(false);
  }
  TSimStation(const TSimStation&) = delete;
  TSimStation& operator=(const TSimStation&) = delete;

  // A session of the station's, bound to serial (empty: the first thermostat found).
  TThermostatSession* Open(const QString& serial = {}) {
    TSessionOptions options;
    options.Clock = &Clock;
    options.Serial = serial;
    auto* session = new TThermostatSession(std::move(options), Station.get());
    Station->AddSession(session);
    return session;
  }

  TManualClock Clock;
  TSimHidPlatform* Sim = nullptr;
  std::vector<std::shared_ptr<TSimThermostat>> Baths;
  std::unique_ptr<TStation> Station;
};

}  // namespace calorix::test
