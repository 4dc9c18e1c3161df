#include "station/Station.h"

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
    try {
      handler();
    } catch (const std::exception& e) {
      emit HandlerFailed(QString::fromUtf8(e.what()));
    } catch (...) {
      emit HandlerFailed(QString());
    }
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

void TStation::AddSession(TThermostatSession* session) {
  FSessions.push_back(session);
}

QString TStation::DeviceCaption(TJvHidDevice* dev) {
  return dev->IsBusy() ? tr("%1 (занят другой программой)").arg(dev->SerialNumber())
                       : dev->SerialNumber();
}

bool TStation::Select(TThermostatSession& session, TJvHidDevice* dev) {
  if (dev == session.Device())
    return true;
  const HIDP_CAPS caps = dev->Caps();
  const bool adapter = IsAdapterDevice(dev);
  if (!CanCarryPayload(caps.OutputReportByteLength, adapter)) {
    // A report too short for one payload byte could never carry a request.
    emit Refused(&session, dev, LoadStr(1034).arg(dev->SerialNumber()));
    return false;
  }
  // Another program polling it would take our answers for its own, and we its.
  const bool locked = dev->Lock();
  emit DeviceCaptionChanged(dev);
  if (!locked) {
    emit Refused(&session, dev,
                 tr("Термостат %1 занят другой программой").arg(dev->SerialNumber()));
    return false;
  }
  session.Attach(dev, adapter);
  return true;
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
  FDevices.push_back(dev);
  emit DeviceArrived(dev);
  // The first one found is selected by itself, passing over those another program holds.
  if (FSessions.empty())
    return;
  TThermostatSession& session = *FSessions.front();
  for (std::size_t i = 0; i < FDevices.size() && !session.Device(); ++i) {
    TJvHidDevice* candidate = FDevices[i];
    if (!Select(session, candidate) && !candidate->IsBusy())
      break;
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
  emit DeviceRemoved(HidDev);
  TJvHidDevice* dev = HidDev;
  FController->CheckIn(dev);
}

}  // namespace calorix
