#pragma once
// The thermostats plugged in and the sessions that watch them: the HID
// controller, which devices are thermostats of ours (the maker's name and the
// product name patterns), arrivals and removals, and the rule that decides
// which thermostat a session takes.
#include "link/HidPlatform.h"
#include "station/Alarms.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace calorix {

class TJvHidDevice;
class TJvHidDeviceController;
class TRegEx;
class TThermostatSession;

class TStation : public QObject {
  Q_OBJECT
 public:
  // Without a platform no thermostat is ever found. The first scan runs from
  // the event loop, after the owner's set-up.
  explicit TStation(std::unique_ptr<IHidPlatform> platform, QObject* parent = nullptr);
  ~TStation() override;

  // The product names taken for thermostats (the settings' "usb/pname", a
  // regular expression); adapters are those whose name says "adapter".
  void SetProductPattern(const QString& pattern);
  bool IsSupportedDevice(TJvHidDevice* device) const;
  bool IsAdapterDevice(TJvHidDevice* device) const;

  // The sessions, in the order they were added: the first one is the first
  // window's. Rules: a session bound to a serial takes that thermostat when it
  // is found and again when it comes back; an unbound one (the first window's)
  // without a thermostat takes the first acceptable one that no session holds
  // or waits for, as a program of one window always did. A thermostat is never
  // held by two sessions.
  void AddSession(TThermostatSession* session);     // not owned
  void RemoveSession(TThermostatSession* session);  // its thermostat is freed
  const std::vector<TThermostatSession*>& Sessions() const { return FSessions; }
  // The alarm settings of every session, those added later too.
  void SetAlarmConfig(const TAlarmConfig& config);
  const TAlarmConfig& AlarmConfig() const { return FAlarmConfig; }
  // Gives a session without a thermostat the one its rule names, when it is
  // here (a session added while the thermostats are already found).
  void Assign(TThermostatSession& session);
  // The session holding dev; none.
  TThermostatSession* SessionOf(const TJvHidDevice* dev) const;
  // The session showing the thermostat of this serial, or waiting for it; none.
  TThermostatSession* SessionFor(const QString& serial) const;
  // The first thermostat that no session holds or waits for; none.
  TJvHidDevice* FreeDevice() const;
  // The device of this serial (as Serial() shows it); none.
  TJvHidDevice* Device(const QString& serial) const;

  // Attaches dev to the session; false (with Refused) when it cannot carry a
  // request, another program holds it or another session shows it.
  bool Select(TThermostatSession& session, TJvHidDevice* dev);
  // The serial as every list, title and topic shows it: "#2", "#3" after a
  // serial met again while the first is still plugged in.
  QString Serial(const TJvHidDevice* dev) const;

  TJvHidDeviceController* Controller() const { return FController; }
  // The thermostats found, checked out, in order of arrival.
  const std::vector<TJvHidDevice*>& Devices() const { return FDevices; }
  // The device's caption in lists: its serial, and whether another program holds it.
  QString DeviceCaption(TJvHidDevice* dev) const;

 signals:
  void DeviceArrived(TJvHidDevice* dev);         // a thermostat was found (before it is selected)
  void DeviceRemoved(TJvHidDevice* dev);         // one went (the pointer names it, nothing more)
  void DeviceCaptionChanged(TJvHidDevice* dev);  // now held by another program, or free
  void SessionsChanged();                        // a session was added or removed
  void Refused(TThermostatSession* session, TJvHidDevice* dev, const QString& why);
  void HandlerFailed(const QString& text);  // an exception escaped a handler

 private:
  void Arrival(TJvHidDevice* dev);
  void Removal(TJvHidDevice* dev);

  TJvHidDeviceController* FController = nullptr;  // owned as a child
  std::unique_ptr<TRegEx> FAdapterRegEx, FProductRegEx;
  std::vector<TJvHidDevice*> FDevices;
  std::map<const TJvHidDevice*, QString> FSerials;  // as shown, fixed at arrival
  std::vector<TThermostatSession*> FSessions;
  TAlarmConfig FAlarmConfig;
};

}  // namespace calorix
