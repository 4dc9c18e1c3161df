#include "link/HidEmulator.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "link/HidLinux.h"

namespace calorix {

namespace {

constexpr char kArrival = 'A';
constexpr char kRemoval = 'R';
constexpr char kInput = 'I';
constexpr char kOutput = 'O';
// Big enough for any report (lengths are 16-bit) plus the header, or a generous JSON object.
constexpr size_t kMaxPacket = 65536 + 512;
// How long a write waits for room in the socket before it is given up.
constexpr int kSendWaitMs = 1000;
// Input kept per channel while its reader is behind; the oldest goes first.
constexpr size_t kMaxQueued = 1024;

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QString Printable(const QByteArray& id) {
  return QString::fromUtf8(id);
}

}  // namespace

namespace emulator_detail {

// The connected socket; writers on any thread and the closing UI thread meet here.
struct TLink {
  std::mutex Mutex;
  int Fd = -1;

  bool Send(const QByteArray& packet) {
    std::lock_guard lock(Mutex);
    for (;;) {
      if (Fd < 0)
        return false;
      const ssize_t n = ::send(Fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL);
      if (n == packet.size())
        return true;
      if (n >= 0)
        return false;  // a packet socket never takes part of one
      if (errno == EINTR)
        continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        return false;
      pollfd p{Fd, POLLOUT, 0};
      if (::poll(&p, 1, kSendWaitMs) <= 0 || !(p.revents & POLLOUT))
        return false;
    }
  }

  void Close() {
    std::lock_guard lock(Mutex);
    if (Fd >= 0)
      ::close(Fd);
    Fd = -1;
  }
};

struct TChannelState {
  QByteArray Id;
  uint16_t OutputLength = 0;
  bool Busy = false;
  std::shared_ptr<TLink> Link;

  std::mutex Mutex;
  std::condition_variable Wake;
  std::deque<std::vector<uint8_t>> Queue;
  bool Interrupted = false;
  bool Gone = false;

  void Push(std::vector<uint8_t> report) {
    {
      std::lock_guard lock(Mutex);
      if (Gone)
        return;
      if (Queue.size() >= kMaxQueued)
        Queue.pop_front();
      Queue.push_back(std::move(report));
    }
    Wake.notify_all();
  }

  void SetGone() {
    {
      std::lock_guard lock(Mutex);
      Gone = true;
    }
    Wake.notify_all();
  }
};

}  // namespace emulator_detail

using emulator_detail::TChannelState;
using emulator_detail::TLink;

namespace {

class TEmulatorChannel final : public IHidChannel {
 public:
  explicit TEmulatorChannel(std::shared_ptr<TChannelState> state) : FState(std::move(state)) {}

  TReadResult Read(std::vector<uint8_t>& report, int timeoutMs) override {
    std::unique_lock lock(FState->Mutex);
    FState->Wake.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [this] {
      return FState->Interrupted || FState->Gone || !FState->Queue.empty();
    });
    if (FState->Interrupted) {
      FState->Interrupted = false;
      return TReadResult::Interrupted;
    }
    if (!FState->Queue.empty()) {
      report = std::move(FState->Queue.front());
      FState->Queue.pop_front();
      return TReadResult::Report;
    }
    return FState->Gone ? TReadResult::Gone : TReadResult::Timeout;
  }

  bool Write(const uint8_t* report, size_t size, size_t& written) override {
    written = 0;
    if (!report || size == 0)
      return false;
    {
      std::lock_guard lock(FState->Mutex);
      if (FState->Gone)
        return false;
    }
    const std::vector<uint8_t> bytes = HidrawOutputFromReport(report, size, FState->OutputLength);
    QByteArray packet;
    packet.reserve(qsizetype(2 + FState->Id.size() + bytes.size()));
    packet.append(kOutput);
    packet.append(char(uint8_t(FState->Id.size())));
    packet.append(FState->Id);
    packet.append(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    if (!FState->Link->Send(packet))
      return false;
    written = std::min(size, bytes.size());
    return true;
  }

  void Interrupt() override {
    {
      std::lock_guard lock(FState->Mutex);
      FState->Interrupted = true;
    }
    FState->Wake.notify_all();
  }

  bool Lock() override { return !FState->Busy; }

 private:
  std::shared_ptr<TChannelState> FState;
};

// A JSON value as a report length: a whole number 0..65535.
bool ReportLength(const QJsonValue& v, uint16_t& out) {
  if (!v.isDouble())
    return false;
  const double d = v.toDouble();
  if (d < 0 || d > 65535 || d != double(int(d)))
    return false;
  out = uint16_t(int(d));
  return true;
}

}  // namespace

THidEmulatorPlatform::THidEmulatorPlatform(QString socketPath, int retryMs)
    : FPath(std::move(socketPath)),
      FRetryMs(std::max(retryMs, 1)),
      FContext(std::make_unique<QObject>()),
      FLink(std::make_shared<TLink>()) {
  FRetry = new QTimer(FContext.get());
  FRetry->setSingleShot(true);
  QObject::connect(FRetry, &QTimer::timeout, FContext.get(), [this] { Connect(); });
  QMetaObject::invokeMethod(
      FContext.get(), [this] { Connect(); }, Qt::QueuedConnection);
}

THidEmulatorPlatform::~THidEmulatorPlatform() {
  for (auto& d : FDevices)
    MarkGone(d);
  FLink->Close();
  // FContext takes the notifier and the timer with it.
}

bool THidEmulatorPlatform::IsConnected() const {
  return FNotifier != nullptr;
}

void THidEmulatorPlatform::SetStatus(const QString& text) {
  if (text == FStatus)
    return;  // a retry failing the same way says nothing new
  FStatus = text;
  Diagnose(text);
  if (OnStatus)
    OnStatus(text);
}

void THidEmulatorPlatform::Diagnose(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
  if (OnDiagnostic)
    OnDiagnostic(text);
}

void THidEmulatorPlatform::Connect() {
  if (IsConnected())
    return;
  FRetry->stop();
  const QByteArray path = FPath.toLocal8Bit();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.isEmpty() || size_t(path.size()) >= sizeof addr.sun_path) {
    SetStatus(
        QCoreApplication::translate("calorix", "Эмулятор устройств недоступен: %1: %2")
            .arg(FPath, path.isEmpty()
                            ? QCoreApplication::translate("calorix", "путь не задан")
                            : QCoreApplication::translate("calorix", "путь слишком длинный")));
    return;  // retrying cannot help
  }
  std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));

  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetStatus(QCoreApplication::translate("calorix", "Эмулятор устройств недоступен: %1: %2")
                  .arg(FPath, ErrnoText(errno)));
    ScheduleRetry();
    return;
  }
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    const int error = errno;
    ::close(fd);
    SetStatus(QCoreApplication::translate("calorix", "Эмулятор устройств недоступен: %1: %2")
                  .arg(FPath, ErrnoText(error)));
    ScheduleRetry();
    return;
  }
  // A link per connection, so a late write of an old channel never reaches a new one.
  FLink = std::make_shared<TLink>();
  FLink->Fd = fd;
  FNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, FContext.get());
  QObject::connect(FNotifier, &QSocketNotifier::activated, FContext.get(),
                   [this] { ReadSocket(); });
  SetStatus(QCoreApplication::translate("calorix", "Эмулятор устройств подключён: %1").arg(FPath));
}

void THidEmulatorPlatform::ScheduleRetry() {
  FRetry->start(FRetryMs);
}

void THidEmulatorPlatform::ReadSocket() {
  QByteArray buffer(qsizetype(kMaxPacket), Qt::Uninitialized);
  // Drains what is there now; a message that arrives meanwhile wakes the notifier again.
  while (IsConnected()) {
    // Read outside the link mutex: only this thread closes the socket.
    const int fd = int(FNotifier->socket());
    const ssize_t n = ::recv(fd, buffer.data(), size_t(buffer.size()), MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK)
        return;
      Disconnect(ErrnoText(errno));
      return;
    }
    if (n == 0) {
      // Either the emulator closed its end or it sent an empty packet; only the first drops
      // the devices.
      pollfd p{fd, POLLIN | POLLRDHUP, 0};
      if (::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLRDHUP | POLLERR))) {
        Disconnect(QCoreApplication::translate("calorix", "соединение закрыто"));
        return;
      }
      Diagnose(QStringLiteral("Эмулятор устройств: пустое сообщение пропущено"));
      continue;
    }
    if (size_t(n) > size_t(buffer.size())) {
      Diagnose(QStringLiteral("Эмулятор устройств: сообщение пропущено: длина %1 больше %2")
                   .arg(qlonglong(n))
                   .arg(qlonglong(buffer.size())));
      continue;
    }
    Handle(QByteArray(buffer.constData(), qsizetype(n)));
  }
}

void THidEmulatorPlatform::Disconnect(const QString& why) {
  if (FNotifier) {
    FNotifier->setEnabled(false);
    FNotifier->deleteLater();  // may be inside its own signal
    FNotifier = nullptr;
  }
  FLink->Close();
  if (!FDevices.empty()) {
    for (auto& d : FDevices)
      MarkGone(d);
    FDevices.clear();
    Notify();
  }
  SetStatus(QCoreApplication::translate("calorix", "Эмулятор устройств отключился: %1: %2")
                .arg(FPath, why));
  ScheduleRetry();
}

void THidEmulatorPlatform::Handle(const QByteArray& packet) {
  const QByteArray body = packet.mid(1);
  switch (packet.at(0)) {
    case kArrival:
      HandleArrival(body);
      return;
    case kRemoval:
      HandleRemoval(body);
      return;
    case kInput:
      HandleInput(body);
      return;
    default:
      Diagnose(QStringLiteral("Эмулятор устройств: сообщение пропущено: неизвестный тип 0x%1")
                   .arg(uint8_t(packet.at(0)), 2, 16, QLatin1Char('0')));
  }
}

void THidEmulatorPlatform::HandleArrival(const QByteArray& body) {
  const auto skip = [this](const QString& why) {
    Diagnose(QStringLiteral("Эмулятор устройств: подключение пропущено: %1").arg(why));
  };
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    skip(QStringLiteral("неверный JSON: %1").arg(parseError.errorString()));
    return;
  }
  if (!doc.isObject()) {
    skip(QStringLiteral("JSON не является объектом"));
    return;
  }
  const QJsonObject o = doc.object();
  for (const char* field : {"id", "manufacturer", "product", "serial"}) {
    if (!o.value(QLatin1String(field)).isString()) {
      skip(QStringLiteral("нет строки \"%1\"").arg(QLatin1String(field)));
      return;
    }
  }
  uint16_t inputLength = 0;
  uint16_t outputLength = 0;
  if (!ReportLength(o.value(QLatin1String("input_report_length")), inputLength)) {
    skip(QStringLiteral("нет длины \"input_report_length\" (целое 0..65535)"));
    return;
  }
  if (!ReportLength(o.value(QLatin1String("output_report_length")), outputLength)) {
    skip(QStringLiteral("нет длины \"output_report_length\" (целое 0..65535)"));
    return;
  }
  if (!o.value(QLatin1String("numbered_reports")).isBool()) {
    skip(QStringLiteral("нет логического \"numbered_reports\""));
    return;
  }
  const QJsonValue busy = o.value(QLatin1String("busy"));
  if (!busy.isUndefined() && !busy.isBool()) {
    skip(QStringLiteral("\"busy\" не логическое"));
    return;
  }
  const QByteArray id = o.value(QLatin1String("id")).toString().toUtf8();
  if (id.isEmpty() || id.size() > 255) {
    skip(QStringLiteral("\"id\" должен занимать от 1 до 255 байт"));
    return;
  }
  if (FindId(id)) {
    skip(QStringLiteral("устройство \"%1\" уже подключено").arg(Printable(id)));
    return;
  }

  TDevice device;
  device.Id = id;
  THidInterfaceInfo& info = device.Info;
  info.Identity = QStringLiteral("emu:%1").arg(FNextIdentity++);
  info.DevicePath = QStringLiteral("emu/") + Printable(id);
  info.Strings.Manufacturer = o.value(QLatin1String("manufacturer")).toString().toUtf8();
  info.Strings.Product = o.value(QLatin1String("product")).toString().toUtf8();
  info.Strings.Serial = o.value(QLatin1String("serial")).toString().toUtf8();
  info.InputReportLength = inputLength;
  info.OutputReportLength = outputLength;
  info.NumberedReports = o.value(QLatin1String("numbered_reports")).toBool();
  info.Access = THidAccess::ReadWrite;
  device.Busy = busy.toBool();
  FDevices.push_back(std::move(device));
  Notify();
}

void THidEmulatorPlatform::HandleRemoval(const QByteArray& body) {
  const auto it = std::find_if(FDevices.begin(), FDevices.end(),
                               [&](const TDevice& d) { return d.Id == body; });
  if (it == FDevices.end()) {
    Diagnose(QStringLiteral("Эмулятор устройств: отключение пропущено: нет устройства \"%1\"")
                 .arg(Printable(body)));
    return;
  }
  MarkGone(*it);
  FDevices.erase(it);
  Notify();
}

void THidEmulatorPlatform::HandleInput(const QByteArray& body) {
  const auto skip = [this](const QString& why) {
    Diagnose(QStringLiteral("Эмулятор устройств: входной отчёт пропущен: %1").arg(why));
  };
  if (body.isEmpty() || body.size() < 1 + uint8_t(body.at(0))) {
    skip(QStringLiteral("сообщение короче заголовка"));
    return;
  }
  const int idLength = uint8_t(body.at(0));
  const QByteArray id = body.mid(1, idLength);
  const QByteArray data = body.mid(1 + idLength);
  TDevice* device = FindId(id);
  if (!device) {
    skip(QStringLiteral("нет устройства \"%1\"").arg(Printable(id)));
    return;
  }
  const THidInterfaceInfo& info = device->Info;
  // hidraw hands over the report ID only for numbered reports.
  const size_t limit = info.NumberedReports ? info.InputReportLength
                                            : std::max<size_t>(info.InputReportLength, 1) - 1;
  if (data.isEmpty() || size_t(data.size()) > limit) {
    skip(QStringLiteral("устройство \"%1\": длина %2, допустимо 1..%3")
             .arg(Printable(id))
             .arg(data.size())
             .arg(qulonglong(limit)));
    return;
  }
  auto& channels = device->Channels;
  channels.erase(
      std::remove_if(channels.begin(), channels.end(), [](const auto& w) { return w.expired(); }),
      channels.end());
  if (channels.empty())
    return;  // nobody has it open: hidraw would not keep it either
  const std::vector<uint8_t> report =
      HidrawInputToReport(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()),
                          info.NumberedReports, info.InputReportLength);
  for (const auto& w : channels) {
    if (const auto state = w.lock())
      state->Push(report);
  }
}

void THidEmulatorPlatform::MarkGone(TDevice& device) {
  for (const auto& w : device.Channels) {
    if (const auto state = w.lock())
      state->SetGone();
  }
  device.Channels.clear();
}

void THidEmulatorPlatform::Notify() {
  if (FNotifyPending || !FCallback)
    return;
  FNotifyPending = true;
  QMetaObject::invokeMethod(
      FContext.get(),
      [this] {
        FNotifyPending = false;
        if (FCallback)
          FCallback();
      },
      Qt::QueuedConnection);
}

THidEmulatorPlatform::TDevice* THidEmulatorPlatform::Find(const QString& identity) {
  for (auto& d : FDevices) {
    if (d.Info.Identity == identity)
      return &d;
  }
  return nullptr;
}

THidEmulatorPlatform::TDevice* THidEmulatorPlatform::FindId(const QByteArray& id) {
  for (auto& d : FDevices) {
    if (d.Id == id)
      return &d;
  }
  return nullptr;
}

std::vector<THidInterfaceInfo> THidEmulatorPlatform::Enumerate() {
  std::vector<THidInterfaceInfo> out;
  out.reserve(FDevices.size());
  for (const auto& d : FDevices)
    out.push_back(d.Info);
  return out;
}

bool THidEmulatorPlatform::ReadStrings(const THidInterfaceInfo& info, THidStrings& strings) {
  const TDevice* device = Find(info.Identity);
  if (!device)
    return false;
  strings = device->Info.Strings;
  return true;
}

std::unique_ptr<IHidChannel> THidEmulatorPlatform::Open(const THidInterfaceInfo& info,
                                                        QString& error) {
  TDevice* device = Find(info.Identity);
  if (!device) {
    error = QCoreApplication::translate("calorix", "устройство %1 отключено").arg(info.DevicePath);
    return nullptr;
  }
  auto state = std::make_shared<TChannelState>();
  state->Id = device->Id;
  state->OutputLength = device->Info.OutputReportLength;
  state->Busy = device->Busy;
  state->Link = FLink;
  device->Channels.push_back(state);
  return std::make_unique<TEmulatorChannel>(std::move(state));
}

void THidEmulatorPlatform::SetChangeCallback(std::function<void()> callback) {
  FCallback = std::move(callback);
}

std::unique_ptr<IHidPlatform> MakeEmulatorPlatform(const QString& socketPath,
                                                   std::function<void(const QString&)> onStatus) {
  auto platform = std::make_unique<THidEmulatorPlatform>(socketPath);
  platform->OnStatus = std::move(onStatus);
  return platform;
}

}  // namespace calorix
