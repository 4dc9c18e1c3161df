#pragma once
// HID access on Linux: hidraw nodes found through libudev, with hotplug from
// the udev monitor. Input reports are handed on as the Windows driver hands
// them (report ID first, 0 when unnumbered, padded to the input length).
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/HidPlatform.h"

namespace calorix {

std::unique_ptr<IHidPlatform> MakeLinuxPlatform();

// One read from a hidraw node as the layer hands it on.
std::vector<uint8_t> HidrawInputToReport(const uint8_t* data, size_t size, bool numbered,
                                         uint16_t inputLength);
// The bytes written to a hidraw node for one report (byte 0 = report ID, kept).
std::vector<uint8_t> HidrawOutputFromReport(const uint8_t* report, size_t size,
                                            uint16_t outputLength);
// Shown when a node exists but may not be opened.
QString HidAccessErrorText(const QString& node);

}  // namespace calorix
