#include "link/SimHidPlatform.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSet>

#include <algorithm>
#include <utility>

namespace calorix {

class TSimChannel final : public IHidChannel {
 public:
  explicit TSimChannel(std::shared_ptr<TSimThermostat> device) : FDevice(std::move(device)) {
    FDevice->ChannelOpened();
  }
  ~TSimChannel() override {
    Unlock();
    FDevice->ChannelClosed();
  }

  TReadResult Read(std::vector<uint8_t>& report, int timeoutMs) override {
    return FDevice->ReadReport(report, timeoutMs, FInterrupted);
  }

  bool Write(const uint8_t* report, size_t size, size_t& written) override {
    written = 0;
    if (!FDevice->PluggedIn() || !report || size == 0)
      return false;
    // Like the driver: a whole output report, padded or cut to its length.
    std::vector<uint8_t> whole(TSimThermostat::kReportLength, 0);
    std::copy_n(report, std::min(size, whole.size()), whole.begin());
    FDevice->HandleOutputReport(whole.data(), whole.size());
    written = std::min(size, whole.size());
    return true;
  }

  void Interrupt() override { FDevice->Interrupt(FInterrupted); }

  bool Lock() override {
    FLocked = FLocked || FDevice->TryLock();
    return FLocked;
  }

  void Unlock() override {
    if (std::exchange(FLocked, false))
      FDevice->ReleaseLock();
  }

 private:
  std::shared_ptr<TSimThermostat> FDevice;
  bool FInterrupted = false;  // guarded by the device's mutex
  bool FLocked = false;       // this channel holds the device's lock
};

TSimHidPlatform::TSimHidPlatform(std::shared_ptr<IClock> clock)
    : FClock(clock ? std::move(clock) : std::make_shared<TSteadyClock>()),
      FContext(std::make_unique<QObject>()) {}

TSimHidPlatform::~TSimHidPlatform() {
  for (const auto& d : FPresent)
    d->SetUnplugged();
}

std::shared_ptr<TSimThermostat> TSimHidPlatform::Plug(TSimThermostatOptions options) {
  if (options.Serial.isEmpty()) {
    options.Serial = "SIM" + QByteArray::number(FNextSerial++).rightJustified(4, '0');
  }
  QSet<QString> used;
  for (const auto& d : FPresent)
    used.insert(d->Info().DevicePath);
  int minor = 0;
  while (used.contains(QStringLiteral("sim/hidraw%1").arg(minor)))
    ++minor;

  auto device = std::make_shared<TSimThermostat>(std::move(options), FClock);
  device->SetPlugged(QStringLiteral("sim:%1").arg(FNextIdentity++),
                     QStringLiteral("sim/hidraw%1").arg(minor));
  FPresent.push_back(device);
  Notify();
  return device;
}

bool TSimHidPlatform::Unplug(const std::shared_ptr<TSimThermostat>& device) {
  const auto it = std::find(FPresent.begin(), FPresent.end(), device);
  if (it == FPresent.end())
    return false;
  (*it)->SetUnplugged();
  FPresent.erase(it);
  Notify();
  return true;
}

void TSimHidPlatform::Notify() {
  // Changes in a row give one notification; before anyone listens there is none.
  if (FNotifyPending || !FCallback)
    return;
  FNotifyPending = true;
  QMetaObject::invokeMethod(
      FContext.get(), [this] { NotifyNow(); }, Qt::QueuedConnection);
}

void TSimHidPlatform::NotifyNow() {
  FNotifyPending = false;
  if (FCallback)
    FCallback();
}

std::vector<THidInterfaceInfo> TSimHidPlatform::Enumerate() {
  ++FEnumerations;
  std::vector<THidInterfaceInfo> out;
  out.reserve(FPresent.size());
  for (const auto& d : FPresent)
    out.push_back(d->Info());
  return out;
}

std::shared_ptr<TSimThermostat> TSimHidPlatform::Find(const QString& identity) const {
  for (const auto& d : FPresent) {
    if (d->Info().Identity == identity)
      return d;
  }
  return nullptr;
}

bool TSimHidPlatform::ReadStrings(const THidInterfaceInfo& info, THidStrings& strings) {
  const auto device = Find(info.Identity);
  if (!device)
    return false;
  strings = device->Info().Strings;
  return true;
}

std::unique_ptr<IHidChannel> TSimHidPlatform::Open(const THidInterfaceInfo& info, QString& error) {
  const auto device = Find(info.Identity);
  if (!device) {
    error = QCoreApplication::translate("calorix", "устройство %1 отключено").arg(info.DevicePath);
    return nullptr;
  }
  if (device->Options().Access != THidAccess::ReadWrite) {
    error = device->Info().AccessError;
    return nullptr;
  }
  return std::make_unique<TSimChannel>(device);
}

void TSimHidPlatform::SetChangeCallback(std::function<void()> callback) {
  FCallback = std::move(callback);
}

bool ParseSimulatedDevices(const QString& devices, std::vector<TSimFraming>* kinds,
                           QString* error) {
  std::vector<TSimFraming> found;
  const QString list = devices.trimmed();
  if (list.isEmpty()) {
    found.push_back(TSimFraming::Plain);
  } else {
    for (const QString& raw : list.split(u',')) {
      const QString word = raw.trimmed().toLower();
      if (word == u"thermostat") {
        found.push_back(TSimFraming::Plain);
      } else if (word == u"adapter") {
        found.push_back(TSimFraming::Adapter);
      } else {
        if (error) {
          *error = QStringLiteral(
                       "--simulate: неизвестное устройство \"%1\" (допустимы thermostat и adapter)")
                       .arg(raw.trimmed());
        }
        return false;
      }
    }
  }
  if (kinds)
    *kinds = std::move(found);
  return true;
}

std::unique_ptr<IHidPlatform> MakeSimulatedPlatform(const QString& devices, QString* error,
                                                    std::shared_ptr<IClock> clock) {
  std::vector<TSimFraming> kinds;
  if (!ParseSimulatedDevices(devices, &kinds, error))
    return nullptr;
  auto platform = std::make_unique<TSimHidPlatform>(std::move(clock));
  uint32_t seed = 1;
  for (TSimFraming kind : kinds) {
    TSimThermostatOptions options;
    options.Framing = kind;
    options.Seed = seed++;
    platform->Plug(options);
  }
  if (error)
    error->clear();
  return platform;
}

}  // namespace calorix
