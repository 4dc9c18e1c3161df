#include "link/HidLinux.h"

#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include "link/HidDescriptor.h"

namespace calorix {

namespace {

constexpr size_t kReadBuffer = 16384;    // the largest report hidraw hands out
constexpr qint64 kMaxDescriptor = 4096;  // HID_MAX_DESCRIPTOR_SIZE
constexpr int kDebounceMs = 100;         // a plug gives several events in a row

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

bool PermissionError(int error) {
  return error == EACCES || error == EPERM;
}

QByteArray Attr(udev_device* dev, const char* name) {
  const char* v = dev ? udev_device_get_sysattr_value(dev, name) : nullptr;
  return v ? QByteArray(v) : QByteArray();
}

QByteArray Property(udev_device* dev, const char* name) {
  const char* v = dev ? udev_device_get_property_value(dev, name) : nullptr;
  return v ? QByteArray(v) : QByteArray();
}

// The USB device's strings when there is one, else what the HID core knows.
THidStrings StringsOf(udev_device* raw) {
  THidStrings s;
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(raw, "usb", "usb_device");
  if (usb) {
    s.Manufacturer = Attr(usb, "manufacturer");
    s.Product = Attr(usb, "product");
    s.Serial = Attr(usb, "serial");
    return s;
  }
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
  s.Product = Property(hid, "HID_NAME");
  s.Serial = Property(hid, "HID_UNIQ");
  return s;
}

void ApplyDescriptor(THidInterfaceInfo& info) {
  const auto parsed =
      ParseReportDescriptor(reinterpret_cast<const uint8_t*>(info.ReportDescriptor.constData()),
                            size_t(info.ReportDescriptor.size()));
  info.InputReportLength = parsed.InputReportByteLength;
  info.OutputReportLength = parsed.OutputReportByteLength;
  info.NumberedReports = parsed.NumberedReports;
}

class THidrawChannel final : public IHidChannel {
 public:
  THidrawChannel(int fd, int event, const THidInterfaceInfo& info)
      : FFd(fd), FEvent(event), FBuffer(kReadBuffer) {
    THidInterfaceInfo copy = info;
    if (!copy.ReportDescriptor.isEmpty())
      ApplyDescriptor(copy);
    FNumbered = copy.NumberedReports;
    FInputLength = copy.InputReportLength;
    FOutputLength = copy.OutputReportLength;
  }
  ~THidrawChannel() override {
    ::close(FFd);
    ::close(FEvent);
  }

  TReadResult Read(std::vector<uint8_t>& report, int timeoutMs) override {
    if (FGone)
      return TReadResult::Gone;
    pollfd fds[2] = {{FFd, POLLIN, 0}, {FEvent, POLLIN, 0}};
    const int r = ::poll(fds, 2, std::max(timeoutMs, 0));
    if (r == 0)
      return TReadResult::Timeout;
    if (r < 0) {
      if (errno == EINTR)
        return TReadResult::Timeout;
      FGone = true;
      return TReadResult::Gone;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(FEvent, &count, sizeof count);
      return TReadResult::Interrupted;
    }
    // Reports still queued after an unplug are read first, then read() fails.
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(FFd, FBuffer.data(), FBuffer.size());
      if (n > 0) {
        report = HidrawInputToReport(FBuffer.data(), size_t(n), FNumbered, FInputLength);
        return TReadResult::Report;
      }
      if (n == 0 || errno == EAGAIN || errno == EINTR)
        return TReadResult::Timeout;
      FGone = true;
      return TReadResult::Gone;
    }
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      FGone = true;
      return TReadResult::Gone;
    }
    return TReadResult::Timeout;
  }

  bool Write(const uint8_t* report, size_t size, size_t& written) override {
    written = 0;
    if (FGone || !report || size == 0)
      return false;
    const std::vector<uint8_t> bytes = HidrawOutputFromReport(report, size, FOutputLength);
    ssize_t n;
    do {
      n = ::write(FFd, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      if (errno == ENODEV || errno == EIO)
        FGone = true;
      return false;
    }
    written = std::min(size_t(n), size);
    return size_t(n) == bytes.size();
  }

  void Interrupt() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(FEvent, &one, sizeof one);
  }

  // hidraw has no exclusive open: copies of the program agree through flock.
  bool Lock() override {
    int r;
    do {
      r = ::flock(FFd, LOCK_EX | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    // Only another holder makes it busy; a node without locks stays usable.
    return r == 0 || errno != EWOULDBLOCK;
  }

  void Unlock() override { ::flock(FFd, LOCK_UN); }

 private:
  int FFd;
  int FEvent;
  bool FNumbered = false;
  uint16_t FInputLength = 0;
  uint16_t FOutputLength = 0;
  std::atomic<bool> FGone{false};
  std::vector<uint8_t> FBuffer;  // used by the reader thread only
};

class THidLinuxPlatform final : public IHidPlatform {
 public:
  THidLinuxPlatform() : FUdev(udev_new()), FContext(std::make_unique<QObject>()) {
    if (!FUdev)
      return;
    FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
    if (!FMonitor)
      return;
    if (udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(FMonitor) < 0) {
      udev_monitor_unref(FMonitor);
      FMonitor = nullptr;
      return;
    }
    FDebounce = new QTimer(FContext.get());
    FDebounce->setSingleShot(true);
    FDebounce->setInterval(kDebounceMs);
    QObject::connect(FDebounce, &QTimer::timeout, FContext.get(), [this] {
      if (FCallback)
        FCallback();
    });
    auto* notifier =
        new QSocketNotifier(udev_monitor_get_fd(FMonitor), QSocketNotifier::Read, FContext.get());
    QObject::connect(notifier, &QSocketNotifier::activated, FContext.get(), [this] {
      while (udev_device* d = udev_monitor_receive_device(FMonitor))
        udev_device_unref(d);
      FDebounce->start();
    });
  }

  ~THidLinuxPlatform() override {
    FContext.reset();  // the notifier goes before its descriptor
    if (FMonitor)
      udev_monitor_unref(FMonitor);
    if (FUdev)
      udev_unref(FUdev);
  }

  std::vector<THidInterfaceInfo> Enumerate() override {
    std::vector<THidInterfaceInfo> out;
    if (!FUdev)
      return out;
    udev_enumerate* e = udev_enumerate_new(FUdev);
    if (!e)
      return out;
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_scan_devices(e);
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(e); entry;
         entry = udev_list_entry_get_next(entry)) {
      udev_device* raw = udev_device_new_from_syspath(FUdev, udev_list_entry_get_name(entry));
      if (!raw)
        continue;
      THidInterfaceInfo info;
      if (Describe(raw, info))
        out.push_back(std::move(info));
      udev_device_unref(raw);
    }
    udev_enumerate_unref(e);
    return out;
  }

  bool ReadStrings(const THidInterfaceInfo& info, THidStrings& strings) override {
    if (!FUdev)
      return false;
    udev_device* raw = udev_device_new_from_syspath(FUdev, info.Identity.toLocal8Bit().constData());
    if (!raw)
      return false;
    strings = StringsOf(raw);
    udev_device_unref(raw);
    return true;
  }

  std::unique_ptr<IHidChannel> Open(const THidInterfaceInfo& info, QString& error) override {
    const QByteArray path = info.DevicePath.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int e = errno;
      error = PermissionError(e)
                  ? HidAccessErrorText(info.DevicePath)
                  : QCoreApplication::translate("calorix", "устройство %1 не открывается: %2")
                        .arg(info.DevicePath, ErrnoText(e));
      return nullptr;
    }
    const int event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event < 0) {
      error = QCoreApplication::translate("calorix", "устройство %1 не открывается: %2")
                  .arg(info.DevicePath, ErrnoText(errno));
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<THidrawChannel>(fd, event, info);
  }

  void SetChangeCallback(std::function<void()> callback) override {
    FCallback = std::move(callback);
  }

 private:
  // False for an interface that is left out of this scan (its node is missing).
  bool Describe(udev_device* raw, THidInterfaceInfo& info) {
    const char* syspath = udev_device_get_syspath(raw);
    if (!syspath)
      return false;
    info.Identity = QString::fromLocal8Bit(syspath);
    const char* node = udev_device_get_devnode(raw);
    const char* sysname = udev_device_get_sysname(raw);
    if (node) {
      info.DevicePath = QString::fromLocal8Bit(node);
    } else if (sysname) {
      info.DevicePath = QStringLiteral("/dev/") + QString::fromLocal8Bit(sysname);
    } else {
      return false;
    }
    info.Strings = StringsOf(raw);
    QFile descriptor(info.Identity + QStringLiteral("/device/report_descriptor"));
    if (descriptor.open(QIODevice::ReadOnly))
      info.ReportDescriptor = descriptor.read(kMaxDescriptor);
    ApplyDescriptor(info);

    const QByteArray path = info.DevicePath.toLocal8Bit();
    int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      info.Access = THidAccess::ReadWrite;
      return true;
    }
    if (!PermissionError(errno))
      return false;
    fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    info.Access = fd >= 0 ? THidAccess::ReadOnly : THidAccess::None;
    if (fd >= 0)
      ::close(fd);
    info.AccessError = HidAccessErrorText(info.DevicePath);
    return true;
  }

  udev* FUdev = nullptr;
  udev_monitor* FMonitor = nullptr;
  std::unique_ptr<QObject> FContext;  // parent of the notifier and the debounce timer
  QTimer* FDebounce = nullptr;
  std::function<void()> FCallback;
};

}  // namespace

std::vector<uint8_t> HidrawInputToReport(const uint8_t* data, size_t size, bool numbered,
                                         uint16_t inputLength) {
  std::vector<uint8_t> report;
  if (!data)
    size = 0;
  report.reserve(std::max<size_t>(size + 1, inputLength));
  if (!numbered)
    report.push_back(0);
  report.insert(report.end(), data, data + size);
  if (report.size() < inputLength)
    report.resize(inputLength, 0);
  return report;
}

std::vector<uint8_t> HidrawOutputFromReport(const uint8_t* report, size_t size,
                                            uint16_t outputLength) {
  if (!report)
    size = 0;
  std::vector<uint8_t> bytes(report, report + size);
  if (outputLength > 0)
    bytes.resize(outputLength, 0);
  return bytes;
}

QString HidAccessErrorText(const QString& node) {
  return QCoreApplication::translate("calorix",
                                     "нет доступа к устройству %1: см. правило udev в README")
      .arg(node);
}

std::unique_ptr<IHidPlatform> MakeLinuxPlatform() {
  return std::make_unique<THidLinuxPlatform>();
}

}  // namespace calorix
