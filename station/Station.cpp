#include "station/Station.h"

#include "base/Guarded.h"
#include "base/Messages.h"
#include "link/Hid.h"
#include "link/RegEx.h"
#include "station/Session.h"

#include <algorithm>
#include <exception>

namespace calorix {
namespace {
constexpr char kMakerName[] = "norvik";
}

TStation::TStation(std::unique_ptr<IHidPlatform> platform, QObject* parent)
    : QObject(parent), FAdapterRegEx(std::make_unique<TRegEx>(QStringLiteral("adapter"))) {
  const auto guarded = [this](const std::function<void()>& handler) {
    if (const auto escaped = RunGuarded(handler))
      emit HandlerFailed(*escaped);
  };
  FController = new TJvHidDeviceController(std::move(platform), this);
  FController->setObjectName(QStringLiteral("HidController"));
  FController->OnArrival = [this, guarded](TJvHidDevice* d) { guarded([&] { Arrival(d); }); };
  FController->OnRemoval = [this, guarded](TJvHidDevice* d) { guarded([&] { Removal(d); }); };
  FController->OnHandlerError = [guarded](std::exception_ptr error) {
    guarded([&] { std::rethrow_exception(error); });
  };
}

TStation::~TStation() {
  // No handler may run into a half-destroyed station.
  FController->OnArrival = nullptr;
  FController->OnRemoval = nullptr;
  FController->OnHandlerError = nullptr;
  // The devices go with the controller: no session may keep one.
  for (TThermostatSession* s : FSessions)
    s->ForgetDevice();
  delete FController;
}

void TStation::SetProductPattern(const QString& pattern) {
  FProductRegEx = std::make_unique<TRegEx>(pattern);
}

bool TStation::IsSupportedDevice(TJvHidDevice* device) const {
  if (AsciiLower(device->VendorName()) != QLatin1String(kMakerName))
    return false;
  return FProductRegEx && FProductRegEx->IsMatch(device->ProductName());
}

bool TStation::IsAdapterDevice(TJvHidDevice* device) const {
  if (AsciiLower(device->VendorName()) != QLatin1String(kMakerName))
    return false;
  return FAdapterRegEx && FAdapterRegEx->IsMatch(device->ProductName());
}

void TStation::SetAlarmConfig(const TAlarmConfig& config) {
  FAlarmConfig = config;
  for (TThermostatSession* session : FSessions)
    session->SetAlarmConfig(config);
}

void TStation::AddSession(TThermostatSession* session) {
  FSessions.push_back(session);
  session->SetAlarmConfig(FAlarmConfig);
  // A session that goes (its window closed) frees its thermostat by itself.
  connect(session, &QObject::destroyed, this, [this, session] {
    FSessions.erase(std::remove(FSessions.begin(), FSessions.end(), session), FSessions.end());
    emit SessionsChanged();
  });
  emit SessionsChanged();
}

void TStation::RemoveSession(TThermostatSession* session) {
  const auto it = std::find(FSessions.begin(), FSessions.end(), session);
  if (it == FSessions.end())
    return;
  FSessions.erase(it);
  session->disconnect(this);
  session->ForgetDevice();
  emit SessionsChanged();
}

TThermostatSession* TStation::SessionOf(const TJvHidDevice* dev) const {
  for (TThermostatSession* s : FSessions) {
    if (dev && s->Device() == dev)
      return s;
  }
  return nullptr;
}

TThermostatSession* TStation::SessionFor(const QString& serial) const {
  for (TThermostatSession* s : FSessions) {
    if (s->Device() && s->Serial() == serial)
      return s;
  }
  for (TThermostatSession* s : FSessions) {
    if (!s->Device() && !serial.isEmpty() && s->BoundSerial() == serial)
      return s;
  }
  return nullptr;
}

TJvHidDevice* TStation::Device(const QString& serial) const {
  for (TJvHidDevice* dev : FDevices) {
    if (Serial(dev) == serial)
      return dev;
  }
  return nullptr;
}

TJvHidDevice* TStation::FreeDevice() const {
  for (TJvHidDevice* dev : FDevices) {
    if (!SessionFor(Serial(dev)))
      return dev;
  }
  return nullptr;
}

QString TStation::Serial(const TJvHidDevice* dev) const {
  const auto it = FSerials.find(dev);
  return it == FSerials.end() ? QString() : it->second;
}

QString TStation::DeviceCaption(TJvHidDevice* dev) const {
  return dev->IsBusy() ? tr("%1 (занят другой программой)").arg(Serial(dev)) : Serial(dev);
}

bool TStation::Select(TThermostatSession& session, TJvHidDevice* dev) {
  if (dev == session.Device())
    return true;
  const HIDP_CAPS caps = dev->Caps();
  const bool adapter = IsAdapterDevice(dev);
  if (!CanCarryPayload(caps.OutputReportByteLength, adapter)) {
    // A report too short for one payload byte could never carry a request.
    emit Refused(&session, dev, LoadStr(1034).arg(Serial(dev)));
    return false;
  }
  // Two sessions never poll the same thermostat.
  if (SessionOf(dev)) {
    emit Refused(&session, dev, tr("Термостат %1 показан в другом окне").arg(Serial(dev)));
    return false;
  }
  // Another program polling it would take our answers for its own, and we its.
  const bool locked = dev->Lock();
  emit DeviceCaptionChanged(dev);
  if (!locked) {
    emit Refused(&session, dev, tr("Термостат %1 занят другой программой").arg(Serial(dev)));
    return false;
  }
  session.Attach(dev, adapter, Serial(dev));
  return true;
}

void TStation::Assign(TThermostatSession& session) {
  if (session.Device())
    return;
  if (!session.BoundSerial().isEmpty()) {
    TJvHidDevice* dev = Device(session.BoundSerial());
    if (dev && !SessionOf(dev))
      Select(session, dev);
    return;
  }
  // The first one found, passing over those another program holds and those
  // other sessions show or wait for.
  for (std::size_t i = 0; i < FDevices.size() && !session.Device(); ++i) {
    TJvHidDevice* candidate = FDevices[i];
    if (SessionFor(Serial(candidate)))
      continue;
    if (!Select(session, candidate) && !candidate->IsBusy())
      break;
  }
}

void TStation::Arrival(TJvHidDevice* HidDev) {
  if (!IsSupportedDevice(HidDev))
    return;
  TJvHidDevice* dev = nullptr;
  if (!FController->CheckOutByProductName(dev, HidDev->ProductName()))
    return;
  dev->SetNumInputBuffers(128);
  dev->SetNumOverlappedBuffers(128);
  dev->SetOnData({});
  // A serial met again while the first is plugged in is told apart by "#2", "#3".
  const QString serial = dev->SerialNumber();
  QString shown = serial;
  for (int n = 2; std::any_of(FSerials.begin(), FSerials.end(),
                              [&](const auto& d) { return d.second == shown; });
       ++n)
    shown = QStringLiteral("%1#%2").arg(serial).arg(n);
  FSerials[dev] = shown;
  FDevices.push_back(dev);
  emit DeviceArrived(dev);
  // The sessions waiting for a thermostat, this one or any, log its coming.
  for (TThermostatSession* s : FSessions) {
    if (!s->Device() && (s->BoundSerial().isEmpty() || s->BoundSerial() == shown)) {
      const TThermostatSession::TActing system(*s, source::kSystem);
      s->LogEvent(TEventKind::ThermostatArrived, LoadStr(1227).arg(shown),
                  {{QStringLiteral("serial"), shown}});
    }
  }
  // A session waiting for this very thermostat takes it.
  for (TThermostatSession* s : FSessions) {
    if (!s->Device() && !s->BoundSerial().isEmpty() && s->BoundSerial() == shown) {
      Select(*s, dev);
      return;
    }
  }
  // A session for whatever is found (the first window's) takes the first one.
  for (TThermostatSession* session : FSessions) {
    if (session->BoundSerial().isEmpty())
      Assign(*session);
  }
}

void TStation::Removal(TJvHidDevice* HidDev) {
  if (!IsSupportedDevice(HidDev))
    return;
  for (TThermostatSession* s : FSessions) {
    if (s->Device() == HidDev)
      s->Detach();
  }
  FDevices.erase(std::remove(FDevices.begin(), FDevices.end(), HidDev), FDevices.end());
  FSerials.erase(HidDev);
  emit DeviceRemoved(HidDev);
  TJvHidDevice* dev = HidDev;
  FController->CheckIn(dev);
}

}  // namespace calorix
