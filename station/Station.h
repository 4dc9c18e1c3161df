#pragma once
// The thermostats plugged in and the sessions that watch them: the HID
// controller, which devices are thermostats of ours (the maker's name and the
// product name patterns), arrivals and removals, and the rule that decides
// which thermostat a session takes.
#include "link/HidPlatform.h"

#include <QObject>
#include <QString>

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

  // The session the first acceptable thermostat goes to, and the one the
  // station's rule serves (one session: the first found is selected).
  void AddSession(TThermostatSession* session);  // not owned
  const std::vector<TThermostatSession*>& Sessions() const { return FSessions; }

  // Attaches dev to the session; false (with Refused) when it cannot carry a
  // request or another program holds it.
  bool Select(TThermostatSession& session, TJvHidDevice* dev);

  TJvHidDeviceController* Controller() const { return FController; }
  // The thermostats found, checked out, in order of arrival.
  const std::vector<TJvHidDevice*>& Devices() const { return FDevices; }
  // The device's caption in lists: its serial number, and whether another program holds it.
  static QString DeviceCaption(TJvHidDevice* dev);

 signals:
  void DeviceArrived(TJvHidDevice* dev);         // a thermostat was found (before it is selected)
  void DeviceRemoved(TJvHidDevice* dev);         // one went (the pointer names it, nothing more)
  void DeviceCaptionChanged(TJvHidDevice* dev);  // now held by another program, or free
  void Refused(TThermostatSession* session, TJvHidDevice* dev, const QString& why);
  void HandlerFailed(const QString& text);  // an exception escaped a handler

 private:
  void Arrival(TJvHidDevice* dev);
  void Removal(TJvHidDevice* dev);

  TJvHidDeviceController* FController = nullptr;  // owned as a child
  std::unique_ptr<TRegEx> FAdapterRegEx, FProductRegEx;
  std::vector<TJvHidDevice*> FDevices;
  std::vector<TThermostatSession*> FSessions;
};

}  // namespace calorix
