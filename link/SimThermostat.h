#pragma once
// A virtual thermostat behind a HID interface: it takes output reports, answers
// the text protocol with input reports, and keeps a simple bath model. Tests
// script it (latency, lost, doubled or split answers, garbage, power, unplug).
// Every method is safe to call from any thread.
#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "base/Clock.h"
#include "link/HidPlatform.h"

namespace calorix {

enum class TSimFraming { Plain, Adapter };

struct TSimThermostatOptions {
  TSimFraming Framing = TSimFraming::Plain;
  QByteArray Manufacturer = "Norvik";
  QByteArray Product;  // empty: "USB Thermostat" or "USB-HID Adapter" by framing
  QByteArray Serial;   // empty: the platform numbers the devices
  THidAccess Access = THidAccess::ReadWrite;
  bool Busy = false;  // another program holds its lock
  double Setpoint = 25.0;
  double Temperature = 20.0;
  double Ambient = 20.0;  // where the bath drifts while switched off
  double TimeConstantSeconds = 180.0;
  double Noise = 0.01;  // amplitude of the uniform noise on every reading
  double ReadyBand = 0.1;
  uint32_t Seed = 1;
};

class TSimThermostat {
 public:
  static constexpr size_t kReportLength = 65;  // input and output, report ID included
  static constexpr double kMinSetpoint = -50.0;
  static constexpr double kMaxSetpoint = 300.0;

  TSimThermostat(TSimThermostatOptions options, std::shared_ptr<IClock> clock);

  const TSimThermostatOptions& Options() const { return FOptions; }
  THidInterfaceInfo Info() const;
  // The HID report descriptor: 64 bytes in and out, no report IDs.
  static QByteArray ReportDescriptor();

  // The answer to one request line (without its line end); empty when none is due.
  QByteArray Answer(const QByteArray& line);
  // One output report as the channel's write hands it over (byte 0 = report ID).
  void HandleOutputReport(const uint8_t* report, size_t size);

  // Script.
  void SetLatency(std::chrono::milliseconds latency);
  void DropNextAnswers(int n);
  void DuplicateNextAnswers(int n);
  // At most this many answer characters per report (0: as many as fit).
  void SetSplitSize(size_t chars);
  // Bytes sent as the payload of one input report in the device's framing.
  void InjectPayload(const QByteArray& bytes);
  // A raw input report exactly as the channel hands it on (byte 0 = report ID).
  void InjectReport(std::vector<uint8_t> report);
  void SetPoweredOn(bool on);
  void SetAlarm(const QByteArray& sixFlags);
  void SetTemperature(double celsius);
  void SetNoise(double amplitude);
  // Another program takes (true) or gives back (false) the device's lock.
  void SetBusy(bool busy);

  // State, for tests and the bench.
  double Setpoint() const;
  double Temperature();  // the bath now, without noise
  bool PoweredOn() const;
  bool SetupReceived() const;
  size_t ReportsReceived() const;
  size_t PendingInputReports() const;
  bool PluggedIn() const;
  bool Locked() const;  // a channel of this program holds the lock

 private:
  friend class TSimHidPlatform;
  friend class TSimChannel;

  QByteArray AnswerLocked(const QByteArray& line);
  void AdvanceLocked();
  void LineCompleteLocked();
  void QueueAnswerLocked(const QByteArray& line);
  void QueuePayloadLocked(const QByteArray& payload, std::chrono::steady_clock::time_point due);
  // Channel side.
  IHidChannel::TReadResult ReadReport(std::vector<uint8_t>& report, int timeoutMs,
                                      bool& interrupted);
  void Interrupt(bool& interrupted);
  void ChannelOpened();
  void ChannelClosed();
  bool TryLock();
  void ReleaseLock();
  void SetPlugged(const QString& identity, const QString& path);
  void SetUnplugged();

  struct TPending {
    std::chrono::steady_clock::time_point Due;
    std::vector<uint8_t> Report;
  };

  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  TSimThermostatOptions FOptions;
  std::shared_ptr<IClock> FClock;
  QString FIdentity;
  QString FPath;
  bool FPlugged = false;
  int FOpenChannels = 0;
  bool FBusy = false;
  bool FLocked = false;

  double FSetpoint;
  double FTemperature;
  double FLastSeconds = 0.0;
  bool FPoweredOn = true;
  QByteArray FAlarm = "000000";
  std::mt19937 FRandom;

  QByteArray FLine;  // the request line being collected
  bool FSetupReceived = false;
  size_t FReportsReceived = 0;

  std::chrono::milliseconds FLatency{0};
  int FDrop = 0;
  int FDuplicate = 0;
  size_t FSplit = 0;
  std::deque<TPending> FInput;
};

}  // namespace calorix
