#include "link/HidDescriptor.h"

#include <algorithm>
#include <array>

namespace calorix {

namespace {

// Deeper Push nesting than this is no real device; it only bounds the memory.
constexpr size_t kMaxPushDepth = 32;
constexpr uint64_t kBitLimit = uint64_t(0xFFFF) * 8;  // beyond 65535 bytes the length saturates

struct TGlobals {
  uint32_t ReportSize = 0;
  uint32_t ReportCount = 0;
  uint8_t ReportId = 0;
  uint16_t UsagePage = 0;
};

uint16_t ByteLength(const std::array<uint64_t, 256>& bits, const std::array<bool, 256>& seen) {
  uint32_t best = 0;
  for (size_t id = 0; id < bits.size(); ++id) {
    if (!seen[id])
      continue;
    best = std::max<uint32_t>(best, uint32_t((bits[id] + 7) / 8) + 1);
  }
  return uint16_t(std::min<uint32_t>(best, 0xFFFF));
}

}  // namespace

THidReportInfo ParseReportDescriptor(const uint8_t* data, size_t size) {
  THidReportInfo info;
  if (!data)
    size = 0;

  // Index 0 input, 1 output, 2 feature.
  std::array<std::array<uint64_t, 256>, 3> bits{};
  std::array<std::array<bool, 256>, 3> seen{};
  TGlobals g;
  std::array<TGlobals, kMaxPushDepth> stack{};
  size_t depth = 0;
  int collectionDepth = 0;
  bool topLevelSeen = false;
  uint32_t localUsage = 0;
  bool localUsageSet = false;
  bool localUsageExtended = false;  // a 4-byte usage carries its own page

  size_t i = 0;
  while (i < size) {
    const uint8_t prefix = data[i];
    if (prefix == 0xFE) {  // long item: prefix, data size, tag, data
      if (i + 1 >= size) {
        info.Damaged = true;
        break;
      }
      const size_t total = 3 + size_t(data[i + 1]);
      if (total > size - i) {
        info.Damaged = true;
        break;
      }
      i += total;
      continue;
    }
    static constexpr size_t kDataSize[4] = {0, 1, 2, 4};
    const size_t n = kDataSize[prefix & 3];
    if (n > size - i - 1) {
      info.Damaged = true;
      break;
    }
    uint32_t v = 0;
    for (size_t k = 0; k < n; ++k)
      v |= uint32_t(data[i + 1 + k]) << (8 * k);
    i += 1 + n;

    const int type = (prefix >> 2) & 3;
    const int tag = prefix >> 4;
    if (type == 1) {  // global
      switch (tag) {
        case 0:
          g.UsagePage = uint16_t(v);
          break;
        case 7:
          g.ReportSize = v;
          break;
        case 9:
          g.ReportCount = v;
          break;
        case 8:
          info.NumberedReports = true;
          if (v == 0 || v > 255)
            info.Damaged = true;  // not a valid ID; count it under its low byte
          g.ReportId = uint8_t(v);
          break;
        case 10:
          if (depth < kMaxPushDepth) {
            stack[depth++] = g;
          } else {
            info.Damaged = true;
          }
          break;
        case 11:
          if (depth > 0) {
            g = stack[--depth];
          } else {
            info.Damaged = true;
          }
          break;
        default:
          break;
      }
    } else if (type == 0) {  // main
      int kind = -1;
      if (tag == 8)
        kind = 0;
      if (tag == 9)
        kind = 1;
      if (tag == 11)
        kind = 2;
      if (kind >= 0) {
        uint64_t& b = bits[size_t(kind)][g.ReportId];
        b = std::min(kBitLimit, b + uint64_t(g.ReportSize) * uint64_t(g.ReportCount));
        seen[size_t(kind)][g.ReportId] = true;
      } else if (tag == 10) {  // collection
        if (collectionDepth == 0 && !topLevelSeen) {
          topLevelSeen = true;
          info.UsagePage =
              (localUsageSet && localUsageExtended) ? uint16_t(localUsage >> 16) : g.UsagePage;
          info.Usage = uint16_t(localUsage);
        }
        ++collectionDepth;
      } else if (tag == 12) {  // end collection
        if (collectionDepth > 0)
          --collectionDepth;
      }
      localUsage = 0;
      localUsageSet = false;
    } else if (type == 2) {  // local
      if (tag == 0 && !localUsageSet) {
        localUsage = v;
        localUsageSet = true;
        localUsageExtended = n == 4;
      }
    }
  }

  info.InputReportByteLength = ByteLength(bits[0], seen[0]);
  info.OutputReportByteLength = ByteLength(bits[1], seen[1]);
  info.FeatureReportByteLength = ByteLength(bits[2], seen[2]);
  return info;
}

}  // namespace calorix
