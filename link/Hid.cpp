#include "link/Hid.h"

#include <QDebug>
#include <QMetaObject>
#include <QSet>

#include <algorithm>

#include "link/HidDescriptor.h"

namespace calorix {

namespace {

constexpr qsizetype kMaxNameUnits = 254;

// Sets a flag for the life of a scope, also when a handler throws.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TFlagGuard() { FFlag = false; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& FFlag;
};

bool ValidQueueDepth(uint32_t n) {
  return n >= 2 && n <= 512;
}

}  // namespace

QString HidNameFromUtf8(const QByteArray& utf8) {
  QString text = QString::fromUtf8(utf8);
  const qsizetype nul = text.indexOf(QChar(u'\0'));
  if (nul >= 0)
    text.truncate(nul);
  if (text.size() > kMaxNameUnits) {
    qsizetype n = kMaxNameUnits;
    if (text.at(n - 1).isHighSurrogate())
      --n;
    text.truncate(n);
  }
  return text;
}

// ---------------------------------------------------------------- device

TJvHidDevice::TJvHidDevice(TJvHidDeviceController& controller, THidInterfaceInfo info)
    : FController(controller),
      FInfo(std::move(info)),
      FHasReadWriteAccess(FInfo.Access == THidAccess::ReadWrite),
      FAccessError(FInfo.AccessError) {}

TJvHidDevice::~TJvHidDevice() {
  StopReader();
  CloseChannel();
}

QString TJvHidDevice::Name(QString& cache, QByteArray THidStrings::*field) {
  if (!cache.isEmpty() || !CanOpen())
    return cache;
  QByteArray raw = FInfo.Strings.*field;
  if (raw.isEmpty()) {
    THidStrings fresh;
    if (FController.FPlatform && FController.FPlatform->ReadStrings(FInfo, fresh)) {
      raw = fresh.*field;
      FInfo.Strings.*field = raw;
    }
  }
  cache = HidNameFromUtf8(raw);
  return cache;
}

QString TJvHidDevice::VendorName() {
  return Name(FVendorName, &THidStrings::Manufacturer);
}
QString TJvHidDevice::ProductName() {
  return Name(FProductName, &THidStrings::Product);
}
QString TJvHidDevice::SerialNumber() {
  return Name(FSerialNumber, &THidStrings::Serial);
}

HIDP_CAPS TJvHidDevice::Caps() {
  if (!FCapsKnown && CanOpen()) {
    if (!FInfo.ReportDescriptor.isEmpty()) {
      const auto parsed = ParseReportDescriptor(
          reinterpret_cast<const uint8_t*>(FInfo.ReportDescriptor.constData()),
          size_t(FInfo.ReportDescriptor.size()));
      FCaps.Usage = parsed.Usage;
      FCaps.UsagePage = parsed.UsagePage;
      FCaps.InputReportByteLength = parsed.InputReportByteLength;
      FCaps.OutputReportByteLength = parsed.OutputReportByteLength;
      FCaps.FeatureReportByteLength = parsed.FeatureReportByteLength;
    } else {
      FCaps.InputReportByteLength = FInfo.InputReportLength;
      FCaps.OutputReportByteLength = FInfo.OutputReportLength;
    }
    FCapsKnown = true;
  }
  return FCapsKnown ? FCaps : HIDP_CAPS{};
}

void TJvHidDevice::SetNumInputBuffers(uint32_t n) {
  if (n == FNumInputBuffers || !CanOpen() || !ValidQueueDepth(n))
    return;
  FNumInputBuffers = n;
}

void TJvHidDevice::SetNumOverlappedBuffers(uint32_t n) {
  if (n == FNumOverlappedBuffers || !CanOpen() || !ValidQueueDepth(n))
    return;
  FNumOverlappedBuffers = n;
  std::lock_guard lock(FMutex);
  FQueueDepth = n;
  while (FQueue.size() > FQueueDepth)
    FQueue.pop_front();
}

bool TJvHidDevice::SetThreadSleepTime(int ms) {
  if (ms < 10 || ms > 10000)
    return false;
  FThreadSleepTime = ms;
  return true;
}

void TJvHidDevice::SetOnData(TJvHidDataEvent handler) {
  FOnData = std::move(handler);
  UpdateDelivery();
}

void TJvHidDevice::DiscardInput() {
  std::lock_guard lock(FMutex);
  FQueue.clear();
}

bool TJvHidDevice::Lock() {
  FBusy = EnsureChannel() && !FChannel->Lock();
  return !FBusy;
}

void TJvHidDevice::Unlock() {
  if (FChannel)
    FChannel->Unlock();
}

void TJvHidDevice::UpdateDelivery() {
  std::lock_guard lock(FMutex);
  FDelivering = bool(FOnData) && FReader.joinable() && FCheckedOut && FPluggedIn;
  if (FDelivering && !FQueue.empty())
    PostPumpLocked();
}

bool TJvHidDevice::WriteFile(const uint8_t* report, uint32_t toWrite, uint32_t& written) {
  written = 0;
  if (!report || toWrite == 0 || !EnsureChannel())
    return false;
  size_t n = 0;
  const bool ok = FChannel->Write(report, toWrite, n);
  written = uint32_t(std::min<size_t>(n, toWrite));
  return ok;
}

bool TJvHidDevice::EnsureChannel() {
  if (FChannel)
    return true;
  if (!CanOpen() || !FController.FPlatform)
    return false;
  QString error;
  FChannel = FController.FPlatform->Open(FInfo, error);
  FHasReadWriteAccess = bool(FChannel);
  FAccessError = FChannel ? QString() : error;
  return FHasReadWriteAccess;
}

void TJvHidDevice::StartReader() {
  if (FReader.joinable() || !FChannel)
    return;
  {
    std::lock_guard lock(FMutex);
    FStop = false;
    FQueue.clear();
  }
  FReader = std::thread([this] { ReaderLoop(); });
}

void TJvHidDevice::StopReader() {
  if (!FReader.joinable())
    return;
  {
    std::lock_guard lock(FMutex);
    FStop = true;
    FDelivering = false;
  }
  FWake.notify_all();
  FChannel->Interrupt();
  FReader.join();
  std::lock_guard lock(FMutex);
  FQueue.clear();
}

void TJvHidDevice::CloseChannel() {
  FChannel.reset();
}

// Drains the channel into the queue from check-out on, so reports are kept
// while nobody reads them; the hand-over itself runs on the UI thread.
void TJvHidDevice::ReaderLoop() {
  std::vector<uint8_t> report;
  for (;;) {
    {
      std::lock_guard lock(FMutex);
      if (FStop)
        return;
    }
    const auto result = FChannel->Read(report, FThreadSleepTime.load());
    if (result == IHidChannel::TReadResult::Report) {
      if (report.empty())
        continue;  // a read of 0 bytes gives no data event
      std::lock_guard lock(FMutex);
      if (FStop)
        return;
      if (FQueue.size() >= FQueueDepth)
        FQueue.pop_front();  // a full ring loses its oldest
      FQueue.push_back(std::move(report));
      report = {};
      if (FDelivering)
        PostPumpLocked();
    } else if (result == IHidChannel::TReadResult::Gone) {
      // Nothing more will come; wait for the check-in instead of spinning.
      std::unique_lock lock(FMutex);
      FWake.wait(lock, [this] { return FStop; });
      return;
    }
  }
}

void TJvHidDevice::PostPumpLocked() {
  if (FPumpPosted || FInHandover)
    return;
  FPumpPosted = true;
  QMetaObject::invokeMethod(
      this, [this] { Pump(); }, Qt::QueuedConnection);
}

// Hands one report to the data event. The next one is posted only after the
// event has returned, so a data event that runs a nested event loop (a message
// box) is never entered twice.
void TJvHidDevice::Pump() {
  std::vector<uint8_t> report;
  {
    std::lock_guard lock(FMutex);
    FPumpPosted = false;
    if (!FDelivering || FQueue.empty() || FInHandover)
      return;
    report = std::move(FQueue.front());
    FQueue.pop_front();
    FInHandover = true;
  }
  const TJvHidDataEvent handler = FOnData;  // the event may replace itself
  try {
    const uint16_t size = uint16_t(std::min<size_t>(report.size() - 1, 0xFFFF));
    handler(this, report[0], report.data() + 1, size);
  } catch (...) {
    FController.ReportHandlerError(std::current_exception());
  }
  {
    std::lock_guard lock(FMutex);
    FInHandover = false;
  }
  if (FDoomed) {
    FController.ReleaseDoomed(this);  // destroys this
    return;
  }
  std::lock_guard lock(FMutex);
  if (FDelivering && !FQueue.empty())
    PostPumpLocked();
}

// ---------------------------------------------------------------- controller

TJvHidDeviceController::TJvHidDeviceController(std::unique_ptr<IHidPlatform> platform,
                                               QObject* parent)
    : QObject(parent), FPlatform(std::move(platform)) {
  if (!FPlatform)
    return;
  FPlatform->SetChangeCallback([this] { DeviceChange(); });
  QMetaObject::invokeMethod(
      this, [this] { DeviceChange(); }, Qt::QueuedConnection);
}

TJvHidDeviceController::~TJvHidDeviceController() {
  FDestroying = true;
  OnArrival = nullptr;
  OnRemoval = nullptr;
  OnHandlerError = nullptr;
  if (FPlatform)
    FPlatform->SetChangeCallback({});
  FList.clear();  // stops every reader and closes every channel
  FDoomed.clear();
}

std::vector<TJvHidDevice*> TJvHidDeviceController::Devices() const {
  std::vector<TJvHidDevice*> out;
  out.reserve(FList.size());
  for (const auto& d : FList)
    out.push_back(d.get());
  return out;
}

bool TJvHidDeviceController::Listed(const TJvHidDevice* dev) const {
  return std::any_of(FList.begin(), FList.end(), [dev](const auto& d) { return d.get() == dev; });
}

void TJvHidDeviceController::DeviceChange() {
  if (FDestroying || FInScan)
    return;  // a notification during a scan is dropped
  try {
    Scan();
  } catch (...) {
    ReportHandlerError(std::current_exception());
  }
}

void TJvHidDeviceController::ReportHandlerError(std::exception_ptr error) {
  if (OnHandlerError) {
    try {
      OnHandlerError(error);
      return;
    } catch (...) {
      error = std::current_exception();
    }
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    qWarning("HID event handler failed: %s", e.what());
  } catch (...) {
    qWarning("HID event handler failed");
  }
}

// Handlers may throw: the flag guard keeps later notifications working, and
// interfaces not announced yet are found new again by the next scan.
void TJvHidDeviceController::Scan() {
  if (!FPlatform)
    return;
  TFlagGuard inScan(FInScan);
  const std::vector<THidInterfaceInfo> fresh = FPlatform->Enumerate();
  QSet<QString> present;
  for (const auto& info : fresh)
    present.insert(info.Identity);

  std::vector<TJvHidDevice*> gone;
  for (size_t i = FList.size(); i-- > 0;) {
    TJvHidDevice* d = FList[i].get();
    if (!d->FPluggedIn || !present.contains(d->Identity()))
      gone.push_back(d);
  }
  for (TJvHidDevice* d : gone) {
    if (!Listed(d))
      continue;  // checked in (and destroyed) by an earlier handler
    d->StopReader();
    d->CloseChannel();
    d->FPluggedIn = false;
    d->UpdateDelivery();
    if (OnRemoval) {
      const TJvHidPlugEvent handler = OnRemoval;
      handler(d);
    }
    if (Listed(d) && !d->FCheckedOut)
      Destroy(d);
  }

  QSet<QString> known;
  for (const auto& d : FList) {
    if (d->FPluggedIn)
      known.insert(d->Identity());
  }
  for (const auto& info : fresh) {
    if (known.contains(info.Identity))
      continue;
    known.insert(info.Identity);
    FList.push_back(std::unique_ptr<TJvHidDevice>(new TJvHidDevice(*this, info)));
    TJvHidDevice* d = FList.back().get();
    TFlagGuard enumerated(d->FIsEnumerated);  // plugged-in devices are never destroyed meanwhile
    if (OnArrival) {
      const TJvHidPlugEvent handler = OnArrival;
      handler(d);
    }
  }
}

bool TJvHidDeviceController::CheckOutByProductName(TJvHidDevice*& HidDev,
                                                   const QString& ProductName) {
  HidDev = nullptr;
  if (ProductName.isEmpty())
    return false;
  for (const auto& d : FList) {
    if (d->FCheckedOut || !d->FPluggedIn)
      continue;
    if (d->ProductName() == ProductName) {
      CheckOut(d.get());
      HidDev = d.get();
      return true;
    }
  }
  return false;
}

void TJvHidDeviceController::CheckOut(TJvHidDevice* dev) {
  dev->FCheckedOut = true;
  if (dev->EnsureChannel())
    dev->StartReader();
  dev->UpdateDelivery();
}

void TJvHidDeviceController::CheckIn(TJvHidDevice*& HidDev) {
  TJvHidDevice* d = HidDev;
  HidDev = nullptr;
  if (!d || !Listed(d))
    return;
  d->StopReader();
  d->CloseChannel();
  d->FCheckedOut = false;
  d->UpdateDelivery();
  if (!d->FPluggedIn)
    Destroy(d);
}

void TJvHidDeviceController::Destroy(TJvHidDevice* dev) {
  const auto it =
      std::find_if(FList.begin(), FList.end(), [dev](const auto& d) { return d.get() == dev; });
  if (it == FList.end())
    return;
  std::unique_ptr<TJvHidDevice> owned = std::move(*it);
  FList.erase(it);
  if (owned->FInHandover) {
    // Its data event is still on the stack (a nested event loop): free it afterwards.
    owned->StopReader();
    owned->CloseChannel();
    owned->FDoomed = true;
    FDoomed.push_back(std::move(owned));
  }
}

void TJvHidDeviceController::ReleaseDoomed(TJvHidDevice* dev) {
  const auto it =
      std::find_if(FDoomed.begin(), FDoomed.end(), [dev](const auto& d) { return d.get() == dev; });
  if (it != FDoomed.end())
    FDoomed.erase(it);
}

}  // namespace calorix
