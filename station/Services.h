#pragma once
// The station's services, one of each for the whole program whatever front end
// shows it (the windows, the headless service): the SCPI port and the MQTT
// publisher, with their sections of the settings file ("Remote", "MQTT") and
// this run's --remote and --mqtt on top.
#include "base/Endpoint.h"
#include "station/Publisher.h"
#include "station/Remote.h"

#include <QObject>

#include <memory>
#include <optional>

namespace calorix {

class TIniFile;
class TStation;

class TStationServices final : public QObject {
 public:
  // remote, mqtt: named on the command line, for this run only.
  TStationServices(TStation& station, std::optional<TEndpoint> remote,
                   std::optional<TEndpoint> mqtt, QObject* parent = nullptr);
  ~TStationServices() override;

  // Reads both sections and starts what they and the options ask for; the
  // publisher exists from here on. The section "Alarm" goes to the station.
  void Start(const TIniFile& ini);

  TRemoteService& Remote() { return *FRemote; }
  TSessionPublisher* Publisher() const { return FPublisher.get(); }  // none before Start

  // Remote settings taken in a dialog: listening anew when where or whether
  // to listen changed. The dialog's choice replaces --remote for this run.
  void ApplyRemote(const TRemoteSettings& settings);
  // Writes what the settings file should keep of both sections (a file that
  // never had them stays without them while they are the defaults); false
  // when a write failed.
  bool Save(TIniFile& ini) const;

 private:
  std::optional<TEndpoint> FRemoteOption;
  const std::optional<TEndpoint> FMqttOption;
  std::unique_ptr<TRemoteService> FRemote;
  std::unique_ptr<TSessionPublisher> FPublisher;
};

}  // namespace calorix
