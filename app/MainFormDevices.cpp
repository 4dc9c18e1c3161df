// The main window's thermostats: which HID devices are taken, the device menu,
// the selection and the writes to the selected one.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "link/Hid.h"
#include "link/RegEx.h"

#include <QActionGroup>
#include <QMenu>
#include <QPushButton>

#include <algorithm>

namespace calorix {
namespace {
constexpr char kMakerName[] = "norvik";
}

bool TMainFrm::IsSupportedDevice(TJvHidDevice* device) {
  if (AsciiLower(device->VendorName()) != QLatin1String(kMakerName))
    return false;
  return FProductRegEx && FProductRegEx->IsMatch(device->ProductName());
}

bool TMainFrm::IsAdapterDevice(TJvHidDevice* device) {
  if (AsciiLower(device->VendorName()) != QLatin1String(kMakerName))
    return false;
  return FAdapterRegEx && FAdapterRegEx->IsMatch(device->ProductName());
}

void TMainFrm::HidControllerArrival(TJvHidDevice* HidDev) {
  if (!IsSupportedDevice(HidDev))
    return;
  TJvHidDevice* dev = nullptr;
  if (!HidController->CheckOutByProductName(dev, HidDev->ProductName()))
    return;
  dev->SetNumInputBuffers(128);
  dev->SetNumOverlappedBuffers(128);
  dev->SetOnData({});
  FDevices.push_back(dev);
  RebuildDevPopup();
  // The first one found is selected by itself, passing over those another program holds.
  for (QAction* item : DevPopup->actions()) {
    if (FSelectedDevice)
      break;
    DevPopupItemClick(item);
    const int tag = item->data().toInt();
    if (!FSelectedDevice && !FDevices.at(std::size_t(tag))->IsBusy())
      break;
  }
}

void TMainFrm::HidControllerRemoval(TJvHidDevice* HidDev) {
  if (!IsSupportedDevice(HidDev))
    return;
  if (HidDev == FSelectedDevice) {
    FSelectedDevice = nullptr;
    ShowDisconnected();
    DataTimer->SetEnabled(false);
    // Requests left for the removed thermostat would hold back the next one's.
    FRequests.DeviceGone();
  }
  FDevices.erase(std::remove(FDevices.begin(), FDevices.end(), HidDev), FDevices.end());
  TJvHidDevice* dev = HidDev;
  HidController->CheckIn(dev);
  RebuildDevPopup();
}

void TMainFrm::RebuildDevPopup() {
  DevPopup->clear();
  auto* group = DevPopup->findChild<QActionGroup*>(QStringLiteral("DevGroup"));
  if (!group) {
    group = new QActionGroup(DevPopup);
    group->setObjectName(QStringLiteral("DevGroup"));
    group->setExclusive(true);
  }
  for (std::size_t i = 0; i < FDevices.size(); ++i) {
    TJvHidDevice* dev = FDevices[i];
    QAction* item = DevPopup->addAction(DeviceCaption(dev));
    item->setCheckable(true);
    item->setChecked(dev == FSelectedDevice);
    item->setData(int(i));  // the item's tag: its device's position
    group->addAction(item);
    connect(item, &QAction::triggered, this,
            [this, item] { Guarded([this, item] { DevPopupItemClick(item); }); });
  }
}

void TMainFrm::DevPopupItemClick(QObject* Sender) {
  auto* item = qobject_cast<QAction*>(Sender);
  if (!item)
    return;
  item->setChecked(true);
  const int tag = item->data().toInt();
  if (tag < 0 || std::size_t(tag) >= FDevices.size())
    return;
  TJvHidDevice* dev = FDevices[std::size_t(tag)];
  if (dev == FSelectedDevice)
    return;
  const HIDP_CAPS caps = dev->Caps();
  const bool adapter = IsAdapterDevice(dev);
  const auto refuse = [&](const QString& why) {
    SetStatusText(1, why);
    if (FSelectedDevice) {
      // The check mark stays with the thermostat still selected.
      for (QAction* a : DevPopup->actions())
        a->setChecked(a->data().toInt() == DeviceIndex(FSelectedDevice));
    } else {
      item->setChecked(false);
    }
  };
  if (!CanCarryPayload(caps.OutputReportByteLength, adapter)) {
    // A report too short for one payload byte could never carry a request.
    refuse(LoadStr(1034).arg(dev->SerialNumber()));
    return;
  }
  // Another program polling it would take our answers for its own, and we its.
  const bool locked = dev->Lock();
  item->setText(DeviceCaption(dev));
  if (!locked) {
    refuse(tr("Термостат %1 занят другой программой").arg(dev->SerialNumber()));
    return;
  }
  if (FSelectedDevice) {
    FSelectedDevice->Unlock();  // free for another program now
    FSelectedDevice->SetOnData({});
    // Requests meant for the previous thermostat must not reach this one; their
    // askers hear they were dropped while no thermostat is selected.
    FSelectedDevice = nullptr;
    FRequests.DeviceGone();
  }
  FSelectedDevice = dev;
  // What it sent while not selected answered requests it will never be asked again.
  dev->DiscardInput();
  dev->SetOnData([this](TJvHidDevice*, uint8_t, const uint8_t* data, uint16_t size) {
    GuardedDataHandler([&] { HidControllerDeviceData(data, size); });
  });
  if (FReport.size() != caps.OutputReportByteLength)
    FReport.resize(caps.OutputReportByteLength);
  ShowConnected();
  FAdapterFraming = adapter;
  if (FAdapterFraming)
    WriteAdapterSetup();
  QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
  QueueRequest(rkReadyBand, std::string(kReadyBandRequest));
  QueueRequest(rkTemperature, std::string(kTemperatureRequest));
  DataTimer->SetEnabled(true);
}

QString TMainFrm::DeviceCaption(TJvHidDevice* dev) {
  return dev->IsBusy() ? tr("%1 (занят другой программой)").arg(dev->SerialNumber())
                       : dev->SerialNumber();
}

int TMainFrm::DeviceIndex(const TJvHidDevice* dev) const {
  auto it = std::find(FDevices.begin(), FDevices.end(), dev);
  return it == FDevices.end() ? -1 : int(it - FDevices.begin());
}

void TMainFrm::ShowConnected() {
  SetStatusText(0, LoadStr(1001) + FSelectedDevice->SerialNumber());
  SetStatusText(1, QString());
  RecordBtn->setEnabled(true);
  EnableConsole(true);
  SetStatusText(1, QString());
  if (!FSelectedDevice->HasReadWriteAccess() && !FSelectedDevice->AccessError().isEmpty())
    SetStatusText(1, FSelectedDevice->AccessError());
  emit SelectionChanged();
}

void TMainFrm::WriteAdapterSetup() {
  WriteReport(AdapterSetupReport(FReport.size()));
}

bool TMainFrm::HasDevice() const {
  return FSelectedDevice != nullptr;
}

std::size_t TMainFrm::OutputReportLength() const {
  return FReport.size();
}

void TMainFrm::WriteReport(const TBytes& report) {
  if (!FSelectedDevice)
    return;
  uint32_t written = 0;
  FSelectedDevice->WriteFile(report.data(), uint32_t(report.size()), written);
}

}  // namespace calorix
