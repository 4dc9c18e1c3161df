#pragma once
// The HID access layer: a controller that announces HID interfaces as they come
// and go, and one device object per interface that the program checks out,
// reads (reports handed to the UI thread one at a time) and writes.
// All public calls are made on the UI thread.
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/HidPlatform.h"

namespace calorix {

class TJvHidDevice;
class TJvHidDeviceController;

using TJvHidPlugEvent = std::function<void(TJvHidDevice* HidDev)>;
// Data points at the report's bytes after the report ID; valid only during the call.
using TJvHidDataEvent =
    std::function<void(TJvHidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size)>;

// The part of the Windows capabilities record that the program uses.
struct HIDP_CAPS {
  uint16_t Usage = 0;
  uint16_t UsagePage = 0;
  uint16_t InputReportByteLength = 0;  // each counting the report-ID byte
  uint16_t OutputReportByteLength = 0;
  uint16_t FeatureReportByteLength = 0;
};

// A name as the layer keeps it: up to the first NUL, at most 254 UTF-16 units
// (a surrogate pair is not cut in half).
QString HidNameFromUtf8(const QByteArray& utf8);

class TJvHidDevice : public QObject {
  Q_OBJECT
 public:
  ~TJvHidDevice() override;

  const QString& DevicePath() const { return FInfo.DevicePath; }
  // What tells a later scan that the interface is still the same one.
  const QString& Identity() const { return FInfo.Identity; }
  bool IsPluggedIn() const { return FPluggedIn; }
  bool IsCheckedOut() const { return FCheckedOut; }
  bool IsEnumerated() const { return FIsEnumerated; }
  bool HasReadWriteAccess() const { return FHasReadWriteAccess; }
  // Why the interface could not be opened for reading and writing (empty when it could).
  const QString& AccessError() const { return FAccessError; }

  // At most 254 UTF-16 units; read once, an empty one is read again next time.
  QString VendorName();
  QString ProductName();
  QString SerialNumber();

  HIDP_CAPS Caps();

  uint32_t NumInputBuffers() const { return FNumInputBuffers; }
  void SetNumInputBuffers(uint32_t n);
  // Depth of the queue that keeps input reports while they are not handed over.
  uint32_t NumOverlappedBuffers() const { return FNumOverlappedBuffers; }
  void SetNumOverlappedBuffers(uint32_t n);

  int ThreadSleepTime() const { return FThreadSleepTime.load(); }
  // Refused (false) outside 10..10000 ms.
  bool SetThreadSleepTime(int ms);

  const TJvHidDataEvent& OnData() const { return FOnData; }
  // An empty function stops the hand-over; the reports keep being queued.
  void SetOnData(TJvHidDataEvent handler);
  // Drops the reports queued and not handed over yet (answers to someone else's requests).
  void DiscardInput();
  // Takes the interface for this program alone; false when another program
  // holds it (IsBusy() then says so until a later Lock succeeds). An interface
  // that cannot be opened at all is not busy: AccessError() says why.
  bool Lock();
  void Unlock();
  bool IsBusy() const { return FBusy; }

  // Writes one whole output report (byte 0 = report ID), synchronously.
  bool WriteFile(const uint8_t* report, uint32_t toWrite, uint32_t& written);

 private:
  friend class TJvHidDeviceController;
  TJvHidDevice(TJvHidDeviceController& controller, THidInterfaceInfo info);

  bool CanOpen() const { return FPluggedIn && (FCheckedOut || FIsEnumerated); }
  QString Name(QString& cache, QByteArray THidStrings::*field);
  bool EnsureChannel();
  void StartReader();
  void StopReader();
  void CloseChannel();
  void ReaderLoop();
  void PostPumpLocked();
  void Pump();
  void UpdateDelivery();

  TJvHidDeviceController& FController;
  THidInterfaceInfo FInfo;
  bool FStringsFromScanUsed = false;
  QString FVendorName, FProductName, FSerialNumber;
  bool FPluggedIn = true;
  bool FCheckedOut = false;
  bool FIsEnumerated = false;
  bool FHasReadWriteAccess = false;
  QString FAccessError;
  bool FBusy = false;
  bool FCapsKnown = false;
  HIDP_CAPS FCaps;
  uint32_t FNumInputBuffers = 0;
  uint32_t FNumOverlappedBuffers = 128;
  std::atomic<int> FThreadSleepTime{100};  // the reader's wait step
  TJvHidDataEvent FOnData;

  std::unique_ptr<IHidChannel> FChannel;
  std::thread FReader;
  // Shared with the reader thread.
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FStop = false;
  bool FDelivering = false;  // a data event is set: hand reports over
  bool FPumpPosted = false;  // a hand-over is queued on the UI thread
  bool FInHandover = false;  // the data event runs (maybe in a nested event loop)
  size_t FQueueDepth = 128;
  std::deque<std::vector<uint8_t>> FQueue;

  bool FDoomed = false;  // destroy once the running data event returns
};

class TJvHidDeviceController : public QObject {
  Q_OBJECT
 public:
  // Without a platform no device is ever announced. The first scan is posted
  // to the event loop, so it runs after the owner's set-up.
  explicit TJvHidDeviceController(std::unique_ptr<IHidPlatform> platform,
                                  QObject* parent = nullptr);
  ~TJvHidDeviceController() override;

  TJvHidPlugEvent OnArrival;
  TJvHidPlugEvent OnRemoval;
  // Gets what a handler run from the event loop (a scan, a data event) threw;
  // without one the failure is only logged. Nothing escapes into the event loop.
  std::function<void(std::exception_ptr)> OnHandlerError;

  // Takes the first free device with exactly this product name.
  bool CheckOutByProductName(TJvHidDevice*& HidDev, const QString& ProductName);
  // Gives a device back; an unplugged one is destroyed. HidDev becomes nullptr.
  void CheckIn(TJvHidDevice*& HidDev);

  // What a change notification does: a scan, unless one is running.
  void DeviceChange();
  bool InScan() const { return FInScan; }

  // The listed devices, in order (for status and tests).
  std::vector<TJvHidDevice*> Devices() const;
  IHidPlatform* Platform() const { return FPlatform.get(); }

 private:
  friend class TJvHidDevice;
  void Scan();
  void Destroy(TJvHidDevice* dev);
  void ReleaseDoomed(TJvHidDevice* dev);
  bool Listed(const TJvHidDevice* dev) const;
  void ReportHandlerError(std::exception_ptr error);
  void CheckOut(TJvHidDevice* dev);

  std::unique_ptr<IHidPlatform> FPlatform;
  std::vector<std::unique_ptr<TJvHidDevice>> FList;
  // Destroyed while their data event ran; freed when it returns.
  std::vector<std::unique_ptr<TJvHidDevice>> FDoomed;
  bool FInScan = false;
  bool FDestroying = false;
};

}  // namespace calorix
