#pragma once
// Report lengths from a HID report descriptor, counted the way the Windows HID
// driver counts them (the program's framing relies on those numbers): per report
// ID the bits of all main items of a type, rounded up to bytes, plus one byte
// for the report ID (also when the device uses none), the largest ID winning.
#include <cstddef>
#include <cstdint>

namespace calorix {

struct THidReportInfo {
  uint16_t InputReportByteLength = 0;  // 0 when there are no such reports
  uint16_t OutputReportByteLength = 0;
  uint16_t FeatureReportByteLength = 0;
  bool NumberedReports = false;  // a Report ID item was seen
  uint16_t UsagePage = 0;        // of the first top-level collection
  uint16_t Usage = 0;
  bool Damaged = false;  // truncated item, bad report ID, stack misuse: lengths are a best guess
};

THidReportInfo ParseReportDescriptor(const uint8_t* data, size_t size);

}  // namespace calorix
