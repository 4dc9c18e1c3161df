#pragma once
// What the HID access layer needs of an operating system (or of a simulation):
// the list of present HID interfaces, a channel to one of them, and a signal
// that the list may have changed. Nothing here knows about thermostats.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace calorix {

enum class THidAccess { None, ReadOnly, ReadWrite };

// The identification strings of an interface, UTF-8 as the system gives them.
struct THidStrings {
  QByteArray Manufacturer;
  QByteArray Product;
  QByteArray Serial;
};

// One present HID interface as an enumeration sees it.
struct THidInterfaceInfo {
  // Unique per plug-in: a replugged device gets a new one even if its node is reused.
  QString Identity;
  QString DevicePath;  // the node to open, e.g. /dev/hidraw3
  THidStrings Strings;
  // Either the report descriptor, or (when it is empty) the lengths below.
  QByteArray ReportDescriptor;
  uint16_t InputReportLength = 0;  // counting the report-ID byte; 0 = no input reports
  uint16_t OutputReportLength = 0;
  bool NumberedReports = false;
  // What opening the node gave during the enumeration.
  THidAccess Access = THidAccess::ReadWrite;
  QString AccessError;  // why it could not be opened for reading and writing
};

// An open interface. Read() runs on a reader thread, Write() on the UI thread,
// Interrupt() on any thread; the channel is closed by destroying it.
class IHidChannel {
 public:
  enum class TReadResult {
    Report,       // one report: byte 0 is the report ID (0 when unnumbered), padded
                  // to the input report length
    Timeout,      // nothing within the time given
    Interrupted,  // Interrupt() was called (once per call; it is kept until a read sees it)
    Gone,         // the device went away; every later read says so at once
  };

  virtual ~IHidChannel() = default;
  // Waits at most timeoutMs for one input report.
  virtual TReadResult Read(std::vector<uint8_t>& report, int timeoutMs) = 0;
  // Writes one whole output report, byte 0 = report ID; blocks until it is taken.
  virtual bool Write(const uint8_t* report, size_t size, size_t& written) = 0;
  // Wakes a blocked Read (or makes the next one return at once).
  virtual void Interrupt() = 0;
  // Takes the interface for this program alone, as far as other programs ask
  // for it the same way (hidraw: an exclusive flock on the node); false when
  // another one holds it. Unlock, or closing the channel, gives it back.
  virtual bool Lock() { return true; }
  virtual void Unlock() {}
};

class IHidPlatform {
 public:
  virtual ~IHidPlatform() = default;

  // The interfaces present now, in the system's enumeration order.
  virtual std::vector<THidInterfaceInfo> Enumerate() = 0;
  // Reads the strings again (a name that came empty is asked for once more later).
  virtual bool ReadStrings(const THidInterfaceInfo& info, THidStrings& strings) = 0;
  // Opens the interface for reading and writing; nullptr with a reason in error.
  virtual std::unique_ptr<IHidChannel> Open(const THidInterfaceInfo& info, QString& error) = 0;
  // The callback runs on the UI thread whenever the set of interfaces may have
  // changed (several changes in a row may give one call).
  virtual void SetChangeCallback(std::function<void()> callback) = 0;
};

}  // namespace calorix
