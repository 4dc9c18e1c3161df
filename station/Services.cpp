#include "station/Services.h"

#include "base/IniFile.h"
#include "station/Station.h"

namespace calorix {
namespace {

const QString kRemote = QStringLiteral("Remote");

TRemoteSettings ReadRemoteSettings(const TIniFile& ini) {
  TRemoteSettings s;
  s.Enabled = ini.ReadBool(kRemote, QStringLiteral("Enabled"), false);
  s.Address = ini.ReadString(kRemote, QStringLiteral("Address"), QStringLiteral("127.0.0.1"));
  s.Port = ini.ReadInteger(kRemote, QStringLiteral("Port"), kDefaultRemotePort);
  s.Folder = ini.ReadString(kRemote, QStringLiteral("Folder"), QString()).trimmed();
  const int idle = ini.ReadInteger(kRemote, QStringLiteral("IdleTimeout"), 600);
  // Negative or beyond a day: the default.
  s.IdleSeconds = idle >= 0 && idle <= 86400 ? idle : 600;
  return s;
}

}  // namespace

TStationServices::TStationServices(TStation& station, std::optional<TEndpoint> remote,
                                   std::optional<TEndpoint> mqtt, QObject* parent)
    : QObject(parent),
      FRemoteOption(std::move(remote)),
      FMqttOption(std::move(mqtt)),
      FRemote(std::make_unique<TRemoteService>(station)) {}

TStationServices::~TStationServices() {
  // Clients first: their commands reach sessions the publisher follows too.
  FRemote.reset();
  FPublisher.reset();
}

void TStationServices::Start(const TIniFile& ini) {
  // The alarms' settings (section "Alarm"): every session of the station watches by them.
  FRemote->Station().SetAlarmConfig(TAlarmConfig(ini));
  FPublisher =
      std::make_unique<TSessionPublisher>(FRemote->Station(), ReadPublishConfig(ini), FMqttOption);
  TRemoteSettings& s = FRemote->Settings;
  s = ReadRemoteSettings(ini);
  std::optional<TEndpoint> endpoint = FRemoteOption;
  if (!endpoint && s.Enabled) {
    // A port outside 1..65535 in the file means the default one.
    const int port = s.Port >= 1 && s.Port <= 65535 ? s.Port : kDefaultRemotePort;
    endpoint = TEndpoint{s.Address.trimmed(), std::uint16_t(port)};
  }
  FRemote->Start(endpoint);
}

void TStationServices::ApplyRemote(const TRemoteSettings& settings) {
  TRemoteSettings& s = FRemote->Settings;
  const bool changed =
      settings.Enabled != s.Enabled || settings.Address != s.Address || settings.Port != s.Port;
  s.Enabled = settings.Enabled;
  s.Address = settings.Address;
  s.Port = settings.Port;
  if (!changed)
    return;
  FRemoteOption.reset();
  FRemote->Start(s.Enabled ? std::optional<TEndpoint>(TEndpoint{s.Address, std::uint16_t(s.Port)})
                           : std::nullopt);
}

bool TStationServices::Save(TIniFile& ini) const {
  bool ok = true;
  // Written only once the dialog changed them.
  if (FPublisher && FPublisher->Dirty())
    ok = WritePublishConfig(ini, FPublisher->Stored());
  const TRemoteSettings& s = FRemote->Settings;
  const TRemoteSettings def;
  if (s.Enabled == def.Enabled && s.Address == def.Address && s.Port == def.Port &&
      ini.ReadString(kRemote, QStringLiteral("Enabled"), QString()).isEmpty())
    return ok;
  return ini.WriteBool(kRemote, QStringLiteral("Enabled"), s.Enabled) &&
         ini.WriteString(kRemote, QStringLiteral("Address"), s.Address) &&
         ini.WriteInteger(kRemote, QStringLiteral("Port"), s.Port) && ok;
}

}  // namespace calorix
