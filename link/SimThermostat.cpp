#include "link/SimThermostat.h"

#include <QCoreApplication>
#include <QList>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace calorix {

namespace {

constexpr size_t kPlainPayload = TSimThermostat::kReportLength - 1;
constexpr size_t kAdapterHeader = 5;  // report ID, count, three ignored bytes
constexpr size_t kAdapterPayload = 60;

// Status codes of the protocol.
enum : int {
  kOk = 0,
  kBadRequest = 1,
  kBadValue = 2,
  kUnknownVariable = 3,
  kUnknownOperation = 4,
  kOutOfRange = 5,
  kSwitchedOff = 6
};

QByteArray Fixed2(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  if (r.ec != std::errc())
    return "0.00";
  QByteArray out(buf, int(r.ptr - buf));
  if (out == "-0.00")
    out = "0.00";
  return out;
}

bool ParseNumber(const QByteArray& text, double& value) {
  const char* begin = text.constData();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+')
    ++begin;
  const auto r = std::from_chars(begin, end, value);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(value);
}

bool IsLineEnd(uint8_t b) {
  return b == 0x0D || b == 0x0A;
}

}  // namespace

TSimThermostat::TSimThermostat(TSimThermostatOptions options, std::shared_ptr<IClock> clock)
    : FOptions(std::move(options)),
      FClock(clock ? std::move(clock) : std::make_shared<TSteadyClock>()),
      FSetpoint(FOptions.Setpoint),
      FTemperature(FOptions.Temperature),
      FRandom(FOptions.Seed) {
  FBusy = FOptions.Busy;
  if (FOptions.Product.isEmpty()) {
    FOptions.Product =
        FOptions.Framing == TSimFraming::Adapter ? "USB-HID Adapter" : "USB Thermostat";
  }
  FLastSeconds = FClock->Now() * 86400.0;
}

QByteArray TSimThermostat::ReportDescriptor() {
  static const uint8_t kDescriptor[] = {
      0x06, 0x00, 0xFF,  // Usage Page (vendor defined)
      0x09, 0x01,        // Usage 1
      0xA1, 0x01,        // Collection (application)
      0x15, 0x00,        //   Logical Minimum 0
      0x26, 0xFF, 0x00,  //   Logical Maximum 255
      0x75, 0x08,        //   Report Size 8
      0x95, 0x40,        //   Report Count 64
      0x09, 0x01,        //   Usage 1
      0x81, 0x02,        //   Input (data, variable)
      0x95, 0x40,        //   Report Count 64
      0x09, 0x01,        //   Usage 1
      0x91, 0x02,        //   Output (data, variable)
      0xC0,              // End Collection
  };
  return QByteArray(reinterpret_cast<const char*>(kDescriptor), int(sizeof kDescriptor));
}

THidInterfaceInfo TSimThermostat::Info() const {
  std::lock_guard lock(FMutex);
  THidInterfaceInfo info;
  info.Identity = FIdentity;
  info.DevicePath = FPath;
  info.Strings = {FOptions.Manufacturer, FOptions.Product, FOptions.Serial};
  info.ReportDescriptor = ReportDescriptor();
  info.InputReportLength = kReportLength;
  info.OutputReportLength = kReportLength;
  info.Access = FOptions.Access;
  if (FOptions.Access != THidAccess::ReadWrite) {
    info.AccessError =
        QCoreApplication::translate("calorix", "нет доступа к устройству %1").arg(FPath);
  }
  return info;
}

void TSimThermostat::AdvanceLocked() {
  const double now = FClock->Now() * 86400.0;
  const double dt = now - FLastSeconds;
  FLastSeconds = now;
  if (dt <= 0.0)
    return;
  const double target = FPoweredOn ? FSetpoint : FOptions.Ambient;
  const double tau = std::max(FOptions.TimeConstantSeconds, 1e-6);
  FTemperature = target + (FTemperature - target) * std::exp(-dt / tau);
}

QByteArray TSimThermostat::Answer(const QByteArray& line) {
  std::lock_guard lock(FMutex);
  return AnswerLocked(line);
}

// ":<8 digits> <variable> rd" or ":<8 digits> <variable> wr <value>".
QByteArray TSimThermostat::AnswerLocked(const QByteArray& raw) {
  const QByteArray line = raw.trimmed();
  if (line.isEmpty())
    return {};
  QByteArray address = "00000000";
  bool addressOk = line.size() >= 9 && line[0] == ':';
  for (int i = 1; addressOk && i <= 8; ++i)
    addressOk = line[i] >= '0' && line[i] <= '9';
  if (addressOk) {
    address = line.mid(1, 8);
    addressOk = line.size() == 9 || line[9] == ' ' || line[9] == '\t';
  }
  const auto reply = [&](int status, const QByteArray& value = {}) {
    QByteArray out = address + ' ' + QByteArray::number(status);
    if (!value.isEmpty())
      out += ' ' + value;
    return out;
  };
  if (!FPoweredOn)
    return reply(kSwitchedOff);
  if (!addressOk)
    return reply(kBadRequest);

  const QList<QByteArray> words = line.mid(9).simplified().split(' ');
  if (words.size() < 2 || words[0].isEmpty())
    return reply(kBadRequest);
  const QByteArray& variable = words[0];
  const QByteArray& operation = words[1];
  const bool known =
      variable == "dat.t" || variable == "set.val" || variable == "rdy" || variable == "alm.status";
  if (!known)
    return reply(kUnknownVariable);
  if (operation != "rd" && operation != "wr")
    return reply(kUnknownOperation);

  if (operation == "rd") {
    if (words.size() != 2)
      return reply(kBadRequest);
    if (variable == "dat.t") {
      AdvanceLocked();
      std::uniform_real_distribution<double> noise(-FOptions.Noise, FOptions.Noise);
      return reply(kOk, Fixed2(FTemperature + (FOptions.Noise > 0 ? noise(FRandom) : 0.0)));
    }
    if (variable == "set.val")
      return reply(kOk, Fixed2(FSetpoint));
    if (variable == "rdy")
      return reply(kOk, Fixed2(FOptions.ReadyBand));
    return reply(kOk, FAlarm);
  }
  if (variable != "set.val")
    return reply(kUnknownOperation);  // only the setpoint is writable
  if (words.size() != 3)
    return reply(kBadRequest);
  double value = 0.0;
  if (!ParseNumber(words[2], value))
    return reply(kBadValue);
  if (value < kMinSetpoint || value > kMaxSetpoint)
    return reply(kOutOfRange);
  AdvanceLocked();  // the bath followed the old setpoint until now
  FSetpoint = value;
  return reply(kOk);
}

void TSimThermostat::HandleOutputReport(const uint8_t* report, size_t size) {
  std::lock_guard lock(FMutex);
  ++FReportsReceived;
  if (!report || size < 2)
    return;
  if (FOptions.Framing == TSimFraming::Plain) {
    // The rest of a report after a line end is padding.
    for (size_t i = 1; i < size; ++i) {
      const uint8_t b = report[i];
      if (IsLineEnd(b)) {
        LineCompleteLocked();
        return;
      }
      if (b != 0)
        FLine.append(char(b));
    }
    return;
  }
  if (size < kAdapterHeader)
    return;
  const size_t count = size_t(report[1]) | (size_t(report[2]) << 8);
  if (count == 0) {
    if (size >= 7 && report[3] == 0x62 && report[4] == 0x77 && report[5] == 0x80 &&
        report[6] == 0x25) {
      FSetupReceived = true;
    }
    return;
  }
  const size_t n = std::min(count, size - kAdapterHeader);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = report[kAdapterHeader + i];
    if (IsLineEnd(b)) {
      LineCompleteLocked();
    } else {
      FLine.append(char(b));
    }
  }
}

void TSimThermostat::LineCompleteLocked() {
  const QByteArray line = FLine;
  FLine.clear();
  const QByteArray answer = AnswerLocked(line);
  if (answer.isEmpty())
    return;
  if (FDrop > 0) {
    --FDrop;
    return;
  }
  QueueAnswerLocked(answer);
  if (FDuplicate > 0) {
    --FDuplicate;
    QueueAnswerLocked(answer);
  }
}

void TSimThermostat::QueueAnswerLocked(const QByteArray& line) {
  const auto due = std::chrono::steady_clock::now() + FLatency;
  const QByteArray text = line + '\r';
  const size_t capacity = FOptions.Framing == TSimFraming::Plain ? kPlainPayload : kAdapterPayload;
  const size_t chunk = FSplit > 0 ? std::min(FSplit, capacity) : capacity;
  for (qsizetype at = 0; at < text.size(); at += qsizetype(chunk)) {
    QueuePayloadLocked(text.mid(at, qsizetype(chunk)), due);
  }
}

void TSimThermostat::QueuePayloadLocked(const QByteArray& payload,
                                        std::chrono::steady_clock::time_point due) {
  if (FOpenChannels == 0 || !FPlugged)
    return;  // nothing is kept while nobody listens
  std::vector<uint8_t> report(kReportLength, 0);
  if (FOptions.Framing == TSimFraming::Plain) {
    const size_t n = std::min(size_t(payload.size()), kPlainPayload);
    std::copy_n(payload.constData(), n, report.begin() + 1);
  } else {
    const size_t n = std::min(size_t(payload.size()), kReportLength - kAdapterHeader);
    report[1] = uint8_t(std::min<size_t>(n, 255));
    std::copy_n(payload.constData(), n, report.begin() + kAdapterHeader);
  }
  FInput.push_back({due, std::move(report)});
  FChanged.notify_all();
}

void TSimThermostat::SetLatency(std::chrono::milliseconds latency) {
  std::lock_guard lock(FMutex);
  FLatency = std::max(latency, std::chrono::milliseconds(0));
}

void TSimThermostat::DropNextAnswers(int n) {
  std::lock_guard lock(FMutex);
  FDrop = std::max(n, 0);
}

void TSimThermostat::DuplicateNextAnswers(int n) {
  std::lock_guard lock(FMutex);
  FDuplicate = std::max(n, 0);
}

void TSimThermostat::SetSplitSize(size_t chars) {
  std::lock_guard lock(FMutex);
  FSplit = chars;
}

void TSimThermostat::InjectPayload(const QByteArray& bytes) {
  std::lock_guard lock(FMutex);
  QueuePayloadLocked(bytes, std::chrono::steady_clock::now() + FLatency);
}

void TSimThermostat::InjectReport(std::vector<uint8_t> report) {
  std::lock_guard lock(FMutex);
  if (FOpenChannels == 0 || !FPlugged)
    return;
  FInput.push_back({std::chrono::steady_clock::now() + FLatency, std::move(report)});
  FChanged.notify_all();
}

void TSimThermostat::SetPoweredOn(bool on) {
  std::lock_guard lock(FMutex);
  AdvanceLocked();
  FPoweredOn = on;
}

void TSimThermostat::SetAlarm(const QByteArray& sixFlags) {
  std::lock_guard lock(FMutex);
  FAlarm = sixFlags;
}

void TSimThermostat::SetTemperature(double celsius) {
  std::lock_guard lock(FMutex);
  AdvanceLocked();
  FTemperature = celsius;
}

void TSimThermostat::SetNoise(double amplitude) {
  std::lock_guard lock(FMutex);
  FOptions.Noise = std::max(amplitude, 0.0);
}

double TSimThermostat::Setpoint() const {
  std::lock_guard lock(FMutex);
  return FSetpoint;
}

double TSimThermostat::Temperature() {
  std::lock_guard lock(FMutex);
  AdvanceLocked();
  return FTemperature;
}

bool TSimThermostat::PoweredOn() const {
  std::lock_guard lock(FMutex);
  return FPoweredOn;
}

bool TSimThermostat::SetupReceived() const {
  std::lock_guard lock(FMutex);
  return FSetupReceived;
}

size_t TSimThermostat::ReportsReceived() const {
  std::lock_guard lock(FMutex);
  return FReportsReceived;
}

size_t TSimThermostat::PendingInputReports() const {
  std::lock_guard lock(FMutex);
  return FInput.size();
}

bool TSimThermostat::PluggedIn() const {
  std::lock_guard lock(FMutex);
  return FPlugged;
}

IHidChannel::TReadResult TSimThermostat::ReadReport(std::vector<uint8_t>& report, int timeoutMs,
                                                    bool& interrupted) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::unique_lock lock(FMutex);
  for (;;) {
    if (interrupted) {
      interrupted = false;
      return IHidChannel::TReadResult::Interrupted;
    }
    const auto now = Clock::now();
    if (!FInput.empty() && FInput.front().Due <= now) {
      report = std::move(FInput.front().Report);
      FInput.pop_front();
      return IHidChannel::TReadResult::Report;
    }
    // Reports still queued are read before the unplug shows, as with hidraw.
    if (!FPlugged)
      return IHidChannel::TReadResult::Gone;
    if (now >= deadline)
      return IHidChannel::TReadResult::Timeout;
    auto until = deadline;
    if (!FInput.empty())
      until = std::min(until, FInput.front().Due);
    FChanged.wait_until(lock, until);
  }
}

void TSimThermostat::Interrupt(bool& interrupted) {
  std::lock_guard lock(FMutex);
  interrupted = true;
  FChanged.notify_all();
}

void TSimThermostat::ChannelOpened() {
  std::lock_guard lock(FMutex);
  ++FOpenChannels;
}

void TSimThermostat::ChannelClosed() {
  std::lock_guard lock(FMutex);
  if (--FOpenChannels == 0)
    FInput.clear();
}

void TSimThermostat::SetBusy(bool busy) {
  std::lock_guard lock(FMutex);
  FBusy = busy;
}

bool TSimThermostat::Locked() const {
  std::lock_guard lock(FMutex);
  return FLocked;
}

bool TSimThermostat::TryLock() {
  std::lock_guard lock(FMutex);
  if (FBusy || FLocked)
    return false;
  FLocked = true;
  return true;
}

void TSimThermostat::ReleaseLock() {
  std::lock_guard lock(FMutex);
  FLocked = false;
}

void TSimThermostat::SetPlugged(const QString& identity, const QString& path) {
  std::lock_guard lock(FMutex);
  FIdentity = identity;
  FPath = path;
  FPlugged = true;
}

void TSimThermostat::SetUnplugged() {
  std::lock_guard lock(FMutex);
  FPlugged = false;
  FChanged.notify_all();
}

}  // namespace calorix
